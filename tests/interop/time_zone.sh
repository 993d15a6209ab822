#!/bin/sh
# Images built in a time zone east of +13:00 (Kiritimati, UTC+14:00): UDF timestamps keep
# the +840-minute offset, ISO 9660 dates (limited to +13:00) are recorded in UTC. Read
# back by udfinfo, the Linux kernel (UDF and ISO 9660: mounted without a message, every
# file byte-equal) and 7-Zip, whose file times must be the source's (directories: their
# own time or the build's).
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}  # the kernel mount checker beside this script
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$(readlink -f "$0")")/compare.inc"
src=$work/src
mkdir -p "$src/docs/deep"
printf 'hello\n' >"$src/readme.txt"
head -c 70000 /dev/urandom >"$src/docs/data.bin"
head -c 3000 /dev/urandom >"$src/docs/deep/note.txt"
: >"$src/empty.txt"
touch -d '2023-11-14 22:13:20 UTC' "$src/readme.txt"
touch -d '2020-12-31 12:00:00 UTC' "$src/docs/data.bin"  # already 2021 in Kiritimati
touch -d '2001-09-09 01:46:40 UTC' "$src/docs/deep/note.txt"
touch -d '1999-12-31 23:59:59 UTC' "$src/empty.txt" "$src/docs/deep"
files=$(cd "$src" && find . -type f | wc -l)
dirs=$(cd "$src" && find . -type d | wc -l)
utc() { TZ=UTC date "$@" '+%Y-%m-%d %H:%M:%S'; }

kernel() {  # kernel FILESYSTEM: mounted without messages, every file and directory there
  "$KMOUNT" "$img" "$1" >"$work/k.txt" || fail "kmount $1: $(tail -5 "$work/k.txt")"
  grep -q '^RESULT ok$' "$work/k.txt" || fail "kmount $1 result"
  ! grep '^K ' "$work/k.txt" || fail "the kernel logged $1 messages"
  (cd "$src" && find . -type f) | while read -r f; do
    line="F $(md5sum <"$src/$f" | cut -d' ' -f1) $(stat -c %s "$src/$f") $f"
    grep -qxF "$line" "$work/k.txt" || fail "kernel ($1) lacks: $line"
  done
  [ "$(grep -c '^F ' "$work/k.txt")" -eq "$files" ] || fail "kernel ($1) file count"
  [ "$(grep -c '^D ' "$work/k.txt")" -eq "$dirs" ] || fail "kernel ($1) directory count"
}

dates() {  # dates TYPE: modification times as 7-Zip reads them (UTC)
  TZ=UTC 7zz l -slt -t"$1" "$img" >"$work/slt.txt" || fail "7zz l -t$1"
  (cd "$src" && find . -mindepth 1) | while read -r f; do
    p=${f#./}
    got=$(awk -v p="path = $p" 'tolower($0) == tolower(p) {found = 1}
      found && /^Modified = / {print substr($0, 12, 19); exit}' "$work/slt.txt")
    own=$(utc -r "$src/$f")
    if [ -d "$src/$f" ] && [ "$got" != "$own" ]; then
      { [ "$got" \> "$start" ] || [ "$got" = "$start" ]; } && { [ "$got" \< "$end" ] || [ "$got" = "$end" ]; } ||
        fail "7zz -t$1: folder $p modified '$got', neither its own '$own' nor the build's"
    else
      [ "$got" = "$own" ] || fail "7zz -t$1: $p modified '$got', not '$own'"
    fi
  done
}

check() {  # check NAME REVISION FILESYSTEM
  name=$1 revision=$2 fs=$3
  img=$work/$name.img
  fail() { echo "time zone ($name): $*"; exit 1; }
  rm -f "$img"
  start=$(utc)
  TZ=Pacific/Kiritimati "$bin" "$src" "$img" -label Kiritimati -filesystem "$fs" -verify </dev/null >"$work/out.txt" ||
    fail "build: $(cat "$work/out.txt")"
  verified "time zone ($name)" "$work/out.txt"
  compare_image "time zone ($name)" "$src" "$img" -filesystem "$fs"
  end=$(utc)

  udfinfo "$img" >"$work/info.txt" 2>"$work/info.err" || fail "udfinfo: $(cat "$work/info.err")"
  for want in "udfrev=$revision" "label=Kiritimati" "numfiles=$files" "numdirs=$dirs" "integrity=closed"; do
    grep -qxF "$want" "$work/info.txt" || fail "udfinfo lacks $want: $(cat "$work/info.txt")"
  done
  [ ! -s "$work/info.err" ] || fail "udfinfo warns: $(cat "$work/info.err")"

  dates udf
  kernel udf
  if [ "$revision" = 1.02 ]; then
    dates iso
    kernel iso9660
  fi
  echo "time zone ($name): ok"
}

check iso-udf102 1.02 "ISO9660 + UDF 1.02"
check udf250 2.50 "UDF 2.50"

#!/bin/sh
# -compare of other tools' images of one folder, without -R, -J or -filesystem:
# genisoimage -iso-level 3 (plain, and with -R -J -udf) and xorrisofs -R -J end with
# "Verified" naming every tree they carry; a flipped byte of a file and a changed name in
# each name-keeping tree (and in the plain tree where it is the only one) are found.
set -eu
bin=$1
here=$(dirname "$(readlink -f "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "peers: $*"; exit 1; }
. "$here/compare.inc"

src=$work/src
mkdir -p "$src/Docs/Deep" "$src/many"
printf 'hello\n' >"$src/README.TXT"
printf 'hello again\n' >"$src/Read Me.txt"
head -c 300000 /dev/urandom >"$src/data.bin"
head -c 70000 /dev/urandom >"$src/Docs/Deep/a rather long file name for UDF.dat"
for i in 1 2 3; do head -c $((i * 37)) /dev/urandom >"$src/many/file-$i.bin"; done

genisoimage -quiet -iso-level 3 -o "$work/g3.iso" "$src" 2>"$work/err" || fail "$(cat "$work/err")"
genisoimage -quiet -iso-level 3 -R -J -udf -V Peer -o "$work/g3rju.iso" "$src" 2>"$work/err" ||
  fail "$(cat "$work/err")"
xorrisofs -quiet -R -J -o "$work/x.iso" "$src" 2>"$work/err" || fail "$(cat "$work/err")"

# rename IMAGE FROM TO: a copy of IMAGE in $work/renamed.iso with the first FROM (bytes
# given as printf escapes) replaced by TO of the same length.
rename() {
  pos=$(LC_ALL=C grep -obUaP "$2" "$1" | head -1 | cut -d: -f1)
  [ -n "$pos" ] || fail "no $2 in $1"
  cp "$1" "$work/renamed.iso"
  # shellcheck disable=SC2059
  printf "$3" | dd of="$work/renamed.iso" bs=1 seek="$pos" conv=notrunc 2>/dev/null
}

# expect IMAGE TEXT: -compare of IMAGE fails with an error holding TEXT.
expect() {
  if "$bin" "$src" -compare "$1" </dev/null >"$work/out" 2>"$work/err"; then
    fail "-compare accepts $1 with a changed name"
  fi
  grep -qF "$2" "$work/err" || fail "$1: expected \"$2\", got: $(head -5 "$work/err")"
}

for case in "g3.iso:ISO 9660" "g3rju.iso:ISO 9660, Rock Ridge, Joliet and UDF 1.02" \
  "x.iso:ISO 9660, Rock Ridge and Joliet"; do
  image=$work/${case%%:*}
  compare_image "peers (${case%%:*})" "$src" "$image"
  "$bin" "$src" -compare "$image" </dev/null >"$work/out" 2>"$work/err"
  grep -qF "files, " "$work/out" && grep -qF "bytes in ${case#*:}" "$work/out" ||
    fail "${case%%:*}: $(cat "$work/out")"
done

# The plain tree is the only one of g3.iso: a changed identifier is found there.
rename "$work/g3.iso" 'DATA\.BIN;1' 'DATA.BIM;1'
expect "$work/renamed.iso" "/DATA.BIM: a file in ISO 9660 that holds the bytes of no file of the folder"
# Rock Ridge (NM entry), Joliet (UCS-2) and UDF names of the other images.
rename "$work/x.iso" 'NM\x0d\x01\x00data\.bin' 'NM\r\001\000dbta.bin'
expect "$work/renamed.iso" "/data.bin: missing from Rock Ridge"
rename "$work/x.iso" '\x00d\x00a\x00t\x00a\x00\.\x00b' '\000d\000b\000t\000a\000.\000b'
expect "$work/renamed.iso" "/data.bin: missing from Joliet"
rename "$work/g3rju.iso" 'NM\x0d\x01\x00data\.bin' 'NM\r\001\000dbta.bin'
expect "$work/renamed.iso" "/data.bin: missing from Rock Ridge"
echo "peers: ok"

#!/bin/sh
# UDF images (ISO 9660 + UDF 1.02, UDF 1.02, UDF 2.50 and the default) of a small tree,
# read back by the Linux kernel, udfinfo and 7-Zip.
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}  # the kernel mount checker beside this script
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$(readlink -f "$0")")/compare.inc"
src=$work/src
mkdir -p "$src/a/b/c" "$src/a/empty dir" "$src/Grüße" "$src/many"
: >"$src/empty.bin"
head -c 2047 /dev/urandom >"$src/s2047.bin"
head -c 2048 /dev/urandom >"$src/s2048.bin"
head -c 2049 /dev/urandom >"$src/s2049.bin"
head -c 3000000 /dev/urandom >"$src/a/big.dat"
printf 'deep\n' >"$src/a/b/c/deep.txt"
head -c 5000 /dev/urandom >"$src/Grüße/日本語のファイル.txt"
printf 'x\n' >"$src/Grüße/Ελληνικά και ÅÄÖ.txt"
# 120 names of 40 characters: about 120 x 124 bytes of identifiers, 8 blocks.
i=0
while [ $i -lt 120 ]; do
  head -c $((i * 53)) /dev/urandom >"$src/many/a-rather-long-file-name-number-$(printf %05d $i).dat"
  i=$((i + 1))
done
files=$(cd "$src" && find . -type f | wc -l)
dirs=$(cd "$src" && find . -type d | wc -l)

check() {  # check NAME REVISION [-filesystem VALUE]
  name=$1 revision=$2
  shift 2
  img=$work/$name.img
  fail() { echo "udf ($name): $*"; exit 1; }
  rm -f "$img"
  "$bin" "$src" "$img" -label Interop -verify "$@" </dev/null >"$work/out.txt" || fail "build: $(cat "$work/out.txt")"
  verified "udf ($name)" "$work/out.txt"
  compare_image "udf ($name)" "$src" "$img" "$@"

  udfinfo "$img" >"$work/info.txt" 2>"$work/info.err" || fail "udfinfo: $(cat "$work/info.err")"
  for want in "udfrev=$revision" "label=Interop" "lvid=Interop" "numfiles=$files" "numdirs=$dirs" \
              "integrity=closed" "accesstype=readonly"; do
    grep -qxF "$want" "$work/info.txt" || fail "udfinfo lacks $want: $(cat "$work/info.txt")"
  done
  [ ! -s "$work/info.err" ] || fail "udfinfo warns: $(cat "$work/info.err")"

  rm -rf "$work/x"
  7zz x -tudf -y -o"$work/x" "$img" >"$work/7z.txt" || fail "7zz x: $(tail -5 "$work/7z.txt")"
  diff -r "$src" "$work/x" >"$work/diff.txt" || fail "7zz x differs: $(head "$work/diff.txt")"

  "$KMOUNT" "$img" udf >"$work/k.txt" || fail "kmount: $(tail -5 "$work/k.txt")"
  grep -q '^RESULT ok$' "$work/k.txt" || fail "kmount result"
  ! grep '^K ' "$work/k.txt" || fail "the kernel logged UDF messages"
  (cd "$src" && find . -type f) | while read -r f; do
    line="F $(md5sum <"$src/$f" | cut -d' ' -f1) $(stat -c %s "$src/$f") $f"
    grep -qxF "$line" "$work/k.txt" || fail "kernel lacks: $line"
  done
  (cd "$src" && find . -type d) | while read -r d; do
    grep -qxF "D $d" "$work/k.txt" || fail "kernel lacks directory $d"
  done
  [ "$(grep -c '^F ' "$work/k.txt")" -eq "$files" ] || fail "kernel file count"
  [ "$(grep -c '^D ' "$work/k.txt")" -eq "$dirs" ] || fail "kernel directory count"
  echo "udf ($name): ok"
}

check iso-udf102 1.02 -filesystem "ISO9660 + UDF 1.02"
check udf102 1.02 -filesystem "UDF 1.02"
check udf250 2.50 -filesystem "UDF 2.50"
check default 2.50

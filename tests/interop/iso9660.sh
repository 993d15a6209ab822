#!/bin/sh
# An ISO 9660 image of a small tree, read back by isoinfo, 7-Zip and the Linux kernel.
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}  # the kernel mount checker beside this script
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$(readlink -f "$0")")/compare.inc"
src=$work/src
mkdir -p "$src/DOCS/DEEP/DEEPER" "$src/EMPTY" "$src/MANY"
printf 'hello\n' >"$src/README.TXT"
head -c 3000000 /dev/urandom >"$src/DATA.BIN"
head -c 2048 /dev/urandom >"$src/DOCS/EXACT.BIN"
: >"$src/DOCS/EMPTY.TXT"
head -c 5000 /dev/urandom >"$src/DOCS/DEEP/NOTE.TXT"
head -c 70000 /dev/urandom >"$src/DOCS/DEEP/DEEPER/LAST.DAT"
i=0
while [ $i -lt 80 ]; do
  head -c $((i * 37)) /dev/urandom >"$src/MANY/F$i.BIN"
  i=$((i + 1))
done
img=$work/test.iso

"$bin" "$src" "$img" -filesystem ISO9660 -label Interop -verify </dev/null >"$work/out.txt"
fail() { echo "iso9660: $*"; exit 1; }
verified iso9660 "$work/out.txt"
compare_image iso9660 "$src" "$img"

isoinfo -d -i "$img" >"$work/d.txt"
grep -q '^Volume id: INTEROP$' "$work/d.txt" || fail "volume id: $(cat "$work/d.txt")"
grep -q '^Application id: VELLUMCAST_CONSOLE 1.0$' "$work/d.txt" || fail "application id"
blocks=$(sed -n 's/^Volume size is: //p' "$work/d.txt")
[ "$((blocks * 2048))" -eq "$(stat -c %s "$img")" ] || fail "volume size $blocks"

# Every file appears in isoinfo -l with its size.
isoinfo -l -i "$img" >"$work/l.txt"
(cd "$src" && find . -type f) | while read -r f; do
  name=$(basename "$f")
  size=$(stat -c %s "$src/$f")
  grep -Eq " $size [A-Z][a-z][a-z] .* \[ *[0-9]+ [0-9]+\] +$name;1 *\$" "$work/l.txt" ||
    fail "isoinfo -l lacks $f ($size bytes)"
done

# 7-Zip lists and extracts the same tree.
7zz l "$img" >"$work/7l.txt" || fail "7zz l"
grep -q 'DOCS/DEEP/DEEPER/LAST.DAT' "$work/7l.txt" || fail "7zz l lacks LAST.DAT"
7zz x -y -o"$work/x" "$img" >/dev/null || fail "7zz x"
diff -r "$src" "$work/x" || fail "7zz x differs from the source"

# The Linux kernel mounts it and shows every file with its size and md5.
"$KMOUNT" "$img" iso9660 >"$work/k.txt" || fail "kmount: $(tail -5 "$work/k.txt")"
grep -q '^RESULT ok$' "$work/k.txt" || fail "kmount result"
(cd "$src" && find . -type f) | while read -r f; do
  line="F $(md5sum <"$src/$f" | cut -d' ' -f1) $(stat -c %s "$src/$f") $(echo "$f" | tr 'A-Z' 'a-z')"
  grep -qxF "$line" "$work/k.txt" || fail "kernel lacks: $line"
done
[ "$(grep -c '^F ' "$work/k.txt")" -eq "$(cd "$src" && find . -type f | wc -l)" ] || fail "file count"
echo "iso9660: ok"

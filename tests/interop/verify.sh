#!/bin/sh
# -compare through the UDF file system of another tool's image: genisoimage -udf of a
# plain folder (no Thumbs.db, no links) is accepted, a damaged copy rejected; an extra
# file in the folder is named.
set -eu
bin=$1
here=$(dirname "$(readlink -f "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "verify: $*"; exit 1; }
. "$here/compare.inc"

src=$work/src
mkdir -p "$src/Docs/Deep" "$src/Empty Folder" "$src/many"
printf 'hello\n' >"$src/Read Me.txt"
head -c 3000000 /dev/urandom >"$src/data.bin"
head -c 2048 /dev/urandom >"$src/Docs/exact.bin"
: >"$src/Docs/empty.txt"
head -c 70000 /dev/urandom >"$src/Docs/Deep/a rather long file name for UDF.dat"
i=0
while [ $i -lt 40 ]; do
  head -c $((i * 37)) /dev/urandom >"$src/many/file-$i.bin"
  i=$((i + 1))
done

genisoimage -quiet -udf -V Peer -o "$work/peer.iso" "$src" 2>"$work/g.err" || fail "genisoimage: $(cat "$work/g.err")"
compare_image "verify (genisoimage)" "$src" "$work/peer.iso" -filesystem "UDF 1.02"

printf 'late\n' >"$src/Docs/late.txt"
if "$bin" "$src" -compare "$work/peer.iso" -filesystem "UDF 1.02" </dev/null >/dev/null 2>"$work/err.txt"; then
  fail "-compare accepts an image that lacks a file of the folder"
fi
grep -qxF 'Error: /Docs/late.txt: missing from UDF 1.02' "$work/err.txt" || fail "extra file: $(cat "$work/err.txt")"
rm "$src/Docs/late.txt"

# A block device that goes on past the image (as a partition does, or a disc written
# track-at-once with its run-out sectors): -verify after writing to it and -compare of it
# later check the image where its own descriptors end it. Needs root and a loop device.
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null 2>&1 && truncate -s 64M "$work/device.img" &&
  dev=$(losetup -f --show "$work/device.img" 2>/dev/null); then
  trap 'losetup -d "$dev"; rm -rf "$work"' EXIT
  for fs in CD DVD "UDF 1.02" "UDF 2.50"; do
    "$bin" "$src" "$dev" -filesystem "$fs" -verify -yes </dev/null >"$work/out.txt" 2>&1 ||
      fail "-verify to $dev with $fs: $(cat "$work/out.txt")"
    verified "verify ($fs on $dev)" "$work/out.txt"
    "$bin" "$src" -compare "$dev" </dev/null >"$work/out.txt" 2>&1 ||
      fail "-compare of $dev with $fs: $(cat "$work/out.txt")"
  done
else
  echo "verify: the block-device case needs root and a loop device; skipped"
fi
echo "verify: ok"

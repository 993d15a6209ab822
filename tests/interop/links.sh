#!/bin/sh
# Links and the two sides of a DVD image: bsdtar (libarchive reads an image as a stream)
# lists folders of 150-byte names whole; a hard-linked file is stored once and the kernel
# shows its link count through UDF and Rock Ridge, 7-Zip its bytes under every name; with
# -R symbolic links (dangling ones too) and a FIFO are links and a FIFO for the kernel
# (Rock Ridge and UDF) and bsdtar, a link to a file shows its bytes through Joliet; the
# UDF side shows the Rock Ridge owners and modes (mount without uid=/gid=).
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}
bin=$1
export TZ=UTC LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$work/src
fail() { echo "links: $*"; exit 1; }

d=$(printf 'd%.0s' $(seq 1 150))
mkdir -p "$src/a$d/b$d" "$src/e$d" "$src/sub"
echo deep >"$src/a$d/b$d/f.txt"
head -c 300000 /dev/urandom >"$src/big.bin"
ln "$src/big.bin" "$src/big2.bin"
ln "$src/big.bin" "$src/sub/big3.bin"
ln -s big.bin "$src/link.bin"
ln -s ../nowhere "$src/sub/dangling"
ln -s sub "$src/dirlink"
mkfifo "$src/fifo"
echo tool >"$src/tool"
chown 1234:5678 "$src/tool" "$src/big.bin" 2>/dev/null || fail "chown needs root"
chmod 4751 "$src/tool"
chmod 0600 "$src/big.bin"

kernel() {  # image, file system, options, output
  KMOUNT_ATTRIBUTES=1 "$KMOUNT" "$1" "$2" "$3" >"$4" || fail "kmount $2 $3: $(tail -5 "$4")"
  grep -q '^RESULT ok$' "$4" || fail "kmount $2 $3 result"
}
has() {  # output, line, what
  grep -qxF "$2" "$1" || fail "$3: no line \"$2\" in: $(grep '^[AL] ' "$1" | head -30)"
}

img=$work/dvd.iso
"$bin" "$src" "$img" -filesystem DVD -R -J -verify </dev/null >"$work/out.txt" 2>&1 ||
  fail "build: $(cat "$work/out.txt")"
grep -q 'Verified: ' "$work/out.txt" || fail "-verify: $(cat "$work/out.txt")"
"$bin" "$src" -compare "$img" -filesystem DVD -R -J </dev/null >"$work/cmp.txt" 2>&1 ||
  fail "-compare: $(cat "$work/cmp.txt")"
# The data of big.bin once: 32 bytes from its middle (without a line end) occur once.
off=150000 pattern=
while [ -z "$pattern" ]; do
  bytes=$(od -An -tx1 -v -j $off -N 32 "$src/big.bin" | tr '\n' ' ' | tr -s ' ')
  off=$((off + 32))
  case "$bytes" in *" 0a"*) continue ;; esac
  pattern=$(echo "$bytes" | sed 's/ *$//; s/ /\\x/g')
done
copies=$(grep -obUaP "$pattern" "$img" | wc -l)
[ "$copies" = 1 ] || fail "the hard-linked file is stored $copies times"

# bsdtar reads forward: each directory's continuation areas before the next directory.
bsdtar tvf "$img" >"$work/tar.txt" 2>&1 || fail "bsdtar: $(cat "$work/tar.txt")"
bsdtar tf "$img" >"$work/names.txt"
for name in "a$d" "a$d/b$d" "a$d/b$d/f.txt" "e$d"; do
  grep -qxF "$name" "$work/names.txt" || grep -qxF "$name/" "$work/names.txt" ||
    fail "bsdtar does not list $name whole: $(cut -c1-200 "$work/names.txt")"
done
grep -q '^lrwxrwxrwx .* link.bin -> big.bin$' "$work/tar.txt" || fail "bsdtar: link.bin is no link"
grep -q '^lrwxrwxrwx .* sub/dangling -> ../nowhere$' "$work/tar.txt" || fail "bsdtar: dangling"
grep -q '^p.* fifo$' "$work/tar.txt" || fail "bsdtar: fifo is no FIFO"
grep -q '^-rwsr-x--x .*1234 .*5678 .* tool$' "$work/tar.txt" || fail "bsdtar: tool's owner or mode"

for side in "udf ro" "iso9660 ro"; do
  set -- $side
  kernel "$img" "$1" "$2" "$work/k.txt"
  has "$work/k.txt" "A -rw------- 1234 5678 3 ./big.bin" "$1 hard link count and owner"
  has "$work/k.txt" "A -rw------- 1234 5678 3 ./sub/big3.bin" "$1 hard link"
  has "$work/k.txt" "A -rwsr-x--x 1234 5678 1 ./tool" "$1 set-uid owner"
  has "$work/k.txt" "L big.bin ./link.bin" "$1 symbolic link"
  has "$work/k.txt" "L ../nowhere ./sub/dangling" "$1 dangling link"
  has "$work/k.txt" "L sub ./dirlink" "$1 link to a folder"
  grep -q '^A p.* \./fifo$' "$work/k.txt" || fail "$1: fifo is no FIFO"
  sums=$(grep '^F .* 300000 ' "$work/k.txt" | cut -d' ' -f2 | sort -u | wc -l)
  [ "$sums" = 1 ] || fail "$1: the hard-linked names differ"
done

# Joliet: the link to a file shows the file's bytes.
kernel "$img" iso9660 ro,norock "$work/kj.txt"
want=$(md5sum <"$src/big.bin" | cut -d' ' -f1)
has "$work/kj.txt" "F $want 300000 ./link.bin" "Joliet link to a file"

# 7-Zip: every name of the hard-linked file with its bytes, from the image as 7-Zip opens
# it (the Joliet side) and from the UDF side of an image without -R (7-Zip refuses a UDF
# tree holding symbolic links or FIFOs as a whole: "Unsupported feature").
"$bin" "$src" "$work/plain.iso" -filesystem DVD </dev/null >"$work/out.txt" 2>&1 ||
  fail "build without -R: $(cat "$work/out.txt")"
for run in "$img" "-tudf $work/plain.iso"; do
  rm -rf "$work/x"
  # shellcheck disable=SC2086
  7zz x -o"$work/x" $run >"$work/7z.txt" 2>&1 || fail "7zz $run: $(tail -5 "$work/7z.txt")"
  for name in big.bin big2.bin sub/big3.bin; do
    cmp -s "$src/big.bin" "$work/x/$name" || fail "7zz $run: $name differs"
  done
done

#!/bin/sh
# Names that collide in ISO 9660 8.3 form or are too long for a UDF file identifier, and
# names the kernel's iso9660 driver shows alike or cannot open (';' shown as '.', "..."
# shown as "..", a name of one byte above 0x7F): the Linux kernel must reach every file of
# the source, each under its own name.
set -eu
export LC_ALL=C  # names that are not valid UTF-8 stay text to grep
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}  # the kernel mount checker beside this script
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$(readlink -f "$0")")/compare.inc"
src=$work/src
mkdir -p "$src/longdirectory1" "$src/longdirectory2" "$src/x;1"
long=$(printf 'L%.0s' $(seq 1 200))
i=0
for name in report-2023-01.txt report-2023-02.txt report-2023-03.txt "report~1.txt" \
            "$long.txt" "${long}x.txt" "${long}y" longdirectory1/a longdirectory2/a \
            "a;b.txt" a.b.txt ... "x;1.txt" "x;2.txt" "$(printf '\303\251')" "$(printf '\351')" \
            "$(printf '\302\240')" x "x;1/in"; do
  head -c $((100 + i * 3000)) /dev/urandom >"$src/$name"
  i=$((i + 1))
done
fail() { echo "layout_names: $*"; exit 1; }

# Every source file's content appears exactly once, and no two names are equal.
check() {  # image, file system of the mount
  "$KMOUNT" "$1" "$2" >"$work/k.txt" || fail "kmount $2: $(tail -5 "$work/k.txt")"
  grep -q '^RESULT ok$' "$work/k.txt" || fail "kmount $2 result"
  grep '^F ' "$work/k.txt" | cut -d' ' -f2 | sort >"$work/got.txt"
  (cd "$src" && find . -type f -exec md5sum {} +) | cut -d' ' -f1 | sort >"$work/want.txt"
  cmp -s "$work/got.txt" "$work/want.txt" || fail "$2: files differ: $(cat "$work/k.txt")"
  [ -z "$(grep '^F ' "$work/k.txt" | cut -d' ' -f4- | sort | uniq -d)" ] || fail "$2: duplicate names"
}

for fs in CD DVD BD; do
  img=$work/$fs.iso
  "$bin" "$src" "$img" -filesystem $fs -verify </dev/null >"$work/out.txt" 2>&1 || fail "$fs build: $(cat "$work/out.txt")"
  verified "layout_names ($fs)" "$work/out.txt"
  compare_image "layout_names ($fs)" "$src" "$img"
  [ $fs = CD ] || check "$img" udf
  [ $fs = BD ] || check "$img" iso9660
done
echo "layout_names: ok"

#!/bin/sh
# -rockridge and -joliet on CD (ISO 9660) and DVD (ISO 9660 + UDF 1.02): the Linux kernel
# shows every full name and size with Rock Ridge (default options) and the Joliet names
# with "norock"; isoinfo -R / -J, 7-Zip, xorriso and bsdtar agree; the UDF side of the
# bridge is unchanged; a fixed build time gives fixed owners and permissions and the same
# image twice; UDF-only choices refuse the switches before writing anything.
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}  # the kernel mount checker beside this script
bin=$1
export TZ=UTC LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$work/src
fail() { echo "rock_ridge_joliet: $*"; exit 1; }
. "$(dirname "$(readlink -f "$0")")/compare.inc"

long=$(printf 'n%.0s' $(seq 1 240))  # 244 bytes with .txt: NM split, continuation area
deep=l1/l2/l3/l4/l5/l6/l7/l8/l9/l10
mkdir -p "$src/$deep" "$src/Empty Folder" "$src/docs/photos"
i=0
for name in "README.TXT" "a very long file name for a photo taken at sunset.jpeg" "Sunset over the sea.jpeg" \
            "$(printf '\346\227\245\346\234\254\350\252\236\343\201\256\345\206\231\347\234\237.jpg')" \
            "a;b.txt" "$long.txt" "docs/photos/IMG 0001 (copy).jpeg" "$deep/bottom.txt" "run me.sh"; do
  head -c $((100 + i * 3000)) /dev/urandom >"$src/$name"
  i=$((i + 1))
done
chmod 0750 "$src/run me.sh"
chmod 0640 "$src/README.TXT"
stamp=$(( $(date +%s) / 60 * 60 - 3 * 86400 ))  # three days ago, a whole minute
touch -d "@$stamp" "$src/Sunset over the sea.jpeg"
joliet_long=$(printf 'n%.0s' $(seq 1 60)).txt  # 64 units, the extension kept

# What the source holds: "D ./dir" and "F md5 size ./file", as kmount prints them.
(cd "$src" && find . -type d | sed 's/^/D /'
 find . -type f | while read -r f; do echo "F $(md5sum <"$f" | cut -d' ' -f1) $(stat -c %s "$f") $f"; done) |
  sort >"$work/want.txt"

kernel() {  # image, file system, options, output
  "$KMOUNT" "$1" "$2" "$3" >"$4" || fail "kmount $2 $3: $(tail -5 "$4")"
  grep -q '^RESULT ok$' "$4" || fail "kmount $2 $3 result"
}

for fs in CD DVD; do
  img=$work/$fs.iso
  "$bin" "$src" "$img" -filesystem $fs -R -J -verify </dev/null >"$work/out.txt" 2>&1 || fail "$fs build: $(cat "$work/out.txt")"
  verified "rock_ridge_joliet ($fs)" "$work/out.txt"
  compare_image "rock_ridge_joliet ($fs)" "$src" "$img" -filesystem $fs

  # Rock Ridge in the kernel: every full name, size and byte of the source.
  kernel "$img" iso9660 ro "$work/k.txt"
  grep '^[DF] ' "$work/k.txt" | sort >"$work/got.txt"
  diff "$work/want.txt" "$work/got.txt" >"$work/diff.txt" || fail "$fs kernel Rock Ridge differs: $(cat "$work/diff.txt")"

  # Joliet in the kernel: the same bytes under the Joliet names.
  kernel "$img" iso9660 ro,norock "$work/kj.txt"
  grep '^F ' "$work/kj.txt" | cut -d' ' -f2,3 | sort >"$work/got.txt"
  grep '^F ' "$work/want.txt" | cut -d' ' -f2,3 | sort >"$work/bytes.txt"
  cmp -s "$work/bytes.txt" "$work/got.txt" || fail "$fs kernel Joliet files differ"
  for name in "./a very long file name for a photo taken at sunset.jpeg" "./a_b.txt" "./$joliet_long" \
              "./$(printf '\346\227\245\346\234\254\350\252\236\343\201\256\345\206\231\347\234\237.jpg')" \
              "./docs/photos/IMG 0001 (copy).jpeg" "./$deep/bottom.txt"; do
    grep -qF " $name" "$work/kj.txt" || fail "$fs kernel Joliet lacks $name: $(grep '^F' "$work/kj.txt")"
  done

  # isoinfo: Rock Ridge names and sizes; Joliet names (ASCII ones: isoinfo prints Latin-1).
  isoinfo -R -l -i "$img" >"$work/ir.txt"
  isoinfo -J -l -i "$img" >"$work/ij.txt"
  (cd "$src" && find . -type f) | while read -r f; do
    base=$(basename "$f")
    size=$(stat -c %s "$src/$f")
    grep -F "]  $base" "$work/ir.txt" | grep -qE " $size [A-Z][a-z][a-z] " || fail "$fs isoinfo -R lacks $f ($size bytes)"
  done
  grep -F "]  run me.sh" "$work/ir.txt" | grep -q '^-rwxr-x---' || fail "$fs isoinfo -R: mode of run me.sh"
  for name in "a very long file name for a photo taken at sunset.jpeg" a_b.txt "$joliet_long" "IMG 0001 (copy).jpeg"; do
    grep -qF "$name" "$work/ij.txt" || fail "$fs isoinfo -J lacks $name"
  done

  # 7-Zip reads the Joliet tree of a CD (the UDF tree of the bridge): names, sizes, and
  # the record time of a file.
  7zz l -slt "$img" >"$work/7.txt" || fail "$fs 7zz l"
  grep -qxF "Path = docs/photos/IMG 0001 (copy).jpeg" "$work/7.txt" || fail "$fs 7zz lacks the photo"
  [ $fs = DVD ] || grep -qxF "Path = $joliet_long" "$work/7.txt" || fail "$fs 7zz lacks the shortened name"
  grep -A4 -xF "Path = Sunset over the sea.jpeg" "$work/7.txt" | grep -q "^Modified = $(date -d "@$stamp" '+%Y-%m-%d %H:%M:%S')" ||
    fail "$fs 7zz time of Sunset over the sea.jpeg: $(grep -A4 -F 'Sunset over' "$work/7.txt")"
  7zz x -y -o"$work/x7" "$img" >/dev/null || fail "$fs 7zz x"
  cmp -s "$src/docs/photos/IMG 0001 (copy).jpeg" "$work/x7/docs/photos/IMG 0001 (copy).jpeg" || fail "$fs 7zz x bytes"
  rm -rf "$work/x7"

  # xorriso reads Rock Ridge: names, sizes, modes and the modification time (TF).
  xorriso -indev "$img" -find / -exec lsdl 2>/dev/null >"$work/xo.txt" || fail "$fs xorriso"
  grep -qF "'/$long.txt'" "$work/xo.txt" || fail "$fs xorriso lacks the long name"
  grep -q "^-rwxr-x---.* '/run me.sh'\$" "$work/xo.txt" || fail "$fs xorriso mode: $(grep 'run me' "$work/xo.txt")"
  grep -qF "$(date -d "@$stamp" '+%b %e %H:%M') '/Sunset over the sea.jpeg'" "$work/xo.txt" ||
    fail "$fs xorriso time: $(grep Sunset "$work/xo.txt")"
  [ "$(grep -c "^-" "$work/xo.txt")" -eq "$(grep -c '^F ' "$work/want.txt")" ] || fail "$fs xorriso file count"

  # bsdtar reads Rock Ridge too: the full names (in the C locale it would escape UTF-8).
  LC_ALL=C.UTF-8 bsdtar tf "$img" | sed 's|/$||' | grep -vx '\.' | sort >"$work/bt.txt"
  (cd "$src" && find . -mindepth 1 | sed 's|^\./||') | sort >"$work/names.txt"
  cmp -s "$work/names.txt" "$work/bt.txt" || fail "$fs bsdtar names: $(diff "$work/names.txt" "$work/bt.txt")"
done

# The bridge's UDF side: the same full names, sizes and bytes as without the switches
# (UDF keeps 127 characters of the 244-byte name).
kernel "$work/DVD.iso" udf ro,iocharset=utf8 "$work/ku.txt"
grep '^[DF] ' "$work/ku.txt" | sort >"$work/got.txt"
udf_long=$(printf 'n%.0s' $(seq 1 123)).txt
sed "s|/$long.txt\$|/$udf_long|" "$work/want.txt" | sort >"$work/want_udf.txt"
diff "$work/want_udf.txt" "$work/got.txt" >"$work/diff.txt" || fail "DVD UDF differs: $(cat "$work/diff.txt")"

# A fixed build time: fixed owners and permissions, and the same image twice.
for n in 1 2; do
  "$bin" "$src" "$work/fixed$n.iso" -filesystem CD -R -J -time 2026-01-31T12:00:00Z </dev/null >/dev/null 2>&1 ||
    fail "fixed-time build"
done
cmp -s "$work/fixed1.iso" "$work/fixed2.iso" || fail "two builds with -time differ"
xorriso -indev "$work/fixed1.iso" -find / -exec lsdl 2>/dev/null >"$work/xf.txt"
grep -q "^-r-xr-xr-x *1 0 *0 .* '/run me.sh'\$" "$work/xf.txt" || fail "fixed time: $(grep 'run me' "$work/xf.txt")"
grep -q "^dr-xr-xr-x .* 0 *0 .* '/docs'\$" "$work/xf.txt" || fail "fixed time: $(grep "'/docs'" "$work/xf.txt")"

# UDF-only choices refuse the switches before writing anything.
for fs in BD "UDF 1.02"; do
  for switch in -rockridge -joliet; do
    if "$bin" "$src" "$work/refused.iso" -filesystem "$fs" $switch </dev/null >"$work/out.txt" 2>"$work/err.txt"; then
      fail "$fs $switch was not refused"
    fi
    grep -q '^Error: ' "$work/err.txt" || fail "$fs $switch: $(cat "$work/err.txt")"
    [ ! -e "$work/refused.iso" ] || fail "$fs $switch wrote an image"
  done
done
echo "rock_ridge_joliet: ok"

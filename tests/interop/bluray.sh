#!/bin/sh
# Stereoscopic Blu-ray images: the default file system on a generated 3D BDMV folder
# interleaves each clip pair and records the .ssif files as views onto it, read back by
# the Linux kernel and libbluray; -filesystem BD and folders whose plan does not fit give
# plain UDF 2.50 images with the SSIF files copied.
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}  # the kernel mount checker beside this script
bin=$1
fixture=$(dirname "$bin")/vellumcast_bdmv_fixture
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "bluray: $*"; exit 1; }
. "$(dirname "$(readlink -f "$0")")/compare.inc"
[ -x "$fixture" ] || fail "no fixture tool next to $bin"

# kmount's listing of IMAGE must hold every file of SRC with its size and md5, and no other,
# and the kernel must log nothing about the image.
same_files() {
  "$KMOUNT" "$1" udf >"$work/k.txt" || fail "kmount $1: $(tail -5 "$work/k.txt")"
  grep -q '^RESULT ok$' "$work/k.txt" || fail "kmount result for $1"
  ! grep '^K ' "$work/k.txt" || fail "$1: the kernel logged the lines above"
  (cd "$2" && find . -type f) | while read -r f; do
    line="F $(md5sum <"$2/$f" | cut -d' ' -f1) $(stat -c %s "$2/$f") $f"
    grep -qxF "$line" "$work/k.txt" || fail "$1: kernel lacks $line"
  done
  [ "$(grep -c '^F ' "$work/k.txt")" -eq "$(cd "$2" && find . -type f | wc -l)" ] ||
    fail "$1: file count"
}
size() { stat -c %s "$1"; }

# 3D folder: its SSIF files are the interleaves of the stream pairs, so the image's .ssif
# files must read back exactly as they, while their data is stored only once.
"$fixture" stereo "$work/3d"
"$bin" "$work/3d" "$work/3d.iso" -verify </dev/null >"$work/out.txt" || fail "default build"
verified bluray "$work/out.txt"
compare_image bluray "$work/3d" "$work/3d.iso"
"$bin" "$work/3d" "$work/3d-bd.iso" -filesystem BD -verify </dev/null >"$work/out.txt" || fail "BD build"
verified bluray "$work/out.txt"
compare_image bluray "$work/3d" "$work/3d-bd.iso" -filesystem BD
udfinfo "$work/3d.iso" | grep -q '^udfrev=2.50$' || fail "3d.iso is not UDF 2.50"
same_files "$work/3d.iso" "$work/3d"
same_files "$work/3d-bd.iso" "$work/3d"
ssif=$(cat "$work/3d/BDMV/STREAM/SSIF/"*.ssif | wc -c)
saved=$(($(size "$work/3d-bd.iso") - $(size "$work/3d.iso")))
# Images grow in steps of 32 sectors (64 KiB).
[ "$saved" -ge $((ssif - 65536)) ] && [ "$saved" -le $((ssif + 65536)) ] ||
  fail "the interleaved image saves $saved bytes, the SSIF files hold $ssif"

# libbluray sees the same disc in the image as in the folder.
bd_info "$work/3d" 2>&1 | grep -v '^Volume Identifier' >"$work/bd-folder.txt" || fail "bd_info folder"
bd_info "$work/3d.iso" 2>&1 | grep -v '^Volume Identifier' >"$work/bd-image.txt" || fail "bd_info image"
grep -q '3D content exists *: Yes' "$work/bd-image.txt" || fail "bd_info: $(cat "$work/bd-image.txt")"
diff "$work/bd-folder.txt" "$work/bd-image.txt" || fail "bd_info differs"
bd_list_titles -a "$work/3d" >"$work/titles-folder.txt" 2>&1 || fail "bd_list_titles folder"
bd_list_titles -a "$work/3d.iso" >"$work/titles-image.txt" 2>&1 || fail "bd_list_titles image"
grep -q 'playlist: 00000.mpls' "$work/titles-image.txt" || fail "bd_list_titles: $(cat "$work/titles-image.txt")"
diff "$work/titles-folder.txt" "$work/titles-image.txt" || fail "bd_list_titles differs"

# 3D declared but the extents fail their checks: a plain UDF 2.50 image, SSIF copied.
"$fixture" broken "$work/bad"
"$bin" "$work/bad" "$work/bad.iso" -verify </dev/null >"$work/out.txt" || fail "broken build"
verified bluray "$work/out.txt"
compare_image bluray "$work/bad" "$work/bad.iso"
"$bin" "$work/bad" "$work/bad-bd.iso" -filesystem BD -verify </dev/null >"$work/out.txt" || fail "broken BD build"
verified bluray "$work/out.txt"
compare_image bluray "$work/bad" "$work/bad-bd.iso" -filesystem BD
udfinfo "$work/bad.iso" | grep -q '^udfrev=2.50$' || fail "bad.iso is not UDF 2.50"
same_files "$work/bad.iso" "$work/bad"
[ "$(size "$work/bad.iso")" -eq "$(size "$work/bad-bd.iso")" ] || fail "broken folder image size"

# 3D declared, but clip 1's extent start points are off the 32-packet grid (its extents
# would not cover its stream file): one warning naming the clip, and a plain UDF 2.50 image
# in which every file, the SSIF folder and an unrelated SSIF folder included, reads back as
# its source, with nothing logged by the kernel.
"$fixture" damaged "$work/dmg"
mkdir -p "$work/dmg/docs/extra/SSIF"
echo "keep me" >"$work/dmg/docs/extra/SSIF/important.txt"
"$bin" "$work/dmg" "$work/dmg.iso" -verify </dev/null >"$work/out.txt" 2>"$work/dmg.err" || fail "damaged build"
verified bluray "$work/out.txt"
compare_image bluray "$work/dmg" "$work/dmg.iso"
[ "$(grep -c 'stereoscopic (3D) layout not applied: BDMV/CLIPINF/00001.clpi' "$work/dmg.err")" -eq 1 ] &&
  [ "$(grep -c '' "$work/dmg.err")" -eq 1 ] || fail "damaged build warnings: $(cat "$work/dmg.err")"
same_files "$work/dmg.iso" "$work/dmg"

# 3D clips that end inside a sector: interleaved, each clip's last extent ends at its last
# byte; the kernel reads every stream file as its source and each .ssif at its full run.
"$fixture" partial "$work/part"
"$bin" "$work/part" "$work/part.iso" -verify </dev/null >"$work/out.txt" 2>"$work/part.err" || fail "partial build"
verified bluray "$work/out.txt"
compare_image bluray "$work/part" "$work/part.iso"
[ ! -s "$work/part.err" ] || fail "partial build warns: $(cat "$work/part.err")"
"$KMOUNT" "$work/part.iso" udf >"$work/k.txt" || fail "kmount part.iso: $(tail -5 "$work/k.txt")"
! grep '^K ' "$work/k.txt" || fail "part.iso: the kernel logged the lines above"
(cd "$work/part" && find . -type f) | while read -r f; do
  line="F $(md5sum <"$work/part/$f" | cut -d' ' -f1) $(stat -c %s "$work/part/$f") $f"
  grep -qxF "$line" "$work/k.txt" || fail "part.iso: kernel lacks $line"
done
grep -q '^F [0-9a-f]* 98304 ./BDMV/STREAM/SSIF/00001.ssif$' "$work/k.txt" &&
  grep -q '^F [0-9a-f]* 86016 ./BDMV/STREAM/SSIF/00003.ssif$' "$work/k.txt" || fail "part.iso: .ssif files"

# A two-dimensional folder.
"$fixture" flat "$work/2d"
"$bin" "$work/2d" "$work/2d.iso" -verify </dev/null >"$work/out.txt" || fail "2D build"
verified bluray "$work/out.txt"
compare_image bluray "$work/2d" "$work/2d.iso"
same_files "$work/2d.iso" "$work/2d"
echo "bluray: ok"

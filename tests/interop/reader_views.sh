#!/bin/sh
# What every reader sees of one folder: names and a label with characters beyond U+FFFF
# (kept whole by UDF and Rock Ridge, '_' in Joliet, which libcdio then reads), names
# that are one name to Windows and Linux's Joliet driver, a DVD-Video root file named
# like its folder, a date after 2155, and one image from one folder on tmpfs and on ext4
# with different file times after SOURCE_DATE_EPOCH.
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}  # the kernel mount checker beside this script
bin=$1
export TZ=UTC LC_ALL=C
work=$(mktemp -d)
shm=$(mktemp -d /dev/shm/vellumcast-XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work" "$shm"' EXIT
fail() { echo "reader_views: $*"; exit 1; }
. "$(dirname "$(readlink -f "$0")")/compare.inc"

kernel() {  # image, file system, options, output
  "$KMOUNT" "$1" "$2" "$3" >"$4" || fail "kmount $2 $3: $(tail -5 "$4")"
  grep -q '^RESULT ok$' "$4" || fail "kmount $2 $3 result"
}
build() {  # source, image, options...
  b_src=$1 b_img=$2
  shift 2
  "$bin" "$b_src" "$b_img" "$@" -verify </dev/null >"$work/out.txt" 2>&1 || fail "build $*: $(cat "$work/out.txt")"
  verified "reader_views ($*)" "$work/out.txt"
}

# 1. U+1F4BF, U+1F4C0, U+1F4F7 (low surrogates in DC80-DCFF) in names and the label.
disc=$(printf '\360\237\222\277') dvd=$(printf '\360\237\223\200') photo=$(printf '\360\237\223\267')
src=$work/emoji
mkdir -p "$src/$dvd"
echo disc >"$src/$disc disc.txt"
head -c 5000 /dev/urandom >"$src/$dvd/$photo.jpg"
echo plain >"$src/$dvd/plain.txt"
img=$work/emoji.iso
build "$src" "$img" -filesystem DVD -R -J -label "Disc $disc"
grep -qF "beyond U+FFFF" "$work/out.txt" || fail "no Joliet warning for $disc"
compare_image "reader_views (emoji)" "$src" "$img" -filesystem DVD -R -J
kernel "$img" udf ro,iocharset=utf8 "$work/k.txt"
grep -qF "./$dvd/$photo.jpg" "$work/k.txt" || fail "kernel UDF names: $(grep '^[DF]' "$work/k.txt")"
kernel "$img" iso9660 ro "$work/k.txt"
grep -qF "./$disc disc.txt" "$work/k.txt" || fail "kernel Rock Ridge names: $(grep '^[DF]' "$work/k.txt")"
kernel "$img" iso9660 ro,norock "$work/k.txt"
grep -qF "./_/_.jpg" "$work/k.txt" || fail "kernel Joliet names: $(grep '^[DF]' "$work/k.txt")"
iso-info -l -i "$img" >"$work/ii.txt" 2>&1 || fail "iso-info: $(cat "$work/ii.txt")"
! grep -qi "iconv\|invalid" "$work/ii.txt" || fail "iso-info: $(grep -i 'iconv\|invalid' "$work/ii.txt")"
grep -qF "plain.txt" "$work/ii.txt" || fail "iso-info lost the folder of $dvd: $(cat "$work/ii.txt")"
LC_ALL=C.UTF-8 udfinfo "$img" >"$work/ui.txt" 2>&1 || fail "udfinfo: $(cat "$work/ui.txt")"
grep -qxF "lvid=Disc $disc" "$work/ui.txt" || fail "udfinfo label: $(grep lvid "$work/ui.txt")"
[ "$(blkid -o value -s LABEL "$img")" = "Disc $disc" ] || fail "blkid label: $(blkid "$img")"

# 2. Joliet names that are one name to Windows or to Linux's Joliet driver are numbered;
#    every file is reached under its own name, and -compare prints UTF-8 Joliet paths.
src=$work/alike
mkdir -p "$src"
i=0
for name in a a. a.. "a " "$(printf '\303\251').txt" "$(printf '\303\211').txt" \
            "$(printf '\316\251')" "$(printf '\317\211')" ... B.txt b.TXT; do
  head -c $((100 + i * 700)) /dev/urandom >"$src/$name"
  i=$((i + 1))
done
img=$work/alike.iso
build "$src" "$img" -filesystem CD -R -J
kernel "$img" iso9660 ro,norock "$work/k.txt"
grep '^F ' "$work/k.txt" | cut -d' ' -f2 | sort >"$work/got.txt"
(cd "$src" && find . -type f -exec md5sum {} +) | cut -d' ' -f1 | sort >"$work/want.txt"
cmp -s "$work/got.txt" "$work/want.txt" || fail "kernel Joliet files: $(cat "$work/k.txt")"
[ -z "$(grep '^F ' "$work/k.txt" | cut -d' ' -f4- | tr 'a-z' 'A-Z' | sort | uniq -d)" ] ||
  fail "kernel Joliet: names alike: $(grep '^F ' "$work/k.txt")"
grep -q '^F .* \./\.$' "$work/k.txt" && fail "kernel Joliet shows an entry named ."
7zz l -slt "$img" | grep '^Path = ' | tr 'a-z' 'A-Z' | sed 's/[. ]*$//' | sort | uniq -d >"$work/7.txt"
[ ! -s "$work/7.txt" ] || fail "7-Zip Joliet names alike: $(cat "$work/7.txt")"

# 3. A DVD-Video root file named AUDIO_TS beside the DVD-Video folders, with -R.
src=$work/dvdroot
mkdir -p "$src/VIDEO_TS"
head -c 12288 /dev/urandom >"$src/VIDEO_TS/VIDEO_TS.IFO"
cp "$src/VIDEO_TS/VIDEO_TS.IFO" "$src/VIDEO_TS/VIDEO_TS.BUP"
echo a file >"$src/AUDIO_TS"
img=$work/dvdroot.iso
build "$src" "$img" -filesystem DVD -R -J
compare_image "reader_views (DVD-Video root)" "$src" "$img" -filesystem DVD -R -J
kernel "$img" iso9660 ro "$work/k.txt"
grep -q '^F .* \./AUDIO_TS~1$' "$work/k.txt" || fail "kernel Rock Ridge root: $(grep '^[DF]' "$work/k.txt")"
grep -qx 'D \./AUDIO_TS' "$work/k.txt" || fail "kernel Rock Ridge AUDIO_TS folder"

# 4. A file dated 2200-01-01: ISO 9660 and Rock Ridge hold 2155-12-31 23:59:59 (a
#    warning says so), UDF the date itself.
src=$work/late
mkdir -p "$src"
echo late >"$src/late.txt"
touch -d @7258118400 "$src/late.txt"
build "$src" "$work/late.iso" -filesystem DVD -R
grep -qF "late.txt is dated 2200-01-01 00:00:00 UTC" "$work/out.txt" || fail "no date warning: $(cat "$work/out.txt")"
build "$src" "$work/latecd.iso" -filesystem CD -R
xorriso -indev "$work/latecd.iso" -find / -exec lsdl 2>/dev/null | grep -q "Dec 31  2155 '/late.txt'" ||
  fail "xorriso TF date: $(xorriso -indev "$work/latecd.iso" -find / -exec lsdl 2>/dev/null | grep late)"
isoinfo -l -i "$work/latecd.iso" | grep -q "Dec 31 2155.*late.txt;1" || fail "isoinfo record date"
7zz l -slt "$work/late.iso" | grep -A4 -xF "Path = late.txt" | grep -q "^Modified = 2200-01-01 00:00:00" ||
  fail "7-Zip UDF date: $(7zz l -slt "$work/late.iso" | grep -A4 late.txt)"

# 5. One folder on tmpfs and on ext4, written in different orders with different file
#    times after the build time and different permissions of one executable: the same
#    image for every choice with SOURCE_DATE_EPOCH.
epoch=1767225600
for copy in "$work/one" "$shm/two"; do
  mkdir -p "$copy"
  if [ "$copy" = "$work/one" ]; then order="b.bin a.bin sub/c.txt sub/a.txt run.sh"; else order="run.sh sub/a.txt sub/c.txt a.bin b.bin"; fi
  for f in $order; do
    mkdir -p "$copy/$(dirname "$f")"
    printf '%s\n' "$f" >"$copy/$f"
    touch -d "@$((epoch + ${#copy} * 1000 + 60))" "$copy/$f"
  done
  touch -d "@$((epoch + ${#copy}))" "$copy/sub"
  chmod 0755 "$copy/run.sh"
done
chmod 0700 "$shm/two/run.sh"
[ "$(stat -f -c %T "$shm/two")" = tmpfs ] || echo "reader_views: note: /dev/shm is no tmpfs here"
for fs in CD DVD "UDF 1.02" BD; do
  for switches in "" "-R -J"; do
    case "$fs $switches" in "UDF 1.02 -R -J" | "BD -R -J") continue ;; esac
    rm -f "$work/one.iso" "$work/two.iso"
    for copy in "$work/one" "$shm/two"; do
      # shellcheck disable=SC2086
      SOURCE_DATE_EPOCH=$epoch "$bin" "$copy" "$work/$(basename "$copy").iso" -filesystem "$fs" $switches </dev/null >/dev/null 2>&1 ||
        fail "reproducible build $fs $switches"
    done
    cmp -s "$work/one.iso" "$work/two.iso" || fail "$fs $switches: the two copies give different images"
  done
done
rm -f "$work/one.iso"
SOURCE_DATE_EPOCH=$epoch "$bin" "$work/one" "$work/one.iso" -filesystem CD -R </dev/null >/dev/null 2>&1
xorriso -indev "$work/one.iso" -find / -exec lsdl 2>/dev/null >"$work/xf.txt"
grep -q "^-r-xr-xr-x *1 0 *0 .*'/run.sh'\$" "$work/xf.txt" || fail "fixed run.sh: $(grep run "$work/xf.txt")"
echo "reader_views: ok"

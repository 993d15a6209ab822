#!/bin/sh
# A real DVD-Video folder (ffmpeg + dvdauthor, with stray files) built as ISO 9660 +
# UDF 1.02, read back by libdvdread (lsdvd), 7-Zip, isoinfo and the Linux kernel.
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}  # the kernel mount checker beside this script
export LC_ALL=C.UTF-8  # the names below hold one non-ASCII character
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$(readlink -f "$0")")/compare.inc"
fail() { echo "dvd: $*"; exit 1; }
for tool in ffmpeg dvdauthor lsdvd 7zz isoinfo udfinfo; do
  command -v $tool >/dev/null || fail "$tool is not installed"
done

# Three different clips, so that a file placed in another's sectors shows in its md5:
# the VMG menu (VIDEO_TS.VOB), the title set menu (VTS_01_0.VOB) and the title (VTS_01_1.VOB).
clip() {
  ffmpeg -nostdin -loglevel error -f lavfi -i "$1=duration=$2:size=720x576:rate=25" \
    -f lavfi -i "sine=frequency=$3:duration=$2" -target pal-dvd -y "$work/$4" ||
    fail "ffmpeg could not make $4"
}
clip smptebars 1 440 vmg.mpg
clip rgbtestsrc 1 660 menu.mpg
clip testsrc 2 880 title.mpg
src=$work/src
cat >"$work/dvd.xml" <<EOF
<dvdauthor dest="$src">
  <vmgm><menus><pgc><vob file="$work/vmg.mpg"/></pgc></menus></vmgm>
  <titleset>
    <menus><pgc><vob file="$work/menu.mpg"/></pgc></menus>
    <titles><pgc><vob file="$work/title.mpg"/></pgc></titles>
  </titleset>
</dvdauthor>
EOF
VIDEO_FORMAT=PAL dvdauthor -x "$work/dvd.xml" >"$work/dvdauthor.txt" 2>&1 ||
  fail "dvdauthor: $(tail -3 "$work/dvdauthor.txt")"
order="VIDEO_TS.IFO VIDEO_TS.VOB VIDEO_TS.BUP VTS_01_0.IFO VTS_01_0.VOB VTS_01_1.VOB VTS_01_0.BUP"
for f in $order; do [ -f "$src/VIDEO_TS/$f" ] || fail "dvdauthor did not write $f"; done
# Stray files: left out inside VIDEO_TS, kept at the top.
printf '[.ShellClassInfo]\n' >"$src/VIDEO_TS/desktop.ini"
mkdir "$src/VIDEO_TS/extra"
printf 'not here\n' >"$src/VIDEO_TS/extra/VTS_02_0.IFO"
printf 'read me\n' >"$src/README"
printf 'notes\n' >"$src/café-notes.txt"

build() {  # build SOURCE IMAGE
  "$bin" "$1" "$2" -filesystem DVD -label Film -verify </dev/null >"$work/out.txt" 2>&1 ||
    fail "vellumcast failed: $(tail -3 "$work/out.txt")"
  verified dvd "$work/out.txt"
  compare_image dvd "$1" "$2"
}
# The UDF paths in directory order (7-Zip lists UDF directories as recorded).
udf_paths() { 7zz l -tudf -slt "$1" | sed -n 's/^Path = //p' | tail -n +2 | tr '\n' ' '; }
lsdvd_title() {
  lsdvd "$1" >"$work/lsdvd.txt" 2>&1 || fail "lsdvd failed: $(tail -3 "$work/lsdvd.txt")"
  grep -q '^Title: 01, Length: 00:00:02' "$work/lsdvd.txt" || fail "lsdvd lacks title 1: $(cat "$work/lsdvd.txt")"
}

img=$work/dvd.iso
build "$src" "$img"
# What the DVD-Video rules leave out is named in a warning.
for left in VIDEO_TS/desktop.ini VIDEO_TS/extra; do
  grep -q "^Warning: leaving out .*/$left: " "$work/out.txt" || fail "no warning names $left: $(cat "$work/out.txt")"
done
lsdvd_title "$img"
udfinfo "$img" >"$work/udfinfo.txt" 2>&1 || fail "udfinfo: $(tail -3 "$work/udfinfo.txt")"
grep -q '^udfrev=1.02$' "$work/udfinfo.txt" || fail "not UDF 1.02: $(cat "$work/udfinfo.txt")"

# UDF: the root holds AUDIO_TS, VIDEO_TS, then the other entries by name (whatever order
# the folder lists them in); VIDEO_TS holds its files in player order.
check_udf_order() {  # check_udf_order IMAGE WHAT
  expected="AUDIO_TS VIDEO_TS"
  for f in $order; do expected="$expected VIDEO_TS/$f"; done
  got=$(udf_paths "$1")
  case "$got" in
    "$expected README café-notes.txt ") ;;
    *) fail "$2UDF order: got '$got', expected '$expected' and the two top-level files" ;;
  esac
}
check_udf_order "$img" ""

# ISO 9660: DVD-Video identifiers; the files of VIDEO_TS are contiguous in player order.
isoinfo -f -i "$img" | sort >"$work/iso_f.txt"
expected=$( (echo /AUDIO_TS; echo /CAF__NOT.TXT\;1; echo /README.\;1; echo /VIDEO_TS
  for f in $order; do echo "/VIDEO_TS/$f;1"; done) | sort)
[ "$(cat "$work/iso_f.txt")" = "$expected" ] || fail "ISO 9660 names: $(tr '\n' ' ' <"$work/iso_f.txt")"
isoinfo -l -i "$img" >"$work/iso_l.txt"
next=
for f in $order; do
  line=$(grep -F " $f;1" "$work/iso_l.txt") || fail "isoinfo -l lacks $f"
  lba=$(echo "$line" | sed 's/.*\[ *\([0-9]*\) [0-9]*\].*/\1/')
  size=$(stat -c %s "$src/VIDEO_TS/$f")
  [ -z "$next" ] || [ "$lba" -eq "$next" ] || fail "$f starts at sector $lba, not $next (after the file before it)"
  next=$((lba + (size + 2047) / 2048))
done
grep -q '^d.* 80 .*AUDIO_TS *$' "$work/iso_l.txt" || fail "AUDIO_TS extent is not two 40-byte records"

# The Linux kernel mounts both file systems and reads every file.
expect_files() {  # expect_files upper|lower FOLDER: the F lines of VIDEO_TS
  for f in $order; do
    name=$f
    [ "$1" = upper ] || name=$(echo "$f" | tr 'A-Z' 'a-z')
    echo "F $(md5sum <"$src/VIDEO_TS/$f" | cut -d' ' -f1) $(stat -c %s "$src/VIDEO_TS/$f") ./$2/$name"
  done
}
for fs in udf iso9660; do
  "$KMOUNT" "$img" $fs >"$work/k.txt" 2>&1 || fail "kernel $fs mount: $(tail -5 "$work/k.txt")"
  if [ $fs = udf ]; then
    video=VIDEO_TS audio=AUDIO_TS readme=README notes=café-notes.txt
    expect_files upper VIDEO_TS >"$work/want.txt"
  else
    video=video_ts audio=audio_ts readme=readme notes=caf__not.txt
    expect_files lower video_ts >"$work/want.txt"
  fi
  {
    echo "D ./$audio"
    echo "D ./$video"
    echo "F $(md5sum <"$src/README" | cut -d' ' -f1) 8 ./$readme"
    echo "F $(md5sum <"$src/café-notes.txt" | cut -d' ' -f1) 6 ./$notes"
  } >>"$work/want.txt"
  grep -E '^(D \./|F )' "$work/k.txt" | sort >"$work/got.txt"
  sort "$work/want.txt" | diff "$work/got.txt" - >"$work/diff.txt" ||
    fail "kernel $fs listing differs (< image, > expected): $(cat "$work/diff.txt")"
done

# A lower-case video_ts folder turns DVD-Video mode on, is read into VIDEO_TS and is not
# walked again.
mv "$src/VIDEO_TS" "$src/video_ts"
build "$src" "$work/lower.iso"
lsdvd_title "$work/lower.iso"
check_udf_order "$work/lower.iso" "lower-case video_ts: "
[ "$(isoinfo -f -i "$work/lower.iso" | grep -c '^/[^/]*$')" -eq 4 ] || fail "lower-case video_ts: ISO 9660 root"

# Without -filesystem a folder with VIDEO_TS/VIDEO_TS.IFO is written for DVD players, and
# one line says so; naming CD draws a warning that players need -filesystem DVD.
"$bin" "$src" "$work/default.iso" -label Film </dev/null >"$work/out.txt" 2>&1 ||
  fail "default build failed: $(tail -3 "$work/out.txt")"
grep -q '^DVD-Video folder (VIDEO_TS): written as ISO 9660 + UDF 1.02' "$work/out.txt" ||
  fail "no line names the DVD-Video choice: $(cat "$work/out.txt")"
lsdvd_title "$work/default.iso"
"$bin" "$src" "$work/cd.iso" -fs CD </dev/null >"$work/out.txt" 2>&1 || fail "CD build failed"
grep -q '^Warning: .*DVD players .*-filesystem DVD' "$work/out.txt" ||
  fail "no warning for DVD-Video as CD: $(cat "$work/out.txt")"
echo "dvd: ok"

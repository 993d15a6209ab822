#!/bin/sh
# Prints the SHA-256 of the images a binary makes of a fixed set of trees, in every file
# system choice (and with -R -J where they apply), with a fixed build time, followed by the
# warnings of each build. Two binaries that print the same text make the same images: a
# refactoring is checked by diffing this script's output before and after it.
#
# Usage: tests/tools/image_digests.sh BIN [WORK]
#   WORK (default /var/tmp/vellumcast-digests) keeps the trees between runs; the "real" tree
#   is a copy of /usr/include and /usr/share/doc (regular files and directories), made once.
set -eu
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=${2:-/var/tmp/vellumcast-digests}
here=$(cd "$(dirname "$0")/../.." && pwd)
fixture=$(dirname "$bin")/vellumcast_bdmv_fixture
mkdir -p "$work"
export LC_ALL=C TZ=UTC

make_trees() {
  t=$work/trees
  [ -f "$t/.ok" ] && return 0
  rm -rf "$t" && mkdir -p "$t"
  cp -r "$here/examples/sample" "$t/sample"
  "$fixture" stereo "$t/stereo" >/dev/null
  "$fixture" flat "$t/flat" >/dev/null
  # A DVD-Video folder of names only: the arrangement rules need no real streams.
  d=$t/dvd/VIDEO_TS && mkdir -p "$d" "$t/dvd/AUDIO_TS"
  for f in VIDEO_TS.IFO VIDEO_TS.VOB VIDEO_TS.BUP VTS_01_0.IFO VTS_01_0.VOB VTS_01_1.VOB \
           VTS_01_2.VOB VTS_01_0.BUP; do
    head -c 6000 /dev/urandom >"$d/$f"
  done
  printf 'extra\n' >"$t/dvd/readme.txt"
  # Odd names, links, special files, dates and modes.
  o=$t/odd && mkdir -p "$o/deep/a/b/c/d/e/f/g/h/i" "$o/Sub Folder" "$o/ünï cödé"
  printf 'x' >"$o/deep/a/b/c/d/e/f/g/h/i/leaf.txt"
  printf 'space' >"$o/Sub Folder/file name with spaces.TXT"
  printf 'emoji' >"$o/ünï cödé/💿 disc.txt"
  printf 'long' >"$o/$(printf 'n%.0s' $(seq 1 120)).dat"
  printf 'same' >"$o/Case.txt" && printf 'other' >"$o/case.TXT"
  printf 'link' >"$o/target.bin" && ln "$o/target.bin" "$o/hard.bin"
  ln -s target.bin "$o/soft.lnk" && ln -s missing "$o/dangling.lnk"
  mkfifo "$o/pipe"
  printf 'exe' >"$o/run.sh" && chmod 755 "$o/run.sh"
  touch -d '1975-06-01 12:00:00' "$o/target.bin"
  touch -d '2090-01-01 00:00:00' "$o/run.sh"
  head -c 3000000 /dev/urandom >"$o/big.bin"
  if [ -d /usr/include ]; then
    mkdir -p "$t/real"
    for s in /usr/include /usr/share/doc; do
      cp -a "$s" "$t/real/" 2>/dev/null || true
    done
    find "$t/real" ! -type d ! -type f -delete
  fi
  touch "$t/.ok"
}

make_trees
scratch=$(mktemp -d "$work/run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
for tree in sample stereo flat dvd odd real; do
  [ -d "$work/trees/$tree" ] || continue
  for fs in "ISO9660" "ISO9660 + UDF 1.02" "UDF 1.02" "UDF 2.50"; do
    for ext in "" "-R -J"; do
      case "$fs:$ext" in UDF*:-R*) continue ;; esac
      out=$scratch/out.iso
      rm -f "$out"
      # shellcheck disable=SC2086
      "$bin" "$work/trees/$tree" "$out" -fs "$fs" $ext -label DIGEST -time 1700000000 -quiet \
        -yes >"$scratch/out.txt" 2>&1 && rc=0 || rc=$?
      sum=$( [ -f "$out" ] && sha256sum "$out" | cut -c1-64 || echo none)
      echo "$tree | $fs | ${ext:-plain} | exit $rc | $sum"
      sed "s|$work/trees/||g" "$scratch/out.txt" | sed 's/^/    /'
    done
  done
done

#!/bin/sh
# Structural changes of a finished image that readers show (tests/support/image_mutations.h,
# applied by vellumcast_mutate beside the binary): for each, -compare of the changed copy
# fails naming it, and where a mount shows it the Linux kernel sees it too (its listing or
# its verdict differs from the unchanged image's). The changes of times, owners and
# permissions are only checked on -compare's side: kmount does not list them.
# Usage: mutations.sh BINARY [NAME...] (only the named mutations).
set -eu
KMOUNT=${KMOUNT:-$(dirname "$(readlink -f "$0")")/kmount}
bin=$1
shift
only=" $* "
mutate=$(dirname "$bin")/vellumcast_mutate
export TZ=UTC LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "mutations: $*"; exit 1; }
[ -x "$mutate" ] || fail "no vellumcast_mutate next to $bin"

"$mutate" folder "$work/src"
"$bin" "$work/src" "$work/a.iso" -filesystem DVD -R -J </dev/null >"$work/out.txt" 2>&1 ||
  fail "build: $(cat "$work/out.txt")"
# No -R, -J or -time: -compare finds the trees and the build time in the image.
"$bin" "$work/src" -compare "$work/a.iso" </dev/null >"$work/out.txt" 2>&1 ||
  fail "-compare of the unchanged image: $(cat "$work/out.txt")"

# What the kernel shows of an image mounted as "FS [OPTIONS]": every directory, file
# (with its bytes' digest), read error and the verdict; kernel messages left out.
view() {  # image, "fs [options]", output
  set -- "$1" "${2%% *}" "$(echo "$2" | sed -n 's/^[^ ]* //p')" "$3"
  "$KMOUNT" "$1" "$2" ${3:+"$3"} >"$4.raw" 2>&1 || true
  grep -E '^(D|F|E|RESULT|MOUNT)' "$4.raw" >"$4" || true
  grep -q '^RESULT ' "$4" || fail "kmount $2 $3 gave no result: $(tail -3 "$4.raw")"
}

"$mutate" list >"$work/list.txt"
tab=$(printf '\t')
while IFS=$tab read -r name kernel reported; do
  [ "$only" = "  " ] || case $only in *" $name "*) ;; *) continue ;; esac
  "$mutate" "$name" "$work/a.iso" "$work/m.iso" || fail "$name: not applied"
  if "$bin" "$work/src" -compare "$work/m.iso" </dev/null >"$work/out.txt" 2>"$work/err.txt"; then
    fail "$name: -compare accepts the changed image"
  fi
  grep -qF -- "$reported" "$work/err.txt" ||
    fail "$name: -compare does not say \"$reported\": $(head -5 "$work/err.txt")"
  [ "$kernel" != - ] || continue
  clean=$work/clean-$(echo "$kernel" | tr ' ,=' '___').txt
  [ -f "$clean" ] || view "$work/a.iso" "$kernel" "$clean"
  grep -q '^RESULT ok$' "$clean" || fail "kmount $kernel of the unchanged image: $(cat "$clean")"
  view "$work/m.iso" "$kernel" "$work/changed.txt"
  cmp -s "$clean" "$work/changed.txt" && fail "$name: kmount $kernel shows no change"
  echo "$name: the kernel ($kernel) and -compare see it"
done <"$work/list.txt"
exit 0

#!/bin/sh
# The Debian package of the binary under test: made by scripts/make-deb from the binary's
# build folder, passed by lintian without an error or a warning, unpacked with dpkg-deb -x
# into a temporary folder, and the unpacked files used: the binary (--version and an
# image), the manual page (man -l, without a groff warning) and the bash completion.
set -eu
bin=$1
here=$(dirname "$(readlink -f "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: $*"; exit 1; }

deb=$("$here/../../scripts/make-deb" "$(dirname "$bin")" "$work") || fail "make-deb"

# lintian says "running with root privileges is not recommended" on standard error as root;
# every finding about the package is on standard output.
lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>"$work/lintian.err" ||
  fail "lintian: $(cat "$work/lintian.txt" "$work/lintian.err")"
! grep -E '^[EW]: ' "$work/lintian.txt" || fail "lintian reports errors or warnings"

x=$work/x
dpkg-deb -x "$deb" "$x" || fail "dpkg-deb -x"
for f in usr/bin/vellumcast usr/share/man/man1/vellumcast.1.gz \
         usr/share/bash-completion/completions/vellumcast \
         usr/share/doc/vellumcast/copyright usr/share/doc/vellumcast/changelog.Debian.gz; do
  [ -f "$x/$f" ] || fail "the package lacks /$f"
done

# The unpacked binary runs and is the binary under test, stripped.
version=$("$x/usr/bin/vellumcast" --version) || fail "unpacked vellumcast --version"
[ "$version" = "$("$bin" --version)" ] || fail "unpacked --version says: $version"
echo "$version" | grep -q '^vellumcast [0-9]' || fail "--version says: $version"
mkdir "$work/src"
printf 'hello\n' >"$work/src/HELLO.TXT"
"$x/usr/bin/vellumcast" "$work/src" "$work/a.iso" -fs CD </dev/null >"$work/out.txt" ||
  fail "the unpacked binary made no image: $(cat "$work/out.txt")"
[ "$(stat -c %s "$work/a.iso")" -gt 0 ] || fail "empty image"

# The manual page reads with man -l, without a warning from groff.
MANWIDTH=80 MANPAGER=cat man --warnings -l "$x/usr/share/man/man1/vellumcast.1.gz" \
  >"$work/man.txt" 2>"$work/man.err" || fail "man -l: $(cat "$work/man.err")"
[ ! -s "$work/man.err" ] || fail "man -l warns: $(cat "$work/man.err")"
grep -q '^NAME' "$work/man.txt" && grep -q 'vellumcast' "$work/man.txt" ||
  fail "man -l shows no manual page"

# The completion file loads into bash and completes vellumcast.
bash -c '. "$1" && complete -p vellumcast' sh "$x/usr/share/bash-completion/completions/vellumcast" \
  >"$work/complete.txt" 2>&1 || fail "completion: $(cat "$work/complete.txt")"
echo "package: ok ($(basename "$deb"))"

#!/bin/sh
# --checksums and -check: the Linux kernel mounts each choice's image and `sha256sum -c`
# (busybox, inside the guest) passes in its name-keeping view; -check passes, then names a
# changed byte; a build streamed to a pipe gives the same bytes as a build to a file.
set -eu
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "checksums: $*"; exit 1; }
: "${KMOUNT:?KMOUNT names the kernel mount tool}"

src=$work/src
mkdir -p "$src/Photos 2019/Trip" "$src/ünïcödé"
printf 'hello\n' >"$src/Read Me.txt"
head -c 3000000 /dev/urandom >"$src/Photos 2019/IMG_0042.jpg"
head -c 70000 /dev/urandom >"$src/Photos 2019/Trip/a rather long name of a photo.dat"
printf 'emoji\n' >"$src/ünïcödé/💿 disc.txt"
: >"$src/empty.txt"

# choice | extra switches | kernel view | mount options | the list's name in that view
while IFS='|' read -r fs extra view opts list; do
  img=$work/sums.iso
  # shellcheck disable=SC2086
  "$bin" "$src" "$img" -fs "$fs" $extra --checksums -time 1700000000 -yes -quiet 2>"$work/b.err" ||
    fail "$fs $extra: the build failed"
  KMOUNT_SUMS=$list "$KMOUNT" "$img" "$view" "$opts" >"$work/k.txt" 2>&1 ||
    fail "$fs $extra: the kernel mount failed: $(grep -v '^[DF] ' "$work/k.txt" | head -5)"
  grep -qx 'S status 0' "$work/k.txt" && ! grep -q '^S .*FAILED' "$work/k.txt" ||
    fail "$fs $extra ($view $opts): sha256sum -c: $(grep '^S ' "$work/k.txt" | head -5)"
  "$bin" -check "$img" >"$work/c.txt" 2>&1 || fail "$fs $extra: -check: $(cat "$work/c.txt")"
  grep -qx 'Checked: 5 files, 3070012 bytes, all match' "$work/c.txt" ||
    fail "$fs $extra: -check said $(cat "$work/c.txt")"
done <<'CHOICES'
CD||iso9660|ro,norock,nojoliet|sha256su
CD|-R -J|iso9660|ro|SHA256SUMS
CD|-J|iso9660|ro,norock|SHA256SUMS
DVD||udf|ro,iocharset=utf8|SHA256SUMS
DVD|-R -J|iso9660|ro|SHA256SUMS
UDF 1.02||udf|ro,iocharset=utf8|SHA256SUMS
UDF 2.50||udf|ro,iocharset=utf8|SHA256SUMS
CHOICES

# A stereoscopic Blu-ray folder: each .ssif file's digest is that of the interleaved run,
# read by the kernel through the .ssif file's own extents.
fixture=$(dirname "$bin")/vellumcast_bdmv_fixture
if [ -x "$fixture" ]; then
  "$fixture" stereo "$work/bd" >/dev/null
  "$bin" "$work/bd" "$work/bd.iso" --checksums -yes -quiet 2>/dev/null || fail "3D: the build failed"
  KMOUNT_SUMS=SHA256SUMS "$KMOUNT" "$work/bd.iso" udf >"$work/k.txt" 2>&1 || fail "3D: kernel mount"
  grep -q '^S .*SSIF/00001.ssif: OK' "$work/k.txt" && grep -qx 'S status 0' "$work/k.txt" ||
    fail "3D: sha256sum -c: $(grep '^S ' "$work/k.txt" | head -5)"
  "$bin" -check "$work/bd.iso" >/dev/null 2>&1 || fail "3D: -check failed"
fi

# One changed byte of a file's data is named by -check.
"$bin" "$src" "$work/d.iso" -fs DVD --checksums -yes -quiet
offset=$(python3 -c "
import sys
d = open(sys.argv[1], 'rb').read(); s = open(sys.argv[2], 'rb').read()
print(d.find(s[:65536]) + 1000000)" "$work/d.iso" "$src/Photos 2019/IMG_0042.jpg")
printf 'X' | dd of="$work/d.iso" bs=1 seek="$offset" conv=notrunc 2>/dev/null
if "$bin" -check "$work/d.iso" >"$work/c.txt" 2>&1; then fail "-check passed a changed byte"; fi
grep -qxF 'Error: /Photos 2019/IMG_0042.jpg: its bytes differ from its SHA-256 in SHA256SUMS' \
  "$work/c.txt" || fail "changed byte: $(cat "$work/c.txt")"

# Streamed through a pipe: the same bytes as a file build.
for fs in DVD BD; do
  "$bin" "$src" "$work/file.iso" -fs $fs --checksums -time 1700000000 -yes -quiet
  "$bin" "$src" -o - -fs $fs --checksums -time 1700000000 -quiet | cat >"$work/pipe.iso"
  cmp -s "$work/file.iso" "$work/pipe.iso" || fail "$fs: the streamed image differs"
done

# A disc with a sector that cannot be read (a device-mapper error target): -check names
# the file and goes on. Needs root and device-mapper; skipped with a note otherwise.
if [ "$(id -u)" = 0 ] && command -v dmsetup >/dev/null 2>&1 &&
  dev=$(losetup -f --show "$work/file.iso" 2>/dev/null); then
  sectors=$(($(stat -c %s "$work/file.iso") / 512))
  bad=$(python3 -c "
import sys
d = open(sys.argv[1], 'rb').read(); s = open(sys.argv[2], 'rb').read()
print(d.find(s[:65536]) // 512 + 400)" "$work/file.iso" "$src/Photos 2019/IMG_0042.jpg")
  table="0 $bad linear $dev 0
$bad 8 error
$((bad + 8)) $((sectors - bad - 8)) linear $dev $((bad + 8))"
  if printf '%s\n' "$table" | dmsetup create vellumcast-bad 2>/dev/null; then
    "$bin" -check /dev/mapper/vellumcast-bad >"$work/c.txt" 2>&1 && rc=0 || rc=$?
    dmsetup remove vellumcast-bad; losetup -d "$dev"
    [ $rc = 1 ] || fail "-check of a damaged disc exited $rc"
    grep -qF "Error: /Photos 2019/IMG_0042.jpg: unreadable sector $((bad / 4))" "$work/c.txt" ||
      fail "unreadable sector: $(cat "$work/c.txt")"
    [ "$(grep -c '^Error: /' "$work/c.txt")" = 1 ] || fail "damaged disc: $(cat "$work/c.txt")"
  else
    losetup -d "$dev"
    echo "checksums: note: no device-mapper here; the unreadable-sector check ran in make check"
  fi
fi

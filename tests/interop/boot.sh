#!/bin/sh
# Bootable images booted in qemu (software emulation) and read by peers: a BIOS image
# with isolinux prints a marker on the serial console; a UEFI image (OVMF firmware, a
# grub-mkstandalone EFI program in a FAT image) prints its marker booted as a CD and,
# with --hybrid, as a disk. xorriso, isoinfo, fdisk, sgdisk and 7-Zip report what was
# asked.
set -eu
bin=$1
work=$(mktemp -d)
qemu_pid=
trap '[ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "boot: $*" >&2; exit 1; }
ovmf=/usr/share/ovmf/OVMF.fd
for need in /usr/lib/ISOLINUX/isolinux.bin /usr/lib/ISOLINUX/isohdpfx.bin \
            /usr/lib/syslinux/modules/bios/ldlinux.c32 "$ovmf"; do
  [ -e "$need" ] || fail "$need is missing (isolinux, syslinux-common, ovmf)"
done

src=$work/src
mkdir -p "$src/isolinux" "$src/efi"
cp /usr/lib/ISOLINUX/isolinux.bin /usr/lib/syslinux/modules/bios/ldlinux.c32 "$src/isolinux/"
cat >"$src/isolinux/isolinux.cfg" <<'CFG'
SERIAL 0 115200
SAY VELLUMCAST-BIOS-MARKER
PROMPT 0
TIMEOUT 600
CFG
printf 'booted\n' >"$src/readme.txt"

# The UEFI program: grub with a configuration that prints the marker.
printf 'echo VELLUMCAST-UEFI-MARKER\nsleep 600\n' >"$work/grub.cfg"
grub-mkstandalone -O x86_64-efi -o "$work/BOOTX64.EFI" --locales= --fonts= --themes= \
  --install-modules="normal echo sleep configfile" "boot/grub/grub.cfg=$work/grub.cfg" ||
  fail "grub-mkstandalone"
mkfs.fat -C "$src/efi/efiboot.img" 4096 >/dev/null || fail "mkfs.fat"
mmd -i "$src/efi/efiboot.img" ::/EFI ::/EFI/BOOT
mcopy -i "$src/efi/efiboot.img" "$work/BOOTX64.EFI" ::/EFI/BOOT/BOOTX64.EFI
sum_before=$(md5sum "$src/isolinux/isolinux.bin")

img=$work/boot.iso
"$bin" "$src" "$img" -filesystem DVD -rockridge -joliet -time 1700000000 -verify \
  --boot isolinux/isolinux.bin --boot-load-size 4 --boot-info-table \
  --efi-boot efi/efiboot.img --hybrid --hybrid-mbr /usr/lib/ISOLINUX/isohdpfx.bin \
  >"$work/v.txt" 2>&1 || fail "build: $(cat "$work/v.txt")"
grep -q '^Verified' "$work/v.txt" || fail "verify: $(cat "$work/v.txt")"
[ "$(md5sum "$src/isolinux/isolinux.bin")" = "$sum_before" ] || fail "the source boot file changed"

# seen MARKER LOG: the console shows the marker (the firmware mirrors the screen onto the
# serial line with cursor moves between the characters: they are taken out).
seen() { sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$2" | tr -d '\r' | grep -q "$1"; }

# boot NAME MARKER QEMU-ARGS...: the marker appears on the serial console within 300 s.
boot() {
  name=$1 marker=$2
  shift 2
  log=$work/$name.log
  : >"$log"
  qemu-system-x86_64 -m 512 -nographic -no-reboot -net none "$@" >"$log" 2>&1 </dev/null &
  qemu_pid=$!
  i=0
  while [ $i -lt 300 ] && ! seen "$marker" "$log"; do
    kill -0 "$qemu_pid" 2>/dev/null || break
    sleep 1
    i=$((i + 1))
  done
  kill "$qemu_pid" 2>/dev/null || true
  wait "$qemu_pid" 2>/dev/null || true
  qemu_pid=
  seen "$marker" "$log" || fail "$name: no $marker after ${i}s: $(tail -c 600 "$log")"
  echo "boot: $name printed $marker after ${i}s"
}
boot bios-cd VELLUMCAST-BIOS-MARKER -cdrom "$img"
boot bios-disk VELLUMCAST-BIOS-MARKER -drive "file=$img,format=raw"
boot uefi-cd VELLUMCAST-UEFI-MARKER -bios "$ovmf" -cdrom "$img"
boot uefi-disk VELLUMCAST-UEFI-MARKER -bios "$ovmf" -drive "file=$img,format=raw"

# Peers' reports.
xorriso -indev "$img" -report_el_torito plain -report_system_area plain >"$work/x.txt" 2>&1 ||
  fail "xorriso: $(tail -5 "$work/x.txt")"
grep -Eq 'El Torito boot img : +1 +BIOS +y +none +0x07c0 +0x00 +4 ' "$work/x.txt" ||
  fail "xorriso BIOS entry: $(grep 'El Torito' "$work/x.txt")"
grep -Eq 'El Torito boot img : +2 +UEFI +y +none' "$work/x.txt" || fail "xorriso UEFI entry"
grep -q 'El Torito img path :   1  /isolinux/isolinux.bin' "$work/x.txt" || fail "xorriso path 1"
grep -q 'El Torito img opts :   1  boot-info-table' "$work/x.txt" || fail "xorriso info table"
grep -q 'El Torito img path :   2  /efi/efiboot.img' "$work/x.txt" || fail "xorriso path 2"
grep -q 'El Torito cat path : /isolinux/boot.catalog' "$work/x.txt" || fail "xorriso catalog"
grep -q 'System area summary: MBR.*GPT' "$work/x.txt" || fail "xorriso system area"
grep -Eq 'GPT partition path : +[0-9]+ +/efi/efiboot.img' "$work/x.txt" || fail "xorriso GPT ESP"
isoinfo -d -i "$img" >"$work/i.txt"
grep -q 'El Torito VD version 1 found' "$work/i.txt" || fail "isoinfo El Torito"
grep -q 'Boot media 0 (No Emulation Boot)' "$work/i.txt" || fail "isoinfo media"
grep -q 'Nsect 4' "$work/i.txt" || fail "isoinfo load size"
fdisk -l "$img" >"$work/f.txt" 2>&1 || fail "fdisk: $(cat "$work/f.txt")"
grep -q 'Disklabel type: gpt' "$work/f.txt" || fail "fdisk label: $(cat "$work/f.txt")"
grep -q 'EFI System' "$work/f.txt" || fail "fdisk ESP"
sgdisk -p "$img" >"$work/g.txt" 2>&1 || fail "sgdisk: $(cat "$work/g.txt")"
grep -Eq ' 0700 +ISO 9660 data' "$work/g.txt" || fail "sgdisk: $(cat "$work/g.txt")"
grep -Eq ' EF00 +EFI boot image' "$work/g.txt" || fail "sgdisk ESP"
7zz l "$img" >"$work/7.txt" || fail "7zz: $(grep -i -A2 error "$work/7.txt")"
7zz l -tiso "$img" >"$work/7.txt" || fail "7zz"  # its ISO 9660 reader lists [BOOT]
grep -q '\[BOOT\]/1-Boot-NoEmul.img' "$work/7.txt" || fail "7zz [BOOT] 1"
grep -q '\[BOOT\]/2-Boot-NoEmul.img' "$work/7.txt" || fail "7zz [BOOT] 2"
echo "boot: BIOS, UEFI (CD and disk) booted; xorriso, isoinfo, fdisk, sgdisk and 7-Zip agree"

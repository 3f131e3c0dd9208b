#!/usr/bin/env bash
# Proves the sample boot environment and the boot-test tools: media made by
# hand the way the wizard makes them (a CD with each image maker, a USB disk
# image) boot in QEMU, and Linux receives the configuration archive byte for
# byte and shows the welcome banner.
#
# Usage: selftest.sh PROGRAM_DIR [WORKDIR]
# PROGRAM_DIR is the program folder (<build dir>/bin). WORKDIR (default: a new
# temporary folder) keeps the media and logs; a temporary one is removed when
# every check passed.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 PROGRAM_DIR [WORKDIR]" >&2
    exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=$(cd "$1" && pwd)
if [ $# -eq 2 ]; then
    mkdir -p "$2"
    work=$(cd "$2" && pwd)
    keep=1
else
    work=$(mktemp -d)
    keep=0
fi

# mtools would refuse the FAT geometry of a partition that starts at sector 63.
export MTOOLS_SKIP_CHECK=1
banner="Scourline v.2.69 - Whole Hard Drive Wiping Utility"
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

pass() {
    echo "ok: $*"
}

# --- the program folder -------------------------------------------------------

check_program_folder() {
    local f
    for f in common/vmlinuz common/initrd.gz common/efi/boot.img common/wipe.sparc64.lz \
        common/syslinux.cfg iso/isolinux.bin iso/ldlinux.c32 iso/isolinux.cfg boot/isofs.b \
        flash/ldlinux.c32 flash/mbr.bin flash/syslinux common/efi/boot/bootx64.efi \
        common/efi/boot/grubx64.efi common/.disk/info common/boot/grub/grub.cfg net/pxelinux.0 \
        net/ldlinux.c32 net/pxelinux.cfg/default net/bootx64.efi net/grubx64.efi net/grub/grub.cfg; do
        [ -s "$bin/$f" ] || fail "program folder lacks $f"
    done
    [ -x "$bin/mkisofs" ] || fail "program folder lacks an executable mkisofs"
    [ -x "$bin/flash/syslinux" ] || fail "flash/syslinux is not executable"
    [ $(($(stat -c %s "$bin/common/wipe.sparc64.lz") % 4)) -eq 0 ] ||
        fail "wipe.sparc64.lz is not a multiple of 4 bytes long"
    [ "$(stat -c %s "$bin/flash/mbr.bin")" -eq 440 ] || fail "mbr.bin is not 440 bytes"
    mdir -i "$bin/common/efi/boot.img" ::/EFI/BOOT/BOOTX64.EFI >/dev/null 2>&1 ||
        fail "efi/boot.img is not a FAT image with EFI/BOOT/BOOTX64.EFI"
    # GRUB stops at its prompt when /EFI/debian exists without its configuration.
    if [ -e "$bin/common/EFI/debian" ] || [ -e "$bin/common/efi/debian" ]; then
        fail "common holds EFI/debian, which keeps GRUB from /boot/grub/grub.cfg"
    fi
    # The kernel drops received files whose folder is missing.
    gzip -dc "$bin/common/initrd.gz" | cpio -it --quiet 2>/dev/null | grep -qx 'tmp/scheme' ||
        fail "initrd.gz lacks the folder tmp/scheme"
    local cfg
    for cfg in common/syslinux.cfg iso/isolinux.cfg; do
        grep -q 'initrd=/initrd.gz,/scour' "$bin/$cfg" || fail "$cfg does not load /scour"
        grep -q 'console=ttyS0' "$bin/$cfg" || fail "$cfg has no serial console"
    done
    if [ "$failures" -eq 0 ]; then pass "program folder"; fi
}

# --- what the wizard would write ------------------------------------------------

# A configuration archive as the wizard writes it, from files whose bytes the
# booted system must hand back unchanged: the scheme is binary, ends without
# a newline and its length is no multiple of 3 (base64 padding).
make_payload() {
    local p=$work/payload
    rm -rf "$p"
    mkdir -p "$p/tmp/scheme"
    printf 'autostart=1\nscheme=sch0000000.sch\nverify=last\n' >"$p/wipe_config"
    head -c 1001 /dev/urandom >"$p/tmp/scheme/sch0000000.sch"
    (cd "$p" && printf '%s\n' wipe_config tmp/scheme/sch0000000.sch |
        cpio -o -H newc --quiet) >"$work/scour"
    # The banner in the wizard's form: clear screen, colour, empty picture name.
    printf '\f\r\n\01709\r\n\030\r\n\r\n\r\n\r\n        %s\r\n\01707\r\n\r\n' \
        "$banner" >"$work/welcome.txt"
    (cd "$p" && find . -type f -printf '/%P %s\n' | LC_ALL=C sort) >"$work/expected-files.txt"
}

# The wizard's staging folder: S/boot becomes the medium's root. Copies, not
# links: genisoimage writes its boot info table into isolinux.bin in place.
stage() {
    local s=$1
    rm -rf "$s"
    mkdir -p "$s/boot/isolinux" "$s/boot/boot"
    cp -r "$bin/common/." "$s/boot/"
    cp -r "$bin/iso/." "$s/boot/isolinux/"
    cp -r "$bin/boot/." "$s/boot/boot/"
    cp "$work/welcome.txt" "$work/scour" "$s/boot/"
}

# make_iso NAME MAKER...: the wizard's image maker command line, run in the
# staging folder.
make_iso() {
    local name=$1 s=$work/stage-$1
    shift
    stage "$s"
    (cd "$s" && "$@" -o scourcd.iso -iso-level 4 -b isolinux/isolinux.bin -c isolinux/boot.cat \
        -no-emul-boot -boot-load-size 4 -boot-info-table -eltorito-alt-boot -b efi/boot.img \
        -no-emul-boot -r -G boot/boot/isofs.b -B ... boot) >"$work/$name-maker.log" 2>&1 || {
        fail "$name: image maker failed (see $work/$name-maker.log)"
        return 1
    }
    mv "$s/scourcd.iso" "$work/$name.iso"
}

# A USB disk as an image file: MBR boot code, one active partition of type
# 0xEF at sector 63 holding FAT16, files at the root, syslinux installed.
make_disk() {
    local img=$1 offset=$((63 * 512)) sectors
    rm -f "$img"
    truncate -s 32M "$img"
    printf 'start=63, type=ef, bootable\n' | sfdisk -q --no-reread --no-tell-kernel "$img"
    sectors=$(($(stat -c %s "$img") / 512 - 63))
    mkfs.vfat --offset 63 -h 63 -F 16 -n SCOURLINE "$img" $((sectors / 2)) >/dev/null
    # syslinux's -m is ignored by the mtools build: the boot code goes in by hand.
    dd if="$bin/flash/mbr.bin" of="$img" bs=440 count=1 conv=notrunc status=none
    mcopy -i "$img@@$offset" "$bin/common/vmlinuz" "$bin/common/initrd.gz" \
        "$bin/common/syslinux.cfg" "$bin/common/wipe.sparc64.lz" "$bin/flash/ldlinux.c32" \
        "$work/welcome.txt" "$work/scour" ::/
    mmd -i "$img@@$offset" ::/efi
    mcopy -i "$img@@$offset" "$bin/common/efi/boot.img" ::/efi/
    "$bin/flash/syslinux" --offset "$offset" --install "$img"
}

# check_boot KIND IMAGE NAME: boots the medium and compares what Linux got.
check_boot() {
    local kind=$1 img=$2 name=$3 out=$work/$3-report f before=$failures
    if ! "$here/boot-medium.sh" "$kind" "$img" "$work/$name.log"; then
        fail "$name: did not boot to the end"
        return 0
    fi
    rm -rf "$out"
    if ! "$here/extract-boot-log.py" "$work/$name.log" "$out"; then
        fail "$name: report unreadable"
        return 0
    fi
    # Exactly the sent files: base files of the initramfs must not show up.
    if ! diff -u "$work/expected-files.txt" "$out/files.txt"; then
        fail "$name: received other files than sent"
    fi
    for f in wipe_config tmp/scheme/sch0000000.sch; do
        cmp -s "$work/payload/$f" "$out/files/$f" || fail "$name: /$f differs from what was sent"
    done
    grep -qF "$banner" "$out/screen.txt" || fail "$name: welcome banner not on the screen"
    if [ "$failures" -eq "$before" ]; then pass "$name boots and receives the configuration"; fi
}

# --- the tools' own failure reports ----------------------------------------------

# A cut-off or corrupted report must be refused, not half written.
check_extract_refuses() {
    local good=$1 bad=$work/bad.log
    local before=$failures
    grep -av '^SCOURLINE-BOOTENV-END' "$good" >"$bad"
    if "$here/extract-boot-log.py" "$bad" "$work/bad-report" 2>/dev/null; then
        fail "extract-boot-log accepted a report without end marker"
    fi
    sed 's#^BEGIN-FILE /wipe_config [0-9]*#BEGIN-FILE /wipe_config 1#' "$good" >"$bad"
    if "$here/extract-boot-log.py" "$bad" "$work/bad-report" 2>/dev/null; then
        fail "extract-boot-log accepted a file of the wrong size"
    fi
    if [ "$failures" -eq "$before" ]; then pass "extract-boot-log refuses broken reports"; fi
}

# A medium that lacks the configuration archive stops in the boot loader: the
# harness must give up after its time limit and say so.
check_timeout() {
    local s=$work/stage-noscour
    stage "$s"
    rm "$s/boot/scour"
    (cd "$s" && xorriso -as mkisofs -o "$work/noscour.iso" -quiet -b isolinux/isolinux.bin \
        -c isolinux/boot.cat -no-emul-boot -boot-load-size 4 -boot-info-table -r boot) \
        >/dev/null 2>&1
    if BOOT_TIMEOUT=15 "$here/boot-medium.sh" iso "$work/noscour.iso" "$work/noscour.log" 2>/dev/null; then
        fail "boot-medium reported success for a medium that cannot boot"
    else
        pass "boot-medium reports a boot that never ends"
    fi
}

check_program_folder
make_payload

if command -v genisoimage >/dev/null && make_iso genisoimage genisoimage; then
    check_boot iso "$work/genisoimage.iso" genisoimage
fi
if command -v xorriso >/dev/null && make_iso xorriso xorriso -as mkisofs; then
    check_boot iso "$work/xorriso.iso" xorriso
fi
if make_disk "$work/usb.img" >"$work/usb-make.log" 2>&1; then
    check_boot disk "$work/usb.img" usb
else
    fail "usb: making the disk image failed (see $work/usb-make.log)"
fi

if [ -f "$work/usb.log" ]; then
    check_extract_refuses "$work/usb.log"
fi
if command -v xorriso >/dev/null; then
    check_timeout
fi

if [ "$failures" -ne 0 ]; then
    echo "selftest: $failures check(s) failed; media and logs in $work" >&2
    exit 1
fi
[ "$keep" -eq 1 ] || rm -rf "$work"
echo "selftest: all checks passed"

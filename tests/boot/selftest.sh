#!/usr/bin/env bash
# Proves the boot-test tools the media tests rely on: a USB disk made by hand
# the way the wizard makes it boots in QEMU, Linux receives the archive byte
# for byte and shows the banner; a broken report and an endless boot are
# refused. Usage: selftest.sh PROGRAM_DIR [WORKDIR] (WORKDIR keeps the media).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 PROGRAM_DIR [WORKDIR]" >&2
    exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=$(cd "$1" && pwd)
keep=0
if [ $# -eq 2 ]; then mkdir -p "$2" && keep=1 && work=$(cd "$2" && pwd); else work=$(mktemp -d); fi
# mtools would refuse the FAT geometry of a partition that starts at sector 63.
export MTOOLS_SKIP_CHECK=1
banner="Scourline v.2.69 - Whole Hard Drive Wiping Utility"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The SPARC loader, booted by no test here, wants whole words.
[ $(($(stat -c %s "$bin/common/wipe.sparc64.lz") % 4)) -eq 0 ] || fail "wipe.sparc64.lz is not a multiple of 4 bytes"

# An archive as the wizard writes it, from files the booted system must hand
# back unchanged: the scheme is binary, ends without a newline and its length
# is no multiple of 3 (base64 padding). The banner in the wizard's form.
p=$work/payload
rm -rf "$p" && mkdir -p "$p/tmp/scheme"
printf 'autostart=1\nscheme=sch0000000.sch\nverify=last\n' >"$p/wipe_config"
head -c 1001 /dev/urandom >"$p/tmp/scheme/sch0000000.sch"
(cd "$p" && printf '%s\n' wipe_config tmp/scheme/sch0000000.sch | cpio -o -H newc --quiet) >"$work/scour"
printf '\f\r\n\01709\r\n\030\r\n\r\n\r\n\r\n        %s\r\n\01707\r\n\r\n' "$banner" >"$work/welcome.txt"
(cd "$p" && find . -type f -printf '/%P %s\n' | LC_ALL=C sort) >"$work/expected-files.txt"

# A USB disk image: MBR boot code, one active 0xEF partition at sector 63
# holding FAT16, the files at the root, syslinux installed.
img=$work/usb.img offset=$((63 * 512))
make_disk() {
    rm -f "$img" && truncate -s 32M "$img"
    printf 'start=63, type=ef, bootable\n' | sfdisk -q --no-reread --no-tell-kernel "$img"
    mkfs.vfat --offset 63 -h 63 -F 16 -n SCOURLINE "$img" $(((32 * 2048 - 63) / 2)) >/dev/null
    # syslinux's -m is ignored by the mtools build: the boot code goes in by hand.
    dd if="$bin/flash/mbr.bin" of="$img" bs=440 count=1 conv=notrunc status=none
    mcopy -i "$img@@$offset" "$bin/common/vmlinuz" "$bin/common/initrd.gz" "$bin/common/syslinux.cfg" \
        "$bin/common/wipe.sparc64.lz" "$bin/flash/ldlinux.c32" "$work/welcome.txt" "$work/scour" ::/
    mmd -i "$img@@$offset" ::/efi && mcopy -i "$img@@$offset" "$bin/common/efi/boot.img" ::/efi/
    "$bin/flash/syslinux" --offset "$offset" --install "$img"
}
out=$work/usb-report
if ! make_disk >"$work/usb-make.log" 2>&1; then
    fail "making the disk image failed (see $work/usb-make.log)"
elif ! "$here/boot-medium.sh" disk "$img" "$work/usb.log"; then
    fail "the hand-made disk did not boot to the end"
elif ! "$here/extract-boot-log.py" "$work/usb.log" "$out"; then
    fail "the boot report is unreadable"
else
    # Exactly the sent files: base files of the initramfs must not show up.
    diff -u "$work/expected-files.txt" "$out/files.txt" || fail "received other files than sent"
    for f in wipe_config tmp/scheme/sch0000000.sch; do
        cmp -s "$p/$f" "$out/files/$f" || fail "/$f differs from what was sent"
    done
    grep -qF "$banner" "$out/screen.txt" || fail "welcome banner not on the screen"
    # A cut-off or corrupted report must be refused, not half written.
    grep -av '^SCOURLINE-BOOTENV-END' "$work/usb.log" >"$work/bad.log"
    ! "$here/extract-boot-log.py" "$work/bad.log" "$work/bad" 2>/dev/null || fail "a report without end marker was read"
    sed 's#^BEGIN-FILE /wipe_config [0-9]*#BEGIN-FILE /wipe_config 1#' "$work/usb.log" >"$work/bad.log"
    ! "$here/extract-boot-log.py" "$work/bad.log" "$work/bad" 2>/dev/null || fail "a file of the wrong size was read"
fi

# A blank disk never boots: the harness must give up after its time limit.
truncate -s 1M "$work/blank.img"
if BOOT_TIMEOUT=5 "$here/boot-medium.sh" disk "$work/blank.img" "$work/blank.log" 2>/dev/null; then
    fail "boot-medium reported success for a disk that cannot boot"
fi

if [ "$failures" -ne 0 ]; then
    echo "selftest: $failures check(s) failed; media and logs in $work" >&2
    exit 1
fi
[ "$keep" -eq 1 ] || rm -rf "$work"
echo "selftest: all checks passed"

#!/usr/bin/env bash
# scourline-media usb --image: the disk image it makes has the boot code and one
# active partition of type 0xEF at sector 63, boots in QEMU, and Linux receives
# exactly the files of the archive that `archive` writes for the same options.
# Also the command's confirmations, refusals and usage errors. (The same run on
# a loop device is in tests/linux/disk_ops_linux_test.cpp, skipped without root.)
. "$(dirname "$0")/lib.sh"

: "${SCOUR_SOURCE:?}"
use_scratch_home
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null

if [ ! -x "$SCOUR_BIN/flash/syslinux" ] || [ ! -s "$SCOUR_BIN/common/vmlinuz" ]; then
    not_ok "the sample boot environment is in $SCOUR_BIN" "configure with -DSCOUR_BOOTENV=ON"
    finish
fi

# media_in ARGS...: scourline-media with no terminal to answer questions.
media_in() { media "$@" </dev/null; }

rich=(--set AutoStart=1 --set SelectDisks=0 --set Verify=1 --set Scheme=2 --set NetLog=1
    --set 'NetShare=\\fs1\logs' --set 'NetUser=CORP\admin' --set 'NetPassword=pa ss')
expect_status "archive for the same options" 0 media "${rich[@]}" archive "$work/want.scour"
mkdir -p "$work/want"
(cd "$work/want" && cpio -id --quiet --no-absolute-filenames <"$work/want.scour")

# --- a new image: made, partitioned, formatted, filled, bootable ----------------------

img=$work/usb.img
expect_status "usb --image on a new file" 0 media_in "${rich[@]}" usb --image "$img"
check "the image's place on stdout" grep -qx "Bootable disk image: $img" "$work/out"
check "message 155 on stderr" grep -q 'successfully initialized the removable disk' "$work/err"
check "no question for a file the command made" bash -c "! grep -q 'Are you sure' '$work/err'"
check "64 MiB by default" test "$(stat -c %s "$img")" -eq $((64 << 20))

table=$(sfdisk -d "$img" 2>&1)
if [ "$(grep -c '^/' <<<"$table")" -eq 1 ] &&
    grep -q "start= *63, size= *$((8 * 255 * 63 - 63)), type=ef, bootable" <<<"$table"; then
    ok "one active 0xEF partition from sector 63 to the 8th cylinder's end"
else
    not_ok "one active 0xEF partition from sector 63 to the 8th cylinder's end" "$table"
fi
check "the MBR boot code is mbr.bin" cmp -s <(head -c 440 "$img") "$SCOUR_BIN/flash/mbr.bin"
check "FAT32 in the partition" test "$(dd if="$img" bs=1 skip=$((32256 + 82)) count=5 status=none)" = FAT32
check "ldlinux.sys in the root" bash -c "mdir -a -b -i '$img@@32256' ::/ldlinux.sys >/dev/null"

# The same disk on BIOS, and from its FAT partition on UEFI, Secure Boot off and on.
for firmware in bios uefi secureboot; do
    log=$work/boot-$firmware.log got=$work/got-$firmware
    if bash "$boot_tools/boot-medium.sh" disk "$img" "$log" "$firmware" >"$work/out" 2>&1; then
        ok "the image boots: $(sed -n 's/.* booted \((.*)\) and powered off in /\1 in /p' "$work/out")"
        if python3 "$boot_tools/extract-boot-log.py" "$log" "$got" 2>"$work/err"; then
            same_delivery "$firmware" "$work/want" "$got/files"
            # Only a BIOS start leaves the banner in VGA text for Linux to read.
            if [ "$firmware" = bios ]; then
                check "the banner was on the screen" grep -qF "$banner" "$got/screen.txt"
            fi
        else
            not_ok "$firmware: the boot report reads back" "$(cat "$work/err")"
        fi
    else
        not_ok "the image boots ($firmware)" "$(tail -n 5 "$work/out")"
    fi
done

# --- existing images: asked about as a disk would be ------------------------------------

cp "$img" "$work/before"
expect_status "a prepared image is ready: no question, no terminal needed" 0 media_in usb --image "$img"
check "no question asked" bash -c "! grep -q 'Are you sure' '$work/err'"
check "the partition table stayed" cmp -s <(head -c 512 "$img") <(head -c 512 "$work/before")

blank=$work/blank.img
truncate -s 40M "$blank"
expect_status "an unprepared image without --yes or terminal" 1 media_in usb --image "$blank"
check "the refusal names --yes" grep -q -- '--yes' "$work/err"
check "nothing was written" cmp -s "$blank" <(head -c $((40 << 20)) /dev/zero)
expect_status "the same with --yes" 0 media_in --yes usb --image "$blank"
check "the question was shown and answered" grep -q 'Are you sure.*' "$work/err"
check "ldlinux.sys after --yes" bash -c "mdir -a -b -i '$blank@@32256' ::/ldlinux.sys >/dev/null"

expect_status "an image too small for one cylinder" 1 media_in usb --image "$work/tiny.img" --size 4
check "message 153 on stderr" grep -q 'Error in creating MBR sector' "$work/err"
check "the half-made image is removed" test ! -e "$work/tiny.img"

# --- refusals and usage errors: nothing touched -----------------------------------------

expect_status "a character device" 1 media_in usb /dev/null
check "says it is not a listed removable disk" grep -q 'not a removable disk' "$work/err"
root_dev=$(findmnt -no SOURCE / 2>/dev/null || true)
if [ -b "$root_dev" ]; then
    expect_status "the system's own disk" 1 media_in usb "$root_dev"
    check "refused as not listed" grep -q 'not a removable disk' "$work/err"
else
    echo "skipped - the system disk refusal: / is not on a block device here"
fi
expect_status "--image on a folder" 1 media_in usb --image "$work"
cp "$blank" "$work/before"
expect_status "--size that contradicts an existing image" 2 media_in usb --image "$blank" --size 8
check "the image is unchanged" cmp -s "$blank" "$work/before"
for args in "usb" "usb --image" "usb --image x --size 0" "usb --image x --size 1e3" \
    "usb /dev/sdz --size 8" "usb a b" "usb --image a --image b" "usb --yes"; do
    # shellcheck disable=SC2086 # the words are the arguments
    expect_status "usage error: $args" 2 media_in $args
done
check "no stray image from the usage errors" test ! -e x

finish

#!/usr/bin/env bash
# scourline-media iso with each real image maker: genisoimage's image boots in
# QEMU on BIOS, UEFI and Secure Boot, xorrisofs's on BIOS, and Linux receives
# the archive `archive` writes for the same options; the command's failures.
. "$(dirname "$0")/lib.sh"
use_scratch_home
needs_bootenv

password="it's \"a pass\" word"
rich=(--set AutoStart=1 --set SelectDisks=0 --set NetLog=1 --set 'NetShare=\\fs1\logs'
    --set 'NetShareIp=\\10.0.0.5\logs' --set 'NetUser=CORP\admin' --set "NetPassword=$password"
    --set Scheme=2)
want_archive "$work/want-rich" "${rich[@]}"
want_archive "$work/want-defaults"
for maker in genisoimage xorrisofs; do
    ln -s "/usr/bin/$maker" "$(program_copy "$maker" scourline-media mkisofs)/mkisofs"
done
prog=$work/genisoimage

expect_status "genisoimage: iso" 0 "$prog/scourline-media" "${rich[@]}" iso "$work/rich.iso"
has_line "the image's path on stdout" "$work/out" "ISO image written to $work/rich.iso"
for firmware in bios uefi secureboot; do
    boot_check "cd-$firmware" iso "$work/rich.iso" "$firmware" "$work/want-rich" &&
        config_reads "cd-$firmware" "n|y|sch0000002.sch|y|//fs1/logs|//10.0.0.5/logs|CORP/admin|$password|" \
            USE_SHELL WIPE_ALL_DISKS SCHEME USE_LOGSHARE NET_SHARE NET_SHAREIP NET_USER NET_PASS
done
# Without PATH the image goes to IsoPath, here the documents folder's default.
iso=$HOME/Documents/scourcd.iso
expect_status "xorrisofs: iso without PATH" 0 "$work/xorrisofs/scourline-media" iso
has_line "the default path on stdout" "$work/out" "ISO image written to $iso"
# The image is the named maker's work: xorriso signs what it prepares.
check "xorrisofs made its image" grep -qa XORRISO "$iso"
check_not "genisoimage made its image" grep -qa XORRISO "$work/rich.iso"
boot_check xorrisofs-bios iso "$iso" bios "$work/want-defaults"

# Failures: status 1, the wizard's message on stderr, nothing on stdout.
expect_status "iso into a missing folder" 1 "$prog/scourline-media" iso "$work/no/such/x.iso"
check "message 149 on stderr" grep -q 'Could not open destination file for writing' "$work/err"
check "nothing on stdout" test ! -s "$work/out"
ln -sf /nonexistent/mkisofs "$prog/mkisofs"
expect_status "iso without an image maker" 1 "$prog/scourline-media" iso "$work/x.iso"
check "message 146 on stderr" grep -q 'Could not start .ISO image creation' "$work/err"
check "no image" test ! -e "$work/x.iso"
check "no staging folder left in the temporary folder" \
    test "$(find "$TMPDIR" -mindepth 1 -maxdepth 1 -name 'SCR*' | wc -l)" -eq 0
finish

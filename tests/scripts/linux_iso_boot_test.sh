#!/usr/bin/env bash
# scourline-media iso with each real image maker: genisoimage's image boots in
# QEMU on BIOS, UEFI and Secure Boot, xorrisofs's on BIOS, and Linux receives
# the archive `archive` writes for the same options; the command's failures.
. "$(dirname "$0")/lib.sh"
use_scratch_home
needs_bootenv

password="it's \"a pass\" word"
# shellcheck disable=SC2034 # read through a name reference
defaults=()
# shellcheck disable=SC2034
rich=(--set AutoStart=1 --set SelectDisks=0 --set NetLog=1 --set 'NetShare=\\fs1\logs'
    --set 'NetShareIp=\\10.0.0.5\logs' --set 'NetUser=CORP\admin' --set "NetPassword=$password"
    --set Scheme=2)

# Each maker with one of the option sets; genisoimage's image, as the README's
# first command makes it, on every firmware.
for run in genisoimage:rich:bios,uefi,secureboot xorrisofs:defaults:bios; do
    IFS=: read -r maker name firmwares <<<"$run"
    declare -n sets=$name
    want_archive "$work/want-$name" "${sets[@]}"
    ln -s "/usr/bin/$maker" "$(program_copy "$maker" scourline-media mkisofs)/mkisofs"
    image=$work/$maker-$name.iso
    expect_status "$maker: iso" 0 "$work/$maker/scourline-media" "${sets[@]}" iso "$image"
    has_line "$maker: the image's path on stdout" "$work/out" "ISO image written to $image"
    for firmware in ${firmwares//,/ }; do
        boot_check "$maker-$firmware" iso "$image" "$firmware" "$work/want-$name" &&
            [ "$name" = rich ] && config_reads "$maker-$firmware" \
            "n|y|sch0000002.sch|y|//fs1/logs|//10.0.0.5/logs|CORP/admin|$password|" USE_SHELL \
            WIPE_ALL_DISKS SCHEME USE_LOGSHARE NET_SHARE NET_SHAREIP NET_USER NET_PASS
    done
    unset -n sets
done
# The image is the named maker's work: xorriso signs what it prepares.
check "xorrisofs made its image" grep -qa XORRISO "$work/xorrisofs-defaults.iso"
check_not "genisoimage made its image" grep -qa XORRISO "$work/genisoimage-rich.iso"

# Without PATH the image goes to IsoPath, here the documents folder's default.
prog=$work/genisoimage
expect_status "iso without PATH" 0 "$prog/scourline-media" iso
check "the default image is in the documents folder" test -s "$HOME/Documents/scourcd.iso"
has_line "the default path on stdout" "$work/out" "ISO image written to $HOME/Documents/scourcd.iso"

# Failures: status 1, the wizard's message on stderr, nothing on stdout.
expect_status "iso into a missing folder" 1 "$prog/scourline-media" iso "$work/no/such/x.iso"
check "message 149 on stderr" grep -q 'Could not open destination file for writing' "$work/err"
check "nothing on stdout" test ! -s "$work/out"
ln -sf /nonexistent/mkisofs "$prog/mkisofs"
expect_status "iso without an image maker" 1 "$prog/scourline-media" iso "$work/x.iso"
check "message 146 on stderr" grep -q 'Could not start .ISO image creation' "$work/err"
check "no image" test ! -e "$work/x.iso"
expect_status "iso takes one PATH at most" 2 "$prog/scourline-media" iso a b
check "no staging folder left in the temporary folder" \
    test "$(find "$TMPDIR" -mindepth 1 -maxdepth 1 -name 'SCR*' | wc -l)" -eq 0
finish

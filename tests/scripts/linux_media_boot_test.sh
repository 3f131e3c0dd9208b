#!/usr/bin/env bash
# The media scourline-media makes, booted in QEMU: the ISO image (genisoimage's
# on BIOS, UEFI and Secure Boot, xorrisofs's on BIOS), the USB disk image and
# the network boot tree (QEMU's TFTP) on all three, the tree served by dnsmasq
# from `pxe --serve` beside a plain DHCP server in network namespaces of its
# own; Linux receives the archive `archive` writes for the same options. Also
# the boot tools' refusals and the commands' questions, refusals, usage errors.
. "$(dirname "$0")/lib.sh"
use_scratch_home
[ -s "$SCOUR_BIN/common/vmlinuz" ] || { not_ok "the sample boot environment is in $SCOUR_BIN" "configure with -DSCOUR_BOOTENV=ON"; finish; }
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null
# dnsmasq reads the tree as an unprivileged user: the way to it must be open.
chmod 755 "$work"
media_in() { media "$@" </dev/null; }

password="it's \"a pass\" word"
rich=(--set AutoStart=1 --set SelectDisks=0 --set NetLog=1 --set 'NetShare=\\fs1\logs' --set Verify=1
    --set 'NetShareIp=\\10.0.0.5\logs' --set 'NetUser=CORP\admin' --set "NetPassword=$password" --set Scheme=2)
want_archive "$work/want-rich" "${rich[@]}"
want_archive "$work/want-defaults"
for maker in genisoimage xorrisofs; do
    ln -s "/usr/bin/$maker" "$(program_copy "$maker" scourline-media mkisofs)/mkisofs"
done
prog=$work/genisoimage
expect_status "genisoimage: iso" 0 "$prog/scourline-media" "${rich[@]}" iso "$work/rich.iso"
has_line "the image's path on stdout" "$work/out" "ISO image written to $work/rich.iso"
img=$work/usb.img
expect_status "usb --image on a new file" 0 media_in "${rich[@]}" usb --image "$img"
has_line "the disk image's place on stdout" "$work/out" "Bootable disk image: $img"
check "message 155 on stderr" grep -q 'successfully initialized the removable disk' "$work/err"
check_not "no question for a file the command made" grep -q 'Are you sure' "$work/err"
check "64 MiB by default" test "$(stat -c %s "$img")" -eq $((64 << 20))
tree=$work/tftp
expect_status "pxe DIR" 0 media "${rich[@]}" pxe "$tree"
has_line "the tree's place on stdout" "$work/out" "Network boot tree written to $tree"
check "dnsmasq accepts the written configuration" dnsmasq --test --conf-file="$tree/dnsmasq.conf"
for firmware in bios uefi secureboot; do
    for medium in "cd iso $work/rich.iso" "usb disk $img" "net net $tree"; do
        read -r label kind file <<<"$medium"
        boot_check "$label-$firmware" "$kind" "$file" "$firmware" "$work/want-rich" &&
            config_reads "$label-$firmware" "n|y|sch0000002.sch|y|//fs1/logs|//10.0.0.5/logs|CORP/admin|$password|" \
                USE_SHELL WIPE_ALL_DISKS SCHEME USE_LOGSHARE NET_SHARE NET_SHAREIP NET_USER NET_PASS
    done
done
grep -av '^SCOURLINE-BOOTENV-END' "$got.log" >"$work/cut.log"
check_not "a report without its end is refused" python3 "$boot_tools/extract-boot-log.py" "$work/cut.log" "$work/cut"

# Without PATH the image goes to IsoPath, here the documents folder's default.
iso=$HOME/Documents/scourcd.iso
expect_status "xorrisofs: iso without PATH" 0 "$work/xorrisofs/scourline-media" iso
has_line "the default path on stdout" "$work/out" "ISO image written to $iso"
# The image is the named maker's work: xorriso signs what it prepares.
check "xorrisofs made its image" grep -qa XORRISO "$iso"
check_not "genisoimage made its image" grep -qa XORRISO "$work/rich.iso"
boot_check xorrisofs-bios iso "$iso" bios "$work/want-defaults"

# iso failures: status 1, the wizard's message on stderr, nothing on stdout.
expect_status "iso into a missing folder" 1 "$prog/scourline-media" iso "$work/no/such/x.iso"
check "message 149 on stderr" grep -q 'Could not open destination file for writing' "$work/err"
check "nothing on stdout" test ! -s "$work/out"
ln -sf /nonexistent/mkisofs "$prog/mkisofs"
expect_status "iso without an image maker" 1 "$prog/scourline-media" iso "$work/x.iso"
check "message 146 on stderr" grep -q 'Could not start .ISO image creation' "$work/err"
check "no image" test ! -e "$work/x.iso"
check "no staging folder left in the temporary folder" \
    test "$(find "$TMPDIR" -mindepth 1 -maxdepth 1 -name 'SCR*' | wc -l)" -eq 0

# Existing disk images are asked about as a disk would be.
cp "$img" "$work/before"
expect_status "a prepared image is ready: no question, no terminal needed" 0 media_in usb --image "$img"
check_not "no question asked" grep -q 'Are you sure' "$work/err"
check "the partition table stayed" cmp -s <(head -c 512 "$img") <(head -c 512 "$work/before")
blank=$work/blank.img
truncate -s 40M "$blank"
check_not "a blank disk does not boot within the time limit" \
    env BOOT_TIMEOUT=5 bash "$boot_tools/boot-medium.sh" disk "$blank" "$work/blank.log"
expect_status "an unprepared image without --yes or terminal" 1 media_in usb --image "$blank"
check "the refusal names --yes" grep -q -- '--yes' "$work/err"
check "nothing was written" cmp -s "$blank" <(head -c $((40 << 20)) /dev/zero)
expect_status "the same with --yes" 0 media_in --yes usb --image "$blank"
check "the question was shown and answered" grep -q 'Are you sure' "$work/err"
check "ldlinux.sys after --yes" bash -c "mdir -a -b -i '$blank@@32256' ::/ldlinux.sys >/dev/null 2>&1"
expect_status "an image too small for one cylinder" 1 media_in usb --image "$work/tiny.img" --size 4
check "message 153 on stderr" grep -q 'Error in creating MBR sector' "$work/err"
check "the half-made image is removed" test ! -e "$work/tiny.img"

# usb refusals and usage errors: nothing touched.
root_dev=$(findmnt -no SOURCE / 2>/dev/null || true)
[ -b "$root_dev" ] || root_dev=""
for dev in /dev/null $root_dev; do
    expect_status "$dev: refused" 1 media_in usb "$dev"
    check "$dev: not a listed removable disk" grep -q 'not a removable disk' "$work/err"
done
cp "$blank" "$work/before"
expect_status "--size that contradicts an existing image" 2 media_in usb --image "$blank" --size 8
check "the image is unchanged" cmp -s "$blank" "$work/before"
for args in "usb" "usb --image" "usb --image x --size 0" "usb --image x --size 1e3" \
    "usb /dev/sdz --size 8" "usb a b" "usb --image a --image b" "usb --yes"; do
    # shellcheck disable=SC2086 # the words are the arguments
    expect_status "usage error: $args" 2 media_in $args
done
check "no stray image from the usage errors" test ! -e x

# pxe refusals (the tree's own are NetTreeTest's): status 1 and the reason.
expect_status "--serve without dnsmasq" 1 env PATH=/nonexistent "$SCOUR_BIN/scourline-media" \
    pxe "$work/never" --serve lo
check "the message names the package" grep -q 'dnsmasq-base' "$work/err"
expect_status "--serve on a missing interface" 1 media pxe "$work/never" --serve nosuchif9
check "nothing was written" test ! -e "$work/never"
for args in "pxe" "pxe a b" "pxe a --serve" "pxe a --serve eth0,lo" "pxe --serve lo"; do
    # shellcheck disable=SC2086 # the words are split on purpose
    expect_status "usage error: $args" 2 media $args
done
check "nothing left beside the trees" \
    test "$(find "$work" -maxdepth 1 \( -name '.tftp*' -o -name '.*scourline-*' \) | wc -l)" -eq 0

# Two namespaces joined by a veth pair: one with a bridge, the machine's tap
# device and dnsmasq from `pxe --serve`; the other with a plain DHCP server.
ns=scour-pxe-$$ lan=scour-lan-$$
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait; ip netns del "$ns" 2>/dev/null; ip netns del "$lan" 2>/dev/null; rm -rf "$work"' EXIT
make_net() {
    ip netns add "$ns" && ip netns add "$lan" &&
        ip -n "$ns" link set lo up && ip -n "$lan" link set lo up &&
        ip -n "$ns" link add br0 type bridge &&
        ip -n "$ns" tuntap add dev tap0 mode tap &&
        ip -n "$ns" link set tap0 master br0 && ip -n "$ns" link set tap0 up &&
        ip -n "$ns" link add lan0 type veth peer name lan1 netns "$lan" &&
        ip -n "$ns" link set lan0 master br0 && ip -n "$ns" link set lan0 up &&
        ip -n "$ns" addr add 10.77.0.1/24 dev br0 && ip -n "$ns" link set br0 up &&
        ip -n "$lan" addr add 10.77.0.2/24 dev lan1 && ip -n "$lan" link set lan1 up
}
if ! make_net 2>"$work/net.err"; then
    echo "# skipped dnsmasq: no network namespace with a tap device: $(head -n 1 "$work/net.err")"
    finish
fi
ip netns exec "$lan" dnsmasq --keep-in-foreground --conf-file=/dev/null --port=0 \
    --interface=lan1 --dhcp-range=10.77.0.100,10.77.0.150,255.255.255.0,10m \
    --dhcp-leasefile="$work/leases" --pid-file --log-facility="$work/dhcp.log" &
pids+=($!)
ip netns exec "$ns" "$SCOUR_BIN/scourline-media" "${rich[@]}" pxe "$tree" --serve br0 \
    >"$work/serve.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    grep -q 'TFTP root is' "$work/serve.out" 2>/dev/null &&
        grep -q 'DHCP, IP range' "$work/dhcp.log" 2>/dev/null && break
    sleep 0.1
done
check "pxe --serve started dnsmasq on the tree" grep -q "TFTP root is $tree" "$work/serve.out"
check "dnsmasq answers by proxy DHCP on the bridge's network" \
    grep -q 'proxy on subnet 10.77.0.0' "$work/serve.out"
# BIOS: the plain server gives the address, dnsmasq names pxelinux.0 and serves the rest.
if boot_check dnsmasq-bios tap tap0 bios "$work/want-rich" ip netns exec "$ns"; then
    check "the address came from the plain DHCP server" grep -q 'DHCPACK' "$work/dhcp.log"
    check "dnsmasq sent the BIOS loader by proxy DHCP" grep -q 'PXE.*pxelinux.0' "$work/serve.out"
else
    tail -n 8 "$work/dhcp.log" "$work/serve.out" | sed 's/^/#   /'
fi
finish

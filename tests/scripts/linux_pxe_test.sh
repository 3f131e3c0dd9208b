#!/usr/bin/env bash
# scourline-media pxe: the network boot tree starts QEMU machines through
# QEMU's own TFTP server (BIOS, UEFI, UEFI with Secure Boot), and dnsmasq,
# started by `pxe DIR --serve IFACE` with the tree's configuration, serves it
# beside a plain DHCP server in network namespaces of this test's own. Linux
# receives the archive `archive` writes for the same options. Also the
# command's refusals and usage errors.
. "$(dirname "$0")/lib.sh"

: "${SCOUR_SOURCE:?}"
use_scratch_home

if [ ! -s "$SCOUR_BIN/net/pxelinux.0" ] || [ ! -s "$SCOUR_BIN/net/bootx64.efi" ]; then
    not_ok "the network boot files are in $SCOUR_BIN/net" "configure with -DSCOUR_BOOTENV=ON"
    finish
fi

# dnsmasq reads the tree as an unprivileged user: the way to it must be open.
chmod 755 "$work"
opts=(--set AutoStart=1 --set SelectDisks=0 --set Scheme=2 --set 'NetUser=CORP\admin'
    --set 'NetPassword=it'"'"'s "a pass" word')
tree=$work/tftp

expect_status "archive for the same options" 0 media "${opts[@]}" archive "$work/want.scour"
mkdir -p "$work/want"
(cd "$work/want" && cpio -id --quiet --no-absolute-filenames <"$work/want.scour")

expect_status "pxe DIR" 0 media "${opts[@]}" pxe "$tree"
check "the tree's place on stdout" grep -qx "Network boot tree written to $tree" "$work/out"
check "the archive is the one a CD would carry" cmp -s "$tree/scour" "$work/want.scour"
for f in pxelinux.0 ldlinux.c32 pxelinux.cfg/default bootx64.efi grubx64.efi grub/grub.cfg \
    vmlinuz initrd.gz welcome.txt dnsmasq.conf; do
    [ -s "$tree/$f" ] || missing+=" $f"
done
if [ -z "${missing:-}" ]; then ok "the tree holds the loaders, kernel, banner and configuration"; else
    not_ok "the tree holds the loaders, kernel, banner and configuration" "missing:$missing"
fi
check "dnsmasq accepts the written configuration" dnsmasq --test --conf-file="$tree/dnsmasq.conf"
check "the configuration names the tree" grep -qxF "tftp-root=\"$tree\"" "$tree/dnsmasq.conf"

# Written again over its own tree: the files of the old one are gone.
touch "$tree/stale"
expect_status "pxe DIR over its own tree" 0 media "${opts[@]}" pxe "$tree/"
check "the old tree's files are gone" test ! -e "$tree/stale"
check "nothing left beside the tree" test "$(find "$work" -maxdepth 1 -name '.tftp*' | wc -l)" -eq 0

# --- refusals: status 1, the reason on stderr, nothing written ----------------------------

mkdir -p "$work/foreign" && echo mine >"$work/foreign/keep.txt"
expect_status "a folder with files of its own" 1 media pxe "$work/foreign"
check "the refusal says so" grep -q 'holds files of its own' "$work/err"
check "its files are untouched" test "$(ls -A "$work/foreign")" = keep.txt
echo file >"$work/afile"
expect_status "a file in the way" 1 media pxe "$work/afile"
check "the refusal says so" grep -q 'This is not a folder' "$work/err"
expect_status "a parent nobody may write in" 1 media pxe /proc/scourline-tree
check "the refusal names the parent" grep -q 'No folder can be made beside' "$work/err"
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
    test "$(find "$work" -maxdepth 1 -name '.*scourline-*' | wc -l)" -eq 0

# --- boots through QEMU's own TFTP server ----------------------------------------------------

# boot_and_compare LABEL KIND WHERE FIRMWARE [NAMESPACE]: one boot, and what
# Linux received.
boot_and_compare() {
    local label=$1 got=$work/got-$1 inside=()
    [ -z "${5:-}" ] || inside=(ip netns exec "$5")
    if ! "${inside[@]}" bash "$boot_tools/boot-medium.sh" "$2" "$3" "$got.log" "$4" >"$work/boot.out" 2>&1; then
        not_ok "$label boots" "$(tail -n 5 "$work/boot.out")"
        return 1
    fi
    ok "$label boots: $(sed -n 's/.* booted \((.*)\) and powered off in /\1 in /p' "$work/boot.out")"
    if ! python3 "$boot_tools/extract-boot-log.py" "$got.log" "$got" 2>"$work/err"; then
        not_ok "$label: the boot report reads back" "$(cat "$work/err")"
        return 1
    fi
    same_delivery "$label" "$work/want" "$got/files"
    if [ "$4" = bios ]; then
        check "$label: the banner was on the screen" grep -qF "$banner" "$got/screen.txt"
    fi
}

for firmware in bios uefi secureboot; do
    boot_and_compare "net-$firmware" net "$tree" "$firmware"
done

# --- dnsmasq serves the tree ---------------------------------------------------------------

# Two namespaces joined by a veth pair: this one holds a bridge with the
# machine's tap device and dnsmasq from `pxe --serve`; the other the network's
# own, plain DHCP server. Nothing is connected to any other network.
ns=scour-pxe-$$ lan=scour-lan-$$
pids=()
cleanup_net() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
    ip netns del "$lan" 2>/dev/null
}
trap 'cleanup_net; rm -rf "$work"' EXIT

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
    cleanup_net
    echo "# this machine gives no network namespace with a tap device: $(head -n 1 "$work/net.err")"
    echo "# dnsmasq checks the written configuration instead"
    check "dnsmasq --test accepts the tree's configuration" \
        dnsmasq --test --conf-file="$tree/dnsmasq.conf"
    finish
fi

ip netns exec "$lan" dnsmasq --keep-in-foreground --conf-file=/dev/null --port=0 \
    --interface=lan1 --dhcp-range=10.77.0.100,10.77.0.150,255.255.255.0,10m \
    --dhcp-leasefile="$work/leases" --pid-file --log-facility="$work/dhcp.log" &
pids+=($!)
ip netns exec "$ns" "$SCOUR_BIN/scourline-media" "${opts[@]}" pxe "$tree" --serve br0 \
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
if boot_and_compare dnsmasq-bios tap tap0 bios "$ns"; then
    check "the address came from the plain DHCP server" grep -q 'DHCPACK' "$work/dhcp.log"
    check "dnsmasq sent the BIOS loader by proxy DHCP" grep -q 'PXE.*pxelinux.0' "$work/serve.out"
else
    echo "# the plain DHCP server's log:"
    tail -n 8 "$work/dhcp.log" | sed 's/^/#   /'
    echo "# dnsmasq's log:"
    tail -n 15 "$work/serve.out" | sed 's/^/#   /'
fi

finish

#!/usr/bin/env bash
# scourline-media pxe: the network boot tree starts QEMU machines through
# QEMU's own TFTP server (BIOS, UEFI, Secure Boot), and dnsmasq, started by
# `pxe DIR --serve IFACE`, serves it beside a plain DHCP server in network
# namespaces of the test's own; Linux receives the archive `archive` writes.
. "$(dirname "$0")/lib.sh"
use_scratch_home
needs_bootenv

# dnsmasq reads the tree as an unprivileged user: the way to it must be open.
chmod 755 "$work"
opts=(--set AutoStart=1 --set SelectDisks=0 --set Scheme=2 --set 'NetUser=CORP\admin'
    --set 'NetPassword=it'"'"'s "a pass" word')
tree=$work/tftp
want_archive "$work/want" "${opts[@]}"

expect_status "pxe DIR" 0 media "${opts[@]}" pxe "$tree"
has_line "the tree's place on stdout" "$work/out" "Network boot tree written to $tree"
check "dnsmasq accepts the written configuration" dnsmasq --test --conf-file="$tree/dnsmasq.conf"
# Refusals (each kind is in media_net_tree_test): status 1 and the reason.
mkdir -p "$work/foreign" && echo mine >"$work/foreign/keep.txt"
expect_status "a folder with files of its own: refused" 1 media pxe "$work/foreign"
check "the refusal says so" grep -q 'holds files of its own' "$work/err"
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

for firmware in bios uefi secureboot; do
    boot_check "net-$firmware" net "$tree" "$firmware" "$work/want"
done

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
if boot_check dnsmasq-bios tap tap0 bios "$work/want" ip netns exec "$ns"; then
    check "the address came from the plain DHCP server" grep -q 'DHCPACK' "$work/dhcp.log"
    check "dnsmasq sent the BIOS loader by proxy DHCP" grep -q 'PXE.*pxelinux.0' "$work/serve.out"
else
    tail -n 8 "$work/dhcp.log" "$work/serve.out" | sed 's/^/#   /'
fi
finish

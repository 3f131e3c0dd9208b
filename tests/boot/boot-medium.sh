#!/usr/bin/env bash
# Usage: boot-medium.sh iso|disk|net|tap IMAGE|TREE|TAP LOGFILE [bios|uefi|secureboot]
# Boots the medium (net: QEMU's own DHCP and TFTP) under SeaBIOS, OVMF or OVMF
# with Secure Boot until the sample boot environment powers off, the serial
# console to LOGFILE. Exits 0 when it reported to the end, 1 on a time-out, a cut
# report or the wrong Secure Boot state, 2 on a usage error. BOOT_TIMEOUT: seconds
# (120); BOOT_ACCEL: tcg (on some hosts KVM fails in the loader's real mode code).
set -euo pipefail
kind=${1:-} image=${2:-} log=${3:-} firmware=${4:-bios}
fail() {
    echo "boot-medium: $kind $image ($firmware): $1${log:+ (log: $log)}" >&2
    exit "${2:-1}"
}
[ -n "$log" ] || fail "usage: $(sed -n 's/^# Usage: //p' "$0")" 2
# QEMU would make a tap device of that name here, joined to nothing.
[ "$kind" != tap ] || ip link show dev "$image" >/dev/null 2>&1 || fail "no tap device in this network namespace" 2

ovmf=/usr/share/OVMF
vars=$(mktemp "${TMPDIR:-/tmp}/boot-medium-vars.XXXXXX")
trap 'rm -f "$vars"' EXIT
# Each boot starts from the firmware's pristine variables; OVMF with SMM leaves
# a 256 MiB machine too little: the kernel resets early.
memory=512
case $firmware in
bios) machine=(-machine pc) memory=256 ;;
uefi)
    cp "$ovmf/OVMF_VARS_4M.fd" "$vars"
    machine=(-machine q35 -drive "if=pflash,format=raw,unit=0,readonly=on,file=$ovmf/OVMF_CODE_4M.fd"
        -drive "if=pflash,format=raw,unit=1,file=$vars")
    ;;
secureboot)
    cp "$ovmf/OVMF_VARS_4M.ms.fd" "$vars"
    # shellcheck disable=SC2054 # the commas belong to QEMU options
    machine=(-machine q35,smm=on -global driver=cfi.pflash01,property=secure,value=on
        -global ICH9-LPC.disable_s3=1
        -drive "if=pflash,format=raw,unit=0,readonly=on,file=$ovmf/OVMF_CODE_4M.secboot.fd"
        -drive "if=pflash,format=raw,unit=1,file=$vars")
    ;;
*) fail "no such firmware" 2 ;;
esac

# QEMU's option syntax takes a doubled comma for a comma in a file name.
drive_file=${image//,/,,}
case $kind in
# The disk is started from a throw-away overlay so booting never changes it.
iso) medium=(-nic none -drive "file=$drive_file,format=raw,media=cdrom,readonly=on" -boot order=d) ;;
disk) medium=(-nic none -drive "file=$drive_file,format=raw,if=ide" -snapshot -boot order=c) ;;
net | tap)
    # Debian's iPXE EFI ROMs hand shim a wrong size for the GRUB they fetch:
    # UEFI machines boot through OVMF's own driver on a NIC without a ROM.
    if [ "$firmware" = bios ]; then
        nic=(-device "e1000,netdev=n0,romfile=/usr/lib/ipxe/qemu/pxe-e1000.rom") loader=pxelinux.0
    else
        nic=(-device "virtio-net-pci,netdev=n0,romfile=") loader=bootx64.efi
    fi
    netdev="tap,id=n0,ifname=$image,script=no,downscript=no"
    [ "$kind" = tap ] || netdev="user,id=n0,restrict=on,tftp=$drive_file,bootfile=$loader"
    medium=(-netdev "$netdev" "${nic[@]}" -boot order=n)
    ;;
*) fail "no such kind of medium" 2 ;;
esac

limit=${BOOT_TIMEOUT:-120} accel=${BOOT_ACCEL:-tcg} start=$(date +%s.%N) status=0
: >"$log"
# -display none still emulates the VGA card, whose text the guest reads back.
timeout -k 5 "$limit" qemu-system-x86_64 "${machine[@]}" -accel "$accel" -m "$memory" \
    -display none -monitor none -serial "file:$log" -no-reboot "${medium[@]}" </dev/null || status=$?
seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
case $status in
0) ;;
124 | 137) fail "no power-off within $limit s" ;;
*) fail "qemu-system-x86_64 failed with status $status" ;;
esac
grep -q '^SCOURLINE-BOOTENV-END' "$log" || fail "the boot environment did not report to the end"
# The kernel says so early on an EFI start; a BIOS start has no such line.
secure="not UEFI"
grep -aq 'Secure boot disabled' "$log" && secure=off
grep -aq 'Secure boot enabled' "$log" && secure=on
case $firmware/$secure in
bios/"not UEFI" | uefi/off | secureboot/on) ;;
*) fail "Linux reports Secure Boot $secure" ;;
esac
echo "boot-medium: $kind $image booted ($firmware, Secure Boot: $secure) and powered off in $seconds s ($accel)"

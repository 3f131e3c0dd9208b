#!/usr/bin/env bash
# Boots a medium in QEMU until the sample boot environment powers off, with the
# serial console written to LOGFILE. Exits 0 when the boot environment reported
# to the end, 1 on a time-out or an incomplete report, 2 on a usage error.
#
# Usage: boot-medium.sh iso|disk IMAGE LOGFILE
# Environment: BOOT_TIMEOUT (seconds, default 120), BOOT_ACCEL (tcg, the
# default, or kvm where it works).
set -euo pipefail

usage() {
    echo "usage: $0 iso|disk IMAGE LOGFILE" >&2
    exit 2
}

[ $# -eq 3 ] || usage
kind=$1 image=$2 log=$3
[ -f "$image" ] || {
    echo "boot-medium: no such image: $image" >&2
    exit 2
}

# QEMU's option syntax takes a doubled comma for a comma in a file name.
drive_file=${image//,/,,}
case $kind in
# The disk is started from a throw-away overlay so booting never changes it.
iso) medium=(-drive "file=$drive_file,format=raw,media=cdrom,readonly=on" -boot order=d) ;;
disk) medium=(-drive "file=$drive_file,format=raw,if=ide" -snapshot -boot order=c) ;;
*) usage ;;
esac

limit=${BOOT_TIMEOUT:-120}
# Software emulation unless asked otherwise: on some hosts /dev/kvm opens but
# KVM then stops with an emulation failure in the boot loader's real mode code.
accel=${BOOT_ACCEL:-tcg}

: >"$log"
start=$(date +%s.%N)
status=0
# -display none still emulates the VGA card, whose text the guest reads back.
timeout -k 5 "$limit" qemu-system-x86_64 \
    -accel "$accel" -m 256 -nic none \
    -display none -monitor none -serial "file:$log" \
    -no-reboot "${medium[@]}" </dev/null || status=$?
end=$(date +%s.%N)
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')

if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "boot-medium: $kind $image: no power-off within $limit s (log: $log)" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "boot-medium: qemu-system-x86_64 failed with status $status" >&2
    exit 1
fi
if ! grep -q '^SCOURLINE-BOOTENV-END' "$log"; then
    echo "boot-medium: $kind $image: the boot environment did not report to the end (log: $log)" >&2
    exit 1
fi
echo "boot-medium: $kind $image booted and powered off in $seconds s ($accel)"

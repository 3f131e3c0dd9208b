#!/bin/sh
# /init of the sample boot environment. It stands in for the wiping
# environment: it reports on the serial console and on the screen what the
# boot loader handed over (every file that is not part of this initramfs, and
# the screen the boot loader left), then powers the machine off.
#
# Report format, one item per line:
#   SCOURLINE-BOOTENV-START
#   BEGIN-FILE <path> <size>, base64 lines, END-FILE <path>      (per file)
#   BEGIN-SCREEN <rows> <cols>, base64 of /dev/vcs1, END-SCREEN
#   SCOURLINE-BOOTENV-END

PATH=/bin
export PATH

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# Work files go to their own file system so that the scan below skips them.
mount -t tmpfs tmpfs /run

# Late kernel messages would break report lines on the serial console.
echo 1 >/proc/sys/kernel/printk

# Copy the screen before anything writes to it. VGA text mode keeps what the
# boot loader drew, because only the serial line is a kernel console.
rows=0
cols=0
: >/run/screen
if [ -r /dev/vcs1 ] && cat /dev/vcs1 >/run/screen 2>/dev/null; then
    # The first two bytes of vcsa are the screen's rows and columns.
    # shellcheck disable=SC2046 # split the two numbers on purpose
    set -- $(head -c 2 /dev/vcsa1 | od -An -tu1)
    rows=${1:-0}
    cols=${2:-0}
fi

{
    echo SCOURLINE-BOOTENV-START
    # A received file is one that is missing from the base list or whose
    # content differs: a later archive may replace a file of an earlier one.
    find / -xdev -type f | sort | while IFS= read -r f; do
        [ "$f" = /etc/base-files ] && continue
        grep -qxF "$(md5sum "$f")" /etc/base-files && continue
        echo "BEGIN-FILE $f $(stat -c %s "$f")"
        base64 "$f"
        echo "END-FILE $f"
    done
    echo "BEGIN-SCREEN $rows $cols"
    base64 /run/screen
    echo END-SCREEN
    echo SCOURLINE-BOOTENV-END
} >/run/report 2>&1

cat /run/report >/dev/ttyS0
[ -e /dev/tty1 ] && cat /run/report >/dev/tty1

poweroff -f
# Should power-off fail, ending init panics the kernel, and panic= reboots.
sleep 2
exit 1

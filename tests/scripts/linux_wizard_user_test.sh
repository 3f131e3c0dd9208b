#!/usr/bin/env bash
# A desktop user without root makes a bootable ISO image through the pages:
# the wizard runs as uid 65534 with a home of its own and the helper's polkit
# policy in place (so the administrator check passes as on a desktop), walks
# the interactive route, writes the image to the user's Documents folder,
# stores the options in the user's own store and ends with 1 after Finish. The
# image boots in QEMU and Linux receives the configuration.
. "$(dirname "$0")/lib.sh"
: "${SCOUR_SOURCE:?}"

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped - the run as another user needs root"
    finish
fi
if [ ! -s "$SCOUR_BIN/common/vmlinuz" ] || [ ! -s "$SCOUR_BIN/iso/isolinux.bin" ]; then
    not_ok "the sample boot environment is in $SCOUR_BIN" "configure with -DSCOUR_BOOTENV=ON"
    finish
fi

uid=65534
as_user() { setpriv --reuid=$uid --regid=$uid --clear-groups -- "$@"; }

# The user's own area, reachable by that user wherever the build tree lies.
area=$(mktemp -d /tmp/scourline-user.XXXXXX)
trap 'rm -rf "$work" "$area"' EXIT
chmod 755 "$area"
home=$area/home
mkdir -p "$home/Documents" "$home/config" "$home/tmp" "$home/runtime" "$area/actions"
chmod 700 "$home/runtime"
sed "s|@SCOUR_HELPER_INSTALL_PATH@|/usr/libexec/scourline/scourline-disk-helper|" \
    "$SCOUR_SOURCE/data/org.valdane.scourline.disk-helper.policy.in" \
    >"$area/actions/org.valdane.scourline.disk-helper.policy"
chown -R $uid:$uid "$home"
program=$SCOUR_BIN
if ! as_user test -x "$program/scourline-wizard" -a -r "$program/common/vmlinuz"; then
    program=$area/program
    cp -rL "$SCOUR_BIN" "$program"
    chmod -R a+rX "$program"
fi

fill_script "$SCOUR_SOURCE/tests/wizard-scripts/iso-interactive.txt" "$area/script.txt" "HOME=$home"
chmod 644 "$area/script.txt"
start=$(date +%s)
expect_status "interactive route as uid $uid to the completion page, then Finish" 1 \
    env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/config" \
    TMPDIR="$home/tmp" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen \
    SCOUR_TEST_POLKIT_ACTIONS="$area/actions" SCOURLINE_WIZARD_SCRIPT="$area/script.txt" \
    timeout 300 setpriv --reuid=$uid --regid=$uid --clear-groups -- \
    "$program/scourline-wizard"
echo "# the wizard ran $(($(date +%s) - start)) s"
iso=$home/Documents/scourcd.iso
check "the image is in the user's Documents, owned by the user" \
    test -s "$iso" -a "$(stat -c %u "$iso" 2>/dev/null)" = $uid

store=$home/config/Valdane/Scourline/Data.reg
missing_values=""
[ -f "$store" ] || store=/dev/null
for v in '"AutoStart"=dword:00000000' '"NetLog"=dword:00000001' "\"IsoPath\"=\"$iso\""; do
    grep -qxF -- "$v" <(strip_cr <"$store") || missing_values+=" $v"
done
if [ -z "$missing_values" ]; then ok "the options are in the user's store"; else
    not_ok "the options are in the user's store" "missing:$missing_values" "$(cat "$store")"
fi

got=$work/boot
if bash "$boot_tools/boot-medium.sh" iso "$iso" "$got.log" >"$work/boot.out" 2>&1; then
    ok "the user's image boots: $(sed -n 's/.* powered off in //p' "$work/boot.out")"
    if python3 "$boot_tools/extract-boot-log.py" "$got.log" "$got" 2>"$work/err"; then
        check "Linux received the scheme files" \
            bash -c "ls '$got/files/tmp/scheme/'* >/dev/null 2>&1"
        # shellcheck disable=SC2016 # expanded by the inner shell
        read_back=$(env -i bash -c 'source <(tr -d "\0" <"$1") && printf "%s|" "$USE_SHELL" \
            "$USE_LOGSHARE" "$NET_SHARE"' _ "$got/files/wipe_config")
        want="y|y|//127.0.0.1/logs|"
        if [ "$read_back" = "$want" ]; then ok "the boot environment reads the choices back"; else
            not_ok "the boot environment reads the choices back" "got:  $read_back" "want: $want"
        fi
    else
        not_ok "the boot report reads back" "$(cat "$work/err")"
    fi
else
    not_ok "the user's image boots" "$(tail -n 5 "$work/boot.out")"
fi

finish

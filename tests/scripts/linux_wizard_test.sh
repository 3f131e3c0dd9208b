#!/usr/bin/env bash
# The Linux wizard driven by scripts on its real widgets (offscreen): page flow,
# Cancel, switches, start-up failures, help, the share test's credentials; a
# desktop user makes an ISO image on the automatic route that boots with the
# options chosen; without a usable display, the message and 0. (A user who is
# no administrator is app_startup_test's and Privileges'.)
. "$(dirname "$0")/lib.sh"
: "${SCOUR_SOURCE:?}"
use_scratch_home
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
scripts=$SCOUR_SOURCE/tests/wizard-scripts
shots=$(cd "$SCOUR_BIN/.." && pwd)/tests/screenshots
mkdir -p "$shots"
prog=$SCOUR_BIN/scourline-wizard
title="Scourline Configuration Wizard"

# wizard PROGRAM SCRIPT [ARGS]...: the wizard run by the script, in the screenshots folder.
wizard() {
    local program=$1 script=$2
    shift 2
    (cd "$shots" && SCOURLINE_WIZARD_SCRIPT=$scripts/$script SCOURLINE_WIZARD_BOX_SHOTS=$shots/${script%.txt}-boxes \
        timeout 300 "$program" "$@")
}
stderr_has() { has_line "$1" "$work/err" "$2"; }

# -Tx is no switch: the script expects the test box hidden (/T is in app_startup_test).
expect_status "interactive route, Back and Next, Cancel answered No then Yes" 2 wizard "$prog" interactive.txt -Tx
check "the Cancel question was asked twice" \
    test "$(grep -cxF "box: $title: Are you sure you want to quit $title?" "$work/err")" -eq 2
stderr_has "Browse shows the folder prompt" "browse: Choose folder to store Scourline ISO image file:"
stderr_has "the share test asked for the password" "dialog: credentials"
check "the failure came in a 'Test failed' box" grep -q '^box: Test failed: ' "$work/err"

expect_status "-V shows the About box alone and ends with 0 after OK" 0 wizard "$prog" about-alone.txt -V

missing=$(program_copy missing scourline-wizard iso)
expect_status "a missing component ends with -1 (255)" 255 wizard "$missing/scourline-wizard" one-box.txt
stderr_has "the missing-components message" \
    "box: $title: Critical Scourline components are missing.\nPlease reinstall the application."
expect_status "-V runs without the components" 0 wizard "$missing/scourline-wizard" about-alone.txt -V

topic="HTML_Help_e/html/04_using/ISO Configuration Wizard/02_configuration_for_automatic.htm"
expect_status "Help on two pages" 2 wizard "$prog" help.txt
stderr_has "Help on the welcome page opens the contents" "help: $SCOUR_BIN/help/index.html"
stderr_has "Help on the start options page opens its topic" "help: $SCOUR_BIN/help/$topic"
unhelped=$(program_copy unhelped scourline-wizard help)
expect_status "Help without help pages" 2 wizard "$unhelped/scourline-wizard" help.txt
check_not "Help without help pages does nothing" grep -q '^help:' "$work/err"

# A desktop user (uid 65534 when run as root) in an area of its own, reachable
# wherever the build tree lies.
user=$(mktemp -d /tmp/scourline-user.XXXXXX)
trap 'rm -rf "$work" "$user"' EXIT
home=$user/home
mkdir -p "$home/Documents" "$home/config" "$home/tmp" "$home/runtime" "$user/actions" "$user/shots"
sed "s|@SCOUR_HELPER_INSTALL_PATH@|/usr/libexec/scourline/scourline-disk-helper|" \
    "$SCOUR_SOURCE/data/org.valdane.scourline.disk-helper.policy.in" >"$user/actions/org.valdane.scourline.disk-helper.policy"
sed "s|@HOME@|$home|g" "$scripts/iso-automatic.txt" >"$user/iso-automatic.txt"
chmod -R a+rX "$user" && chmod 700 "$home/runtime"
[ "$(id -u)" -ne 0 ] || chown -R 65534:65534 "$home" "$user/shots"
program=$SCOUR_BIN
if ! as_nobody "$home" test -x "$program/scourline-wizard" -a -r "$program/common/vmlinuz"; then
    program=$user/program
    cp -rL "$SCOUR_BIN" "$program" && chmod -R a+rX "$program"
fi

# The automatic route: the image is the user's, the options (not the password)
# in the user's store, and Linux receives what scourline-media makes of them.
expect_status "automatic route to the completion page, then Finish" 1 as_nobody "$home" \
    env -C "$user/shots" SCOUR_TEST_POLKIT_ACTIONS="$user/actions" SCOURLINE_WIZARD_SCRIPT="$user/iso-automatic.txt" \
    SCOURLINE_WIZARD_BOX_SHOTS="$user/shots/iso-automatic-boxes" "$program/scourline-wizard"
cp -r "$user/shots/." "$shots/" 2>/dev/null
iso=$home/wizard.iso
check "the image belongs to the user" test -s "$iso" -a "$(stat -c %u "$iso" 2>/dev/null)" = "$(stat -c %u "$home")"
stderr_has "the image's folder opened" "explore: $home"
store=$home/config/Valdane/Scourline/Data.reg
for v in '"AutoStart"=dword:00000001' '"SelectDisks"=dword:00000000' '"NetLog"=dword:00000001' \
    '"Verify"=dword:00000001' '"ResetHPA"=dword:00000001' '"ResetDCO"=dword:00000000' \
    '"AtaErase"=dword:00000001' '"Scheme"=dword:00000002' '"IsoUsb"=dword:00000001' \
    '"IsoShowFolder"=dword:00000001' "\"IsoPath\"=\"$iso\""; do
    has_line "stored: $v" "$store" "$v"
done
check_not "the password is not stored" grep -qF 'a pass' "$store"
if [ -s "$SCOUR_BIN/common/vmlinuz" ]; then
    password="it's \"a pass\" word"
    want_archive "$work/want" --set AutoStart=1 --set SelectDisks=0 \
        --set NetLog=1 --set 'NetShare=\\127.0.0.1\logs' --set 'NetShareIp=\\127.0.0.1\logs' \
        --set 'NetUser=CORP\admin' --set "NetPassword=$password" --set NetAskPassword=0 \
        --set Scheme=2 --set Verify=1 --set ResetHPA=1 --set AtaErase=1
    boot_check wizard-bios iso "$iso" bios "$work/want" &&
        config_reads wizard-bios "n|y|sch0000002.sch|y|//127.0.0.1/logs|//127.0.0.1/logs|CORP/admin|$password|" \
            USE_SHELL WIPE_ALL_DISKS SCHEME USE_LOGSHARE NET_SHARE NET_SHAREIP NET_USER NET_PASS
fi

# Without a usable display (a number with no socket, no lock file): status 0
# at once and the message, where the toolkit would abort; -V too.
n=171
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
for run in "|" "DISPLAY=:$n|-V" "WAYLAND_DISPLAY=scourline-nowhere QT_QPA_PLATFORM=wayland|"; do
    IFS='|' read -r envs args <<<"$run"
    # shellcheck disable=SC2086 # the words are the variables and arguments
    expect_status "no usable display (${envs:-none} $args): status 0 within 10 s" 0 env -u DISPLAY -u WAYLAND_DISPLAY \
        -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE -u SCOURLINE_WIZARD_SCRIPT $envs timeout 10 "$prog" $args
    check "no usable display: the message" grep -q '^scourline-wizard: no usable display' "$work/err"
done
check "the message names the display" grep -q "DISPLAY=(unset)" "$work/err"
echo "screenshots in $shots"
finish

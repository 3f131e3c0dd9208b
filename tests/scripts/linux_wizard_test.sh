#!/usr/bin/env bash
# The Linux wizard driven by scripts on its real widgets (offscreen): page flow,
# Cancel, switches, start-up failures, help, the share test's credentials, a
# user who is no administrator; without a usable display, the message and 0.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/linux_wizard_lib.sh"

prog=$SCOUR_BIN/scourline-wizard
title="Scourline Configuration Wizard"
expect_status "interactive route, Back and Next, Cancel answered No then Yes" 2 \
    wizard "$prog" interactive.txt
check "the Cancel question was asked twice" \
    test "$(grep -cxF "box: $title: Are you sure you want to quit $title?" "$work/err")" -eq 2
stderr_has "Browse shows the folder prompt" "browse: Choose folder to store Scourline ISO image file:"

expect_status "-V shows the About box alone and ends with 0 after OK" 0 wizard "$prog" about-alone.txt -V
expect_status "-t -v: the About box, status 0" 0 wizard "$prog" about-alone.txt -t -v
expect_status "-T offers the hardware compatibility test" 2 wizard "$prog" test-mode.txt /T
expect_status "-Tx is no switch: the test box stays hidden" 3 wizard "$prog" test-mode.txt -Tx
check "-Tx: the script saw the box hidden" grep -q "expected control 1052 visible, found it hidden" "$work/err"

missing=$(program_copy missing scourline-wizard iso)
components="box: $title: Critical Scourline components are missing.\nPlease reinstall the application."
expect_status "a missing component ends with -1 (255)" 255 wizard "$missing/scourline-wizard" one-box.txt
stderr_has "the missing-components message" "$components"
expect_status "-V runs without the components" 0 wizard "$missing/scourline-wizard" about-alone.txt -V
expect_status "a box the script did not expect fails the run with 3" 3 \
    wizard "$missing/scourline-wizard" about-alone.txt

helped=$(program_copy helped scourline-wizard help)
topic="HTML_Help_e/html/04_using/ISO Configuration Wizard/02_configuration_for_automatic.htm"
mkdir -p "$helped/help/${topic%/*}"
echo contents >"$helped/help/index.html"
echo topic >"$helped/help/$topic"
expect_status "Help on two pages" 2 wizard "$helped/scourline-wizard" help.txt
stderr_has "Help on the welcome page opens the contents" "help: $helped/help/index.html"
stderr_has "Help on the start options page opens its topic" "help: $helped/help/$topic"
unhelped=$(program_copy unhelped scourline-wizard help)
expect_status "Help without help pages" 2 wizard "$unhelped/scourline-wizard" help.txt
check_not "Help without help pages does nothing" grep -q '^help:' "$work/err"

expect_status "the share test asks for the password and reports the failure" 2 wizard "$prog" share-test.txt
stderr_has "the credentials dialog was shown" "dialog: credentials"
check "the failure came in a 'Test failed' box" grep -q '^box: Test failed: ' "$work/err"

# Not administrator: another user, who cannot start the disk helper (no polkit
# policy where it looks), even with components missing. Needs root to switch.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    plain=$(mktemp -d "$work/plain.XXXXXX")
    chmod 755 "$work" "$plain"
    mkdir -m 777 "$plain/home" "$plain/actions" "$plain/runtime-base"
    cp "$wizard_scripts/one-box.txt" "$plain/" && chmod 644 "$plain/one-box.txt"
    chmod -R a+rX "$missing"
    # shellcheck disable=SC2317 # called through expect_status
    as_plain_user() {
        env -i PATH=/usr/bin:/bin HOME="$plain/home" XDG_CONFIG_HOME="$plain/home/config" \
            XDG_RUNTIME_DIR="$plain/runtime-base" QT_QPA_PLATFORM=offscreen \
            SCOUR_TEST_POLKIT_ACTIONS="$plain/actions" SCOURLINE_WIZARD_SCRIPT="$plain/one-box.txt" \
            LSAN_OPTIONS="suppressions='$SCOUR_SOURCE/tests/lsan.supp'" \
            setpriv --reuid=65534 --regid=65534 --clear-groups timeout 120 "$@"
    }
    for program in "$prog" "$missing/scourline-wizard"; do
        expect_status "not administrator: status 5 ($program)" 5 as_plain_user "$program"
        stderr_has "not administrator: message 150" "box: $title: Please run $title as Administrator"
        check_not "not administrator: no components message" grep -q 'components are missing' "$work/err"
    done
else
    ok "# SKIP not administrator: needs root and setpriv to become another user"
fi

# Without a usable display (the numbers have no socket, no lock file): status 0
# at once and the message, where the toolkit would abort; -V too.
free_display=""
for n in $(seq 171 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { free_display=":$n" && break; }
done
while IFS='|' read -r what envs args; do
    start=$(date +%s%N)
    # shellcheck disable=SC2086 # the words are the variables and arguments
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE -u SCOURLINE_WIZARD_SCRIPT \
        ${envs//@/$free_display} timeout 60 "$prog" $args </dev/null >"$work/out" 2>"$work/err"
    status=$? elapsed=$((($(date +%s%N) - start) / 1000000))
    if [ "$status" -eq 0 ] && grep -q '^scourline-wizard: no usable display' "$work/err" && [ "$elapsed" -lt 10000 ]; then
        ok "$what: status 0 and the message ($elapsed ms)"
    else
        not_ok "$what: status 0 and the message" "status $status after $elapsed ms" "$(head -c 800 "$work/err")"
    fi
done <<'EOF2'
no display at all||
a display nobody serves, -V|DISPLAY=@|-V
a Wayland display nobody serves, Wayland asked for|WAYLAND_DISPLAY=scourline-nowhere QT_QPA_PLATFORM=wayland|
EOF2
check "the message names the display" grep -q "DISPLAY=(unset)" "$work/err"
echo "screenshots in $screenshots"
finish

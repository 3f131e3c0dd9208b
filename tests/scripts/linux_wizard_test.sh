#!/usr/bin/env bash
# The Linux wizard driven by scripts on its real widgets: the page flow both
# ways, Cancel, the switches, the start-up failure, help, the share test's
# credentials dialog. Screenshots of every page and dialog stay in the build tree.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/linux_wizard_lib.sh"

prog=$SCOUR_BIN/scourline-wizard
question="box: Scourline Configuration Wizard: Are you sure you want to quit Scourline Configuration Wizard?"

expect_status "interactive route, Back and Next, Cancel answered No then Yes" 2 \
    wizard "$prog" interactive.txt
if [ "$(grep -cxF "$question" "$work/err")" -eq 2 ]; then ok "the Cancel question was asked twice"; else
    not_ok "the Cancel question was asked twice" "$(cat "$work/err")"
fi
stderr_has "Browse shows the folder prompt" \
    "browse: Choose folder to store Scourline ISO image file:"

expect_status "-V shows the About box alone and ends with 0 after OK" 0 \
    wizard "$prog" about-alone.txt -V
expect_status "-t -v: the About box, status 0" 0 wizard "$prog" about-alone.txt -t -v

expect_status "-T offers the hardware compatibility test" 2 wizard "$prog" test-mode.txt /T
expect_status "-Tx is no switch: the test box stays hidden" 3 wizard "$prog" test-mode.txt -Tx
if grep -q "expected control 1052 visible, found it hidden" "$work/err"; then
    ok "-Tx: the script saw the box hidden"
else
    not_ok "-Tx: the script saw the box hidden" "$(cat "$work/err")"
fi

missing=$(program_copy missing iso)
expect_status "a missing component ends with -1 (255)" 255 \
    wizard "$missing/scourline-wizard" components-missing.txt
stderr_has "the missing-components message" \
    'box: Scourline Configuration Wizard: Critical Scourline components are missing.\nPlease reinstall the application.'
expect_status "-V runs without the components" 0 \
    wizard "$missing/scourline-wizard" about-alone.txt -V
expect_status "a box the script did not expect fails the run with 3" 3 \
    wizard "$missing/scourline-wizard" about-alone.txt

helped=$(program_copy helped help)
topic="HTML_Help_e/html/04_using/ISO Configuration Wizard/02_configuration_for_automatic.htm"
mkdir -p "$helped/help/${topic%/*}"
echo contents >"$helped/help/index.html"
echo topic >"$helped/help/$topic"
expect_status "Help on two pages" 2 wizard "$helped/scourline-wizard" help.txt
stderr_has "Help on the welcome page opens the contents" "help: $helped/help/index.html"
stderr_has "Help on the start options page opens its topic" "help: $helped/help/$topic"
unhelped=$(program_copy unhelped help)
expect_status "Help without help pages" 2 wizard "$unhelped/scourline-wizard" help.txt
check "Help without help pages does nothing" bash -c "! grep -q '^help:' '$work/err'"

expect_status "the share test asks for the password and reports the failure" 2 \
    wizard "$prog" share-test.txt
stderr_has "the credentials dialog was shown" "dialog: credentials"
check "the failure came in a 'Test failed' box" grep -q '^box: Test failed: ' "$work/err"

# Not administrator: another user, who cannot start the disk helper (no polkit
# policy where it looks), even with components missing. Needs root to switch.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    plain=$(mktemp -d "$work/plain.XXXXXX")
    chmod 755 "$work" "$plain"
    mkdir -m 777 "$plain/home" "$plain/actions" "$plain/runtime-base"
    cp "$wizard_scripts/not-administrator.txt" "$plain/"
    chmod 644 "$plain/not-administrator.txt"
    chmod -R a+rX "$missing"
    # shellcheck disable=SC2317 # called through expect_status
    as_plain_user() {
        env -i PATH=/usr/bin:/bin HOME="$plain/home" XDG_CONFIG_HOME="$plain/home/config" \
            XDG_RUNTIME_DIR="$plain/runtime-base" QT_QPA_PLATFORM=offscreen \
            SCOUR_TEST_POLKIT_ACTIONS="$plain/actions" \
            SCOURLINE_WIZARD_SCRIPT="$plain/not-administrator.txt" \
            LSAN_OPTIONS="suppressions='$SCOUR_SOURCE/tests/lsan.supp'" \
            setpriv --reuid=65534 --regid=65534 --clear-groups timeout 120 "$@"
    }
    admin_box='box: Scourline Configuration Wizard: Please run Scourline Configuration Wizard as Administrator'
    expect_status "not administrator: status 5" 5 as_plain_user "$prog"
    stderr_has "not administrator: message 150" "$admin_box"
    expect_status "not administrator, components missing: still 5" 5 \
        as_plain_user "$missing/scourline-wizard"
    stderr_has "not administrator, components missing: only message 150" "$admin_box"
    check "no components message" bash -c "! grep -q 'components are missing' '$work/err'"
else
    ok "# SKIP not administrator: needs root and setpriv to become another user"
fi

echo "screenshots in $screenshots"
finish

#!/usr/bin/env bash
# The real wizard under Wine and Xvfb, walked by the shared wizard scripts, then
# the frame's GoogleTest cases on the same display. The automatic route's staged
# tree (kept by a stand-in image maker: Wine cannot wait for a Linux program)
# becomes an image with the wizard's command line and boots in QEMU.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/win_wizard_lib.sh"

prog=$work/prog
wizard_folder "$prog"
title="Scourline Configuration Wizard"
stderr_line() { has_line "$1: $2" "$work/$1.err.txt" "$3"; }

# The sample boot environment, from the shared download cache.
bootenv=1
if bash "$SCOUR_SOURCE/bootenv/build-bootenv.sh" "$work/linux-bin" "${SCOUR_CACHE:-$build_dir/cache}/bootenv" \
    >"$work/bootenv.log" 2>&1; then
    cp -rL "$work/linux-bin/common" "$work/linux-bin/boot" "$prog/"
    cp -L "$work/linux-bin"/iso/* "$prog/iso/"
else
    not_ok "the sample boot environment" "$(tail -n 5 "$work/bootenv.log")"
    bootenv=0
fi

# Browse opens a real folder dialog here and About is the system menu's: left
# out; the title and a device notice on the USB page, added.
wine_reg delete "$reg_key" /f >/dev/null
sed -e '/^click 1019$/d' -e '/^click 16$/,/^click 1$/d' \
    -e "/^answer no\$/i device-change\nexpect enabled 1021 0\ntype 0 Something else\nexpect text 0 $title" \
    "$wizard_scripts/interactive.txt" >"$work/interactive.script"
run_wizard interactive "$prog"
expect_run interactive 2
check "interactive: Cancel asked twice" test "$(grep -cxF "box: $title: Are you sure you want to quit $title?" \
    "$work/interactive.err.txt")" -eq 2
# Wine has no network, so the share test on the log page fails.
check "interactive: the share test's outcome in its box" grep -q '^box: Test failed: ' "$work/interactive.err.txt"
check_not "interactive: nothing stored after Cancel" bash -c "'$WINE' reg query '$reg_key' </dev/null 2>/dev/null | grep -q AutoStart"

run_wizard help "$prog"
expect_run help 2
help=$(win_path "$prog/bootwiz.chm")
stderr_line help "Help on the welcome page opens the contents" "help: $help"
stderr_line help "Help on the start options page opens its topic" \
    "help: $help::HTML_Help_e/html/04_using/ISO Configuration Wizard/02_configuration_for_automatic.htm!"

# The shared automatic route to Finish, in Windows paths (the default image
# path there is a Linux home's: left out).
sed -e '/^expect text 1016 @HOME@/d' -e 's#^type 1016 @HOME@/#type 1016 @WORK@\\\\#' \
    "$wizard_scripts/iso-automatic.txt" >"$work/automatic.txt"
text=$(cat "$work/automatic.txt")
printf '%s\n' "${text//@WORK@/$(script_text "$(win_path "$work")")}" >"$work/automatic.script"
SCOUR_FAKE_MKISOFS_TREE=$(win_path "$work/tree") run_wizard automatic "$prog"
expect_run automatic 1
check "automatic: the stand-in's image was delivered to IsoPath" test -s "$work/wizard.iso"
stderr_line automatic "the destination folder is opened" "explore: $(win_path "$work")"
wine_reg query "$reg_key" >"$work/stored"
for dword in AutoStart:0x1 SelectDisks:0x0 NetLog:0x1 Scheme:0x2 Verify:0x1 ResetHPA:0x1 AtaErase:0x1 \
    ResetDCO:0x0 IsoUsb:0x1 IsoShowFolder:0x1; do
    has_line "Finish stored ${dword/:/ }" "$work/stored" "    ${dword%%:*}    REG_DWORD    ${dword#*:}"
done
has_line "Finish stored IsoPath" "$work/stored" "    IsoPath    REG_SZ    $(win_path "$work/wizard.iso")"
check_not "the password is not stored" grep -qF 'a pass' "$work/stored"

if [ "$bootenv" = 1 ] && [ -f "$work/tree/scour" ]; then
    # The real image maker over the same tree, with the wizard's own arguments.
    mapfile -t args < <(tr -d '\r' <"$prog/mkisofs.log" | sed -n 's/^arg=//p' | tail -n +2)
    mkdir -p "$work/stage" "$work/staged"
    cp -r "$work/tree" "$work/stage/boot"
    check "genisoimage takes the wizard's command line: ${args[*]}" \
        bash -c 'cd "$1" && shift && genisoimage "$@" >/dev/null 2>&1' _ "$work/stage" "${args[@]}"
    # scourline-media's archive for the same choices, member by member (the
    # archives' times are those of their making).
    password="it's \"a pass\" word"
    want_archive "$work/want" --set AutoStart=1 --set SelectDisks=0 \
        --set NetLog=1 --set 'NetShare=\\127.0.0.1\logs' --set 'NetShareIp=\\127.0.0.1\logs' \
        --set 'NetUser=CORP\admin' --set "NetPassword=$password" --set NetAskPassword=0 \
        --set Scheme=2 --set Verify=1 --set ResetHPA=1 --set AtaErase=1
    (cd "$work/staged" && cpio -id --quiet --no-absolute-filenames <"$work/tree/scour")
    check "the wizard staged the archive for its choices" diff -r "$work/want" "$work/staged"
    boot_check wizard-iso iso "$work/stage/scourcd.iso" bios "$work/want" &&
        config_reads wizard-iso "n|y|sch0000002.sch|y|//127.0.0.1/logs|//127.0.0.1/logs|CORP/admin|$password|" \
            USE_SHELL WIPE_ALL_DISKS SCHEME USE_LOGSHARE NET_SHARE NET_SHAREIP NET_USER NET_PASS
else
    not_ok "the staged tree was handed to the image maker" "$(ls -R "$work/tree" 2>&1 | head)"
fi

# The About box alone without the components; a missing component: the message
# and -1, with no registry access; a script expecting what is not there: 3.
mkdir -p "$work/bare"
cp "$SCOUR_BIN/scourline-wizard.exe" "$work/bare/"
run_wizard about-alone "$work/bare" -t -V
expect_run about-alone 0
wine_reg delete "$reg_key" /f >/dev/null
run_wizard one-box "$work/bare"
expect_run one-box 255
stderr_line one-box "message 145" \
    "box: $title: Critical Scourline components are missing.\nPlease reinstall the application."
check_not "one-box: nothing stored" bash -c "'$WINE' reg query '$reg_key' </dev/null 2>/dev/null | grep -q REG_"
printf 'expect page 205\n' >"$work/wrong.script"
run_wizard wrong "$prog"
expect_run wrong 3

# The frame's GoogleTest cases, from the program folder (with the compiled help if built).
cp "$SCOUR_TOOLS/../win32_wizard_frame_test.exe" "$prog/"
chm=$([ -f "$SCOUR_BIN/bootwiz.chm" ] && echo 1)
if SCOUR_TEST_CHM=$chm "$WINE" "$prog/win32_wizard_frame_test.exe" </dev/null 2>&1 | strip_cr >"$work/gtest.txt" &&
    grep -qE '^\[  PASSED  \] [1-9][0-9]* tests?\.' "$work/gtest.txt" && ! grep -q Unhandled "$work/gtest.txt"; then
    ok "the frame's window tests pass"
else
    not_ok "the frame's window tests pass" "$(tail -n 30 "$work/gtest.txt")"
fi
finish

#!/usr/bin/env bash
# The real wizard under Wine and Xvfb, walked by scripts: both routes, Cancel,
# Finish storing the options, help, switches, start-up failures; then the
# frame's GoogleTest cases on the same display. The automatic route's staged
# tree (kept by a stand-in image maker: Wine cannot wait for a Linux program)
# becomes an image with the wizard's command line and boots in QEMU.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/win_wizard_lib.sh"

prog=$work/prog
wizard_folder "$prog"
title="Scourline Configuration Wizard"
# shot NAME PAGE: the script line that keeps a picture of the page.
shot() { printf 'screenshot %s\n' "$(win_path "$work/$1-$2.bmp")"; }
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

# --- Interactive start: the scheme and ATA pages are skipped both ways. -------
wine_reg delete "$reg_key" /f >/dev/null
cat >"$work/interactive.script" <<SCRIPT
expect page 203
expect buttons next
expect text 0 $title
press next
expect page 205
expect visible 1052 0
click 1003
expect enabled 1004 0
expect enabled 1005 0
press next
expect page 213
press next
expect page 208
expect buttons back,next
press back
expect page 213
press next
expect page 208
press next
expect page 209
click 1014
press next
expect page 210
press back
expect page 209
click 1015
press next
expect page 211
expect buttons back
expect enabled 1021 0
device-change
expect page 211
expect enabled 1021 0
type 0 Something else
expect text 0 $title
answer no
press cancel
expect box Are you sure you want to quit Scourline Configuration Wizard?
expect page 211
answer yes
press cancel
SCRIPT
run_wizard interactive "$prog"
expect_run interactive 2
check "interactive: Cancel asked twice" test "$(grep -cxF "box: $title: Are you sure you want to quit $title?" \
    "$work/interactive.err.txt")" -eq 2
check_not "interactive: nothing stored after Cancel" bash -c "'$WINE' reg query '$reg_key' </dev/null 2>/dev/null | grep -q AutoStart"

# --- Automatic start to Finish through the ISO page. ---------------------------
iso=$work/out/scourcd.iso
mkdir -p "$work/out"
cat >"$work/automatic.script" <<SCRIPT
expect page 203
press help
press next
expect page 205
press help
click 1002
expect enabled 1004 1
check 1004 0
expect enabled 1005 1
press next
expect page 213
check 1031 1
press next
expect page 206
select 1006 2
check 1008 1
press next
expect page 207
check 1010 1
check 1011 1
press next
expect page 208
press next
expect page 209
click 1014
press next
expect page 210
type 1016 $(script_text "$(win_path "$iso")")
check 1017 1
press next
expect page 204
expect buttons finish
$(shot automatic 204)
press finish
SCRIPT
SCOUR_FAKE_MKISOFS_TREE=$(win_path "$work/tree") run_wizard automatic "$prog"
expect_run automatic 1
keep_shots automatic
check "automatic: the stand-in's image was delivered to IsoPath" test -s "$iso"
stderr_line automatic "the destination folder is opened" "explore: $(win_path "$work/out")"
help=$(win_path "$prog/bootwiz.chm")
stderr_line automatic "Help on the welcome page opens the contents" "help: $help"
stderr_line automatic "Help on the start options page opens its topic" \
    "help: $help::HTML_Help_e/html/04_using/ISO Configuration Wizard/02_configuration_for_automatic.htm!"
wine_reg query "$reg_key" >"$work/stored"
for dword in AutoStart:0x1 SelectDisks:0x0 NoDelay:0x0 WriteLog:0x1 Scheme:0x2 Verify:0x1 ResetHPA:0x1 \
    AtaErase:0x1 ResetDCO:0x0 IsoUsb:0x1 IsoShowFolder:0x1; do
    has_line "Finish stored ${dword/:/ }" "$work/stored" "    ${dword%%:*}    REG_DWORD    ${dword#*:}"
done
has_line "Finish stored IsoPath" "$work/stored" "    IsoPath    REG_SZ    $(win_path "$iso")"

if [ "$bootenv" = 1 ] && [ -f "$work/tree/scour" ]; then
    # The real image maker over the same tree, with the wizard's own arguments.
    mapfile -t args < <(tr -d '\r' <"$prog/mkisofs.log" | sed -n 's/^arg=//p' | tail -n +2)
    mkdir -p "$work/stage"
    cp -r "$work/tree" "$work/stage/boot"
    check "genisoimage takes the wizard's command line: ${args[*]}" \
        bash -c 'cd "$1" && shift && genisoimage "$@" >/dev/null 2>&1' _ "$work/stage" "${args[@]}"
    # scourline-media's archive for the stored options, from the same program
    # folder (the same scheme catalogue), member by member: the archives'
    # times are those of their making.
    cp "$SCOUR_BIN/scourline-media.exe" "$prog/"
    "$WINE" "$prog/scourline-media.exe" archive "$(win_path "$work/want.scour")" </dev/null >/dev/null 2>&1
    mkdir -p "$work/want" "$work/staged"
    (cd "$work/want" && cpio -id --quiet --no-absolute-filenames <"$work/want.scour")
    (cd "$work/staged" && cpio -id --quiet --no-absolute-filenames <"$work/tree/scour")
    check "the stored options give the archive the wizard staged" diff -r "$work/want" "$work/staged"
    boot_check wizard-iso iso "$work/stage/scourcd.iso" bios "$work/want" &&
        config_reads wizard-iso "n|y|n|y|sch0000002.sch|y|n|y|y|n|" USE_SHELL WIPE_ALL_DISKS USE_NODELAY \
            USE_LOGFILE SCHEME RESET_HPA RESET_DCO ATA_ERASE VERIFY_LAST_PASS USE_LOGSHARE
else
    not_ok "the staged tree was handed to the image maker" "$(ls -R "$work/tree" 2>&1 | head)"
fi

# --- The stored options come back, -T offers the test box, and an image made
# without showing its folder stores that choice and opens nothing. -------------
cat >"$work/again.script" <<SCRIPT
press next
expect page 205
expect checked 1002 1
expect checked 1004 0
expect visible 1052 1
press next
press next
expect page 206
expect checked 1008 1
press next
press next
press next
expect page 209
press next
expect page 210
expect checked 1017 1
check 1017 0
press next
expect page 204
press finish
SCRIPT
run_wizard again "$prog" /t
expect_run again 1
check_not "again: no folder opened" grep -q '^explore:' "$work/again.err.txt"
wine_reg query "$reg_key" >"$work/stored"
has_line "again: Finish stored IsoShowFolder 0x0" "$work/stored" "    IsoShowFolder    REG_DWORD    0x0"
has_line "again: the stored scheme came back to its list" "$work/stored" "    Scheme    REG_DWORD    0x2"

# --- The share test asks for the password in the credentials dialog, which a
# script answers through the dialog's real controls; Wine has no network, so
# the test fails and says why in its box. Loopback only.
cat >"$work/share.script" <<'SCRIPT'
press next
click 1003
press next
expect page 213
click 1032
type 1033 \\\\127.0.0.1\\logs
type 1034 tester
check 1043 0
expect enabled 1035 0
password secret
answer ok
answer ok
click 1039
press next
expect page 208
answer yes
press cancel
SCRIPT
run_wizard share "$prog"
expect_run share 2
check "share: the test's outcome in its box" grep -q '^box: Test failed: ' "$work/share.err.txt"

# --- The About box alone, also without the components. ------------------------
mkdir -p "$work/bare"
cp "$SCOUR_BIN/scourline-wizard.exe" "$work/bare/"
printf 'expect text 1030 Version 2.69 build 582\n%s\nclick 1\n' "$(shot about 100)" >"$work/about.script"
run_wizard about "$work/bare" -t -V
expect_run about 0
keep_shots about

# --- A missing component: the message and -1, with no registry access. --------
wine_reg delete "$reg_key" /f >/dev/null
: >"$work/missing.script"
rm "$prog/iso/isolinux.bin"
run_wizard missing "$prog"
expect_run missing 255
stderr_line missing "message 145" \
    "box: $title: Critical Scourline components are missing.\nPlease reinstall the application."
check_not "missing: nothing stored" bash -c "'$WINE' reg query '$reg_key' </dev/null 2>/dev/null | grep -q REG_"

# --- A script that expects what is not there fails with 3 and says why. --------
printf 'expect page 205\n' >"$work/wrong.script"
wizard_folder "$prog"
run_wizard wrong "$prog"
expect_run wrong 3
check "wrong: the failure is explained" grep -q 'script: line 1: expected' "$work/wrong.err.txt"

# --- The frame's GoogleTest cases, with the compiled help for the viewer. ------
chm=""
[ -f "$SCOUR_BIN/bootwiz.chm" ] && chm=$(win_path "$SCOUR_BIN/bootwiz.chm")
if SCOUR_TEST_CHM=$chm "$WINE" "$SCOUR_TOOLS/../win32_wizard_frame_test.exe" </dev/null 2>&1 | strip_cr >"$work/gtest.txt" &&
    grep -qE '^\[  PASSED  \] [1-9][0-9]* tests?\.' "$work/gtest.txt" && ! grep -q Unhandled "$work/gtest.txt"; then
    ok "the frame's window tests pass"
else
    not_ok "the frame's window tests pass" "$(tail -n 30 "$work/gtest.txt")"
fi
finish

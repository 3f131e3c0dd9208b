#!/usr/bin/env bash
# The real wizard under Wine and Xvfb, walked by scripts: both routes through
# the pages with Back and Next, the jumps by dialog number, Cancel answered No
# and Yes, Finish storing the options in the registry, the fixed title, help
# requests, the switches and the start-up failures. Screenshots of every page
# are kept in the build tree.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/win_wizard_lib.sh"

prog=$work/prog
wizard_folder "$prog"
out=$work/out-folder
mkdir -p "$out"
title="Scourline Configuration Wizard"

# shot NAME PAGE: the script line that keeps a picture of the page.
shot() { printf 'screenshot %s\n' "$(win_path "$work/$1-$2.bmp")"; }

# --- Interactive start: the scheme and ATA pages are skipped both ways. -------
wine_reg delete "$reg_key" /f >/dev/null
cat >"$work/interactive.script" <<SCRIPT
expect page 203
expect buttons next
expect text 0 $title
$(shot interactive 203)
press next
expect page 205
expect visible 1052 0
$(shot interactive 205)
click 1003
expect enabled 1004 0
expect enabled 1005 0
press next
expect page 213
expect text 0 $title
$(shot interactive 213)
press next
expect page 208
expect buttons back,next
$(shot interactive 208)
press back
expect page 213
press next
expect page 208
press next
expect page 209
$(shot interactive 209)
click 1015
press next
expect page 211
expect buttons back
expect enabled 1021 0
$(shot interactive 211)
device-change
expect page 211
expect enabled 1021 0
press back
expect page 209
click 1014
press next
expect page 210
$(shot interactive 210)
press back
expect page 209
type 0 Something else
expect text 0 $title
answer no
press cancel
expect box Are you sure you want to quit Scourline Configuration Wizard?
expect page 209
answer yes
press cancel
SCRIPT
run_wizard interactive "$prog"
expect_run interactive 2
grep -qx "box: $title: Are you sure you want to quit $title?" "$work/interactive.err.txt" &&
    [ "$(grep -c '^box: ' "$work/interactive.err.txt")" -eq 2 ] &&
    ok "interactive: Cancel asked twice" || not_ok "interactive: Cancel asked twice" "$(cat "$work/interactive.err.txt")"
wine_reg query "$reg_key" >"$work/after-cancel"
if grep -q 'AutoStart' "$work/after-cancel"; then
    not_ok "interactive: nothing stored after Cancel" "$(cat "$work/after-cancel")"
else ok "interactive: nothing stored after Cancel"; fi
keep_shots interactive

# --- Automatic start to Finish through the ISO page. ---------------------------
iso=$out/scourcd.iso
cat >"$work/automatic.script" <<SCRIPT
expect page 203
press help
press next
expect page 205
expect text 0 $title
press help
click 1002
expect enabled 1004 1
check 1004 0
expect enabled 1005 1
press next
expect page 213
expect text 0 $title
press next
expect page 206
expect text 0 $title
$(shot automatic 206)
select 1006 2
check 1008 1
press next
expect page 207
expect text 0 $title
$(shot automatic 207)
check 1010 1
check 1011 1
press next
expect page 208
expect text 0 $title
press back
expect page 207
expect text 0 $title
press back
expect page 206
expect text 0 $title
press next
expect page 207
expect text 0 $title
press next
expect page 208
expect text 0 $title
$(shot automatic 208)
press next
expect page 209
expect text 0 $title
click 1014
press next
expect page 210
expect text 0 $title
type 1016 $(script_text "$(win_path "$iso")")
check 1017 0
press next
expect page 204
expect buttons finish
expect text 0 $title
$(shot automatic 204)
press finish
SCRIPT
run_wizard automatic "$prog"
expect_run automatic 1
keep_shots automatic
check "automatic: the image is at IsoPath" test -s "$iso"
help=$(win_path "$prog/bootwiz.chm")
grep -qxF "help: $help" "$work/automatic.err.txt" &&
    ok "automatic: Help on the welcome page opens the contents" ||
    not_ok "automatic: Help on the welcome page opens the contents" "$(cat "$work/automatic.err.txt")"
grep -qxF "help: $help::HTML_Help_e/html/04_using/ISO Configuration Wizard/02_configuration_for_automatic.htm!" \
    "$work/automatic.err.txt" && ok "automatic: Help on the start options page opens its topic" ||
    not_ok "automatic: Help on the start options page opens its topic" "$(cat "$work/automatic.err.txt")"
wine_reg query "$reg_key" >"$work/stored"
for dword in AutoStart:0x1 SelectDisks:0x0 NoDelay:0x0 Scheme:0x2 Verify:0x1 ResetHPA:0x1 \
    AtaErase:0x1 ResetDCO:0x0 IsoUsb:0x1 IsoShowFolder:0x0; do
    name=${dword%%:*} value=${dword#*:}
    grep -qE "^ +$name +REG_DWORD +$value\$" "$work/stored" && ok "Finish stored $name $value" ||
        not_ok "Finish stored $name $value" "$(cat "$work/stored")"
done
want_iso=$(win_path "$iso")
grep -qF "IsoPath    REG_SZ    $want_iso" "$work/stored" && ok "Finish stored IsoPath" ||
    not_ok "Finish stored IsoPath" "$(grep IsoPath "$work/stored")"

# --- The stored options come back, and -T offers the test box. ----------------
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
answer yes
press cancel
SCRIPT
run_wizard again "$prog" /t
expect_run again 2

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
grep -q '^box: Test failed: ' "$work/share.err.txt" &&
    ok "share: the test's outcome in its box" || not_ok "share: the test's outcome in its box" "$(cat "$work/share.err.txt")"

# --- The About box alone, also without the components. ------------------------
bare=$work/bare
mkdir -p "$bare"
cp "$SCOUR_BIN/scourline-wizard.exe" "$bare/"
cat >"$work/about.script" <<SCRIPT
expect text 1030 Version 2.69 build 582
$(shot about 100)
click 1
SCRIPT
run_wizard about "$bare" -t -V
expect_run about 0
keep_shots about

# --- A missing component: the message and -1, with no registry access. --------
wine_reg delete "$reg_key" /f >/dev/null
: >"$work/missing.script"
rm "$prog/iso/isolinux.bin"
run_wizard missing "$prog"
expect_run missing 255
grep -qxF "box: $title: Critical Scourline components are missing.\nPlease reinstall the application." \
    "$work/missing.err.txt" && ok "missing: message 145" || not_ok "missing: message 145" "$(cat "$work/missing.err.txt")"
if wine_reg query "$reg_key" | grep -q REG_; then not_ok "missing: nothing stored"; else
    ok "missing: nothing stored"; fi

# --- A script that expects what is not there fails with 3 and says why. --------
printf 'expect page 205\n' >"$work/wrong.script"
wizard_folder "$prog"
run_wizard wrong "$prog"
expect_run wrong 3
grep -q 'script: line 1: expected' "$work/wrong.err.txt" && ok "wrong: the failure is explained" ||
    not_ok "wrong: the failure is explained" "$(cat "$work/wrong.err.txt")"

finish

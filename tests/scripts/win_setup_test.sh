#!/usr/bin/env bash
# The Windows setup under Wine: a silent install with its files, shortcut and
# uninstall entry; the installed wizard starts; the entry's quiet uninstall keeps
# the user's files and options. The prefix is restored even on failure.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/win_wizard_lib.sh"

version=$(sed -n 's/^project(Scourline VERSION \([0-9.]*\).*/\1/p' "$SCOUR_SOURCE/CMakeLists.txt")
setup=$build_dir/scourline-setup-$version.exe
stage=$build_dir/src/ui/win32/setup/stage
if [ ! -f "$setup" ] || [ ! -d "$stage" ]; then
    not_ok "the Windows build made $setup" "makensis (Debian package nsis) missing at configure time?"
    finish
fi
drive_c=$WINEPREFIX/drive_c
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Scourline'
session_key='HKLM\System\CurrentControlSet\Control\Session Manager'
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Scourline Configuration Wizard.lnk"
default_win='C:\Program Files\Valdane\Scourline'
default_dir="$drive_c/Program Files/Valdane/Scourline"
wine_q() { "$WINE" "$@" </dev/null >/dev/null 2>&1; }

prefix_files() {  # without Wine's own temporary folders
    (cd "$drive_c" && find . -path '*/Temp' -prune -o -path ./windows/temp -prune -o -print | LC_ALL=C sort)
}
# reg_value NAME: one value of the uninstall entry, as "TYPE VALUE".
reg_value() { wine_reg query "$uninstall_key" /v "$1" | sed -n "s/^ *$1 *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p"; }
# The silent uninstaller returns at once, its copy in the temporary folder working on.
wait_uninstalled() {
    for _ in $(seq 120); do
        [ ! -e "$1/uninstall.exe" ] && ! wine_reg query "$uninstall_key" >/dev/null 2>&1 && break
        sleep 0.5
    done
    sleep 1
}
# That copy goes at the next start of Windows (a pending rename): remove both now.
pending_before=$(wine_reg query "$session_key" /v PendingFileRenameOperations)
remove_uninstaller_copies() {
    find "$drive_c/users" -path '*/Temp/~nsu*.tmp' -prune -exec rm -rf {} + 2>/dev/null
    [ -n "$pending_before" ] || wine_q reg delete "$session_key" /v PendingFileRenameOperations /f
}
# Whatever a failed run left: its installations, entry and temporary copies.
cleanup_prefix() {
    wine_q "$default_win\\uninstall.exe" /S && wait_uninstalled "$default_dir"
    rm -rf "$drive_c/Program Files/Valdane" "$shortcut"
    wine_q reg delete "$uninstall_key" /f
    remove_uninstaller_copies
    [ "${options_existed:-1}" -eq 1 ] || wine_q reg delete 'HKCU\SOFTWARE\Valdane\Scourline' /f
}
# ran_with STATUS DESCRIPTION: the last command ended with 0.
ran_with() { if [ "$1" -eq 0 ]; then ok "$2"; else not_ok "$2" "exit status $1" "$(head -c 600 "$work/out")"; fi; }
trap 'cleanup_prefix; stop_display; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT  # a stopped test restores too

cleanup_prefix
prefix_files >"$work/before"
options_existed=0
wine_reg query 'HKCU\SOFTWARE\Valdane\Scourline' >/dev/null && options_existed=1

timeout 300 "$WINE" "$setup" /S </dev/null >"$work/out" 2>&1
ran_with $? "/S installs"
if diff -r -x uninstall.exe "$stage" "$default_dir" >"$work/diff" 2>&1; then ok "every file of the setup, byte for byte"
else not_ok "every file of the setup, byte for byte" "$(head -n 10 "$work/diff")"; fi
check "the Start Menu shortcut starts the wizard" grep -qa 'scourline-wizard.exe' "$shortcut"
while IFS='|' read -r name want; do
    check "entry $name" test "$(reg_value "$name")" = "$want"
done <<TABLE
DisplayVersion|REG_SZ $version
DisplayIcon|REG_SZ $default_win\\scourline-wizard.exe,0
UninstallString|REG_SZ "$default_win\\uninstall.exe"
QuietUninstallString|REG_SZ "$default_win\\uninstall.exe" /S
InstallLocation|REG_SZ $default_win
TABLE
# Stand-ins of the two tools the setup cannot carry, where its finish page says.
cp "$SCOUR_TOOLS/fake_mkisofs.exe" "$default_dir/mkisofs.exe"
cp "$SCOUR_TOOLS/fake_mkisofs.exe" "$default_dir/flash/syslinux.exe"
run_wizard about-alone "$default_dir" /V
expect_run about-alone 0

# The user's stored options, which the uninstall must keep.
wine_q reg add "$reg_key" /v Scheme /t REG_DWORD /d 3 /f
wine_reg query 'HKCU\SOFTWARE\Valdane\Scourline' /s >"$work/options-kept"
quiet=$(reg_value QuietUninstallString | sed -n 's/^REG_SZ "\(.*\)" \/S$/\1/p')
"$WINE" "$quiet" /S </dev/null >"$work/out" 2>&1
ran_with $? "the entry's QuietUninstallString ends with 0"
wait_uninstalled "$default_dir"
left=$(cd "$default_dir" 2>/dev/null && find . -type f | LC_ALL=C sort | tr '\n' ' ')
check "uninstall: every installed file went, the user's two tools stayed ($left)" \
    test "$left" = "./flash/syslinux.exe ./mkisofs.exe "
check "uninstall: the shortcut went" test ! -e "$shortcut"
check_not "uninstall: the entry went" wine_q reg query "$uninstall_key"
wine_reg query 'HKCU\SOFTWARE\Valdane\Scourline' /s >"$work/options-after"
check "uninstall: the stored options stayed, untouched" \
    bash -c 'grep -q "Scheme.*0x3" "$1" && cmp -s "$1" "$2"' _ "$work/options-after" "$work/options-kept"
wine_q reg delete "$reg_key" /v Scheme /f
rm -rf "$drive_c/Program Files/Valdane"
remove_uninstaller_copies
prefix_files >"$work/after"
if diff "$work/before" "$work/after" >"$work/diff"; then ok "the prefix's files are as before"; else
    not_ok "the prefix's files are as before" "$(head -n 20 "$work/diff")"
fi
finish

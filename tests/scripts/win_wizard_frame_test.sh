#!/usr/bin/env bash
# The frame's GoogleTest cases on real windows, which need an X display; with
# the compiled help, where the build made one, for the Help button's viewer.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/win_wizard_lib.sh"

chm=""
[ -f "$SCOUR_BIN/bootwiz.chm" ] && chm=$(win_path "$SCOUR_BIN/bootwiz.chm")
SCOUR_TEST_CHM=$chm "$WINE" "$SCOUR_TOOLS/../win32_wizard_frame_test.exe" </dev/null 2>&1 | strip_cr >"$work/gtest.txt"
status=${PIPESTATUS[0]}
grep -E '^\[ +(OK|FAILED) +\] [A-Za-z]+\.[A-Za-z]+ ' "$work/gtest.txt" | sed 's/^/    /'
if [ "$status" -eq 0 ] && grep -qE '^\[  PASSED  \] [1-9][0-9]* tests?\.' "$work/gtest.txt" &&
    ! grep -qE 'FAILED|Unhandled' "$work/gtest.txt"; then
    ok "the frame's window tests pass"
else
    not_ok "the frame's window tests pass" "$(tail -n 30 "$work/gtest.txt")"
fi
[ -z "$chm" ] || check "Help opened the viewer on the compiled help" grep -q '^help viewer: shown' "$work/gtest.txt"
finish

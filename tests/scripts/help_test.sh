#!/usr/bin/env bash
# The help beside the program: the pages in <bin>/help/ on Linux, bootwiz.chm
# on Windows. Every topic the wizard opens must be there, and every link must
# lead somewhere inside.
. "$(dirname "$0")/lib.sh"
: "${SCOUR_SOURCE:?}"
checker=$SCOUR_SOURCE/tests/scripts/help_check.py

# check_output DESCRIPTION COMMAND...: the failed checks are shown on failure.
check_output() {
    local what=$1; shift
    if "$@" >"$work/out" 2>&1; then ok "$what"; else not_ok "$what" "$(head -c 3000 "$work/out")"; fi
}

if [ -n "$SCOUR_RUNNER" ]; then
    chm=$SCOUR_BIN/bootwiz.chm
    [ -s "$chm" ] || { not_ok "bootwiz.chm is in the program folder"; finish; }
    chmls list "$chm" >"$work/listing" 2>/dev/null
    check_output "bootwiz.chm holds every topic, every page and every index entry" \
        python3 "$checker" chm "$work/listing" "$SCOUR_SOURCE/help" "$SCOUR_SOURCE"
    finish
fi
check_output "help pages in the program folder are complete and sound" \
    python3 "$checker" pages "$SCOUR_BIN/help" "$SCOUR_SOURCE"
# The checker must catch what it is there for: a copy without a topic fails it.
cp -r "$SCOUR_BIN/help" "$work/broken"
rm "$work/broken/HTML_Help_e/html/04_using/ISO Configuration Wizard/05_summary.htm"
python3 "$checker" pages "$work/broken" "$SCOUR_SOURCE" >"$work/broken.out" 2>&1
check "a missing topic is caught" grep -qF "05_summary.htm: topic file is missing" "$work/broken.out"
finish

#!/usr/bin/env bash
# The help beside the program: the pages in <bin>/help/ on Linux, bootwiz.chm
# on Windows. Every topic the wizard opens must be there, and every page must be
# well-formed, self-contained and name the wizard's controls as it shows them.
. "$(dirname "$0")/lib.sh"
: "${SCOUR_SOURCE:?}"

checker=$SCOUR_SOURCE/tests/scripts/help_check.py

# check_output DESCRIPTION COMMAND...: passes when the command succeeds; its
# output (the failed checks) is shown otherwise.
check_output() {
    local what=$1; shift
    if "$@" >"$work/out" 2>&1; then ok "$what"; else not_ok "$what" "$(head -c 3000 "$work/out")"; fi
}

if [ -z "$SCOUR_RUNNER" ]; then
    check_output "help pages in the program folder are complete and sound" \
        python3 "$checker" pages "$SCOUR_BIN/help" "$SCOUR_SOURCE"

    # The checker must catch what it is there for: a broken copy fails it.
    cp -r "$SCOUR_BIN/help" "$work/broken"
    page="$work/broken/HTML_Help_e/html/04_using/ISO Configuration Wizard/07b_usb.htm"
    sed -i -e 's|href="06_choosing_media.htm"|href="06_missing.htm"|' \
        -e 's|"Format and Create"|"Format and Go"|' \
        -e 's|<h1>Bootable USB disk</h1>|<h1><b>Bootable USB disk</h1>|' "$page"
    rm "$work/broken/HTML_Help_e/html/04_using/ISO Configuration Wizard/05_summary.htm"
    echo '<p><img src="https://example.invalid/x.png" alt=""></p>' >>"$work/broken/index.html"
    python3 "$checker" pages "$work/broken" "$SCOUR_SOURCE" >"$work/broken.out" 2>&1
    for want in "06_missing.htm' names a missing file" '"Format and Go" is not a text' \
                "leaves <b> of line" "05_summary.htm: topic file is missing" \
                "index.html: names a remote address"; do
        if grep -qF "$want" "$work/broken.out"; then ok "a broken page is caught: $want"; else
            not_ok "a broken page is caught: $want" "$(head -c 2000 "$work/broken.out")"
        fi
    done
else
    chm=$SCOUR_BIN/bootwiz.chm
    if [ -s "$chm" ]; then
        ok "bootwiz.chm is in the program folder"
        chmls list "$chm" >"$work/listing" 2>/dev/null
        check_output "bootwiz.chm holds every topic, every page and every index entry" \
            python3 "$checker" chm "$work/listing" "$SCOUR_SOURCE/help" "$SCOUR_SOURCE"
    else
        not_ok "bootwiz.chm is in the program folder"
    fi
fi
finish

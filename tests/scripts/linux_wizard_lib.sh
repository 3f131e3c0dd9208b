# shellcheck shell=bash
# shellcheck disable=SC2154 # work and the helpers come from lib.sh
# Shared by the wizard's script tests: run scourline-wizard on the offscreen
# platform with a script from tests/wizard-scripts, screenshots kept in the
# build tree.
: "${SCOUR_SOURCE:?}"
use_scratch_home
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
wizard_scripts=$SCOUR_SOURCE/tests/wizard-scripts
screenshots=$(cd "$SCOUR_BIN/.." && pwd)/tests/screenshots
mkdir -p "$screenshots"

# wizard PROGRAM SCRIPT [ARGS]...: the wizard run by the script (@WORK@ in it
# stands for the test's scratch folder), in the screenshots folder.
wizard() {
    local program=$1 script=$2
    shift 2
    fill_script "$wizard_scripts/$script" "$work/$script" "WORK=$work"
    (cd "$screenshots" &&
        SCOURLINE_WIZARD_SCRIPT=$work/$script \
            SCOURLINE_WIZARD_BOX_SHOTS=$screenshots/${script%.txt}-boxes \
            timeout 300 "$program" "$@")
}

# stderr_has DESCRIPTION LINE: the wizard printed exactly this line on stderr.
stderr_has() {
    if grep -qxF -- "$2" "$work/err"; then ok "$1"; else
        not_ok "$1" "wanted: $2" "$(head -c 800 "$work/err")"
    fi
}

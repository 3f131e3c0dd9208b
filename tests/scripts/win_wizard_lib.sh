# shellcheck shell=bash disable=SC2154,SC2034 # work and the helpers come from lib.sh; the rest is for the tests
# Shared by the wizard's Windows tests, after lib.sh: a display, the build's
# Wine prefix, a program folder with the required components, scripted runs.
: "${SCOUR_SOURCE:?}"
build_dir=$(cd "$SCOUR_BIN/.." && pwd)
wizard_scripts=$SCOUR_SOURCE/tests/wizard-scripts
shots=${SCOUR_WIZARD_SHOTS:-$build_dir/wizard-screenshots}  # kept to be looked at
mkdir -p "$shots" "$work/shots"

# The build's prefix unless the caller's, started after the display: else windowless.
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
    # shellcheck source=tools/wine-env.sh
    . "$SCOUR_SOURCE/tools/wine-env.sh" "$build_dir"
    own_prefix=1
fi
WINE=${WINE:-/usr/lib/wine/wine64}

# A free display number, from a random start: never the one just left.
start_display() {
    local n first=$((90 + RANDOM % 40))
    for n in $(seq "$first" 140) $(seq 90 "$first"); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
        kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ] && export DISPLAY=":$n" && return 0
    done
    return 1
}
stop_display() {  # Wine's desktop process lived on this display: give it time to go
    if [ -n "${xvfb_pid:-}" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; sleep 1; fi
    xvfb_pid=""
}
trap 'stop_display; rm -rf "$work"' EXIT
# tools/test.sh gives the whole Windows run one display; alone, a test makes its own.
if [ -z "${SCOUR_XVFB_PID:-}" ] || [ -z "${DISPLAY:-}" ]; then
    start_display || { not_ok "an X display for the wizard" "$(cat "$work/xvfb.log" 2>/dev/null)"; finish; }
fi
[ -n "$own_prefix" ] && scour_wine_start

# wizard_folder DIR: the wizard with its components (stand-in tools) and help.
wizard_folder() {
    mkdir -p "$1/flash" "$1/iso"
    cp "$SCOUR_BIN/scourline-wizard.exe" "$1/"
    cp -r "$SCOUR_SOURCE/schemes" "$1/"
    cp "$SCOUR_TOOLS/fake_mkisofs.exe" "$1/mkisofs.exe"
    cp "$SCOUR_TOOLS/fake_mkisofs.exe" "$1/flash/syslinux.exe"
    cp /usr/lib/ISOLINUX/isolinux.bin "$1/iso/" 2>/dev/null || printf 'isolinux' >"$1/iso/isolinux.bin"
    cp "$SCOUR_BIN/bootwiz.chm" "$1/" 2>/dev/null || printf 'ITSF' >"$1/bootwiz.chm"
}

# run_wizard NAME FOLDER [ARGS...]: the wizard from FOLDER run by $work/NAME.script,
# else wizard-scripts/NAME.txt, for a minute at most; the status in $status, stderr
# in $work/NAME.err.txt, screenshots (bitmaps) as PNG.
run_wizard() {
    local name=$1 folder=$2 script=$work/$1.script f
    shift 2
    [ -f "$script" ] || script=$wizard_scripts/$name.txt
    (cd "$work/shots" && SCOURLINE_WIZARD_SCRIPT=$(win_path "$script") timeout 60 \
        "$WINE" "$folder/scourline-wizard.exe" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err")
    status=$?
    tr -d '\r' <"$work/$name.err" >"$work/$name.err.txt"
    for f in "$work"/shots/*; do
        [ -e "$f" ] && { convert "bmp:$f" "$shots/win-${f##*/}" 2>/dev/null || mv "$f" "$shots/win-${f##*/}"; } && rm -f "$f"
    done
}
# expect_run NAME STATUS: the run ended with STATUS (cut to 8 bits).
expect_run() {
    if [ "$status" -eq "$2" ]; then ok "$1: exit status $2"; else
        not_ok "$1: exit status $2" "exit status $status" "$(head -c 1500 "$work/$1.err.txt")"
    fi
}
reg_key='HKCU\SOFTWARE\Valdane\Scourline\Data'
wine_reg() { "$WINE" reg "$@" </dev/null 2>/dev/null | tr -d '\r'; }

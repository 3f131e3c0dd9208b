# Shared by the wizard's Windows tests: a display of their own, the build's Wine
# prefix, a program folder with the required components, and scripted runs.
# Sourced after lib.sh.

: "${SCOUR_SOURCE:?}"
build_dir=$(cd "$SCOUR_BIN/.." && pwd)
# Screenshots stay in the build tree to be looked at.
shots=${SCOUR_WIZARD_SHOTS:-$build_dir/wizard-screenshots}
mkdir -p "$shots"

# The build's prefix, unless the caller (tools/test.sh) has set one up already.
# It is started once the display is there (below): a new prefix set up without
# a display leaves every later wizard without a window, ending with status 0.
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
    # shellcheck source=tools/wine-env.sh
    . "$SCOUR_SOURCE/tools/wine-env.sh" "$build_dir"
    own_prefix=1
fi
WINE=${WINE:-/usr/lib/wine/wine64}

# A display of our own: a free number from 90 on, starting at a random one so
# that a test never takes over the number its predecessor just left.
start_display() {
    local n first=$((90 + RANDOM % 40))
    for n in $(seq "$first" 140) $(seq 90 "$first"); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        local i
        for i in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        if kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
            export DISPLAY=":$n"
            return 0
        fi
    done
    return 1
}
stop_display() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
    # Wine's desktop process of the prefix lived on this display: give it time
    # to go before the next test starts one on its own display.
    sleep 1
}
trap 'stop_display; rm -rf "$work"' EXIT
# tools/test.sh gives the whole Windows run one display; alone, a test makes its own.
if [ -n "${SCOUR_XVFB_PID:-}" ] && [ -n "${DISPLAY:-}" ]; then
    :
elif ! start_display; then
    not_ok "an X display for the wizard" "$(cat "$work/xvfb.log" 2>/dev/null)"
    finish
fi
[ -n "$own_prefix" ] && scour_wine_start

# wizard_folder DIR: a program folder with the wizard, the schemes, a stand-in
# image maker and boot loader installer, isolinux.bin and a help file.
wizard_folder() {
    local dir=$1
    mkdir -p "$dir/flash" "$dir/iso"
    cp "$SCOUR_BIN/scourline-wizard.exe" "$dir/"
    cp -r "$SCOUR_SOURCE/schemes" "$dir/"
    cp "$SCOUR_TOOLS/fake_mkisofs.exe" "$dir/mkisofs.exe"
    cp "$SCOUR_TOOLS/fake_mkisofs.exe" "$dir/flash/syslinux.exe"
    if [ -f /usr/lib/ISOLINUX/isolinux.bin ]; then
        cp /usr/lib/ISOLINUX/isolinux.bin "$dir/iso/"
    else
        printf 'isolinux' >"$dir/iso/isolinux.bin"
    fi
    if [ -f "$SCOUR_BIN/bootwiz.chm" ]; then
        cp "$SCOUR_BIN/bootwiz.chm" "$dir/"
    else
        printf 'ITSF' >"$dir/bootwiz.chm"
    fi
}

# run_wizard NAME FOLDER [ARGS...]: runs the wizard from FOLDER with the
# script $work/NAME.script; the exit status lands in $status, stderr in
# $work/NAME.err. A stuck wizard is ended after a minute.
run_wizard() {
    local name=$1 folder=$2
    shift 2
    SCOURLINE_WIZARD_SCRIPT=$work/$name.script timeout 60 "$WINE" "$folder/scourline-wizard.exe" \
        "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
    status=$?
    tr -d '\r' <"$work/$name.err" >"$work/$name.err.txt"
}

# expect_run NAME STATUS: the run ended with STATUS (Wine cuts it to 8 bits).
expect_run() {
    local name=$1 want=$2
    if [ "$status" -eq "$want" ]; then ok "$name: exit status $want"; else
        not_ok "$name: exit status $want" "exit status $status" "$(head -c 1500 "$work/$name.err.txt")"
    fi
}

# A host path as the wizard sees it, for scripts.
win_path() { printf 'Z:%s' "${1//\//\\}"; }

# keep_shots NAME: converts the run's screenshots to PNG beside the others.
keep_shots() {
    local f
    for f in "$work"/"$1"-*.bmp; do
        [ -e "$f" ] || continue
        convert "$f" "$shots/$(basename "${f%.bmp}").png" 2>/dev/null || cp "$f" "$shots/"
    done
}

reg_key='HKCU\SOFTWARE\Valdane\Scourline\Data'
wine_reg() { "$WINE" reg "$@" </dev/null 2>/dev/null | tr -d '\r'; }

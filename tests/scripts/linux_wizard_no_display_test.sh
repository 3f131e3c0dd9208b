#!/usr/bin/env bash
# Without a usable display the wizard says so on stderr and ends with status 0
# (no window was shown), instead of being aborted by the toolkit; -V too.
. "$(dirname "$0")/lib.sh"

use_scratch_home
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
prog=$SCOUR_BIN/scourline-wizard

# A display number nobody serves: no socket, no lock file.
free_display=""
for n in $(seq 171 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        free_display=":$n"
        break
    fi
done
[ -n "$free_display" ] || { not_ok "a display number nobody serves"; finish; }

# no_window WHAT ENV... -- ARGS...: the wizard with exactly these display
# variables ends at once with status 0 and the message.
no_window() {
    local what=$1 start elapsed status
    shift
    local envs=()
    while [ "$1" != "--" ]; do envs+=("$1"); shift; done
    shift
    start=$(date +%s%N)
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE \
        -u SCOURLINE_WIZARD_SCRIPT "${envs[@]}" timeout 60 "$prog" "$@" \
        </dev/null >"$work/out" 2>"$work/err"
    status=$?
    elapsed=$((($(date +%s%N) - start) / 1000000))
    if [ "$status" -eq 0 ] && grep -q '^scourline-wizard: no usable display' "$work/err" &&
        [ "$elapsed" -lt 10000 ]; then
        ok "$what: status 0 and the message ($elapsed ms)"
    else
        not_ok "$what: status 0 and the message" "status $status after $elapsed ms" \
            "$(head -c 800 "$work/err")"
    fi
}

no_window "no display at all" --
no_window "no display at all, -V" -- -V
no_window "a display nobody serves" "DISPLAY=$free_display" --
no_window "a display nobody serves, -V" "DISPLAY=$free_display" -- -V
no_window "a display nobody serves, X11 session" "DISPLAY=$free_display" XDG_SESSION_TYPE=x11 -- /T
no_window "xcb asked for, no server" "DISPLAY=$free_display" QT_QPA_PLATFORM=xcb --
no_window "a Wayland display nobody serves" WAYLAND_DISPLAY=scourline-nowhere \
    XDG_SESSION_TYPE=wayland --
no_window "a Wayland display nobody serves, Wayland asked for" WAYLAND_DISPLAY=scourline-nowhere \
    QT_QPA_PLATFORM=wayland --
check "the message names the display" grep -q "DISPLAY=(unset)" "$work/err"

finish

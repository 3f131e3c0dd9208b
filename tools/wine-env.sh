# Sourced: a Wine prefix of the build's own, headless, that never writes into
# the real home. Usage: . tools/wine-env.sh BUILD_DIR
_scour_build=${1:?build folder}
export WINEPREFIX="$_scour_build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
export WINE=/usr/lib/wine/wine64
unset DISPLAY

scour_wine_start() {
    mkdir -p "$WINEPREFIX"
    # A persistent server, started before any wine process and detached from our
    # pipes; otherwise services started from inside ctest keep its pipes open.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    "$WINE" wineboot --init </dev/null >/dev/null 2>&1
    # A new prefix links Documents, Desktop, ... to $HOME: make them plain folders
    # so that no test writes into the real home.
    find "$WINEPREFIX/drive_c/users" -mindepth 2 -maxdepth 2 -type l 2>/dev/null |
        while read -r link; do rm -f "$link" && mkdir -p "$link"; done
    if [ ! -f "$WINEPREFIX/.scour-configured" ]; then
        # Xvfb has no window manager: without this every window hide waits 2 s.
        "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
            </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/.scour-configured"
    fi
}

# One X display for every Wine process of a run. Wine's desktop process lives
# on the display of the first window it serves; a display that goes away under
# it leaves later programs of the prefix with a wrong exit status.
scour_display_start() {
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        SCOUR_XVFB_PID=$!
        local i
        for i in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        if kill -0 "$SCOUR_XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
            export DISPLAY=":$n" SCOUR_XVFB_PID
            return 0
        fi
    done
    return 1
}

scour_display_stop() {
    [ -n "${SCOUR_XVFB_PID:-}" ] && kill "$SCOUR_XVFB_PID" 2>/dev/null
    SCOUR_XVFB_PID=""
}

scour_wine_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
}

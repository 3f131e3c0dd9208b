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

scour_wine_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
}

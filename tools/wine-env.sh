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
    local fresh=0
    [ -f "$WINEPREFIX/system.reg" ] || fresh=1
    mkdir -p "$WINEPREFIX"
    # A persistent server, started before any wine process and detached from our
    # pipes; otherwise services started from inside ctest keep its pipes open.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    "$WINE" wineboot --init </dev/null >/dev/null 2>&1
    if [ "$fresh" = 1 ]; then
        # The new prefix links Documents, Desktop, ... to $HOME: make them plain folders.
        local users="$WINEPREFIX/drive_c/users/$USER"
        [ -d "$users" ] || users=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
        if [ -n "$users" ]; then
            find "$users" -maxdepth 1 -type l | while read -r link; do
                rm -f "$link" && mkdir -p "$link"
            done
        fi
        "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1 || true
        wineserver -w </dev/null >/dev/null 2>&1 || true
        wineserver -p </dev/null >/dev/null 2>&1 || true
    fi
}

scour_wine_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
}

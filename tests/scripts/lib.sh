# shellcheck shell=bash
# Shared by the script tests: checks counted, "N passed, N failed" at the end.
set -uo pipefail

: "${SCOUR_BIN:?}" "${SCOUR_SCRATCH:?}"
SCOUR_RUNNER=${SCOUR_RUNNER:-}
passed=0 failed=0
mkdir -p "$SCOUR_SCRATCH"
work=$(mktemp -d "$SCOUR_SCRATCH/$(basename "$0" .sh).XXXXXX")
trap 'rm -rf "$work"' EXIT

# Under Wine every test shares the prefix's registry: each starts as a first run.
[ -z "$SCOUR_RUNNER" ] || "$SCOUR_RUNNER" reg delete 'HKCU\SOFTWARE\Valdane\Scourline\Data' /f </dev/null >/dev/null 2>&1
media() {
    if [ -n "$SCOUR_RUNNER" ]; then "$SCOUR_RUNNER" "$SCOUR_BIN/scourline-media.exe" "$@"; else "$SCOUR_BIN/scourline-media" "$@"; fi
}

boot_tools=${SCOUR_SOURCE:-}/tests/boot

# Nothing of the real home, stored options or temporary folder is used.
use_scratch_home() {
    export HOME=$work/home XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp
    mkdir -p "$HOME/Documents" "$XDG_CONFIG_HOME" "$TMPDIR"
}

# A host path as the program under test sees it (Z:\... under Wine).
host_path() { if [ -n "$SCOUR_RUNNER" ]; then win_path "$1"; else printf '%s' "$1"; fi; }

# Script text reads \\ as one backslash: doubled, any path reads back as it is.
script_text() { printf '%s' "${1//\\/\\\\}"; }

ok() { passed=$((passed + 1)); echo "ok - $1"; }
not_ok() { failed=$((failed + 1)); echo "not ok - $1"; [ $# -gt 1 ] && printf '    %s\n' "${@:2}"; return 0; }
# check / check_not DESCRIPTION COMMAND...: passes when the command succeeds / fails.
check() { if "${@:2}"; then ok "$1"; else not_ok "$1"; fi; }
check_not() { if "${@:2}"; then not_ok "$1"; else ok "$1"; fi; }
# expect_status DESCRIPTION STATUS COMMAND...: stdout in $work/out, stderr in $work/err.
expect_status() {
    local what=$1 want=$2; shift 2
    "$@" >"$work/out" 2>"$work/err"
    local got=$?
    if [ "$got" -eq "$want" ]; then ok "$what"; else
        not_ok "$what" "exit status $got, expected $want" "$(head -c 600 "$work/err")"
    fi
}
# has_line DESCRIPTION FILE LINE: FILE (CRs dropped) holds exactly this line.
has_line() {
    if tr -d '\r' <"$2" | grep -qxF -- "$3"; then ok "$1"; else
        not_ok "$1" "wanted: $3" "$(head -c 800 "$2")"
    fi
}
strip_cr() { tr -d '\r'; }
# A host path as the wizard sees it under Wine.
win_path() { printf 'Z:%s' "${1//\//\\}"; }

# program_copy NAME PROGRAM [SKIP]...: a program folder $work/NAME, PROGRAM
# copied (its folder is where the file lies), the rest linked except SKIP.
program_copy() {
    local dir=$work/$1 program=$2 f name
    shift 2
    mkdir -p "$dir"
    for f in "$SCOUR_BIN"/*; do
        name=${f##*/}
        [ "$name" = "$program" ] || [[ " $* " == *" $name "* ]] || ln -s "$f" "$dir/"
    done
    cp "$SCOUR_BIN/$program" "$dir/"
    printf '%s' "$dir"
}

# want_archive DIR ARGS...: DIR holds the members of `scourline-media ARGS archive`.
want_archive() {
    local dir=$1; shift
    expect_status "archive for the same options" 0 media "$@" archive "$(host_path "$dir.scour")"
    mkdir -p "$dir" && (cd "$dir" && cpio -id --quiet --no-absolute-filenames <"$dir.scour")
}

# boot_check LABEL KIND MEDIUM FIRMWARE WANT [PREFIX...]: boots the medium
# (through PREFIX, e.g. ip netns exec NS); Linux must receive WANT's files and,
# on BIOS (the only VGA text to read), show the banner. Report in $got.
boot_check() {
    local label=$1 kind=$2 medium=$3 firmware=$4 want=$5
    shift 5
    got=$work/boot-$label
    if ! "$@" bash "$boot_tools/boot-medium.sh" "$kind" "$medium" "$got.log" "$firmware" >"$work/boot.out" 2>&1; then
        not_ok "$label boots" "$(tail -n 5 "$work/boot.out")"
        return 1
    fi
    ok "$label boots: $(sed -n 's/.* booted \((.*)\) and powered off in /\1 in /p' "$work/boot.out")"
    if ! python3 "$boot_tools/extract-boot-log.py" "$got.log" "$got" 2>"$work/boot.err"; then
        not_ok "$label: the boot report reads back" "$(cat "$work/boot.err")"
        return 1
    fi
    check "$label: Linux received the archive's files, byte for byte" diff -r "$want" "$got/files"
    [ "$firmware" != bios ] || check "$label: the banner was on the screen" \
        grep -qF "Scourline v.2.69 - Whole Hard Drive Wiping Utility" "$got/screen.txt"
}

# config_reads LABEL WANT VAR...: a shell sourcing the received wipe_config reads VAR... as WANT (a|b|).
config_reads() {
    local label=$1 want=$2 read_back
    shift 2
    # shellcheck disable=SC2016 # expanded by the inner shell
    read_back=$(env -i bash -c 'source <(tr -d "\0" <"$1"); shift; for v; do printf "%s|" "${!v}"; done' \
        _ "$got/files/wipe_config" "$@" 2>/dev/null)
    if [ "$read_back" = "$want" ]; then ok "$label: wipe_config reads back"; else
        not_ok "$label: wipe_config reads back" "got:  $read_back" "want: $want"
    fi
}

# as_nobody HOME COMMAND...: as uid 65534 (when root), in a clean environment under HOME.
as_nobody() {
    local home=$1 become=()
    shift
    [ "$(id -u)" -ne 0 ] || become=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" TMPDIR="$home/tmp" \
        XDG_RUNTIME_DIR="$home/runtime" LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        LSAN_OPTIONS="suppressions='${SCOUR_SOURCE:-}/tests/lsan.supp'" "${become[@]}" timeout 300 "$@"
}

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit $?
}

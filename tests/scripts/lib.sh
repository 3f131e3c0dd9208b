# Shared by the script tests: run the real programs, count checks, print the
# closing "N passed, N failed" line, and fail the test on any failed check.
set -uo pipefail

: "${SCOUR_BIN:?}" "${SCOUR_SCRATCH:?}"
SCOUR_RUNNER=${SCOUR_RUNNER:-}
exe=""
[ -n "$SCOUR_RUNNER" ] && exe=".exe"

passed=0
failed=0
mkdir -p "$SCOUR_SCRATCH"
work=$(mktemp -d "$SCOUR_SCRATCH/$(basename "$0" .sh).XXXXXX")
trap 'rm -rf "$work"' EXIT

# Under Wine the stored options live in the prefix's registry, which every test
# of the run shares: each script test starts as a first run, whatever an
# earlier test stored.
if [ -n "$SCOUR_RUNNER" ]; then
    "$SCOUR_RUNNER" reg delete 'HKCU\SOFTWARE\Valdane\Scourline\Data' /f </dev/null >/dev/null 2>&1
fi

# scourline-media with its arguments; stdout and stderr go where the caller says.
media() {
    if [ -n "$SCOUR_RUNNER" ]; then
        "$SCOUR_RUNNER" "$SCOUR_BIN/scourline-media$exe" "$@"
    else
        "$SCOUR_BIN/scourline-media" "$@"
    fi
}

# The boot-test tools and the banner line the sample boot environment shows.
boot_tools=${SCOUR_SOURCE:-}/tests/boot
banner="Scourline v.2.69 - Whole Hard Drive Wiping Utility"

# Nothing of the real home, stored options or temporary folder is used.
use_scratch_home() {
    export HOME=$work/home XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp
    mkdir -p "$HOME/Documents" "$XDG_CONFIG_HOME" "$TMPDIR"
}

# A host path as the program under test sees it (Z:\... under Wine).
host_path() {
    if [ -n "$SCOUR_RUNNER" ]; then
        printf 'Z:%s' "${1//\//\\}"
    else
        printf '%s' "$1"
    fi
}

# script_text TEXT: TEXT written as a wizard script's TEXT argument (type,
# expect text, expect box, password), which reads \n as a line break and \\ as
# one backslash: every backslash doubled, so any path reads back as it is.
# Screenshot file names are taken as written and stay as they are.
script_text() { printf '%s' "${1//\\/\\\\}"; }

# fill_script SOURCE DEST NAME=VALUE...: the wizard script SOURCE with every
# @NAME@ replaced by VALUE as script text, written to DEST.
fill_script() {
    local source=$1 dest=$2 text pair value
    shift 2
    text=$(cat "$source"; printf x)
    text=${text%x}
    for pair in "$@"; do
        value=$(script_text "${pair#*=}")
        text=${text//"@${pair%%=*}@"/"$value"}
    done
    printf '%s' "$text" >"$dest"
}

ok() { passed=$((passed + 1)); echo "ok - $1"; }
not_ok() { failed=$((failed + 1)); echo "not ok - $1"; [ $# -gt 1 ] && printf '    %s\n' "${@:2}"; return 0; }

# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
    local what=$1; shift
    if "$@"; then ok "$what"; else not_ok "$what"; fi
}

# expect_status DESCRIPTION STATUS COMMAND...
expect_status() {
    local what=$1 want=$2; shift 2
    "$@" >"$work/out" 2>"$work/err"
    local got=$?
    if [ "$got" -eq "$want" ]; then ok "$what"; else
        not_ok "$what" "exit status $got, expected $want" "$(head -c 600 "$work/err")"
    fi
}

# Output without the CR that Windows consoles add.
strip_cr() { tr -d '\r'; }

# same_delivery LABEL WANT GOT: the files Linux received (GOT) are the
# archive's files (WANT), the same names and the same bytes. LABEL prefixes
# the two checks (may be empty).
same_delivery() {
    local label=${1:+$1: } want=$2 got=$3 want_list got_list f bad=""
    want_list=$(cd "$want" && find . -type f | sort)
    got_list=$(cd "$got" && find . -type f | sort)
    if [ "$want_list" = "$got_list" ]; then ok "${label}Linux received the archive's files"; else
        not_ok "${label}Linux received the archive's files" "want: ${want_list//$'\n'/ }" \
            "got: ${got_list//$'\n'/ }"
    fi
    for f in $want_list; do cmp -s "$want/$f" "$got/$f" || bad+=" $f"; done
    if [ -z "$bad" ]; then ok "${label}byte for byte"; else not_ok "${label}byte for byte" "differ:$bad"; fi
}

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit $?
}

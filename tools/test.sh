#!/usr/bin/env bash
# Runs every test: the Linux build (with sanitizers) natively, then the Windows
# build under Wine. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cd "$root"

bash tools/setup-debian.sh

summary=()
phases=()
phase_start=$SECONDS
# Each phase's time goes into the summary, to see where a run's time goes.
phase() {
    phases+=("$1: $((SECONDS - phase_start)) s")
    phase_start=$SECONDS
}
total_pass=0
total_fail=0

run_ctest() {
    local label=$1 dir=$2 log
    log="$dir/ctest.log"
    set +e
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 900) 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    set -e
    local line ran failed
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
    ran=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$line")
    failed=$(sed -nE 's/.*tests passed, ([0-9]+) tests failed.*/\1/p' <<<"$line")
    if [ -z "$ran" ] || [ "$ran" -eq 0 ]; then
        echo "$label: no test ran" >&2
        summary+=("$label: NO TESTS RAN")
        total_fail=$((total_fail + 1))
        return 1
    fi
    total_pass=$((total_pass + ran - failed))
    total_fail=$((total_fail + failed))
    summary+=("$label: $((ran - failed)) of $ran passed")
    [ "$rc" -eq 0 ]
}

status=0

# The disk helper refuses to run from a folder that other users may change
# (its tests then fail): say so at once when the checkout lies in one.
d=$root
while [ "$d" != / ]; do
    mode=$(stat -c %a "$d")
    if [ $((8#$mode & 8#022)) -ne 0 ] && [ $((8#$mode & 8#1000)) -eq 0 ]; then
        echo "warning: $d may be changed by other users: the disk helper tests will fail" >&2
    fi
    d=$(dirname "$d")
done

echo "=== Linux build (sanitizers on) ==="
cmake -S . -B build/test-linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCOUR_SANITIZE=ON \
    -DSCOUR_CACHE_DIR="$root/build/cache" >/dev/null
ninja -C build/test-linux -j "$jobs"
phase "Linux build"
# The Debian package, built once here and installed by its test in the run.
echo "=== Debian package ==="
if deb=$(SCOUR_PACKAGE_DIR="$root/build/package" SCOUR_CACHE_DIR="$root/build/cache" \
    tools/package.sh deb | tail -n 1); then
    export SCOUR_DEB=$deb
else
    export SCOUR_DEB_ERROR="$root/build/package/deb/build.log"
fi
phase "Debian package"
run_ctest "Linux" build/test-linux || status=1
phase "Linux tests"

echo "=== Windows build, tests under Wine ==="
cmake -S . -B build/test-windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-posix.cmake" -DSCOUR_CACHE_DIR="$root/build/cache" >/dev/null
ninja -C build/test-windows -j "$jobs"
phase "Windows build"
# shellcheck source=tools/wine-env.sh
. tools/wine-env.sh "$root/build/test-windows"
trap 'scour_wine_stop; scour_display_stop' EXIT
scour_display_start || echo "no X display for the Windows window tests" >&2
scour_wine_start
run_ctest "Windows (Wine)" build/test-windows || status=1
scour_wine_stop
phase "Windows tests"

echo
echo "=== Summary ==="
printf '%s\n' "${summary[@]}"
printf '%s\n' "${phases[@]}"
echo "$total_pass passed, $total_fail failed"
exit "$status"

#!/usr/bin/env bash
# Line and branch coverage of src/ by the Linux tests: builds the tree with
# gcov instrumentation in build/coverage (no sanitizers), runs every Linux
# test there, and prints gcovr's summary (lines and branches of src/ only).
# Installs gcovr when it is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if ! command -v gcovr >/dev/null; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gcovr
fi
out=build/coverage
# No compiler cache: each object carries the path of its counts, and a cached
# object made in another checkout would write them there.
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSCOUR_SANITIZE=OFF \
    -DSCOUR_CACHE_DIR="$root/build/cache" \
    -DCMAKE_CXX_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER_LAUNCHER= \
    -DCMAKE_CXX_FLAGS="--coverage" -DCMAKE_C_FLAGS="--coverage" \
    -DCMAKE_EXE_LINKER_FLAGS="--coverage" >/dev/null
ninja -C "$out" -j "$(nproc)"
find "$out" -name '*.gcda' -delete
# A failing test still counts what it ran; the figure is what matters here.
(cd "$out" && ctest -j "$(nproc)" --timeout 900 >ctest.log 2>&1) || echo "coverage: some tests failed (see $out/ctest.log)" >&2
# Counts are looked for in the coverage build only (a Wine prefix elsewhere in
# build/ links to the whole file system).
gcovr --root "$root" --object-directory "$out" --filter "$root/src/" \
    --exclude-unreachable-branches --print-summary -o "$out/coverage.txt" "$out"

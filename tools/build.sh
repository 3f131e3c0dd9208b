#!/usr/bin/env bash
# Builds the Linux program folder at build/linux/bin (and, with --windows, the
# Windows one at build/windows/bin).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

cmake -S "$root" -B "$root/build/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSCOUR_CACHE_DIR="$root/build/cache" -DSCOUR_TESTS=OFF >/dev/null
ninja -C "$root/build/linux" -j "$jobs"

if [ "${1:-}" = "--windows" ]; then
    cmake -S "$root" -B "$root/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-posix.cmake" -DSCOUR_TESTS=OFF >/dev/null
    ninja -C "$root/build/windows" -j "$jobs"
fi

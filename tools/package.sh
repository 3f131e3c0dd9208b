#!/usr/bin/env bash
# Builds the installable packages.
#   tools/package.sh deb       the Debian package (build/package/deb/)
#   tools/package.sh windows   the Windows setup (build/package/windows/)
# The last line printed is the path of the package. Options come from the
# environment: SCOUR_PACKAGE_DIR (where to build, default build/package) and
# SCOUR_CACHE_DIR (the downloads kept between builds, default build/cache).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${SCOUR_PACKAGE_DIR:-$root/build/package}
export SCOUR_CACHE_DIR=${SCOUR_CACHE_DIR:-$root/build/cache}
mkdir -p "$out" "$SCOUR_CACHE_DIR"
out=$(cd "$out" && pwd)
version=$(sed -n 's/^project(Scourline VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

# copy_tree DEST: the source tree as it stands (uncommitted changes included,
# build folders and VCS data left out). Unchanged files keep their times, so
# the build folder kept in DEST rebuilds only what changed.
copy_tree() {
    mkdir -p "$1"
    # Only the build folder stays: debhelper's records of finished steps go,
    # so every step runs again on the new sources.
    rsync -a --delete --exclude=/build/ --exclude=/.git --exclude='/obj-*/' "$root/" "$1/"
}

case ${1:-} in
deb)
    src=$out/deb/scourline-$version
    copy_tree "$src"
    # CMake keeps the compiler flags of its first run: a fresh cache takes
    # today's from debian/rules, and ninja rebuilds what they change.
    rm -f "$src"/obj-*/CMakeCache.txt
    rm -f "$out"/deb/scourline_* "$out"/deb/scourline-dbgsym_*
    # -nc: the build folder of the last run is reused; dh_prep still starts
    # the package's files afresh.
    (cd "$src" && DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-"nocheck parallel=$(nproc)"} \
        dpkg-buildpackage -b -us -uc -nc) >"$out/deb/build.log" 2>&1 || {
        tail -n 40 "$out/deb/build.log" >&2
        echo "package: the Debian package did not build (log: $out/deb/build.log)" >&2
        exit 1
    }
    deb=$out/deb/scourline_${version}_amd64.deb
    [ -f "$deb" ] || { echo "package: no $deb" >&2; exit 1; }
    echo "$deb"
    ;;
windows)
    build=$out/windows/build
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-posix.cmake" -DSCOUR_TESTS=OFF \
        -DSCOUR_CACHE_DIR="$SCOUR_CACHE_DIR" ${SCOUR_WINDOWS_TOOLS:+-DSCOUR_WINDOWS_TOOLS="$SCOUR_WINDOWS_TOOLS"} \
        >"$out/windows.log" 2>&1 || { tail -n 20 "$out/windows.log" >&2; exit 1; }
    ninja -C "$build" -j "$(nproc)" >>"$out/windows.log" 2>&1 || {
        tail -n 40 "$out/windows.log" >&2
        echo "package: the Windows build failed (log: $out/windows.log)" >&2
        exit 1
    }
    setup=$build/scourline-setup-$version.exe
    [ -f "$setup" ] || { echo "package: no $setup (is makensis installed? tools/setup-debian.sh)" >&2; exit 1; }
    echo "$setup"
    ;;
*)
    echo "usage: $0 deb|windows" >&2
    exit 2
    ;;
esac

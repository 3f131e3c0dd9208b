#!/usr/bin/env bash
# shellcheck disable=SC2016 # $INSTDIR in the include files is for makensis
# Makes the Windows setup: stages the Windows program folder (the build's
# programs, schemes and help file, the sample boot environment, and the
# user's mkisofs.exe and flash\syslinux.exe when a folder of them is given),
# lists its files for the installer and the uninstaller, and runs makensis.
# Nothing is redone when the staged files and the script are unchanged.
#
# Usage: make-setup.sh MAKENSIS BIN_DIR BOOTENV_SCRIPT CACHE_DIR WORK_DIR VERSION OUTFILE [TOOLS_DIR]
set -euo pipefail
if [ $# -lt 7 ]; then
    echo "usage: $0 MAKENSIS BIN_DIR BOOTENV_SCRIPT CACHE_DIR WORK_DIR VERSION OUTFILE [TOOLS_DIR]" >&2
    exit 2
fi
makensis=$1 bin=$2 bootenv=$3 cache=$4 work=$5 version=$6 outfile=$7 tools=${8:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
art=$(cd "$here/../../../../art" && pwd)

die() {
    echo "make-setup: $*" >&2
    exit 1
}

mkdir -p "$work"
stage=$work/stage
rm -rf "$stage.new"
mkdir -p "$stage.new"

# The boot files are those of the Linux program folder, made by the same
# script; its Linux-only outputs (the flash/syslinux program, the mkisofs
# link) are left out.
bash "$bootenv" "$work/bootenv" "$cache" >"$work/bootenv.log" 2>&1 ||
    die "the sample boot environment did not build: $(tail -n 5 "$work/bootenv.log")"
for d in common iso boot; do
    cp -r "$work/bootenv/$d" "$stage.new/"
done
mkdir -p "$stage.new/flash"
for f in "$work/bootenv/flash"/*; do
    [ "${f##*/}" = syslinux ] || cp "$f" "$stage.new/flash/"
done

for f in scourline-wizard.exe scourline-media.exe bootwiz.chm; do
    [ -f "$bin/$f" ] || die "$bin/$f is missing"
    cp "$bin/$f" "$stage.new/"
done
cp -r "$bin/schemes" "$stage.new/"

if [ -n "$tools" ]; then
    [ -f "$tools/mkisofs.exe" ] || die "$tools holds no mkisofs.exe"
    [ -f "$tools/flash/syslinux.exe" ] || die "$tools holds no flash/syslinux.exe"
    # The whole folder: a Windows mkisofs often needs a DLL beside it.
    cp -r "$tools"/. "$stage.new/"
fi

# Include files: install each staged file, and delete exactly those again
# (deepest folders first, so each folder is empty when its turn comes).
files=$work/files.nsh unfiles=$work/unfiles.nsh
(
    cd "$stage.new"
    find . -type d | LC_ALL=C sort | while read -r d; do
        rel=${d#.}
        printf 'SetOutPath "$INSTDIR%s"\n' "${rel//\//\\}"
        find "$d" -maxdepth 1 -type f | LC_ALL=C sort | while read -r f; do
            printf 'File "%s"\n' "$stage/${f#./}"
        done
    done
) >"$files.new"
(
    cd "$stage.new"
    find . -type f | LC_ALL=C sort | while read -r f; do
        rel=${f#.}
        printf 'Delete "$INSTDIR%s"\n' "${rel//\//\\}"
    done
    find . -mindepth 1 -type d | LC_ALL=C sort -r | while read -r d; do
        rel=${d#.}
        printf 'RMDir "$INSTDIR%s"\n' "${rel//\//\\}"
    done
) >"$unfiles.new"

# Unchanged inputs: keep the setup as it is.
sum=$( (cd "$stage.new" && find . -type f | LC_ALL=C sort | xargs md5sum
    md5sum "$here/scourline.nsi" "$files.new" "$unfiles.new" "$art"/*.ico "$art"/*.bmp
    echo "$version $outfile") | md5sum)
if [ -f "$outfile" ] && [ -f "$work/inputs.md5" ] && [ "$(cat "$work/inputs.md5")" = "$sum" ]; then
    rm -rf "$stage.new" "$files.new" "$unfiles.new"
    exit 0
fi
rm -rf "$stage"
mv "$stage.new" "$stage"
mv "$files.new" "$files"
mv "$unfiles.new" "$unfiles"
rm -f "$outfile" "$work/inputs.md5"
"$makensis" -V2 -NOCD -DVERSION="$version" -DSTAGE="$stage" -DFILES="$files" -DUNFILES="$unfiles" \
    -DART="$art" -DOUTFILE="$outfile" "$here/scourline.nsi" >"$work/makensis.log" 2>&1 ||
    die "makensis failed: $(tail -n 20 "$work/makensis.log")"
echo "$sum" >"$work/inputs.md5"
echo "make-setup: wrote $outfile"

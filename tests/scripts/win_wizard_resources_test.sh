#!/usr/bin/env bash
# The resources inside the built scourline-wizard.exe, read back with wrestool
# and checked by win_wizard_resources_check.py.
. "$(dirname "$0")/lib.sh"
: "${SCOUR_SOURCE:?}"
exe=$SCOUR_BIN/scourline-wizard.exe
res=$work/res
mkdir -p "$res"
version=$(sed -nE 's/^project\(Scourline VERSION ([0-9.]+).*/\1/p' "$SCOUR_SOURCE/CMakeLists.txt")
for type in 5 6; do
    for id in $(wrestool -l --type=$type "$exe" | sed -nE 's/.*--name=([0-9]+) .*/\1/p'); do
        wrestool -x --raw --type=$type --name="$id" "$exe" >"$res/$([ $type = 5 ] && echo dialog || echo strings)-$id.bin"
    done
done
wrestool -x --raw --type=16 "$exe" >"$res/version.bin"
wrestool -x --raw --type=24 --name=1 "$exe" >"$res/manifest.xml"
python3 "$(dirname "$0")/win_wizard_resources_check.py" "$res" "$version" \
    "$SCOUR_SOURCE/src/base/strings.h" >"$work/check"
while read -r line; do
    case $line in
    "ok - "*) ok "${line#ok - }" ;;
    "not ok - "*) not_ok "${line#not ok - }" ;;
    *) echo "$line" ;;
    esac
done <"$work/check"
finish

#!/usr/bin/env bash
# The resources inside the built scourline-wizard.exe, read back with wrestool:
# every dialog with its captions, fonts and control styles, the string table,
# the bitmaps, the icon, the manifest and the version.
. "$(dirname "$0")/lib.sh"

: "${SCOUR_SOURCE:?}"
exe=$SCOUR_BIN/scourline-wizard.exe
res=$work/res
mkdir -p "$res"
version=$(sed -nE 's/^project\(Scourline VERSION ([0-9.]+).*/\1/p' "$SCOUR_SOURCE/CMakeLists.txt")

for id in 100 203 204 205 206 207 208 209 210 211 213 214; do
    wrestool -x --raw --type=5 --name="$id" "$exe" >"$res/dialog-$id.bin" 2>/dev/null
done
for block in $(wrestool -l --type=6 "$exe" | sed -nE 's/.*--name=([0-9]+) .*/\1/p'); do
    wrestool -x --raw --type=6 --name="$block" "$exe" >"$res/strings-$block.bin"
done
wrestool -x --raw --type=16 "$exe" >"$res/version.bin"
wrestool -x --raw --type=24 --name=1 "$exe" >"$res/manifest.xml"
if python3 "$(dirname "$0")/win_wizard_resources_check.py" "$res" "$version" >"$work/check"; then :; fi
while read -r line; do
    case $line in
    "ok - "*) ok "${line#ok - }" ;;
    "not ok - "*) not_ok "${line#not ok - }" ;;
    *) echo "$line" ;;
    esac
done <"$work/check"

# Bitmaps: the watermark and the header, 8 bits per pixel.
for bitmap in 201:164x314 202:49x49; do
    id=${bitmap%%:*} size=${bitmap#*:}
    wrestool -x --type=2 --name="$id" "$exe" >"$res/$id.bmp"
    got=$(identify -format '%wx%h %[bit-depth] %[colors]' "$res/$id.bmp" 2>/dev/null)
    bpp=$(od -An -tu2 -j28 -N2 "$res/$id.bmp" | tr -d ' ')
    [ "${got%% *}" = "$size" ] && [ "$bpp" = 8 ] && ok "bitmap $id: $size, 8 bits per pixel" ||
        not_ok "bitmap $id: $size, 8 bits per pixel" "$got, $bpp bits per pixel"
done

# The icon group 128 with its four sizes.
wrestool -x --type=14 --name=128 "$exe" >"$res/icon.ico"
sizes=$(icotool -l "$res/icon.ico" | sed -nE 's/.*--width=([0-9]+).*/\1/p' | sort -n | tr '\n' ' ')
[ "$sizes" = "16 32 48 256 " ] && ok "icon 128: 16, 32, 48 and 256 pixels" ||
    not_ok "icon 128: 16, 32, 48 and 256 pixels" "sizes: $sizes"
finish

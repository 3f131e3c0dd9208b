#!/usr/bin/env bash
# Draws the wizard's artwork with ImageMagick: the watermark of the exterior
# pages (164 x 314), the header bitmap of the interior pages (49 x 49), both as
# 8-bit palette BMPs for the resources, and the program icon (16, 32, 48 and
# 256 pixels) with PNG copies for the Linux frame and the desktop file.
# Usage: tools/make-artwork.sh [OUTPUT_FOLDER]   (default: art/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/art}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The disk: a platter with tracks, a hub, and a bright sector swept clean.
# disk SIZE FILE: a square picture on a transparent ground.
disk() {
    local s=$1 file=$2
    local c r hub
    c=$(awk -v s="$s" 'BEGIN { printf "%.2f", (s - 1) / 2 }')
    r=$(awk -v s="$s" 'BEGIN { printf "%.2f", s * 0.46 }')
    hub=$(awk -v s="$s" 'BEGIN { printf "%.2f", s * 0.09 }')
    local track1 track2 track3 sw
    track1=$(awk -v r="$r" 'BEGIN { printf "%.2f", r * 0.82 }')
    track2=$(awk -v r="$r" 'BEGIN { printf "%.2f", r * 0.62 }')
    track3=$(awk -v r="$r" 'BEGIN { printf "%.2f", r * 0.42 }')
    sw=$(awk -v s="$s" 'BEGIN { w = s / 64; if (w < 1) w = 1; printf "%.2f", w }')
    # Platter: a radial gradient from silver to steel blue.
    convert -size "${s}x${s}" radial-gradient:'#f4f7fb'-'#7f95b5' "$tmp/platter.png"
    convert -size "${s}x${s}" xc:none -fill white \
        -draw "circle $c,$c $c,$(awk -v c="$c" -v r="$r" 'BEGIN { printf "%.2f", c - r }')" \
        "$tmp/mask.png"
    convert "$tmp/platter.png" "$tmp/mask.png" -alpha off -compose CopyOpacity -composite \
        "$tmp/disk.png"
    # Tracks, the swept sector (a quarter of the platter, from 300 to 30 degrees) and the hub.
    convert "$tmp/disk.png" \
        -fill 'rgba(40,190,255,0.55)' -stroke none -draw "ellipse $c,$c $r,$r 300,30" \
        -fill "rgba(40,190,255,0.55)" -draw "polygon $c,$c $(awk -v c="$c" -v r="$r" 'BEGIN {
            pi = atan2(0, -1)
            printf "%.2f,%.2f %.2f,%.2f", c + r * cos(300 * pi / 180), c + r * sin(300 * pi / 180),
                c + r * cos(30 * pi / 180), c + r * sin(30 * pi / 180) }')" \
        -fill none -stroke 'rgba(30,50,90,0.35)' -strokewidth "$sw" \
        -draw "circle $c,$c $c,$(awk -v c="$c" -v t="$track1" 'BEGIN { printf "%.2f", c - t }')" \
        -draw "circle $c,$c $c,$(awk -v c="$c" -v t="$track2" 'BEGIN { printf "%.2f", c - t }')" \
        -draw "circle $c,$c $c,$(awk -v c="$c" -v t="$track3" 'BEGIN { printf "%.2f", c - t }')" \
        -stroke '#22385e' -strokewidth "$sw" -fill none \
        -draw "circle $c,$c $c,$(awk -v c="$c" -v r="$r" 'BEGIN { printf "%.2f", c - r }')" \
        -stroke '#22385e' -fill '#dfe6f0' \
        -draw "circle $c,$c $c,$(awk -v c="$c" -v h="$hub" 'BEGIN { printf "%.2f", c - h }')" \
        -depth 8 PNG32:"$file"
}

# Watermark: deep blue, lighter towards the bottom, sweep lines crossing it and
# the disk in the lower half.
convert -size 164x314 gradient:'#0b1f4d'-'#1f5fa8' \
    -stroke '#3d6cb0' -strokewidth 1 \
    -draw "line -20,60 184,10" -draw "line -20,80 184,30" -draw "line -20,100 184,50" \
    -stroke '#5b9ee0' -strokewidth 2 \
    -draw "line -20,300 184,250" -draw "line -20,280 184,230" \
    "$tmp/wm-bg.png"
disk 120 "$tmp/wm-disk.png"
convert "$tmp/wm-bg.png" "$tmp/wm-disk.png" -geometry +22+120 -composite \
    -fill 'rgba(255,255,255,0.85)' -stroke none -draw "rectangle 22,262 142,264" \
    -colors 256 -type Palette BMP3:"$out/watermark.bmp"

# Header: the disk alone on the white of the header band.
disk 44 "$tmp/hd-disk.png"
convert -size 49x49 xc:white "$tmp/hd-disk.png" -geometry +2+2 -composite \
    -colors 256 -type Palette BMP3:"$out/header.bmp"

# Icon: the disk in each size, drawn afresh so small sizes stay crisp.
for s in 16 32 48 256; do
    disk "$s" "$tmp/icon-$s.png"
done
cp "$tmp/icon-48.png" "$out/scourline-48.png"
cp "$tmp/icon-256.png" "$out/scourline-256.png"
icotool -c -o "$out/scourline.ico" "$tmp/icon-16.png" "$tmp/icon-32.png" "$tmp/icon-48.png" \
    -r "$tmp/icon-256.png"

#!/usr/bin/env bash
# scourline-media iso with each real image maker (genisoimage and xorrisofs):
# the image boots in QEMU, Linux receives exactly the files of the boot
# configuration archive that `archive` writes for the same options, and the
# welcome banner is on the screen. Also the command's own outcomes.
. "$(dirname "$0")/lib.sh"

: "${SCOUR_SOURCE:?}"
use_scratch_home

if [ ! -s "$SCOUR_BIN/common/vmlinuz" ] || [ ! -s "$SCOUR_BIN/iso/isolinux.bin" ]; then
    not_ok "the sample boot environment is in $SCOUR_BIN" "configure with -DSCOUR_BOOTENV=ON"
    finish
fi

# program_folder NAME MAKER: a program folder whose mkisofs is MAKER. The
# executable is copied, since its program folder is where the file really lies.
program_folder() {
    local dir=$work/$1 f
    mkdir -p "$dir"
    for f in "$SCOUR_BIN"/*; do
        case ${f##*/} in
        mkisofs | scourline-media) ;;
        *) ln -s "$f" "$dir/" ;;
        esac
    done
    cp "$SCOUR_BIN/scourline-media" "$dir/"
    ln -s "$2" "$dir/mkisofs"
}

# staging_left: the staging folders left in the temporary folder.
staging_left() { find "$TMPDIR" -mindepth 1 -maxdepth 1 -name 'SCR*' | wc -l; }

password="it's \"a pass\" word"
# shellcheck disable=SC2034 # both are read through name references below
defaults=()
# shellcheck disable=SC2034
rich=(--set AutoStart=1 --set SelectDisks=0 --set NetLog=1 --set 'NetShare=\\fs1\logs'
    --set 'NetShareIp=\\10.0.0.5\logs' --set 'NetUser=CORP\admin' --set "NetPassword=$password"
    --set Scheme=2)

# The files Linux must receive: the members of the archive for the same options.
for name in defaults rich; do
    declare -n sets=$name
    mkdir -p "$work/want-$name"
    expect_status "$name: archive" 0 media "${sets[@]}" archive "$work/$name.scour"
    (cd "$work/want-$name" && cpio -id --quiet --no-absolute-filenames <"$work/$name.scour")
    unset -n sets
done

# boot_and_compare NAME IMAGE [FIRMWARE]: boots the image and compares what
# Linux received. Only a BIOS start leaves the banner in VGA text for Linux to read.
boot_and_compare() {
    local name=$1 image=$2 firmware=${3:-bios} got=$2.${3:-}boot
    local what="${image##*/} (${firmware})"
    if ! bash "$boot_tools/boot-medium.sh" iso "$image" "$got.log" "$firmware" >"$work/out" 2>&1; then
        not_ok "$what boots" "$(tail -n 5 "$work/out")"
        return
    fi
    ok "$what boots: $(sed -n 's/.* booted \((.*)\) and powered off in /\1 in /p' "$work/out")"
    if ! python3 "$boot_tools/extract-boot-log.py" "$got.log" "$got" 2>"$work/err"; then
        not_ok "$what: the boot report reads back" "$(cat "$work/err")"
        return
    fi
    same_delivery "$what" "$work/want-$name" "$got/files"
    if [ "$firmware" = bios ]; then
        check "$what: the banner was on the screen" grep -qF "$banner" "$got/screen.txt"
    fi
}

for maker in genisoimage xorrisofs; do
    program_folder "$maker" "/usr/bin/$maker"
    for name in defaults rich; do
        declare -n sets=$name
        image=$work/$maker-$name.iso
        expect_status "$maker, $name: iso" 0 "$work/$maker/scourline-media" "${sets[@]}" iso "$image"
        if [ "$(strip_cr <"$work/out")" = "ISO image written to $image" ]; then
            ok "$maker, $name: the image's path on stdout"
        else
            not_ok "$maker, $name: the image's path on stdout" "$(cat "$work/out")"
        fi
        boot_and_compare "$name" "$image"
        unset -n sets
    done
done
# One image starts on UEFI too, with Secure Boot off and on: genisoimage's, as
# the README's first command makes it.
for firmware in uefi secureboot; do
    boot_and_compare rich "$work/genisoimage-rich.iso" "$firmware"
done

# The image is the named maker's work: xorriso signs what it prepares.
check "xorrisofs made its image" grep -qa XORRISO "$work/xorrisofs-defaults.iso"
check "genisoimage made its image" bash -c "! grep -qa XORRISO '$work/genisoimage-defaults.iso'"

# The shell of the boot environment reads the rich options back unchanged.
config=$work/xorrisofs-rich.iso.boot/files/wipe_config
read_back=$(env -i bash -c 'source <(tr -d "\0" <"$1") && printf "%s|" "$USE_SHELL" "$WIPE_ALL_DISKS" \
    "$SCHEME" "$USE_LOGSHARE" "$NET_SHARE" "$NET_SHAREIP" "$NET_USER" "$NET_PASS"' _ "$config")
want="n|y|sch0000002.sch|y|//fs1/logs|//10.0.0.5/logs|CORP/admin|$password|"
if [ "$read_back" = "$want" ]; then ok "rich wipe_config reads back"; else
    not_ok "rich wipe_config reads back" "got:  $read_back" "want: $want"
fi

# Without PATH the image goes to IsoPath, here the documents folder's default.
prog=$work/genisoimage
expect_status "iso without PATH" 0 "$prog/scourline-media" iso
check "the default image is in the documents folder" test -s "$HOME/Documents/scourcd.iso"
grep -qx "ISO image written to $HOME/Documents/scourcd.iso" <(strip_cr <"$work/out") &&
    ok "the default path on stdout" || not_ok "the default path on stdout" "$(cat "$work/out")"

# Failures: status 1, the wizard's message on stderr, nothing on stdout.
expect_status "iso into a missing folder" 1 "$prog/scourline-media" iso "$work/no/such/x.iso"
check "message 149 on stderr" grep -q 'Could not open destination file for writing' "$work/err"
check "nothing on stdout" test ! -s "$work/out"
rm "$prog/mkisofs" && ln -s /nonexistent/mkisofs "$prog/mkisofs"
expect_status "iso without an image maker" 1 "$prog/scourline-media" iso "$work/x.iso"
check "message 146 on stderr" grep -q 'Could not start .ISO image creation' "$work/err"
check "no image" test ! -e "$work/x.iso"
expect_status "iso takes one PATH at most" 2 "$prog/scourline-media" iso a b
check "no staging folder left in the temporary folder" test "$(staging_left)" -eq 0

finish

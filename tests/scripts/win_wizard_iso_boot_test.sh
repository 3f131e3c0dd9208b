#!/usr/bin/env bash
# The ISO image page end to end: the real wizard under Wine stages the boot
# files and the configuration for the options chosen in a script and runs its
# image maker; the image is then made from exactly that staged tree with the
# real image maker and the command line the wizard gave, and booted in QEMU.
# Linux must receive the configuration archive that scourline-media makes for
# the same stored options, with the chosen options in wipe_config.
#
# Wine cannot wait for a Linux program, so the wizard's mkisofs.exe is the
# stand-in that keeps a copy of the tree it was given.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/win_wizard_lib.sh"

boot_tools=$SCOUR_SOURCE/tests/boot

# The sample boot environment, assembled from the Debian packages (a few
# seconds; the kernel package comes from the shared download cache).
cache=""
for c in "${SCOUR_CACHE:-$build_dir/cache}/bootenv" "$build_dir/../cache/bootenv"; do
    [ -z "$cache" ] && [ -d "$c/kernel" ] && cache=$c
done
cache=${cache:-${SCOUR_CACHE:-$build_dir/cache}/bootenv}
linux_bin=$work/linux-bin
if ! bash "$SCOUR_SOURCE/bootenv/build-bootenv.sh" "$linux_bin" "$cache" >"$work/bootenv.log" 2>&1; then
    not_ok "the sample boot environment" "$(tail -n 5 "$work/bootenv.log")"
    finish
fi

prog=$work/prog
wizard_folder "$prog"
cp -rL "$linux_bin/common" "$linux_bin/boot" "$prog/"
cp -L "$linux_bin"/iso/* "$prog/iso/"
wine_reg delete "$reg_key" /f >/dev/null

iso=$work/out/scourcd.iso
mkdir -p "$work/out"
cat >"$work/iso.script" <<SCRIPT
press next
expect page 205
click 1002
check 1004 0
press next
expect page 213
check 1031 1
press next
expect page 206
select 1006 2
check 1008 1
press next
expect page 207
check 1010 1
press next
expect page 208
press next
expect page 209
click 1014
press next
expect page 210
type 1016 $(script_text "$(win_path "$iso")")
check 1017 1
press next
expect page 204
press finish
SCRIPT
SCOUR_FAKE_MKISOFS_TREE=$(win_path "$work/tree") run_wizard iso "$prog"
expect_run iso 1
check "the wizard delivered the stand-in's image to IsoPath" test -s "$iso"
grep -qxF "explore: $(win_path "$work/out")" "$work/iso.err.txt" &&
    ok "the destination folder is opened" || not_ok "the destination folder is opened" "$(cat "$work/iso.err.txt")"
if [ ! -f "$work/tree/scour" ]; then
    not_ok "the staged tree was handed to the image maker" "$(ls -R "$work/tree" 2>&1 | head)"
    finish
fi
ok "the staged tree was handed to the image maker"

# The real image maker over the same tree, with the wizard's own arguments.
mapfile -t args < <(tr -d '\r' <"$prog/mkisofs.log" | sed -n 's/^arg=//p' | tail -n +2)
mkdir -p "$work/stage"
cp -r "$work/tree" "$work/stage/boot"
if (cd "$work/stage" && genisoimage "${args[@]}") >"$work/maker.log" 2>&1; then
    ok "genisoimage takes the wizard's command line: ${args[*]}"
else
    not_ok "genisoimage takes the wizard's command line" "${args[*]}" "$(tail -n 5 "$work/maker.log")"
    finish
fi
image=$work/stage/scourcd.iso

# What Linux must receive: scourline-media's archive for the stored options,
# made from the same program folder (the same scheme catalogue).
cp "$SCOUR_BIN/scourline-media.exe" "$prog/"
"$WINE" "$prog/scourline-media.exe" archive "$(win_path "$work/want.scour")" </dev/null \
    >"$work/media.out" 2>&1
mkdir -p "$work/want"
(cd "$work/want" && cpio -id --quiet --no-absolute-filenames <"$work/want.scour")
# Member by member: the archives' times are those of their making.
mkdir -p "$work/staged"
(cd "$work/staged" && cpio -id --quiet --no-absolute-filenames <"$work/tree/scour")
check "the stored options give the archive the wizard staged" diff -r "$work/want" "$work/staged"

if ! bash "$boot_tools/boot-medium.sh" iso "$image" "$work/boot.log" >"$work/boot.out" 2>&1; then
    not_ok "the image boots" "$(tail -n 5 "$work/boot.out")"
    finish
fi
ok "the image boots: $(sed -n 's/.* powered off in //p' "$work/boot.out")"
if ! python3 "$boot_tools/extract-boot-log.py" "$work/boot.log" "$work/got" 2>"$work/extract.err"; then
    not_ok "the boot report reads back" "$(cat "$work/extract.err")"
    finish
fi
same_delivery "" "$work/want" "$work/got/files"

# The choices of the script, as the boot environment's shell reads them.
config=$work/got/files/wipe_config
read_back=$(env -i bash -c 'source <(tr -d "\0" <"$1") && printf "%s|" "$USE_SHELL" "$WIPE_ALL_DISKS" \
    "$USE_NODELAY" "$USE_LOGFILE" "$SCHEME" "$RESET_HPA" "$RESET_DCO" "$ATA_ERASE" \
    "$VERIFY_LAST_PASS" "$USE_LOGSHARE"' _ "$config" 2>/dev/null)
want="n|y|n|y|sch0000002.sch|y|n|n|y|n|"
[ "$read_back" = "$want" ] && ok "wipe_config holds the script's choices" ||
    not_ok "wipe_config holds the script's choices" "got:  $read_back" "want: $want"
check "the banner was on the screen" grep -qF "$banner" "$work/got/screen.txt"
finish

#!/usr/bin/env bash
# The Linux wizard makes an ISO image on its automatic route (every page, Back
# and Next), stores the options at the completion page and ends with 1 after
# Finish; the image boots in QEMU and Linux receives exactly the configuration
# that scourline-media writes for the same choices.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/linux_wizard_lib.sh"

if [ ! -s "$SCOUR_BIN/common/vmlinuz" ] || [ ! -s "$SCOUR_BIN/iso/isolinux.bin" ]; then
    not_ok "the sample boot environment is in $SCOUR_BIN" "configure with -DSCOUR_BOOTENV=ON"
    finish
fi

password="it's \"a pass\" word"
expect_status "automatic route to the completion page, then Finish" 1 \
    wizard "$SCOUR_BIN/scourline-wizard" iso-automatic.txt
check "the image was made" test -s "$work/wizard.iso"
check "nothing was made for the refused name" test ! -e "$work/missing"
stderr_has "the image's folder opened" "explore: $work"

store=$XDG_CONFIG_HOME/Valdane/Scourline/Data.reg
want_values=('"AutoStart"=dword:00000001' '"SelectDisks"=dword:00000000' '"NetLog"=dword:00000001'
    '"Verify"=dword:00000001' '"ResetHPA"=dword:00000001' '"ResetDCO"=dword:00000000'
    '"AtaErase"=dword:00000001' '"Scheme"=dword:00000002' '"IsoUsb"=dword:00000001'
    '"IsoShowFolder"=dword:00000001' "\"IsoPath\"=\"$work/wizard.iso\"")
missing_values=""
for v in "${want_values[@]}"; do
    grep -qxF -- "$v" <(strip_cr <"$store") || missing_values+=" $v"
done
if [ -z "$missing_values" ]; then ok "the options are stored"; else
    not_ok "the options are stored" "missing:$missing_values" "$(cat "$store")"
fi
check "the password is not stored" bash -c "! grep -qF 'a pass' '$store'"

# What Linux must receive: the archive scourline-media writes for the same choices.
mkdir -p "$work/want"
expect_status "archive for the same choices" 0 media --set AutoStart=1 --set SelectDisks=0 \
    --set NetLog=1 --set 'NetShare=\\127.0.0.1\logs' --set 'NetShareIp=\\127.0.0.1\logs' \
    --set 'NetUser=CORP\admin' --set "NetPassword=$password" --set NetAskPassword=0 \
    --set Scheme=2 --set Verify=1 --set ResetHPA=1 --set AtaErase=1 archive "$work/want.scour"
(cd "$work/want" && cpio -id --quiet --no-absolute-filenames <"$work/want.scour")

# The one image, on BIOS and on UEFI with Secure Boot off and on.
for firmware in bios uefi secureboot; do
    got=$work/wizard.iso.$firmware
    if ! bash "$boot_tools/boot-medium.sh" iso "$work/wizard.iso" "$got.log" "$firmware" >"$work/boot.out" 2>&1; then
        not_ok "the wizard's image boots ($firmware)" "$(tail -n 5 "$work/boot.out")"
        continue
    fi
    ok "the wizard's image boots: $(sed -n 's/.* booted \((.*)\) and powered off in /\1 in /p' "$work/boot.out")"
    if ! python3 "$boot_tools/extract-boot-log.py" "$got.log" "$got" 2>"$work/err"; then
        not_ok "$firmware: the boot report reads back" "$(cat "$work/err")"
        continue
    fi
    same_delivery "$firmware" "$work/want" "$got/files"
    # shellcheck disable=SC2016 # expanded by the inner shell
    read_back=$(env -i bash -c 'source <(tr -d "\0" <"$1") && printf "%s|" "$USE_SHELL" \
        "$WIPE_ALL_DISKS" "$SCHEME" "$USE_LOGSHARE" "$NET_SHARE" "$NET_SHAREIP" "$NET_USER" \
        "$NET_PASS"' _ "$got/files/wipe_config")
    want="n|y|sch0000002.sch|y|//127.0.0.1/logs|//127.0.0.1/logs|CORP/admin|$password|"
    if [ "$read_back" = "$want" ]; then ok "$firmware: the boot environment reads the choices back"; else
        not_ok "$firmware: the boot environment reads the choices back" "got:  $read_back" "want: $want"
    fi
    # Only a BIOS start leaves the banner in VGA text for Linux to read.
    if [ "$firmware" = bios ]; then
        check "the banner was on the screen" grep -qF "$banner" "$got/screen.txt"
    fi
done

finish

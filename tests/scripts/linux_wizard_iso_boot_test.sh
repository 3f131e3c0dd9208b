#!/usr/bin/env bash
# A desktop user (uid 65534 when run as root) makes an ISO image with the Linux
# wizard on the automatic route: the image is the user's, the options (not the
# password) in the user's store; it boots in QEMU on BIOS, UEFI and Secure Boot
# and Linux receives the archive scourline-media writes for the same choices.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/linux_wizard_lib.sh"
needs_bootenv

as_user=()
area=$work
if [ "$(id -u)" -eq 0 ]; then
    # The user's own area, reachable by that user wherever the build tree lies.
    area=$(mktemp -d /tmp/scourline-user.XXXXXX)
    trap 'rm -rf "$work" "$area"' EXIT
    chmod 755 "$area"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
home=$area/home
mkdir -p "$home/Documents" "$home/config" "$home/tmp" "$home/runtime" "$area/actions" "$area/shots"
chmod 700 "$home/runtime"
sed "s|@SCOUR_HELPER_INSTALL_PATH@|/usr/libexec/scourline/scourline-disk-helper|" \
    "$SCOUR_SOURCE/data/org.valdane.scourline.disk-helper.policy.in" \
    >"$area/actions/org.valdane.scourline.disk-helper.policy"
fill_script "$wizard_scripts/iso-automatic.txt" "$area/script.txt" "WORK=$home" "HOME=$home"
chmod 644 "$area/script.txt"
program=$SCOUR_BIN
if [ ${#as_user[@]} -gt 0 ]; then
    chown -R 65534:65534 "$home" "$area/shots"
    if ! "${as_user[@]}" test -x "$program/scourline-wizard" -a -r "$program/common/vmlinuz"; then
        program=$area/program
        cp -rL "$SCOUR_BIN" "$program" && chmod -R a+rX "$program"
    fi
fi

expect_status "automatic route to the completion page, then Finish" 1 \
    env -C "$area/shots" -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/config" \
    TMPDIR="$home/tmp" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen \
    SCOUR_TEST_POLKIT_ACTIONS="$area/actions" SCOURLINE_WIZARD_SCRIPT="$area/script.txt" \
    SCOURLINE_WIZARD_BOX_SHOTS="$area/shots/iso-automatic-boxes" \
    timeout 300 "${as_user[@]}" "$program/scourline-wizard"
cp -r "$area/shots/." "$screenshots/" 2>/dev/null
iso=$home/wizard.iso
check "the image belongs to the user" test -s "$iso" -a "$(stat -c %u "$iso" 2>/dev/null)" = "$(stat -c %u "$home")"
check "nothing was made for the refused name" test ! -e "$home/missing"
stderr_has "the image's folder opened" "explore: $home"

store=$home/config/Valdane/Scourline/Data.reg
missing_values=""
for v in '"AutoStart"=dword:00000001' '"SelectDisks"=dword:00000000' '"NetLog"=dword:00000001' \
    '"Verify"=dword:00000001' '"ResetHPA"=dword:00000001' '"ResetDCO"=dword:00000000' \
    '"AtaErase"=dword:00000001' '"Scheme"=dword:00000002' '"IsoUsb"=dword:00000001' \
    '"IsoShowFolder"=dword:00000001' "\"IsoPath\"=\"$iso\""; do
    grep -qxF -- "$v" <(strip_cr <"$store") || missing_values+=" $v"
done
if [ -z "$missing_values" ]; then ok "the options are in the user's store"; else
    not_ok "the options are in the user's store" "missing:$missing_values" "$(cat "$store")"
fi
check_not "the password is not stored" grep -qF 'a pass' "$store"

password="it's \"a pass\" word"
want_archive "$work/want" --set AutoStart=1 --set SelectDisks=0 \
    --set NetLog=1 --set 'NetShare=\\127.0.0.1\logs' --set 'NetShareIp=\\127.0.0.1\logs' \
    --set 'NetUser=CORP\admin' --set "NetPassword=$password" --set NetAskPassword=0 \
    --set Scheme=2 --set Verify=1 --set ResetHPA=1 --set AtaErase=1
for firmware in bios uefi secureboot; do
    boot_check "wizard-$firmware" iso "$iso" "$firmware" "$work/want" &&
        config_reads "wizard-$firmware" "n|y|sch0000002.sch|y|//127.0.0.1/logs|//127.0.0.1/logs|CORP/admin|$password|" \
            USE_SHELL WIPE_ALL_DISKS SCHEME USE_LOGSHARE NET_SHARE NET_SHAREIP NET_USER NET_PASS
done
finish

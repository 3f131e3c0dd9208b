#!/usr/bin/env bash
# scourline-media.exe save under Wine leaves the values in the real registry.
. "$(dirname "$0")/lib.sh"

key='HKCU\SOFTWARE\Valdane\Scourline\Data'
reg() { "$SCOUR_RUNNER" reg "$@" </dev/null 2>/dev/null | strip_cr; }
reg delete "$key" /f >/dev/null

expect_status "save" 0 media --set AutoStart=1 --set SelectDisks=0 --set 'NetShare=\\srv\logs' \
    --set NetUser=admin --set NetPassword=secret --set NetShareIp=1.2.3.4 --set NetAskPassword=1 \
    --set Scheme=0 save
reg query "$key" >"$work/query"
for dword in AutoStart:0x1 SelectDisks:0x0 NoDelay:0x0 WriteLog:0x0 NetLog:0x0 Verify:0x0 \
    ResetHPA:0x0 ResetDCO:0x0 AtaErase:0x0 IsoUsb:0x1 IsoShowFolder:0x1 Scheme:0x0; do
    name=${dword%%:*} value=${dword#*:}
    grep -qE "^ +$name +REG_DWORD +$value\$" "$work/query" && ok "$name REG_DWORD $value" ||
        not_ok "$name REG_DWORD $value" "$(cat "$work/query")"
done
grep -qE '^ +NetShare +REG_SZ +\\\\srv\\logs$' "$work/query" && ok "NetShare REG_SZ" || not_ok "NetShare REG_SZ"
grep -qE '^ +NetUser +REG_SZ +admin$' "$work/query" && ok "NetUser REG_SZ" || not_ok "NetUser REG_SZ"
grep -qE '^ +IsoPath +REG_SZ +.*scourcd\.iso$' "$work/query" && ok "IsoPath REG_SZ" || not_ok "IsoPath REG_SZ"
for never in NetPassword NetShareIp NetAskPassword TestMode AllowTestMode; do
    grep -q " $never " "$work/query" && not_ok "$never never stored" || ok "$never never stored"
done

expect_status "show reads the registry back" 0 media show
strip_cr <"$work/out" | grep -qx 'AutoStart=1' && ok "AutoStart read back" || not_ok "AutoStart read back"
reg delete "$key" /f >/dev/null
finish

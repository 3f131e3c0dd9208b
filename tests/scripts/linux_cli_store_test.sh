#!/usr/bin/env bash
# scourline-media save and show against the Linux store file.
. "$(dirname "$0")/lib.sh"

export XDG_CONFIG_HOME="$work/config"
store="$work/config/Valdane/Scourline/Data.reg"

expect_status "save" 0 media --set AutoStart=1 --set SelectDisks=0 --set 'NetShare=\\srv\logs' \
    --set NetPassword=secret --set NetShareIp=1.2.3.4 --set NetAskPassword=1 --set TestMode=0 \
    --set Scheme=1 save
check "store file made" test -f "$store"
check "REGEDIT4 header" bash -c "head -n 1 '$store' | grep -qx 'REGEDIT4'"
check "AutoStart stored as dword" grep -qx '"AutoStart"=dword:00000001' "$store"
check "SelectDisks stored" grep -qx '"SelectDisks"=dword:00000000' "$store"
check "share stored with escaped backslashes" grep -qxF '"NetShare"="\\\\srv\\logs"' "$store"
for never in NetPassword NetShareIp NetAskPassword TestMode AllowTestMode; do
    grep -q "\"$never\"" "$store" && not_ok "$never never stored" || ok "$never never stored"
done
check "no temporary file left beside the store" bash -c "[ \$(ls -A '$(dirname "$store")' | wc -l) -eq 1 ]"

expect_status "show after save" 0 media show
grep -qx 'AutoStart=1' "$work/out" && ok "AutoStart read back" || not_ok "AutoStart read back"
grep -qxF 'NetShare=\\srv\logs' "$work/out" && ok "share read back" || not_ok "share read back"
grep -qx 'NetPassword=' "$work/out" && ok "password not kept" || not_ok "password not kept"

cp "$store" "$work/before"
expect_status "usage error after a save" 2 media --set AutoStart=maybe save
check "usage error left the store unchanged" cmp -s "$store" "$work/before"

# A damaged store never stops the program: unreadable values count as missing.
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Valdane\\Scourline\\Data]\n"AutoStart"=dword:zz\n"Verify"=dword:00000007\n\x01\x02garbage\n' >"$store"
expect_status "show with a damaged store" 0 media show
grep -qx 'AutoStart=0' "$work/out" && ok "bad dword counts as missing" || not_ok "bad dword counts as missing"
grep -qx 'Verify=1' "$work/out" && ok "non-zero dword reads as 1" || not_ok "non-zero dword reads as 1"
expect_status "save over a damaged store" 0 media save
grep -q 'garbage' "$store" && ok "unparsable line kept" || not_ok "unparsable line kept"

finish

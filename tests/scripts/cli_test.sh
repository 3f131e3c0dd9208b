#!/usr/bin/env bash
# scourline-media's command line: usage errors, show, archive and banner, on
# the platform it was built for.
. "$(dirname "$0")/lib.sh"

export XDG_CONFIG_HOME="$work/config"

# Usage errors: status 2, a message, and nothing written.
expect_status "unknown option name" 2 media --set Colour=1 show
grep -q 'unknown option name' "$work/err" && ok "message names the problem" || not_ok "message names the problem"
expect_status "boolean of the wrong form" 2 media --set AutoStart=yes save
expect_status "boolean 2" 2 media --set Verify=2 save
expect_status "scheme not a number" 2 media --set Scheme=two show
expect_status "scheme with trailing junk" 2 media --set Scheme=3x show
expect_status "TestMode with AutoStart" 2 media --set AutoStart=1 --set TestMode=1 save
expect_status "NoDelay with SelectDisks" 2 media --set AutoStart=1 --set NoDelay=1 save
expect_status "--set without a value" 2 media --set
expect_status "no command" 2 media --set AutoStart=1
expect_status "unknown command" 2 media frobnicate
expect_status "show takes no argument" 2 media show extra
expect_status "archive needs a path" 2 media archive
expect_status "unknown flag" 2 media --colour show
check "no usage error stored anything" test ! -e "$work/config/Valdane/Scourline/Data.reg"

# Accepted values.
expect_status "texts take anything, the empty text included" 0 \
    media --set NetShare= --set "NetUser=a b" --set 'NetPassword=x; reboot' show
expect_status "NoDelay with SelectDisks 0" 0 media --set AutoStart=1 --set SelectDisks=0 --set NoDelay=1 show
grep -q '^NoDelay=1' <(strip_cr <"$work/out") && ok "NoDelay shown" || not_ok "NoDelay shown"
expect_status "TestMode with interactive start" 0 media --set TestMode=1 show
strip_cr <"$work/out" | grep -qx -- '- Hardware compatibility test mode, no wiping allowed;' &&
    ok "test mode line in the summary" || not_ok "test mode line in the summary"

# show: every field, then the summary.
expect_status "show with first-run defaults" 0 media show
strip_cr <"$work/out" >"$work/show"
for line in AllowTestMode=0 AutoStart=0 SelectDisks=1 NoDelay=0 TestMode=0 WriteLog=0 NetLog=0 \
    NetShare= NetUser= NetPassword= NetShareIp= NetAskPassword=0 Scheme=0 Verify=0 ResetHPA=0 \
    ResetDCO=0 AtaErase=0 IsoUsb=1 IsoShowFolder=1; do
    grep -qx -- "$line" "$work/show" && ok "show: $line" || not_ok "show: $line"
done
grep -q '^IsoPath=.*scourcd.iso$' "$work/show" && ok "show: default IsoPath" || not_ok "show: default IsoPath"
tail -n 3 "$work/show" >"$work/summary"
printf 'The following settings will be used for Scourline bootable disk:\n\n- start Scourline in interactive mode;\n' >"$work/want"
cmp -s "$work/summary" "$work/want" && ok "show ends with the summary" || not_ok "show ends with the summary" "$(cat "$work/summary")"

expect_status "an out-of-range scheme is clamped" 0 media --set Scheme=99999 show
strip_cr <"$work/out" | grep -qx 'Scheme=0' && ok "Scheme 99999 shows as 0" || not_ok "Scheme 99999 shows as 0"
expect_status "a negative scheme is clamped" 0 media --set Scheme=-1 show
expect_status "the password is not echoed" 0 media --set NetPassword=hunter2 show
grep -q hunter2 "$work/out" && not_ok "the password is not echoed (found it)" || ok "password hidden in show"

# archive and banner write their files.
expect_status "archive" 0 media archive "$(host_path "$work/scour")"
check "archive file made" test -s "$work/scour"
check "archive ends with the trailer" bash -c "tail -c 124 '$work/scour' | grep -q 'TRAILER!!!'"
expect_status "banner" 0 media banner "$(host_path "$work/welcome.txt")"
check "banner made" test -s "$work/welcome.txt"
expect_status "SPARC banner" 0 media banner "$(host_path "$work/welcome.sparc.txt")" --sparc
check "SPARC banner has the placeholders" grep -q 'PROM type: \${PROM}' "$work/welcome.sparc.txt"
expect_status "banner into a missing folder fails" 1 media banner "$(host_path "$work/no/such/welcome.txt")"
expect_status "archive into a missing folder fails" 1 media archive "$(host_path "$work/no/such/scour")"

finish

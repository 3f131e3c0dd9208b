#!/usr/bin/env bash
# scourline-media's command line on the platform it was built for: usage
# errors, show, save into the real store (the store file on Linux, the
# registry under Wine) and back, archive, banner and a refused iso.
. "$(dirname "$0")/lib.sh"
export XDG_CONFIG_HOME="$work/config"
store=$work/config/Valdane/Scourline/Data.reg
key='HKCU\SOFTWARE\Valdane\Scourline\Data'

# Usage errors (status 2, nothing stored) and accepted values with what show makes of them.
expect_status "usage error: unknown option name" 2 media --set Colour=1 show
check "the message names the problem" grep -q 'unknown option name' "$work/err"
while IFS='|' read -r what status line args; do
    # shellcheck disable=SC2086 # the words are the arguments
    expect_status "$what" "$status" media $args
    [ -z "$line" ] || has_line "$what: $line" "$work/out" "$line"
done <<'EOF2'
boolean of the wrong form|2||--set AutoStart=yes save
boolean 2|2||--set Verify=2 save
scheme not a number|2||--set Scheme=two show
scheme with trailing junk|2||--set Scheme=3x show
TestMode with AutoStart|2||--set AutoStart=1 --set TestMode=1 save
NoDelay with SelectDisks|2||--set AutoStart=1 --set NoDelay=1 save
--set without a value|2||--set
no command|2||--set AutoStart=1
unknown command|2||frobnicate
show takes no argument|2||show extra
archive needs a path|2||archive
iso takes one PATH at most|2||iso a b
unknown flag|2||--colour show
NoDelay with SelectDisks 0|0|NoDelay=1|--set AutoStart=1 --set SelectDisks=0 --set NoDelay=1 show
TestMode with interactive start|0|- Hardware compatibility test mode, no wiping allowed;|--set TestMode=1 show
an out-of-range scheme is clamped|0|Scheme=0|--set Scheme=99999 show
a negative scheme is clamped|0|Scheme=0|--set Scheme=-1 show
EOF2
check "no usage error stored anything" test ! -e "$store"

# show: the fields of a first run (their defaults are DefaultsAndSchemeRepairs'), then the summary.
expect_status "show with first-run defaults" 0 media show
strip_cr <"$work/out" >"$work/show"
check "show: default IsoPath" grep -q '^IsoPath=.*scourcd.iso$' "$work/show"
printf 'The following settings will be used for Scourline bootable disk:\n\n- start Scourline in interactive mode;\n' >"$work/want"
check "show ends with the summary" cmp -s <(tail -n 3 "$work/show") "$work/want"

expect_status "texts take anything, the empty text included" 0 \
    media --set NetShare= --set "NetUser=a b" --set 'NetPassword=x; reboot' show
has_line "NetUser shown" "$work/out" "NetUser=a b"
check_not "the password is not echoed" grep -q reboot "$work/out"

# save: into the real store and read back by show (which fields are stored is
# SaveWritesExactlyTheStoredFields', the store's text form reg_file_store_test's).
expect_status "save" 0 media --set AutoStart=1 --set SelectDisks=0 --set 'NetShare=\\srv\logs' \
    --set NetUser=admin --set NetPassword=secret --set Scheme=1 save
if [ -n "$SCOUR_RUNNER" ]; then
    "$SCOUR_RUNNER" reg query "$key" </dev/null 2>/dev/null | strip_cr >"$work/stored"
else
    cp "$store" "$work/stored"
fi
check "the store holds the options" grep -q 'NetShare.*srv' "$work/stored"
check_not "the store never holds the password" grep -q secret "$work/stored"
expect_status "show after save" 0 media show
for line in 'NetShare=\\srv\logs' AutoStart=1 SelectDisks=0 NetUser=admin Scheme=1 NetPassword=; do
    has_line "read back: $line" "$work/out" "$line"
done

[ -z "$SCOUR_RUNNER" ] || "$SCOUR_RUNNER" reg delete "$key" /f </dev/null >/dev/null 2>&1

# archive and banner write their files; a missing folder fails with 1.
expect_status "archive" 0 media archive "$(host_path "$work/scour")"
check "the archive ends with the trailer" bash -c "tail -c 124 '$work/scour' | grep -q 'TRAILER!!!'"
expect_status "banner" 0 media banner "$(host_path "$work/welcome.txt")"
expect_status "SPARC banner" 0 media banner "$(host_path "$work/welcome.sparc.txt")" --sparc
check "the SPARC banner has the placeholders" grep -q 'PROM type: \${PROM}' "$work/welcome.sparc.txt"
expect_status "banner into a missing folder" 1 media banner "$(host_path "$work/no/such/welcome.txt")"
expect_status "archive into a missing folder" 1 media archive "$(host_path "$work/no/such/scour")"
expect_status "iso to a path too long" 1 media iso "$(host_path "$work/$(printf 'x%.0s' {1..300}).iso")"
check "no image announced" test ! -s "$work/out"
finish

#!/usr/bin/env bash
# scourline-media share-test against a real Samba server on 127.0.0.1 port 445,
# in network and PID namespaces of the test's own. Needs root.
if [ -z "${SCOUR_SHARE_TEST_NETNS:-}" ]; then
    if [ "$(id -u)" -ne 0 ] || ! unshare --net --pid --fork --mount-proc true 2>/dev/null; then
        echo "SKIP: needs root and network namespaces"
        exit 0
    fi
    command -v smbd >/dev/null || { echo "missing smbd (tools/setup-debian.sh)"; exit 1; }
    # A /proc of its own for the sanitizers; all inside ends with this shell.
    SCOUR_SHARE_TEST_NETNS=1 exec unshare --net --pid --fork --mount-proc bash "$0" "$@"
fi
. "$(dirname "$0")/lib.sh"
ip link set lo up || { echo "could not bring up loopback"; exit 1; }
use_scratch_home
nss_wrapper=$(find /usr/lib /usr/lib64 -name libnss_wrapper.so 2>/dev/null | head -n 1)
[ -n "$nss_wrapper" ] || { echo "libnss_wrapper.so not found (libnss-wrapper)"; exit 1; }

# Two users (and smbd's guest) known to the server only, through nss_wrapper.
chmod 755 "$work"
srv=$work/srv
mkdir -p "$srv"/{private,state,lock,cache,pid,ncalrpc,logs} "$srv/share/sub" "$srv/refused"
chmod 777 "$srv/share" "$srv/share/sub" "$srv/refused"
printf '%s\n' root:x:0:0:root:/root:/bin/false nobody:x:65534:65534:nobody:/nonexistent:/bin/false \
    "tester:x:60001:60001:tester:$srv:/bin/false" "other:x:60002:60002:other:$srv:/bin/false" >"$srv/passwd"
printf '%s\n' root:x:0: nogroup:x:65534: tester:x:60001: other:x:60002: >"$srv/group"
{
    printf '[global]\n'
    printf '    %s\n' "workgroup = SCOURTEST" "netbios name = SCOURSRV" "server role = standalone server" \
        "smb ports = 445" "interfaces = 127.0.0.1" "bind interfaces only = yes" "disable netbios = yes" \
        "map to guest = never" "load printers = no" "printcap name = /dev/null" \
        "rpc start on demand helpers = no" "private dir = $srv/private" "state directory = $srv/state" \
        "lock directory = $srv/lock" "cache directory = $srv/cache" "pid directory = $srv/pid" \
        "ncalrpc dir = $srv/ncalrpc" "passdb backend = tdbsam:$srv/private/passdb.tdb" \
        "log file = $srv/logs/log.%m"
    printf '[share]\n    path = %s\n    read only = no\n' "$srv/share"
    printf '[open]\n    path = %s\n    guest ok = yes\n' "$srv/share"
    printf '[wipe logs #1]\n    path = %s\n' "$srv/share"
    printf '[refused]\n    path = %s\n    valid users = other\n' "$srv/refused"
} >"$srv/smb.conf"
export NSS_WRAPPER_PASSWD=$srv/passwd NSS_WRAPPER_GROUP=$srv/group
for u in tester other; do
    printf 'Secret-1\nSecret-1\n' | LD_PRELOAD=$nss_wrapper smbpasswd -c "$srv/smb.conf" -s -a "$u" >/dev/null ||
        { echo "smbpasswd failed for $u"; exit 1; }
done
# A session of its own: smbd signals its whole process group when it ends.
LD_PRELOAD=$nss_wrapper setsid smbd --configfile="$srv/smb.conf" --foreground --no-process-group \
    --debug-stdout >"$srv/logs/smbd.out" 2>&1 &
pids=($!)
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
# listening ADDRESS: waits up to 10 s for a server on ADDRESS port 445.
listening() {
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/$1/445") 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
listening 127.0.0.1 || { echo "smbd did not start"; cat "$srv/logs/smbd.out"; exit 1; }

# share_test DESCRIPTION STATUS MESSAGE IPFORM SHARE USER PASSWORD
share_test() {
    local start status elapsed message ip
    start=$(date +%s%N)
    media --set "NetShare=$5" --set "NetUser=$6" --set "NetPassword=$7" share-test >"$work/out" 2>"$work/err"
    status=$? elapsed=$((($(date +%s%N) - start) / 1000000))
    message=$(head -n 1 "$work/err" | sed 's/^error: //') ip=$(cat "$work/out")
    if [ "$status" -eq "$2" ] && [ "$message" = "$3" ] && [ "$ip" = "$4" ]; then
        ok "$1 ($elapsed ms: $(tail -n 1 "$work/err"))"
    else
        not_ok "$1" "exit $status, expected $2; message \"$message\", expected \"$3\"" \
            "IP form \"$ip\", expected \"$4\"; $elapsed ms" "$(cat "$work/err")"
    fi
}

# Servers that never answer are given up on at the deadline: ShareProbe's.
long=$(printf 'x%.0s' {1..300})
while IFS='|' read -r what status message ip share user password; do
    [ "$password" = LONG ] && password=$long
    [ "$message" = FAIL ] && message="Could not test the share"
    share_test "$what" "$status" "$message" "$ip" "$share" "$user" "$password"
done <<'EOF'
good credentials|0|Network share ok|\\127.0.0.1\share|\\127.0.0.1\share|tester|Secret-1|
trailing backslash cut|0|Network share ok|\\127.0.0.1\share|\\127.0.0.1\share\|tester|Secret-1|
name with a space and a hash|0|Network share ok|\\127.0.0.1\wipe logs #1|\\127.0.0.1\wipe logs #1|tester|Secret-1|
folder inside the share|0|Network share ok|\\127.0.0.1\share\sub|\\127.0.0.1\share\sub|tester|Secret-1|
host name replaced by its address|0|Network share ok|\\127.0.0.1\share|\\localhost\share|tester|Secret-1|
domain given with the user|0|Network share ok|\\127.0.0.1\share|\\127.0.0.1\share|SCOURTEST\tester|Secret-1|
wrong password|1|Invalid password||\\127.0.0.1\share|tester|wrong|
wrong password on a share open to guests|1|Invalid password||\\127.0.0.1\open|tester|wrong|
empty password|1|Invalid password||\\127.0.0.1\share|tester||
overlong password (a cut one might pass)|1|Invalid password||\\127.0.0.1\share|tester|LONG|
missing share|1|Network share not found||\\127.0.0.1\missing|tester|Secret-1|
missing folder in the share|1|Network share not found||\\127.0.0.1\share\missing|tester|Secret-1|
share refusing the user|1|Network share access denied||\\127.0.0.1\refused|tester|Secret-1|
no user: anonymous, refused|1|Network share access denied||\\127.0.0.1\share|||
server without a share|1|Network share not found||\\127.0.0.1|tester|Secret-1|
nothing listening|1|FAIL||\\127.0.0.2\share|tester|Secret-1|
unknown host name|1|FAIL||\\no-such-host.invalid\share|tester|Secret-1|
port in the host part (UNC has no port syntax)|1|FAIL||\\127.0.0.1:445\share|tester|Secret-1|
EOF

# The user's own client configuration does not change the result.
mkdir -p "$HOME/.smb"
printf '[global]\nclient max protocol = NT1\n' >"$HOME/.smb/smb.conf"
share_test "user's smb.conf ignored" 0 "Network share ok" '\\127.0.0.1\share' '\\127.0.0.1\share' tester Secret-1
rm -rf "$HOME/.smb"
check "no private client configuration left behind" test -z "$(ls -A "$TMPDIR")"

# Without any interface up the client library would end the process.
expect_status "no network: status 1" 1 unshare --net "$SCOUR_BIN/scourline-media" \
    --set 'NetShare=\\127.0.0.1\share' --set NetUser=tester --set NetPassword=Secret-1 share-test
check "no network: not found" grep -qx 'error: Network share not found' "$work/err"
expect_status "share without two backslashes is a usage error" 2 media --set 'NetShare=127.0.0.1\share' share-test
finish

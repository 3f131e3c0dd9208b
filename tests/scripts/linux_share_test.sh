#!/usr/bin/env bash
# scourline-media share-test against a real Samba server. The server and the
# client both run in a network namespace of this test's own, where the server
# listens on 127.0.0.1 port 445 as a real one would: the product gets no port
# or address it would not get from a user. Needs root (namespaces, port 445).

# Move into a fresh network and PID namespace first, with a /proc of its own
# (the sanitizers read it); when this shell ends, everything started inside
# ends with it.
if [ -z "${SCOUR_SHARE_TEST_NETNS:-}" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP: needs root for a network namespace and port 445"
        exit 0
    fi
    if ! unshare --net --pid --fork --mount-proc true 2>/dev/null; then
        echo "SKIP: network namespaces are not available here"
        exit 0
    fi
    for tool in smbd smbpasswd ip python3; do
        command -v "$tool" >/dev/null || { echo "missing $tool (tools/setup-debian.sh)"; exit 1; }
    done
    SCOUR_SHARE_TEST_NETNS=1 exec unshare --net --pid --fork --mount-proc bash "$0" "$@"
fi

. "$(dirname "$0")/lib.sh"

ip link set lo up || { echo "could not bring up loopback"; exit 1; }
use_scratch_home

nss_wrapper=$(find /usr/lib /usr/lib64 -name libnss_wrapper.so 2>/dev/null | head -n 1)
[ -n "$nss_wrapper" ] || { echo "libnss_wrapper.so not found (libnss-wrapper)"; exit 1; }

# Two users (and the guest account smbd insists on) known to the server
# only, through nss_wrapper.
# The users' processes in smbd must reach the shares through the scratch folder.
chmod 755 "$work"
srv=$work/srv
mkdir -p "$srv"/{private,state,lock,cache,pid,ncalrpc,logs} "$srv/share/sub" "$srv/refused"
chmod 777 "$srv/share" "$srv/share/sub" "$srv/refused"
cat >"$srv/passwd" <<EOF
root:x:0:0:root:/root:/bin/false
nobody:x:65534:65534:nobody:/nonexistent:/bin/false
tester:x:60001:60001:tester:$srv:/bin/false
other:x:60002:60002:other:$srv:/bin/false
EOF
cat >"$srv/group" <<EOF
root:x:0:
nogroup:x:65534:
tester:x:60001:
other:x:60002:
EOF
cat >"$srv/smb.conf" <<EOF
[global]
    workgroup = SCOURTEST
    netbios name = SCOURSRV
    server role = standalone server
    smb ports = 445
    interfaces = 127.0.0.1
    bind interfaces only = yes
    disable netbios = yes
    map to guest = never
    load printers = no
    printcap name = /dev/null
    rpc start on demand helpers = no
    private dir = $srv/private
    state directory = $srv/state
    lock directory = $srv/lock
    cache directory = $srv/cache
    pid directory = $srv/pid
    ncalrpc dir = $srv/ncalrpc
    passdb backend = tdbsam:$srv/private/passdb.tdb
    log file = $srv/logs/log.%m
[share]
    path = $srv/share
    read only = no
[open]
    path = $srv/share
    guest ok = yes
[wipe logs #1]
    path = $srv/share
[refused]
    path = $srv/refused
    valid users = other
EOF
export NSS_WRAPPER_PASSWD=$srv/passwd NSS_WRAPPER_GROUP=$srv/group
for u in tester other; do
    printf 'Secret-1\nSecret-1\n' |
        LD_PRELOAD=$nss_wrapper smbpasswd -c "$srv/smb.conf" -s -a "$u" >/dev/null ||
        { echo "smbpasswd failed for $u"; exit 1; }
done
# In a session of its own: when smbd ends it signals its whole process group,
# which would otherwise be the caller's (ctest, the shell).
LD_PRELOAD=$nss_wrapper setsid smbd --configfile="$srv/smb.conf" --foreground --no-process-group \
    --debug-stdout >"$srv/logs/smbd.out" 2>&1 &
smbd_pid=$!
pids=("$smbd_pid")
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

# share_test DESCRIPTION STATUS MESSAGE IPFORM SHARE USER PASSWORD: runs the
# test and checks the exit status, the message and the IP form ("" for none).
share_test() {
    local what=$1 want_status=$2 want_message=$3 want_ip=$4
    local start end status
    start=$(date +%s%N)
    media --set "NetShare=$5" --set "NetUser=$6" --set "NetPassword=$7" share-test \
        >"$work/out" 2>"$work/err"
    status=$?
    end=$(date +%s%N)
    elapsed=$(((end - start) / 1000000))
    local message ip
    message=$(head -n 1 "$work/err" | sed 's/^error: //')
    ip=$(cat "$work/out")
    if [ "$status" -eq "$want_status" ] && [ "$message" = "$want_message" ] && [ "$ip" = "$want_ip" ]; then
        ok "$what ($elapsed ms: $(tail -n 1 "$work/err"))"
    else
        not_ok "$what" "exit $status, expected $want_status" "message \"$message\", expected \"$want_message\"" \
            "IP form \"$ip\", expected \"$want_ip\"" "$(cat "$work/err")"
    fi
}

fail="Could not test the share"
# in_time DESCRIPTION: the last test gave up within the wizard's patience; the
# bound is loose on purpose, the time itself is printed.
in_time() {
    [ "$elapsed" -lt 12000 ] && ok "$1 given up on in time ($elapsed ms)" ||
        not_ok "$1 given up on in time" "$elapsed ms"
}
while IFS='|' read -r what status message ip share user password; do
    [ -z "$what" ] && continue
    share_test "$what" "$status" "$message" "$ip" "$share" "$user" "$password"
done <<'EOF'
good credentials|0|Network share ok|\\127.0.0.1\share|\\127.0.0.1\share|tester|Secret-1
trailing backslash cut|0|Network share ok|\\127.0.0.1\share|\\127.0.0.1\share\|tester|Secret-1
name with a space and a hash|0|Network share ok|\\127.0.0.1\wipe logs #1|\\127.0.0.1\wipe logs #1|tester|Secret-1
folder inside the share|0|Network share ok|\\127.0.0.1\share\sub|\\127.0.0.1\share\sub|tester|Secret-1
host name replaced by its address|0|Network share ok|\\127.0.0.1\share|\\localhost\share|tester|Secret-1
domain given with the user|0|Network share ok|\\127.0.0.1\share|\\127.0.0.1\share|SCOURTEST\tester|Secret-1
wrong password|1|Invalid password||\\127.0.0.1\share|tester|wrong
wrong password on a share open to guests|1|Invalid password||\\127.0.0.1\open|tester|wrong
empty password|1|Invalid password||\\127.0.0.1\share|tester|
unknown user|1|Invalid password||\\127.0.0.1\share|nobody-here|Secret-1
missing share|1|Network share not found||\\127.0.0.1\missing|tester|Secret-1
missing folder in the share|1|Network share not found||\\127.0.0.1\share\missing|tester|Secret-1
share refusing the user|1|Network share access denied||\\127.0.0.1\refused|tester|Secret-1
no user: anonymous, refused|1|Network share access denied||\\127.0.0.1\share||
server without a share|1|Network share not found||\\127.0.0.1|tester|Secret-1
EOF

# The client library would cut a password this long, and a cut one might pass.
share_test "overlong password" 1 "Invalid password" "" '\\127.0.0.1\share' tester "$(printf 'x%.0s' {1..300})"

# No server behind the address, a name no resolver knows, a port in the host
# part (UNC has no port syntax): failures, each in bounded time.
share_test "nothing listening" 1 "$fail" "" '\\127.0.0.2\share' tester Secret-1
share_test "unknown host name" 1 "$fail" "" '\\no-such-host.invalid\share' tester Secret-1
share_test "port in the host part" 1 "$fail" "" '\\127.0.0.1:445\share' tester Secret-1

# A server that takes the connection and never answers.
python3 -c '
import socket, time
s = socket.socket(); s.bind(("127.0.0.3", 445)); s.listen(5)
conns = []
while True:
    c, _ = s.accept(); conns.append(c)
' &
pids+=($!)
listening 127.0.0.3 || not_ok "silent server started"
share_test "silent server" 1 "$fail" "" '\\127.0.0.3\share' tester Secret-1
in_time "silent server"

# A host that is down: 10.99.0.0/24 is routed into loopback, where no address
# of it is local, so a connection attempt is never answered.
ip addr add 10.99.0.1/32 dev lo && ip route add 10.99.0.0/24 dev lo
share_test "host that is down" 1 "$fail" "" '\\10.99.0.2\share' tester Secret-1
in_time "host that is down"

# The user's own client configuration does not change the result.
mkdir -p "$HOME/.smb"
printf '[global]\nclient max protocol = NT1\n' >"$HOME/.smb/smb.conf"
share_test "user's smb.conf ignored" 0 "Network share ok" '\\127.0.0.1\share' '\\127.0.0.1\share' tester Secret-1
rm -rf "$HOME/.smb"

check "no private client configuration left behind" test -z "$(ls -A "$TMPDIR")"

# Without any interface up the client library would end the process.
unshare --net "$SCOUR_BIN/scourline-media" --set 'NetShare=\\127.0.0.1\share' \
    --set NetUser=tester --set NetPassword=Secret-1 share-test >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 1 ] && grep -qx 'error: Network share not found' "$work/err" &&
    ok "no network: not found ($(tail -n 1 "$work/err"))" ||
    not_ok "no network: not found" "exit $status" "$(cat "$work/err")"

expect_status "share without two backslashes is a usage error" 2 \
    media --set 'NetShare=127.0.0.1\share' share-test

finish

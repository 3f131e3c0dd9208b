#!/usr/bin/env bash
# The Debian package installed with apt and used: lintian finds nothing; the
# program folder is root's and closed to other writers; a user's ISO image boots
# with the chosen options; the wizard starts; the purge leaves nothing, and the
# machine is restored even on failure. Uses SCOUR_DEB, or builds a package.
. "$(dirname "$0")/lib.sh"

: "${SCOUR_SOURCE:?}"
skip() { echo "SKIP: $1"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "installing the package needs root"
state=$(dpkg-query -W -f='${db:Status-Abbrev}' scourline 2>/dev/null || true)
case $state in
"" | un*) ;;
*) skip "a scourline package is on this machine already ($state): the test would remove it" ;;
esac

version=$(sed -n 's/^project(Scourline VERSION \([0-9.]*\).*/\1/p' "$SCOUR_SOURCE/CMakeLists.txt")
build=$(dirname "$SCOUR_BIN")
lib=/usr/lib/scourline

# --- The package. ----------------------------------------------------------
deb=${SCOUR_DEB:-}
[ -z "${SCOUR_DEB_ERROR:-}" ] || { not_ok "the package builds" "$(tail -n 20 "$SCOUR_DEB_ERROR")"; finish; }
if [ -z "$deb" ]; then
    start=$SECONDS
    if deb=$(SCOUR_PACKAGE_DIR=$build/package SCOUR_CACHE_DIR=${SCOUR_CACHE:-$build/cache} \
        bash "$SCOUR_SOURCE/tools/package.sh" deb 2>"$work/err" | tail -n 1) && [ -f "$deb" ]; then
        ok "the package builds ($((SECONDS - start)) s)"
    else
        not_ok "the package builds" "$(tail -n 20 "$work/err")"
        finish
    fi
fi
changes=${deb%.deb}.changes
check "its version is the project's" test "$(dpkg-deb -f "$deb" Version)" = "$version"

if lintian --fail-on error,warning --tag-display-limit 0 "$changes" >"$work/lintian" 2>&1; then
    ok "lintian: no error or warning on the .deb and the .changes"
else
    not_ok "lintian: no error or warning on the .deb and the .changes" "$(head -n 30 "$work/lintian")"
fi

depends=$(dpkg-deb -f "$deb" Depends)
missing=""
for tool in 'genisoimage | xorriso' syslinux syslinux-common mtools dosfstools pkexec libqt6widgets6; do
    [[ ", $depends," == *", $tool"[\ ,]* ]] || missing+=" $tool,"
done
if [ -z "$missing" ]; then ok "Depends names every tool"; else not_ok "Depends names every tool" "missing:$missing" "$depends"; fi


# --- The machine before, and its restoration. ------------------------------
# The file system outside the places that change by themselves (logs, caches,
# apt's and dpkg's own state).
fs_list() {
    find /usr /etc /opt /var -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/cache \
        -o -path /var/log -o -path /var/tmp -o -path /var/lib/systemd \) -prune -o -print 2>/dev/null |
        LC_ALL=C sort
}
fs_list >"$work/fs-before"

# Packages apt would add for the Depends: removed again at the end.
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q "$@"; }
mapfile -t extras < <(apt_get -s install --no-install-recommends "$deb" 2>/dev/null |
    sed -n 's/^Inst \([^ :]*\).*/\1/p' | grep -vx scourline)
installed_by_us=0
# shellcheck disable=SC2317 # the exit trap
restore() {
    if [ "$installed_by_us" -eq 1 ]; then
        dpkg --purge scourline >/dev/null 2>&1
        [ ${#extras[@]} -gt 0 ] && apt_get purge -y "${extras[@]}" >/dev/null 2>&1
    fi
    rm -rf "$work"
}
trap restore EXIT
# A stopped test still restores (the exit trap runs on exit only).
trap 'exit 143' TERM INT

# --- Install. --------------------------------------------------------------
start=$SECONDS
installed_by_us=1
if apt_get install -y --no-install-recommends "$deb" >"$work/apt" 2>&1; then
    ok "apt installs the package ($((SECONDS - start)) s${extras[*]:+, with ${extras[*]}})"
else
    not_ok "apt installs the package" "$(tail -n 15 "$work/apt")"
    finish
fi
check "dpkg --verify: the files are as packaged" bash -c "[ -z \"\$(dpkg --verify scourline)\" ]"

# The install rules are checked in linux_install_test; here what the package
# adds: root's files closed to other writers, no link where the disk helper
# refuses one.
check "the program folder and its contents belong to root" \
    bash -c "[ -z \"\$(find '$lib' ! -user root -o ! -group root)\" ]"
check "nothing in the program folder is writable by group or others" \
    bash -c "[ -z \"\$(find '$lib' ! -type l -perm /022)\" ]"
check "no link inside common/ or flash/" bash -c "[ -z \"\$(find '$lib/common' '$lib/flash' -type l)\" ]"
check "the commands lead into the program folder" test "$(readlink -f /usr/bin/scourline-media)" = "$lib/scourline-media"

# --- Used by an unprivileged user. -----------------------------------------
user=$work/user
mkdir -p "$user/home/Documents" "$user/tmp" "$user/runtime"
cp "$SCOUR_SOURCE/tests/wizard-scripts/about-alone.txt" "$user/"
chmod 755 "$work"
chown -R 65534:65534 "$user"
chmod 700 "$user/runtime"
# shellcheck disable=SC2317 # called through expect_status
as_user() {
    (cd "$user" && env -i PATH=/usr/bin:/bin HOME="$user/home" XDG_CONFIG_HOME="$user/home/.config" \
        TMPDIR="$user/tmp" XDG_RUNTIME_DIR="$user/runtime" LC_ALL=C.UTF-8 \
        setpriv --reuid=65534 --regid=65534 --clear-groups timeout 300 "$@")
}
options=(--set AutoStart=1 --set SelectDisks=0 --set Scheme=2 --set NetLog=1
    --set 'NetShare=\\fs1\logs' --set 'NetShareIp=\\10.0.0.5\logs' --set 'NetUser=CORP\admin')
image=$user/home/wipe.iso
expect_status "as uid 65534: scourline-media iso into the user's folder" 0 \
    as_user scourline-media "${options[@]}" iso "$image"
check "the image belongs to the user" test "$(stat -c %u "$image" 2>/dev/null)" = 65534
expect_status "as uid 65534: the archive for the same options" 0 \
    as_user scourline-media "${options[@]}" archive "$user/home/want.scour"
mkdir -p "$work/want" && (cd "$work/want" && cpio -id --quiet --no-absolute-filenames <"$user/home/want.scour")
boot_check package-bios iso "$image" bios "$work/want" &&
    config_reads package-bios "sch0000002.sch|" SCHEME
expect_status "as uid 65534: scourline-wizard -V offscreen ends with 0" 0 \
    as_user env QT_QPA_PLATFORM=offscreen SCOURLINE_WIZARD_SCRIPT="$user/about-alone.txt" scourline-wizard -V

# --- Purge: nothing of the package remains. ---------------------------------
fs_list >"$work/fs-installed"
if dpkg --purge scourline >"$work/out" 2>&1; then ok "dpkg --purge"; else
    not_ok "dpkg --purge" "$(tail -n 10 "$work/out")"
fi
[ ${#extras[@]} -gt 0 ] && apt_get purge -y "${extras[@]}" >/dev/null 2>&1
installed_by_us=0
fs_list >"$work/fs-after"
# What the installation added must be gone; whatever else changed meanwhile
# (other programs of the machine) is not this package's.
LC_ALL=C comm -13 "$work/fs-before" "$work/fs-installed" >"$work/added"
LC_ALL=C comm -12 "$work/added" "$work/fs-after" >"$work/left"
if [ -s "$work/added" ] && [ ! -s "$work/left" ]; then
    ok "the purge removed all $(wc -l <"$work/added") paths the installation added"
else
    not_ok "the purge removed all paths the installation added" "left: $(head -n 10 "$work/left")"
fi
LC_ALL=C comm -23 "$work/fs-before" "$work/fs-after" >"$work/lost"
check "the purge removed nothing that was there before" test ! -s "$work/lost"
finish

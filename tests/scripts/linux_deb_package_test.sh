#!/usr/bin/env bash
# The Debian package installed with apt and used: lintian finds nothing (the
# desktop entry, icons, manual pages and metainfo included); the program folder
# is root's and closed to other writers, its help holds every topic the wizard
# opens, the polkit policy names the installed helper; a user's ISO image boots
# with the chosen options; the wizard starts; the purge leaves nothing, and the
# machine is restored even on failure. Uses SCOUR_DEB, or builds a package.
. "$(dirname "$0")/lib.sh"
: "${SCOUR_SOURCE:?}"
skip() { echo "SKIP: $1"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "installing the package needs root"
state=$(dpkg-query -W -f='${db:Status-Abbrev}' scourline 2>/dev/null || true)
[[ $state == "" || $state == un* ]] || skip "a scourline package is on this machine already ($state)"
build=$(dirname "$SCOUR_BIN")
lib=/usr/lib/scourline

deb=${SCOUR_DEB:-}
[ -z "${SCOUR_DEB_ERROR:-}" ] || { not_ok "the package builds" "$(tail -n 20 "$SCOUR_DEB_ERROR")"; finish; }
if [ -z "$deb" ]; then
    if deb=$(SCOUR_PACKAGE_DIR=$build/package SCOUR_CACHE_DIR=${SCOUR_CACHE:-$build/cache} \
        bash "$SCOUR_SOURCE/tools/package.sh" deb 2>"$work/err" | tail -n 1) && [ -f "$deb" ]; then
        ok "the package builds ($SECONDS s)"
    else
        not_ok "the package builds" "$(tail -n 20 "$work/err")"
        finish
    fi
fi
check "lintian: no error or warning on the .deb and the .changes" \
    lintian --fail-on error,warning --tag-display-limit 0 "${deb%.deb}.changes"
depends=$(dpkg-deb -f "$deb" Depends)
for tool in 'genisoimage | xorriso' syslinux syslinux-common mtools dosfstools pkexec libqt6widgets6; do
    check "Depends names $tool" bash -c '[[ ", $1," == *", $2"[\ ,]* ]]' _ "$depends" "$tool"
done

# The file system outside the places that change by themselves, before.
fs_list() {
    find /usr /etc /opt /var -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/cache \
        -o -path /var/log -o -path /var/tmp -o -path /var/lib/systemd \) -prune -o -print 2>/dev/null |
        LC_ALL=C sort
}
fs_list >"$work/fs-before"
# Packages apt adds for the Depends are removed again at the end, even on failure.
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q "$@"; }
mapfile -t extras < <(apt_get -s install --no-install-recommends "$deb" 2>/dev/null |
    sed -n 's/^Inst \([^ :]*\).*/\1/p' | grep -vx scourline)
purge() {
    dpkg --purge scourline >"$work/purge" 2>&1 && { [ ${#extras[@]} -eq 0 ] || apt_get purge -y "${extras[@]}" >/dev/null 2>&1; true; }
}
trap 'purge; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT

start=$SECONDS
if apt_get install -y --no-install-recommends "$deb" >"$work/apt" 2>&1; then
    ok "apt installs the package ($((SECONDS - start)) s${extras[*]:+, with ${extras[*]}})"
else
    not_ok "apt installs the package" "$(tail -n 15 "$work/apt")"
    finish
fi
check "dpkg --verify: the files are as packaged" test -z "$(dpkg --verify scourline)"
# No link where the disk helper refuses one; mkisofs is the maker chooser, not a link.
check "the program folder and its contents belong to root" test -z "$(find "$lib" ! -user root -o ! -group root)"
check "nothing in the program folder is writable by group or others" test -z "$(find "$lib" ! -type l -perm /022)"
check "no link inside common/ or flash/" test -z "$(find "$lib/common" "$lib/flash" -type l)"
check "mkisofs is the maker chooser" test -x "$lib/mkisofs" -a ! -L "$lib/mkisofs"
check "the commands lead into the program folder" test "$(readlink -f /usr/bin/scourline-media)" = "$lib/scourline-media"
policy=/usr/share/polkit-1/actions/org.valdane.scourline.disk-helper.policy
check "the policy names the installed helper" test "$lib/scourline-disk-helper" = \
    "$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$policy")"
check "active sessions authenticate once for a while" \
    test "$(xmllint --xpath 'string(//action/defaults/allow_active)' "$policy")" = auth_admin_keep
while IFS= read -r t; do
    check "the help has $t" test -s "$lib/help/$t"
done < <(echo index.html; sed -n 's/.*L"\(HTML_Help_e\/[^"]*\)".*/\1/p' "$SCOUR_SOURCE/src/app/help.cpp")

# Used by an unprivileged user.
home=$work/user
mkdir -p "$home/Documents" "$home/tmp" "$home/runtime"
cp "$SCOUR_SOURCE/tests/wizard-scripts/about-alone.txt" "$home/"
chmod 755 "$work" && chown -R 65534:65534 "$home" && chmod 700 "$home/runtime"
options=(--set AutoStart=1 --set SelectDisks=0 --set Scheme=2 --set NetLog=1
    --set 'NetShare=\\fs1\logs' --set 'NetShareIp=\\10.0.0.5\logs' --set 'NetUser=CORP\admin')
expect_status "as uid 65534: scourline-media iso into the user's folder" 0 \
    as_nobody "$home" scourline-media "${options[@]}" iso "$home/wipe.iso"
check "the image belongs to the user" test "$(stat -c %u "$home/wipe.iso" 2>/dev/null)" = 65534
use_scratch_home
want_archive "$work/want" "${options[@]}"
boot_check package-bios iso "$home/wipe.iso" bios "$work/want" && config_reads package-bios "sch0000002.sch|" SCHEME
expect_status "as uid 65534: scourline-wizard -V offscreen ends with 0" 0 \
    as_nobody "$home" env -C "$home" SCOURLINE_WIZARD_SCRIPT="$home/about-alone.txt" scourline-wizard -V

# Purge: what the installation added is gone; what else changed meanwhile
# (other programs of the machine) is not this package's.
fs_list >"$work/fs-installed"
if purge; then ok "dpkg --purge"; else not_ok "dpkg --purge" "$(tail -n 10 "$work/purge")"; fi
fs_list >"$work/fs-after"
LC_ALL=C comm -13 "$work/fs-before" "$work/fs-installed" >"$work/added"
LC_ALL=C comm -12 "$work/added" "$work/fs-after" >"$work/left"
check "the purge removed all $(wc -l <"$work/added") paths the installation added" test -s "$work/added" -a ! -s "$work/left"
head -n 10 "$work/left"
check "the purge removed nothing that was there before" test -z "$(LC_ALL=C comm -23 "$work/fs-before" "$work/fs-after")"
finish

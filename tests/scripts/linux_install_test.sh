#!/usr/bin/env bash
# cmake --install, to a prefix and with DESTDIR: the program folder, the links
# in bin, manual pages and the polkit policy naming the installed helper; the
# installed help holds every topic the wizard opens.
. "$(dirname "$0")/lib.sh"
: "${SCOUR_SOURCE:?}"
use_scratch_home
build=$(dirname "$SCOUR_BIN")

# check_install PREFIX ROOT: ROOT is where PREFIX's files landed (DESTDIR + PREFIX).
check_install() {
    local prefix=$1 root=$2 lib=$2/lib/scourline d p path policy=$2/share/polkit-1/actions/org.valdane.scourline.disk-helper.policy
    # mkisofs is the maker chooser, not the build's link.
    for p in scourline-media scourline-disk-helper scourline-share-probe mkisofs; do
        check "$p in the program folder, no link" test -x "$lib/$p" -a ! -L "$lib/$p"
    done
    check "the scheme files" bash -c "ls '$lib'/schemes/*.sch >/dev/null"
    for d in common iso boot flash net help; do
        [ ! -d "$SCOUR_BIN/$d" ] || check "$d/ as the build has it" diff -r "$SCOUR_BIN/$d" "$lib/$d"
    done
    [ ! -x "$SCOUR_BIN/flash/syslinux" ] || check "flash/syslinux stays executable" test -x "$lib/flash/syslinux"
    for p in scourline-media scourline-wizard; do
        [ ! -e "$lib/$p" ] || check "bin/$p links into the program folder" test "$(readlink "$root/bin/$p")" = "../lib/scourline/$p"
        check "man -l renders $p(1) without a warning" bash -c 'MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null |
            grep -q . && exit 1; MANWIDTH=80 man -l "$1" | grep -q "EXIT STATUS"' _ "$root/share/man/man1/$p.1"
    done
    # The desktop entry, icons and metainfo are lintian's (linux_deb_package_test).
    check "the desktop entry starts the wizard" grep -qx 'Exec=scourline-wizard' "$root/share/applications/scourline-wizard.desktop"
    path=$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$policy")
    check "the policy names the installed helper ($path)" test "$path" = "$prefix/lib/scourline/scourline-disk-helper"
    check "active sessions authenticate once for a while" \
        test "$(xmllint --xpath 'string(//action/defaults/allow_active)' "$policy")" = auth_admin_keep
}

prefix=$work/prefix
expect_status "cmake --install to a prefix" 0 cmake --install "$build" --prefix "$prefix"
check_install "$prefix" "$prefix"
topics=$(sed -n 's/.*L"\(HTML_Help_e\/[^"]*\)".*/\1/p' "$SCOUR_SOURCE/src/app/help.cpp")
missing=$(printf 'index.html\n%s\n' "$topics" | while IFS= read -r t; do [ -s "$prefix/lib/scourline/help/$t" ] || echo "$t"; done)
check "the help has the contents and all $(wc -l <<<"$topics") topics the wizard opens $missing" test -n "$topics" -a -z "$missing"
# The installed program, started through its link, uses the installed folder.
[ ! -x "$SCOUR_BIN/flash/syslinux" ] || expect_status "bin/scourline-media iso with the installed boot files" 0 \
    "$prefix/bin/scourline-media" iso "$work/installed.iso"
expect_status "cmake --install with DESTDIR" 0 env DESTDIR="$work/dest" cmake --install "$build" --prefix /opt/scourline
check_install /opt/scourline "$work/dest/opt/scourline"
check "nothing outside DESTDIR" test ! -e /opt/scourline
finish

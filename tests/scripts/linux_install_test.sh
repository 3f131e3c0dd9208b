#!/usr/bin/env bash
# cmake --install with DESTDIR and a prefix of its own: the program folder, the
# links in bin, manual pages and the polkit policy naming the installed helper;
# the installed help holds every topic the wizard opens; the installed program
# makes an image from the installed folder. (The desktop entry, icons and
# metainfo are lintian's, in linux_deb_package_test.)
. "$(dirname "$0")/lib.sh"
: "${SCOUR_SOURCE:?}"
use_scratch_home
root=$work/dest/opt/scourline lib=$work/dest/opt/scourline/lib/scourline
expect_status "cmake --install with DESTDIR" 0 env DESTDIR="$work/dest" cmake --install "$(dirname "$SCOUR_BIN")" --prefix /opt/scourline
check "nothing outside DESTDIR" test ! -e /opt/scourline
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
check "the desktop entry starts the wizard" grep -qx 'Exec=scourline-wizard' "$root/share/applications/scourline-wizard.desktop"
policy=$root/share/polkit-1/actions/org.valdane.scourline.disk-helper.policy
path=$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$policy")
check "the policy names the installed helper ($path)" test "$path" = /opt/scourline/lib/scourline/scourline-disk-helper
check "active sessions authenticate once for a while" \
    test "$(xmllint --xpath 'string(//action/defaults/allow_active)' "$policy")" = auth_admin_keep
topics=$(sed -n 's/.*L"\(HTML_Help_e\/[^"]*\)".*/\1/p' "$SCOUR_SOURCE/src/app/help.cpp")
missing=$(printf 'index.html\n%s\n' "$topics" | while IFS= read -r t; do [ -s "$lib/help/$t" ] || echo "$t"; done)
check "the help has the contents and all $(wc -l <<<"$topics") topics the wizard opens $missing" test -n "$topics" -a -z "$missing"
# The installed program, started through its link, uses the installed folder.
[ ! -x "$SCOUR_BIN/flash/syslinux" ] || expect_status "bin/scourline-media iso with the installed boot files" 0 \
    "$root/bin/scourline-media" iso "$work/installed.iso"
finish

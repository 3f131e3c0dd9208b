#!/usr/bin/env bash
# cmake --install: the program folder under lib/scourline, the links in bin,
# the desktop entry, the icon and the disk helper's polkit policy naming the
# installed helper; and the installed programs find their program folder
# through the links.
. "$(dirname "$0")/lib.sh"

: "${SCOUR_SOURCE:?}"
use_scratch_home
build=$(dirname "$SCOUR_BIN")

# check_install PREFIX ROOT: ROOT is where PREFIX's files landed (DESTDIR + PREFIX).
check_install() {
    local prefix=$1 root=$2 lib=$2/lib/scourline
    for f in scourline-media scourline-disk-helper scourline-share-probe; do
        check "$f in the program folder" test -x "$lib/$f" -a ! -L "$lib/$f"
    done
    check "the scheme files" bash -c "ls '$lib'/schemes/*.sch >/dev/null"
    for d in common iso boot flash net help; do
        if [ -d "$SCOUR_BIN/$d" ]; then
            check "$d/ as the build has it" diff -r "$SCOUR_BIN/$d" "$lib/$d"
        fi
    done
    [ -x "$SCOUR_BIN/flash/syslinux" ] && check "flash/syslinux stays executable" test -x "$lib/flash/syslinux"
    check "mkisofs is the maker chooser, not the build's link" \
        test -x "$lib/mkisofs" -a ! -L "$lib/mkisofs"
    for p in scourline-media scourline-wizard; do
        if [ -e "$lib/$p" ]; then
            check "bin/$p links into the program folder" \
                test "$(readlink "$root/bin/$p")" = "../lib/scourline/$p"
        fi
    done
    check "the desktop entry" grep -qx 'Exec=scourline-wizard' "$root/share/applications/scourline-wizard.desktop"
    if command -v desktop-file-validate >/dev/null; then
        check "the desktop entry validates" desktop-file-validate "$root/share/applications/scourline-wizard.desktop"
    fi
    if [ -f "$SCOUR_SOURCE/art/scourline-256.png" ]; then
        check "the icon" cmp -s "$SCOUR_SOURCE/art/scourline-256.png" \
            "$root/share/icons/hicolor/256x256/apps/scourline-wizard.png"
    fi
    for page in scourline-media scourline-wizard; do
        check "the manual page $page(1)" test -s "$root/share/man/man1/$page.1"
    done
    check "the metainfo" test -s "$root/share/metainfo/org.valdane.scourline.metainfo.xml"
    local policy=$root/share/polkit-1/actions/org.valdane.scourline.disk-helper.policy
    check "the policy is well-formed XML" xmllint --noout "$policy"
    local path
    path=$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$policy")
    check "the policy names the installed helper ($path)" \
        test "$path" = "$prefix/lib/scourline/scourline-disk-helper"
    check "active sessions authenticate once for a while" \
        test "$(xmllint --xpath 'string(//action/defaults/allow_active)' "$policy")" = auth_admin_keep
}

prefix=$work/prefix
if cmake --install "$build" --prefix "$prefix" >"$work/out" 2>&1; then ok "cmake --install to a prefix"; else
    not_ok "cmake --install to a prefix" "$(tail -n 5 "$work/out")"
fi
check_install "$prefix" "$prefix"

# The installed program, started through its link, uses the installed folder.
expect_status "bin/scourline-media show" 0 "$prefix/bin/scourline-media" show
if [ -x "$SCOUR_BIN/flash/syslinux" ]; then
    expect_status "bin/scourline-media iso with the installed boot files" 0 \
        "$prefix/bin/scourline-media" iso "$work/installed.iso"
    check "the image is there" test -s "$work/installed.iso"
fi

# A package build: DESTDIR holds the files, the policy names the final place.
if DESTDIR=$work/dest cmake --install "$build" --prefix /opt/scourline >"$work/out" 2>&1; then
    ok "cmake --install with DESTDIR"
else
    not_ok "cmake --install with DESTDIR" "$(tail -n 5 "$work/out")"
fi
check_install /opt/scourline "$work/dest/opt/scourline"
check "nothing outside DESTDIR" test ! -e /opt/scourline

finish

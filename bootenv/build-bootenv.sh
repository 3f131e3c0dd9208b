#!/usr/bin/env bash
# Assembles the sample boot environment into the program folder:
#   common/  files for the root of every medium (kernel, initramfs, EFI image,
#            SPARC placeholder, syslinux.cfg for USB disks, the UEFI loaders
#            in efi/boot/ and their configuration in boot/grub/)
#   iso/     isolinux files, placed at /isolinux/ on a CD
#   boot/    SPARC boot block placeholder
#   flash/   what the USB disk preparation installs (syslinux, ldlinux.c32, MBR)
#   net/     network boot loaders and their configurations (pxelinux for BIOS,
#            shim and GRUB's network build for UEFI)
#   mkisofs  link to the machine's image maker
# Everything comes from Debian packages. The signed packages (kernel, shim,
# GRUB) are downloaded once into the cache folder and unpacked there, never
# installed: installing shim or GRUB would set up this machine's own boot.
#
# Usage: build-bootenv.sh OUTDIR CACHEDIR
# Running it again only replaces outputs whose content changed, so file times
# stay put and later build steps are not redone.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 OUTDIR CACHEDIR" >&2
    exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$1" "$2"
out=$(cd "$1" && pwd)
cache=$(cd "$2" && pwd)

# Fixed time stamp for generated files, so that equal inputs give equal bytes.
stamp=${SOURCE_DATE_EPOCH:-1704067200}

# The kernel's command line, the same for CDs and USB disks. Only the serial
# line is a console, so the kernel never writes on the screen that the boot
# loader left; panic=1 with QEMU's -no-reboot ends a failed boot at once.
kernel_args="console=ttyS0,115200 panic=1"

die() {
    echo "build-bootenv: $*" >&2
    exit 1
}

need_file() {
    [ -f "$1" ] || die "$1 is missing (Debian package $2; see tools/setup-debian.sh)"
}

need_cmd() {
    command -v "$1" >/dev/null || die "command $1 is missing (Debian package $2; see tools/setup-debian.sh)"
}

# install_if_changed SRC DEST [MODE]: moves or copies SRC to DEST unless DEST
# already has the same bytes.
install_if_changed() {
    local src=$1 dest=$2 mode=${3:-0644}
    if [ -f "$dest" ] && [ ! -L "$dest" ] && cmp -s "$src" "$dest"; then
        return 0
    fi
    mkdir -p "$(dirname "$dest")"
    rm -f "$dest"
    cp "$src" "$dest.tmp"
    chmod "$mode" "$dest.tmp"
    mv "$dest.tmp" "$dest"
    echo "build-bootenv: updated ${dest#"$out"/}"
}

work=$(mktemp -d "$cache/work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# download_unpack PKG[=VERSION] DL DEST: downloads the package into DL, unpacks
# it into DEST and drops the archive.
download_unpack() {
    local package=$1 dl=$2 dest=$3 deb
    mkdir -p "$dl"
    # apt-get download writes into the current folder, which apt's own _apt
    # user may not be able to write: download as the caller instead.
    if ! (cd "$dl" && apt-get download -q -o APT::Sandbox::User=root "$package" >&2); then
        die "downloading ${package%%=*} failed (needs Debian's package archive)"
    fi
    deb=$(find "$dl" -name '*.deb' | head -n 1)
    [ -n "$deb" ] || die "apt-get download left no .deb for ${package%%=*}"
    dpkg-deb -x "$deb" "$dest" || die "cannot unpack $deb"
    rm -rf "$dl"
}

# --- kernel -----------------------------------------------------------------

# Prints the path of a cached vmlinuz, downloading and unpacking the kernel
# package first when the cache does not hold the one apt currently resolves.
fetch_kernel() {
    local pkg="" dir cached
    pkg=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9].*-cloud-amd64\)$/\1/p' | head -n 1) || true
    if [ -z "$pkg" ]; then
        # No package lists (apt-get update never ran): any cached kernel will do.
        cached=$(find "$cache/kernel" -path '*/boot/vmlinuz-*' -type f 2>/dev/null | sort | tail -n 1)
        [ -n "$cached" ] || die "cannot resolve linux-image-cloud-amd64: run apt-get update"
        echo "$cached"
        return 0
    fi
    dir=$cache/kernel/$pkg
    cached=$(find "$dir/root/boot" -name 'vmlinuz-*' -type f 2>/dev/null | head -n 1)
    if [ -n "$cached" ]; then
        echo "$cached"
        return 0
    fi
    echo "build-bootenv: downloading $pkg" >&2
    rm -rf "$dir"
    download_unpack "$pkg" "$dir/dl" "$dir/root"
    # Only the kernel itself is needed: drop the 90 MB of modules.
    rm -rf "$dir/root/lib" "$dir/root/usr"
    cached=$(find "$dir/root/boot" -name 'vmlinuz-*' -type f | head -n 1)
    [ -n "$cached" ] || die "$pkg holds no boot/vmlinuz-*"
    # Kernels that apt no longer resolves are not needed again.
    find "$cache/kernel" -mindepth 1 -maxdepth 1 ! -name "$pkg" -exec rm -rf {} +
    echo "$cached"
}

need_cmd apt-cache apt
need_cmd dpkg-deb dpkg
vmlinuz=$(fetch_kernel)
install_if_changed "$vmlinuz" "$out/common/vmlinuz"

# --- initramfs ----------------------------------------------------------------

need_file /bin/busybox busybox-static
need_cmd cpio cpio

root=$work/initrd
mkdir -p "$root"/{bin,dev,etc,proc,sys,run,root,tmp/scheme}
chmod 1777 "$root/tmp"
cp /bin/busybox "$root/bin/busybox"
for applet in $(/bin/busybox --list); do
    [ "$applet" = busybox ] || ln -s busybox "$root/bin/$applet"
done
install -m 0755 "$here/init.sh" "$root/init"
# The list of base files with their checksums lets /init tell received files
# from its own (paths as seen from inside: ./bin/x becomes /bin/x).
(cd "$root" && find . -type f | LC_ALL=C sort | xargs md5sum | sed 's#  \./#  /#') >"$work/base-files"
mv "$work/base-files" "$root/etc/base-files"
find "$root" -exec touch -h -d "@$stamp" {} +
(cd "$root" && find . -mindepth 1 -print0 | LC_ALL=C sort -z |
    cpio --null --create --format=newc --owner=0:0 --reproducible --quiet) |
    gzip -n -9 >"$work/initrd.gz"
install_if_changed "$work/initrd.gz" "$out/common/initrd.gz"

# --- UEFI boot chain ------------------------------------------------------------

# fetch_signed PKG: prints the folder where the version of PKG that apt resolves
# now is unpacked, downloading it first when the cache lacks that version.
fetch_signed() {
    local pkg=$1 version dir
    version=$(apt-cache policy "$pkg" 2>/dev/null | sed -n 's/^ *Candidate: \(.*\)$/\1/p' | head -n 1) || true
    if [ -z "$version" ] || [ "$version" = "(none)" ]; then
        # No package lists: any cached version will do.
        dir=$(find "$cache/signed" -mindepth 1 -maxdepth 1 -name "${pkg}_*" -type d 2>/dev/null | sort | tail -n 1)
        [ -n "$dir" ] || die "cannot resolve $pkg: run apt-get update"
        echo "$dir/root"
        return 0
    fi
    dir=$cache/signed/${pkg}_${version//:/_}
    if [ -d "$dir/root" ]; then
        echo "$dir/root"
        return 0
    fi
    echo "build-bootenv: downloading $pkg $version" >&2
    rm -rf "$dir"
    download_unpack "$pkg=$version" "$dir/dl" "$dir/root.tmp"
    mv "$dir/root.tmp" "$dir/root"
    # Versions that apt no longer resolves are not needed again.
    find "$cache/signed" -mindepth 1 -maxdepth 1 -name "${pkg}_*" ! -path "$dir" -exec rm -rf {} +
    echo "$dir/root"
}

shim_root=$(fetch_signed shim-signed)
grub_root=$(fetch_signed grub-efi-amd64-signed)
shim=$shim_root/usr/lib/shim/shimx64.efi.signed
grub_disk=$grub_root/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed
grub_net=$grub_root/usr/lib/grub/x86_64-efi-signed/grubnetx64.efi.signed
for f in "$shim" "$grub_disk" "$grub_net"; do
    [ -s "$f" ] || die "$f is missing from the unpacked package"
done

# Firmware starts shim as the removable medium's loader; shim starts the GRUB
# beside it. Debian's GRUB reads /EFI/debian/grub.cfg, and stops at its prompt
# when /EFI/debian exists without one. So there is no /EFI/debian, and GRUB
# goes on to find /.disk/info and reads /boot/grub/grub.cfg on that medium.
# Those names are lower case everywhere: a CD keeps the case of names. The
# loaders for USB disks go beside the CD's efi/boot.img in lower case too: on
# Windows an efi and an EFI folder would become one, and the CD's image maker
# would miss efi/boot.img; the firmware finds \EFI\BOOT\BOOTX64.EFI on FAT in
# any case.
install_if_changed "$shim" "$out/common/efi/boot/bootx64.efi"
install_if_changed "$grub_disk" "$out/common/efi/boot/grubx64.efi"

printf '%s\n' "Scourline sample boot environment" >"$work/info"
install_if_changed "$work/info" "$out/common/.disk/info"

# GRUB may have found another medium's /.disk/info: the one to start is the
# one that holds the configuration archive.
cat >"$work/grub.cfg" <<EOF
set timeout=0
search --no-floppy --file --set=root /scour
linux /vmlinuz $kernel_args
initrd /initrd.gz /scour
boot
EOF
install_if_changed "$work/grub.cfg" "$out/common/boot/grub/grub.cfg"

# The CD's second El Torito entry starts this image. GRUB then takes the whole
# disc as its device and reads the configuration from the ISO tree.
need_cmd mkfs.vfat dosfstools
need_cmd mcopy mtools
mkfs.vfat -C --invariant -i 5C0E2690 -n SCOUREFI "$work/boot.img" 6144 >/dev/null
cp "$shim" "$work/BOOTX64.EFI"
cp "$grub_disk" "$work/grubx64.efi"
touch -d "@$stamp" "$work/BOOTX64.EFI" "$work/grubx64.efi"
MTOOLS_SKIP_CHECK=1 mmd -i "$work/boot.img" ::/EFI ::/EFI/BOOT
MTOOLS_SKIP_CHECK=1 mcopy -m -i "$work/boot.img" "$work/BOOTX64.EFI" "$work/grubx64.efi" ::/EFI/BOOT/
install_if_changed "$work/boot.img" "$out/common/efi/boot.img"

# --- placeholders for the SPARC media -----------------------------------------

# The SPARC image must be a multiple of 4 bytes long: the text is padded.
text="Scourline sample boot environment: no SPARC image."
while [ $(((${#text} + 1) % 4)) -ne 0 ]; do text+=" "; done
printf '%s\n' "$text" >"$work/wipe.sparc64.lz"
install_if_changed "$work/wipe.sparc64.lz" "$out/common/wipe.sparc64.lz"

# The boot block is copied into the CD's first sectors; one zeroed sector with
# a note in front is enough where no SPARC boot loader exists.
{
    printf 'Scourline sample boot environment: no SPARC boot block.\n'
    head -c 512 /dev/zero
} | head -c 512 >"$work/isofs.b"
install_if_changed "$work/isofs.b" "$out/boot/isofs.b"

# --- boot loader configurations -----------------------------------------------

# TIMEOUT 0 without PROMPT boots at once. The syslinux paths are absolute
# because isolinux starts in /isolinux/ while the files sit at the CD's root.
write_cfg() {
    cat <<EOF
SERIAL 0 115200
DISPLAY /welcome.txt
DEFAULT scour
TIMEOUT 0
LABEL scour
  KERNEL /vmlinuz
  APPEND initrd=/initrd.gz,/scour $kernel_args
EOF
}
write_cfg >"$work/syslinux.cfg"
write_cfg >"$work/isolinux.cfg"
install_if_changed "$work/syslinux.cfg" "$out/common/syslinux.cfg"
install_if_changed "$work/isolinux.cfg" "$out/iso/isolinux.cfg"

# --- boot loaders ---------------------------------------------------------------

need_file /usr/lib/ISOLINUX/isolinux.bin isolinux
need_file /usr/lib/syslinux/modules/bios/ldlinux.c32 syslinux-common
need_file /usr/lib/syslinux/mbr/mbr.bin syslinux-common
need_file /usr/bin/syslinux syslinux
install_if_changed /usr/lib/ISOLINUX/isolinux.bin "$out/iso/isolinux.bin"
install_if_changed /usr/lib/syslinux/modules/bios/ldlinux.c32 "$out/iso/ldlinux.c32"
install_if_changed /usr/lib/syslinux/modules/bios/ldlinux.c32 "$out/flash/ldlinux.c32"
install_if_changed /usr/lib/syslinux/mbr/mbr.bin "$out/flash/mbr.bin"
install_if_changed /usr/bin/syslinux "$out/flash/syslinux" 0755

# --- network boot ----------------------------------------------------------------

# The network boot tree holds common/ and net/ at its root. BIOS clients get
# pxelinux.0, which reads pxelinux.cfg/default; its paths are relative to the
# TFTP root. UEFI clients get shim, which fetches grubx64.efi from beside
# itself; GRUB's network build reads /grub/grub.cfg from the TFTP server.
need_file /usr/lib/PXELINUX/pxelinux.0 pxelinux
install_if_changed /usr/lib/PXELINUX/pxelinux.0 "$out/net/pxelinux.0"
install_if_changed /usr/lib/syslinux/modules/bios/ldlinux.c32 "$out/net/ldlinux.c32"
cat >"$work/pxelinux.cfg" <<EOF
SERIAL 0 115200
DISPLAY welcome.txt
DEFAULT scour
TIMEOUT 0
LABEL scour
  KERNEL vmlinuz
  APPEND initrd=initrd.gz,scour $kernel_args
EOF
install_if_changed "$work/pxelinux.cfg" "$out/net/pxelinux.cfg/default"
install_if_changed "$shim" "$out/net/bootx64.efi"
install_if_changed "$grub_net" "$out/net/grubx64.efi"
cat >"$work/grub-net.cfg" <<EOF
set timeout=0
linux /vmlinuz $kernel_args
initrd /initrd.gz /scour
boot
EOF
install_if_changed "$work/grub-net.cfg" "$out/net/grub/grub.cfg"

# --- image maker ------------------------------------------------------------------

maker=$(command -v genisoimage || command -v xorrisofs || true)
[ -n "$maker" ] || die "neither genisoimage nor xorrisofs is installed (Debian packages genisoimage, xorriso)"
if [ "$(readlink "$out/mkisofs" 2>/dev/null || true)" != "$maker" ]; then
    ln -sfn "$maker" "$out/mkisofs"
    echo "build-bootenv: mkisofs -> $maker"
fi

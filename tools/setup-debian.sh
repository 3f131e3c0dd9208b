#!/usr/bin/env bash
# Installs every Debian package that the builds, the tests and the sample boot
# environment need. Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  # native build
  build-essential cmake ninja-build pkg-config clang-format git
  googletest libgtest-dev
  libblkid-dev libsmbclient-dev libudev-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
  xdg-user-dirs
  # Windows cross build, run under Wine
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 fonts-wine xvfb xauth xdotool
  # network share test against a real Samba on loopback
  samba smbclient libnss-wrapper iproute2
  # Windows resources and help: resource checks, help compiler, screenshots
  icoutils fp-utils imagemagick
  # Linux privileged helper; the install test reads the policy and desktop entry
  pkexec libxml2-utils desktop-file-utils
  # archive peers used by the tests
  cpio libarchive-tools dash
  # a locale with a decimal comma is generated from the locale sources
  locales
  # media: image makers, boot loaders, FAT tools, boot tests
  genisoimage xorriso syslinux syslinux-common syslinux-utils isolinux
  mtools dosfstools fdisk util-linux busybox-static
  qemu-system-x86
  # network boot: BIOS loader, QEMU's iPXE ROMs, UEFI firmware (plain and
  # Secure Boot), and the DHCP/TFTP server (dnsmasq-base: the binary only, no
  # system service). shim and GRUB are downloaded by the build, not installed.
  pxelinux ipxe-qemu ovmf dnsmasq-base
  # boot tests: reading the boot report back
  python3
  # fuzz targets (tools/fuzz.sh): clang with libFuzzer's runtime
  clang-14 libclang-rt-14-dev
  # packages: the Debian package and its checks, the Windows setup
  debhelper dpkg-dev lintian rsync appstream man-db nsis
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

# The build downloads the sample boot environment's kernel package by name, so
# the package lists must know it even when nothing is missing.
if [ ${#missing[@]} -eq 0 ]; then
  if ! apt-cache policy linux-image-cloud-amd64 2>/dev/null | grep -q 'Candidate: [0-9]'; then
    $SUDO apt-get update -qq
  fi
  echo "setup: all packages present"
  exit 0
fi

$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "setup: installed ${missing[*]}"

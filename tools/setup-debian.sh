#!/usr/bin/env bash
# Installs the build and test toolchain on Debian 12 or 13. Safe to run
# again: it only touches apt when a package is missing. As root it needs no
# sudo (a bare container or chroot has none). A registry between two syncs
# is ridden out as tools/apt-install.sh says.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/apt-install.sh"

packages=(
  cmake make g++ googletest libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 icoutils librsvg2-bin imagemagick
  clang libclang-rt-dev lld
  git osslsigncode openssl unzip strip-nondeterminism
  debootstrap wixl msitools faketime
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo > /dev/null || { echo "setup: run this as root, or install sudo" >&2; exit 1; }
  sudo="sudo"
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Written again by every set-up that cannot install wine32.
wine32_note=$top/build/wine32-missing.txt
rm -f "$wine32_note"
if [ "${#missing[@]}" -gt 0 ]; then
  codename=$(. /etc/os-release 2> /dev/null && echo "${VERSION_CODENAME:-}") || codename=
  apt_install "$codename" "${missing[@]}"
fi

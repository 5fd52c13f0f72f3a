#!/usr/bin/env bash
# Installs the build and test toolchain on Debian 12 or 13. Safe to run
# again: it only touches apt when a package is missing. As root it needs no
# sudo (a bare container or chroot has none).
set -euo pipefail

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
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ] || [ -n "${need_update:-}" ]; then
  $sudo apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

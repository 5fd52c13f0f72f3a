# Sourced by the scripts that run Windows programs under Wine. Picks a Wine
# loader that can run programs of WINEARCH on this machine and exports it as
# WINE (and WINELOADER, which Wine's own child processes follow).
#
# Debian's /usr/bin/wine always starts the i386 loader when wine32 is
# installed, and that loader then starts wine64 for 64-bit programs. Some
# Linux machines (hypervisors without 32-bit compatibility) cannot execute
# i386 programs at all: there a 64-bit prefix still works through the 64-bit
# loader, and a 32-bit Windows program cannot run.
#
# Where wine32 is missing (tools/setup-debian.sh could not install it from a
# registry between two syncs), the same holds, and the reason is the one the
# set-up wrote to build/wine32-missing.txt.
#
# QUILLSET_PROGRAM_ARCH (win32 or win64, default WINEARCH) tells which kind
# of program is to run: a 32-bit one needs the i386 loader in either prefix.
# Sets WINE_UNAVAILABLE to the reason when nothing can run it here.

# Wine 10's wineserver aborts ("free(): invalid pointer") when TMPDIR is in its
# environment. The sourcing script keeps $TMPDIR for its own temp folders;
# what it starts from here on, Wine among it, no longer inherits it.
export -n TMPDIR
# Wine maps file names outside ASCII to Unix names through the Unix locale,
# and with none set (env -i, a bare chroot or container) it cannot make them:
# C.UTF-8, which Debian's libc-bin always ships, whatever the caller's.
export LC_ALL=C.UTF-8
WINE_UNAVAILABLE=
if ! command -v wine > /dev/null 2>&1; then
  WINE_UNAVAILABLE="wine is not installed"
elif /usr/lib/wine/wine --version > /dev/null 2>&1 || { [ ! -e /usr/lib/wine/wine ] && [ ! -e /usr/lib/wine/wine64 ]; }; then
  WINE=wine
elif [ "${WINEARCH:-win32}" = win64 ] && [ "${QUILLSET_PROGRAM_ARCH:-$WINEARCH}" = win64 ] &&
  /usr/lib/wine/wine64 --version > /dev/null 2>&1; then
  WINE=/usr/lib/wine/wine64
  WINELOADER=$WINE
  export WINELOADER
elif [ ! -e /usr/lib/wine/wine ]; then
  WINE_UNAVAILABLE=$(cat "$(dirname "${BASH_SOURCE[0]}")/../build/wine32-missing.txt" 2> /dev/null) ||
    WINE_UNAVAILABLE="32-bit Wine (wine32:i386) is not installed (tools/setup-debian.sh installs it)"
else
  WINE_UNAVAILABLE="this Linux machine cannot execute i386 programs, so Wine cannot run 32-bit Windows programs here"
fi
export WINE

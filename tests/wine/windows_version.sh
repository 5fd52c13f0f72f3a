#!/usr/bin/env bash
# The ordinary case while Wine reports an older Windows, set in the suite's
# prefix for this run only:
#   windows_version.sh <winxp|vista|win7> <prefix> <qse2e> <quillset>
set -uo pipefail

version=$1 prefix=$2 qse2e=$3 quillset=$4
case $version in
winxp) number=5.1 ;;
vista) number=6.0 ;;
win7) number=6.1 ;;
*) echo "usage: $0 winxp|vista|win7 <prefix> <qse2e> <quillset>" >&2; exit 2 ;;
esac

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. "$(dirname "$0")/../../tools/wine-env.sh"
[ -z "$WINE_UNAVAILABLE" ] || { echo "skipped: $WINE_UNAVAILABLE"; exit 77; }
# Wine's output goes to the suite's file, never to CTest's pipe.
out=$prefix.out
wine_reg() { "$WINE" reg "$@" > "$out" 2>&1 < /dev/null; }

trap 'wine_reg delete "HKCU\\Software\\Wine" /v Version /f' EXIT
wine_reg add 'HKCU\Software\Wine' /v Version /d "$version" /f || { echo "FAIL: cannot set the Windows version"; exit 1; }
# Programs started from now on see it; without this check a version Wine
# ignored would pass as the ordinary case.
"$WINE" cmd /c ver > "$out" 2>&1 < /dev/null
grep -q "Windows $number\." "$out" || { echo "FAIL: Wine does not report Windows $number:"; cat "$out"; exit 1; }

"$(dirname "$0")/wine-suite.sh" run "$prefix" "$qse2e" --program "$quillset" settings.ordinary

#!/usr/bin/env bash
# Shows quillset at work under Wine, from a bare Debian 12 to the captured
# debugger output: builds everything, makes a throwaway Wine prefix with a
# settings file, the driver's registry key and a stand-in controller, runs
# quillset under qscapture and shows the registry before and after.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

step() { printf '\n== %s\n' "$*"; }

step "Toolchain (tools/setup-debian.sh)"
tools/setup-debian.sh

# A prefix of our own, so the user's ~/.wine is never touched; Wine's own
# background processes would keep a pipe open, so all output goes to files.
work=$(mktemp -d "${TMPDIR:-/tmp}/quillset-demo.XXXXXX")
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
preset=win32
. tools/wine-env.sh
if [ -n "$WINE_UNAVAILABLE" ]; then
  # The 64-bit build does the same job, and still runs here.
  echo "note: $WINE_UNAVAILABLE; showing the 64-bit build instead"
  export WINEARCH=win64
  preset=win64
  . tools/wine-env.sh
  [ -z "$WINE_UNAVAILABLE" ] || { echo "demo: $WINE_UNAVAILABLE" >&2; exit 1; }
fi
log="$work/log"
cleanup() {
  [ ! -d "$WINEPREFIX" ] || wineserver -k > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

step "Build ($preset preset)"
{ cmake --preset "$preset" && cmake --build --preset "$preset"; } > "$log" 2>&1 || { cat "$log"; exit 1; }
bin="$top/build/$preset"

# Runs a Windows program with its output in the log, then shows it.
run() {
  local status=0
  "$WINE" "$@" > "$log" 2>&1 || status=$?
  cat "$log"
  return "$status"
}

# Unix path to the Z: drive path Windows programs see.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

step "Wine prefix $WINEPREFIX"
start=$(date +%s%N)
# Keep the prefix's server alive between the steps below.
mkdir "$WINEPREFIX"
wineserver -p
"$WINE" wineboot --init > "$log" 2>&1
echo "wineboot took $(( ($(date +%s%N) - start) / 1000000 )) ms"
# No display needed: windows are created but never drawn.
run reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f

step "Settings file C:\\windows\\kvinst\\kvconfig.txt"
# An entry is ':', an ID character, nine bytes quillset skips unread, and a
# one-character value. " value = " is those nine bytes, so ":1 value = 0"
# sets SM enable to 0 and ":2 value = 2" the SD host switch to 2. Nothing
# else in the file may hold a colon.
mkdir -p "$WINEPREFIX/drive_c/windows/kvinst"
printf '%s\r\n' \
  'quillset settings, read once at start-up' \
  'SM card slot, 0 = off, 1 = on      :1 value = 0' \
  'SD host switch, 0 to 3             :2 value = 2' \
  > "$WINEPREFIX/drive_c/windows/kvinst/kvconfig.txt"
cat "$WINEPREFIX/drive_c/windows/kvinst/kvconfig.txt"

key='HKLM\System\CurrentControlSet\Services\kvcard\Parameters'
step "Driver key before (as a fresh driver install would leave it)"
run reg add "$key" /v SMEnable /t REG_DWORD /d 1 /f > /dev/null
run reg add "$key" /v SDSwitch /t REG_DWORD /d 0 /f > /dev/null
run reg query "$key"

step "Stand-in controller (qsdevreg)"
run "$bin/tools/qsdevreg.exe" add 'PCI\VEN_1D5B&DEV_4F17&SUBSYS_00011D5B&REV_01'

step "quillset.exe under qscapture (ms since start, one debugger message a line)"
# Wine's SetupAPI cannot set class-install parameters, so each state change
# ends in "SetClassInstallParams Failed!!" and "CallClassInstaller(REMOVE) failed".
run "$bin/tools/qscapture.exe" "$(winpath "$bin/shell/quillset.exe")"

step "Driver key after"
run reg query "$key"

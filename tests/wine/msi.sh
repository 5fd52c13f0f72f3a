#!/usr/bin/env bash
# The Windows Installer package installed, upgraded, repaired and removed for
# real by Wine's msiexec, in a prefix of its own with the driver key and a
# stand-in controller (and at the end without the driver):
#   msi.sh <prefix> <package> <lower-version package> <failing package> <qsdevreg.exe> <qscheck.exe> <stand-in package>
# The failing package carries a program that writes none of quillset's
# messages in quillset's place, the stand-in package the qsstandin program,
# which writes the messages of the scenario named in %windir%\qsstandin.txt.
# With --refused, the package must refuse the Windows of a prefix that
# wine-suite.sh made, and install nothing:
#   msi.sh --refused <prefix> <package>
set -uo pipefail
refused=
[ "$1" != --refused ] || { refused=1; shift; }
prefix=$1 msi=$2
[ -n "$refused" ] || { old=$3 failing=$4 devreg=$5 check=$6 standin=$7; }
[ "${prefix##*/}" = wine-prefix ] || { echo "refusing to replace $prefix" >&2; exit 2; }
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. "$(dirname "$0")/../../tools/wine-env.sh"
[ -z "$WINE_UNAVAILABLE" ] || { echo "skipped: $WINE_UNAVAILABLE"; exit 77; }

out=$prefix.out
c=$prefix/drive_c
key='HKLM\System\CurrentControlSet\Services\kvcard\Parameters'
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\quillset'
installed=$c/Program\ Files/quillset
settings=$c/windows/kvinst/kvconfig.txt
quillset_log=$installed/quillset.log
failures=0
fail() {
  echo "FAIL: $step: $*"
  failures=$((failures + 1))
}
win() { "$WINE" "$@" > "$out" 2>&1 < /dev/null; }
winpath() { echo "Z:${1//\//\\}"; }

# msiexec's exit code in full: the Unix status of wine keeps its low 8 bits
# only, %ERRORLEVEL% in a batch file all of them. Each run leaves its verbose
# log in $prefix/<step>.log and its event-log trace in $prefix/<step>.err.
install() {
  local expected=$1
  shift
  local log=$prefix/$step.log
  printf '@msiexec %s /qn /l*v %s\r\n@echo msiexec exit code %%ERRORLEVEL%%\r\n' "$*" "$(winpath "$log")" > "$c/step.bat"
  local start=$(date +%s%N)
  WINEDEBUG=+eventlog "$WINE" cmd /c 'C:\step.bat' > "$out" 2> "$prefix/$step.err" < /dev/null
  local code=$(tr -d '\r' < "$out" | sed -n 's/^msiexec exit code //p')
  echo "$step: msiexec $* -> $code in $(( ($(date +%s%N) - start) / 1000000 )) ms"
  [ "$code" = "$expected" ] || fail "msiexec exit code $code, expected $expected"
}
# The MSI log is UTF-16 or ANSI depending on the Wine version.
log_has() { iconv -f UTF-16 -t UTF-8 "$prefix/$step.log" 2> /dev/null | grep -qF "$1" || grep -qF "$1" "$prefix/$step.log"; }
values() {
  local v got=""
  for v in SMEnable SDSwitch; do
    win reg query "$key" /v $v
    got="$got $(tr -d '\r' < "$out" | sed -n "s/.*$v.*REG_DWORD.*0x\([0-9a-f]*\).*/\1/p")"
  done
  [ "$got" = " $1 $2" ] || fail "registry values$got, expected $1 $2"
}
# The package's files; quillset.log, beside them, is qscapture's and stays.
program_files() {
  local listed
  listed=$(ls "$installed" 2> /dev/null | grep -vx quillset.log | paste -sd ' ' -)
  [ "$listed" = "$1" ] || fail "Program Files\\quillset holds '$listed', expected '$1'"
}
event_source() {
  win reg query "$source_key" /v EventMessageFile
  if [ "$1" = registered ]; then
    grep -qi 'REG_EXPAND_SZ.*quillset\\qscapture.exe' "$out" || fail "event source not registered as REG_EXPAND_SZ: $(cat "$out")"
  else
    ! grep -qi 'qscapture' "$out" || fail "event source still registered"
  fi
}
versions() {
  win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products' /s $view
  local listed
  listed=$(tr -d '\r' < "$out" | sed -n 's/.*DisplayVersion.*REG_SZ *//p' | sort | paste -sd ' ' -)
  [ "$listed" = "$1" ] || fail "installed versions '$listed', expected '$1'"
}
settings_file() {
  cmp -s "$settings" "$prefix/settings.expected" || fail "the settings file changed"
}
# The runs that qscapture logged.
runs() {
  local count
  count=$(grep -c '^==== .* outcome' "$quillset_log" 2> /dev/null)
  [ "${count:-0}" -eq "$1" ] || fail "quillset.log holds ${count:-0} runs, expected $1"
}
# reg.exe may be the 32-bit one, which would see a copy of HKLM\Software.
view=
[ "$WINEARCH" = win32 ] || view=/reg:64
all_files='README.txt qscapture.exe qscheck.exe quillset.exe'

if [ -n "$refused" ]; then
  # APPLY=0: only the refusal can make it fail.
  step=refused
  install 1603 /i "$(winpath "$msi")" APPLY=0
  for path in "$c"/Program\ Files*/quillset; do
    [ ! -e "$path" ] || fail "installed $path"
  done
  [ "$failures" -eq 0 ] || exit 1
  exit 0
fi

start=$(date +%s)
step=prefix
wineserver -k > /dev/null 2>&1 || true
rm -rf "$prefix" && mkdir -p "$prefix"
wineserver -p > "$out" 2>&1 < /dev/null
win wineboot --init
win reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
win "$devreg" add 'PCI\VEN_1D5B&DEV_4F17&SUBSYS_00011D5B&REV_01' || fail "qsdevreg: $(cat "$out")"
mkdir -p "${settings%/*}"
printf '%s\r\n' 'SM card slot, 0 = off, 1 = on      :1 value = 1' \
  'SD host switch, 0 to 3             :2 value = 2' > "$settings"
cp "$settings" "$prefix/settings.expected"
# The driver's service, which the package looks for by its Type value; 7 is
# a value quillset never writes.
win reg add "${key%\\*}" /v Type /t REG_DWORD /d 1 /f
win reg add "$key" /v SMEnable /t REG_DWORD /d 7 /f
win reg add "$key" /v SDSwitch /t REG_DWORD /d 7 /f
echo "prefix made in $(( $(date +%s) - start )) s"

# Refused by a launch condition before anything changes.
step=invalid
install 1603 /i "$(winpath "$msi")" SMENABLE=1 SDSWITCH=4
step=apply2
install 1603 /i "$(winpath "$msi")" APPLY=2
# Another folder, which users might change: refused, nothing made or written.
step=installdir
install 1603 /i "$(winpath "$msi")" 'INSTALLDIR=C:\qs\' SMENABLE=0 SDSWITCH=0
[ ! -e "$c/qs" ] || fail "C:\\qs was made"
step=half
install 1603 /i "$(winpath "$msi")" SDSWITCH=2
values 7 7; settings_file; program_files ""; event_source absent

step=old_apply0
install 0 /i "$(winpath "$old")" APPLY=0
values 7 7; settings_file; program_files "$all_files"; event_source registered; versions 0.9.0
runs 0

step=upgrade
install 0 /i "$(winpath "$msi")" SMENABLE=0 SDSWITCH=3
versions 1.0.0; program_files "$all_files"; event_source registered
win "$check"
grep -q '^SMEnable 0, from line' "$out" && grep -q '^SDSwitch 3, from line' "$out" || fail "qscheck reads: $(cat "$out")"
# Wine cannot restart the controller: outcome 3, values stored, install succeeds.
values 0 3
# The log, in the package's own folder.
grep -q '^==== .* outcome 3:' "$quillset_log" || fail "quillset.log: $(cat "$quillset_log")"
# Outcome 3 is a warning event that names the installed quillset.exe.
grep -qF 'warn:eventlog:ReportEventW L"3"' "$prefix/$step.err" &&
  grep -qF 'warn:eventlog:ReportEventW L"C:\\Program Files\\quillset\\quillset.exe"' "$prefix/$step.err" ||
  fail "no warning event from the installed quillset: $(grep eventlog "$prefix/$step.err")"
log_has 'quillset outcome 3: values stored' || fail "no outcome line in the MSI log"

# The same package again with new settings: written and applied.
step=push
install 0 /i "$(winpath "$msi")" SMENABLE=1 SDSWITCH=1
win "$check"
grep -q '^SMEnable 1, from line' "$out" && grep -q '^SDSwitch 1, from line' "$out" || fail "qscheck reads: $(cat "$out")"
values 1 1; runs 2
win reg query 'HKLM\Software\quillset' /v LastRun $view || fail "no record of quillset's run: $(cat "$out")"
cp "$settings" "$prefix/settings.expected"

# A repair runs neither action: no file written, no run, no failure.
step=repair
rm "$settings"
install 0 /i "$(winpath "$msi")" REINSTALL=ALL REINSTALLMODE=omus
[ ! -e "$settings" ] || fail "the repair wrote the settings file"
runs 2
! log_has 'quillset outcome' || fail "the repair ran quillset"
cp "$prefix/settings.expected" "$settings"

step=downgrade
install 1603 /i "$(winpath "$old")"
versions 1.0.0; program_files "$all_files"

step=uninstall
install 0 /x "$(winpath "$msi")"
versions ""; program_files ""; event_source absent
values 1 1; settings_file
# With quillset's record of its runs in it.
! win reg query 'HKLM\Software\quillset' $view || fail "HKLM\Software\quillset is left: $(cat "$out")"

# Outcome 1 (no settings file): the install fails and leaves nothing behind.
step=rollback
rm "$settings"
install 1603 /i "$(winpath "$msi")"
versions ""; program_files ""; event_source absent
log_has 'quillset outcome 1: settings not applied' || fail "no outcome line in the MSI log"

# The apply step fails after the settings file was written: the rollback
# puts back the file and its .bak, or removes what was not there.
step=rollback_kept
cp "$prefix/settings.expected" "$settings"
printf 'hand-made\r\n' > "$settings.bak"
cp "$settings.bak" "$prefix/bak.expected"
install 1603 /i "$(winpath "$failing")" SMENABLE=0 SDSWITCH=2
settings_file
cmp -s "$settings.bak" "$prefix/bak.expected" || fail "the .bak changed"
versions ""; program_files ""
log_has 'quillset outcome 1: settings not applied' && log_has 'are back as they were before this install' ||
  fail "no outcome or rollback line in the MSI log"
step=rollback_none
rm -r "${settings%/*}"
install 1603 /i "$(winpath "$failing")" SMENABLE=0 SDSWITCH=2
[ ! -e "${settings%/*}" ] || fail "the rollback left $(ls -A "${settings%/*}")"
mkdir -p "${settings%/*}"
cp "$prefix/settings.expected" "$settings"

# Outcomes that quillset reaches only on Windows, from the stand-in: a
# controller left disabled or not running fails the install with its own
# line; a reboot the deferred action recorded reaches msiexec as 3010.
for scenario in 'left-disabled|1603|quillset outcome 5: values written, controller left disabled' \
  'not-running|1603|quillset outcome 6: values written, controller does not run' \
  'reboot|3010|quillset: the controller restarts at the next reboot: the install asks for one (3010)'; do
  IFS='|' read -r name code line <<< "$scenario"
  step=standin_$name
  printf '%s\r\n' "$name" > "$c/windows/qsstandin.txt"
  install "$code" /i "$(winpath "$standin")"
  log_has "$line" || fail "no line '$line' in the MSI log"
done
# The mark that the reboot left asks for nothing in the next push.
step=standin_push
printf 'ordinary\r\n' > "$c/windows/qsstandin.txt"
install 0 /i "$(winpath "$standin")" SMENABLE=1 SDSWITCH=1
# A controller disabled before the run, and left so: the push succeeds.
step=standin_left_alone
printf 'left-alone\r\n' > "$c/windows/qsstandin.txt"
install 0 /i "$(winpath "$standin")" SMENABLE=1 SDSWITCH=1
log_has 'quillset outcome 7: values stored, the controller is disabled and left so' || fail "no outcome 7 line"
# The reboot mark's key is the package's, and goes with it.
win reg query 'HKLM\Software\quillset' $view || fail "no HKLM\Software\quillset while installed: $(cat "$out")"
step=standin_uninstall
install 0 /x "$(winpath "$standin")"
! win reg query 'HKLM\Software\quillset' $view || fail "HKLM\Software\quillset is left: $(cat "$out")"

# Neither property: quillset applies the file as it is.
step=neither
win reg add "$key" /v SDSwitch /t REG_DWORD /d 7 /f
install 0 /i "$(winpath "$msi")"
values 1 1; settings_file; versions 1.0.0

# Without the driver the settings file is written, quillset does not run,
# and the install succeeds with its tools in place.
step=uninstall_again
install 0 /x "$(winpath "$msi")"
win reg delete "${key%\\*}" /f
logged=$(grep -c '^==== .* outcome' "$quillset_log")
step=no_driver
install 0 /i "$(winpath "$msi")" SMENABLE=0 SDSWITCH=3
program_files "$all_files"; runs "$logged"
log_has 'quillset: the kvcard driver is not installed' && ! log_has 'quillset outcome' ||
  fail "no line that quillset does not run, or an outcome line, in the MSI log"
win "$installed/qscheck.exe"
grep -q '^SMEnable 0, from line' "$out" && grep -q '^SDSwitch 3, from line' "$out" || fail "qscheck reads: $(cat "$out")"
win "$installed/qscheck.exe" --verify
grep -q '^state=not-applicable ' "$out" || fail "qscheck --verify: $(cat "$out")"

wineserver -k > /dev/null 2>&1 || true
echo "msi test: $(( $(date +%s) - start )) s, $failures failures"
[ "$failures" -eq 0 ] || exit 1
rm -rf "$prefix" "$out"

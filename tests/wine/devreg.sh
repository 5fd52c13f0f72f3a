#!/usr/bin/env bash
# qsdevreg's remove in the suite's prefix touches only its own stand-ins:
#   devreg.sh <prefix> <qsdevreg.exe>
# Wine's own devices, a PCI display adapter among them, survive "remove ''"
# (refused with exit code 2) and "remove PCI", which still removes the
# stand-ins whose hardware IDs start with PCI.
set -uo pipefail
prefix=$1 qsdevreg=$2
suite=$(dirname "$0")/wine-suite.sh
work=$(dirname "$prefix")/devreg
rm -rf "$work" && mkdir -p "$work" || exit 1

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Every device instance key (Enum\<enumerator>\<device>\<instance>), sorted.
devices() {
  "$suite" run "$prefix" reg query 'HKLM\System\CurrentControlSet\Enum' -s > "$work/enum" || return
  tr -d '\r' < "$work/enum" | grep -iE '^HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum(\\[^\\]+){3}$' | sort
}

# Wine that cannot run here skips the whole test (77).
devices > "$work/before"
status=$?
[ "$status" -ne 77 ] || exit 77
[ "$status" -eq 0 ] && [ -s "$work/before" ] || { echo "FAIL: cannot list the devices"; exit 1; }
echo "$(wc -l < "$work/before") devices in the prefix"

# devreg <expected exit code> <what> <args>: runs qsdevreg, then compares the
# devices with the ones before.
devreg() {
  local expected=$1 what=$2 status=0
  shift 2
  "$suite" run "$prefix" "$qsdevreg" "$@" > "$work/out" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || fail "$what: exit code $status, expected $expected: $(cat "$work/out")"
}

devreg 2 'remove ""' remove ''
grep -q 'prefix must not be empty' "$work/out" || fail 'remove "" does not say why'
devices | diff "$work/before" - || fail 'remove "" changed the devices'

# Two in a row: removing one must not make the walk skip the next.
devreg 0 "add" add 'PCI\VEN_1D5B&DEV_4F17' 'PCI\VEN_1D5B&DEV_4F18'
[ "$(devices | wc -l)" -eq $(($(wc -l < "$work/before") + 2)) ] || fail "add did not register two devices"
devreg 0 "remove PCI" remove PCI
grep -q 'removed 2 device(s)' "$work/out" || fail "remove PCI: $(cat "$work/out"), expected two removed"
devices | diff "$work/before" - || fail "remove PCI removed other devices than its stand-in"

rm -rf "$work"
[ "$failures" -eq 0 ] || exit 1
echo "ok: qsdevreg remove leaves Wine's own devices alone"

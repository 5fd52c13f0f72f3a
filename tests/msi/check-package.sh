#!/usr/bin/env bash
# The built packages read as Windows Installer reads them, table by table,
# for what Wine's msiexec lets pass:
#   check-package.sh tables <package.msi>...
#   check-package.sh objects <nm> <object>...       (qsmsica.dll's objects)
#   check-package.sh rebuild <x86|x64> <qsmsica.dll> <quillset.exe> <qscapture.exe> <qscheck.exe> <README.txt>
set -uo pipefail
export LC_ALL=C TZ=UTC
here=$(cd "$(dirname "$0")" && pwd)
mode=$1
shift
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One table without its three header lines, tab-separated; rows() gives
# them to read with IFS=$'\001', which keeps empty fields apart.
table() { msiinfo export "$1" "$2" 2> /dev/null | tr -d '\r' | tail -n +4; }
rows() { table "$@" | tr '\t' '\001'; }
short_part='[^].[\\/:*?"<>|+,;= ]'
short_name="^$short_part{1,8}(\\.$short_part{1,3})?\$"
column() { awk -F'\t' -v key="$2" -v col="$3" '$1 == key { print $col }' <<< "$1"; }

check_tables() {
  local msi=$1 name=${1##*/}
  local hashes sequence actions
  hashes=$(table "$msi" MsiFileHash)
  # A versioned file has Version and Language and no hash row (a hash row
  # makes Windows Installer treat it as unversioned); every exe is versioned.
  while IFS=$'\001' read -r id component filename size version language rest; do
    if [ -n "$version" ] || [[ $id = *.exe ]]; then
      [[ $version =~ ^[0-9]+(\.[0-9]+){3}$ ]] && [ -n "$language" ] || fail "$name: File $id: Version '$version', Language '$language'"
      [ -z "$(column "$hashes" "$id" 1)" ] || fail "$name: File $id is versioned and has an MsiFileHash row"
    fi
    # ICE03: "SHORT|long", or a name that is itself a short one.
    local short=${filename%%|*}
    [[ $short =~ $short_name ]] ||
      fail "$name: File $id: FileName '$filename' has no valid short name"
  done < <(rows "$msi" File)
  while IFS=$'\001' read -r id root key rest; do
    [[ $key != \\* && $key != *\\ ]] || fail "$name: Registry $id: Key '$key' begins or ends with a backslash"
  done < <(rows "$msi" Registry)

  # A standard user's command line reaches an elevated maintenance install
  # only through SecureCustomProperties: the upgrade's own properties
  # (ICE61), and nothing that sets or runs anything.
  local secure upgrade
  secure=$(column "$(table "$msi" Property)" SecureCustomProperties 2 | tr ';' '\n' | sort | paste -sd ' ' -)
  upgrade=$(table "$msi" Upgrade | cut -f7 | sort | paste -sd ' ' -)
  [ -n "$upgrade" ] && [ "$secure" = "$upgrade" ] ||
    fail "$name: SecureCustomProperties '$secure', the upgrade's properties '$upgrade'"
  # A transform's settings reach every later run whoever starts it: on an
  # installed product only a real administrator writes or applies them.
  [ "$(column "$(table "$msi" Property)" MSIUSEREALADMINDETECTION 2)" = 1 ] ||
    fail "$name: MSIUSEREALADMINDETECTION is not 1"
  local step condition
  for step in SaveSettings WriteSettings ApplySettings CheckReboot; do
    condition=$(column "$(table "$msi" InstallExecuteSequence)" $step 2)
    [[ $condition = *'(NOT Installed OR '*AdminUser')'* ]] || fail "$name: $step runs on an installed product for any user: '$condition'"
  done

  # One architecture per machine.
  local platform
  platform=$(msiinfo suminfo "$msi" | sed -n 's/^Template: \([^;]*\);.*/\1/p')
  local refuses="NOT VersionNT64"
  [ "$platform" = Intel ] || refuses=VersionNT64
  table "$msi" LaunchCondition | cut -f1 | grep -qx "$refuses" || fail "$name ($platform): no launch condition '$refuses'"

  # MsiSetMode runs only from an immediate action after the script; the
  # settings file is saved, then its rollback queued, before it is written.
  sequence=$(table "$msi" InstallExecuteSequence)
  actions=$(table "$msi" CustomAction)
  local finalize check save restore write
  finalize=$(column "$sequence" InstallFinalize 3)
  check=$(column "$sequence" CheckReboot 3)
  [ -n "$check" ] && [ "$check" -gt "$finalize" ] || fail "$name: CheckReboot at '$check', InstallFinalize at $finalize"
  local type action
  for action in CheckReboot NoDriver; do
    type=$(column "$actions" $action 2)
    [ -n "$type" ] && [ $((type & 0x400)) -eq 0 ] || fail "$name: $action is not an immediate action (type '$type')"
  done
  save=$(column "$sequence" SaveSettings 3) restore=$(column "$sequence" RestoreSettings 3) write=$(column "$sequence" WriteSettings 3)
  [ -n "$save" ] && [ -n "$restore" ] && [ "$save" -lt "$restore" ] && [ "$restore" -lt "$write" ] ||
    fail "$name: SaveSettings at '$save', RestoreSettings at '$restore', WriteSettings at '$write'"
  type=$(column "$actions" RestoreSettings 2)
  [ -n "$type" ] && [ $((type & 0x500)) -eq $((0x500)) ] || fail "$name: RestoreSettings is not a rollback action (type '$type')"
  # SYSTEM keeps the record where no user can create or change anything.
  for action in SaveSettings RestoreSettings ForgetSettings; do
    [ "$(column "$actions" $action.Data 4)" = "[INSTALLDIR]" ] || fail "$name: $action.Data is '$(column "$actions" $action.Data 4)'"
  done
  # The driver is looked for in the registry view of the package's Windows:
  # raw (2), and 64-bit (16) in the x64 package.
  local view=2
  [ "$platform" = Intel ] || view=18
  [ "$(table "$msi" RegLocator | cut -f2-5 | tr '\t' ' ')" = "2 SYSTEM\CurrentControlSet\Services\kvcard Type $view" ] ||
    fail "$name: RegLocator is '$(table "$msi" RegLocator)'"
  # And the log, which SYSTEM appends to.
  [[ $(column "$actions" ApplySettings.Data 4) = *'--log "[INSTALLDIR]quillset.log"'* ]] ||
    fail "$name: ApplySettings logs to $(column "$actions" ApplySettings.Data 4)"
}

case $mode in
tables)
  for msi in "$@"; do
    check_tables "$msi"
  done
  ;;
objects)
  # Only the immediate actions' object may call MsiSetMode, and it exports
  # nothing but them (the tables hold them immediate), so no deferred action
  # can name it.
  nm=$1
  shift
  for object in "$@"; do
    if [[ $object = */immediate.cpp.obj ]]; then
      exported=$("$nm" "$object" | sed -n 's/.* T _\{0,1\}\([A-Za-z]*\)\(@[0-9]*\)\{0,1\}$/\1/p' | sort | paste -sd ' ' -)
      [ "$exported" = "CheckReboot NoDriver" ] || fail "immediate.cpp exports '$exported'"
    elif "$nm" "$object" | grep -q MsiSetMode; then
      fail "${object##*/} calls MsiSetMode"
    fi
  done
  ;;
rebuild)
  # Same inputs, same bytes; another SOURCE_DATE_EPOCH, another PackageCode.
  arch=$1
  shift
  code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }
  for build in a b; do
    SOURCE_DATE_EPOCH=1700000000 "$here/../../installer/build-msi.sh" "$arch" 1.0.0 "$work/$build.msi" "$@" || fail "build $build"
  done
  SOURCE_DATE_EPOCH=1700000001 "$here/../../installer/build-msi.sh" "$arch" 1.0.0 "$work/c.msi" "$@" || fail "build c"
  cmp -s "$work/a.msi" "$work/b.msi" || fail "two builds of the same inputs differ"
  [ "$(code "$work/a.msi")" != "$(code "$work/c.msi")" ] || fail "another SOURCE_DATE_EPOCH kept the PackageCode $(code "$work/a.msi")"
  ;;
*)
  echo "check-package.sh: unknown mode $mode" >&2
  exit 2
  ;;
esac
[ "$failures" -eq 0 ] || exit 1
echo "check-package $mode: passed"

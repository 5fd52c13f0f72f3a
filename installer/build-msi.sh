#!/usr/bin/env bash
# Builds one quillset Windows Installer package from quillset.wxs:
#   build-msi.sh <x86|x64> <version> <out.msi> <qsmsica.dll> \
#     <quillset.exe> <qscapture.exe> <qscheck.exe> <README.txt>
# Each file is packed under the name shown, whatever its own (a test package
# may carry a stand-in program as quillset.exe). Same inputs, same bytes:
# file times and wixl's clock come from SOURCE_DATE_EPOCH (the commit's time
# unless set), and the PackageCode, random in wixl, is a hash of everything
# that shapes the package. Signed like the exes (tools/sign.sh) when
# QUILLSET_SIGN_CERT and QUILLSET_SIGN_KEY (and QUILLSET_SIGN_PASS_FILE) are set.
set -euo pipefail
[ $# -eq 8 ] || { echo "usage: build-msi.sh <x86|x64> <version> <out.msi> <qsmsica.dll> <quillset.exe> <qscapture.exe> <qscheck.exe> <README.txt>" >&2; exit 2; }
arch=$1 version=$2 out=$3 dll=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)

for tool in wixl msibuild faketime wrestool; do
  command -v $tool > /dev/null || { echo "build-msi: $tool is not installed (tools/setup-debian.sh)" >&2; exit 1; }
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct 2> /dev/null) || SOURCE_DATE_EPOCH=315532800
fi
# libfaketime would also shift the file times that stat reports by how far
# its clock is from the real one, and wixl 0.106 (Debian 13) stamps the
# cabinet's files with them: keep the times set below.
export TZ=UTC LC_ALL=C NO_FAKE_STAT=1
# A clock that stands still: one that starts at SOURCE_DATE_EPOCH and runs
# gives another second to a build that crosses a second's end.
clock=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# wixl takes sources relative to the .wxs only.
cp "$here/quillset.wxs" "$stage/"
cp "$dll" "$stage/qsmsica.dll"
names=(quillset.exe qscapture.exe qscheck.exe README.txt)
for name in "${names[@]}"; do
  cp "$1" "$stage/$name"
  shift
done
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

# Version 4 layout over a hash, so the same name always gives the same GUID.
guid() {
  local h
  h=$(printf '%s' "$1" | sha256sum | cut -c1-32)
  printf '%s-%s-4%s-a%s-%s' "${h:0:8}" "${h:8:4}" "${h:13:3}" "${h:17:3}" "${h:20:12}" | tr a-f A-F
}
# A new ProductCode per version and architecture makes every release a major upgrade.
product=$(guid "quillset product $arch $version")
# Packages that differ in anything have different PackageCodes: Windows
# Installer takes two packages with one code for the same.
inputs=$( (cd "$stage" && sha256sum -- *; sha256sum < "$here/build-msi.sh"; wixl --version; echo "$SOURCE_DATE_EPOCH") | sha256sum)
package=$(guid "quillset package $arch $version $inputs")

platform=Intel
[ "$arch" = x86 ] || platform=x64
log=$stage/wixl.log
faketime -f "$clock" wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D ProductCode="$product" \
  -o "$stage/out.msi" "$stage/quillset.wxs" > "$log" 2>&1 || { cat "$log" >&2; echo "build-msi: wixl failed" >&2; exit 1; }
# wixl exits 0 after ignoring what it does not support.
if grep -Eq 'WARNING|CRITICAL' "$log"; then
  cat "$log" >&2
  echo "build-msi: wixl ignored part of quillset.wxs" >&2
  exit 1
fi
# What wixl 0.101 cannot say: EventMessageFile as REG_EXPAND_SZ ("#%"), a
# registry key without the trailing backslash that wixl appends, the key of
# the reboot mark (reboot_mark.h), made at the install and deleted with all
# its values at the removal ("*"), the rollback and commit actions (a DLL
# from the Binary table, in the script, without impersonation, result
# ignored: 1 + 0x400 + 0x800 + 0x40, and 0x100 for rollback or 0x200 for
# commit), and the error action that refuses another folder (19: its text
# the message, no source). SecureCustomProperties stays as wixl makes it,
# the upgrade's properties only: any other property listed there a standard
# user could set in an elevated maintenance install.
queries=(
  "UPDATE \`CustomAction\` SET \`Type\`=19, \`Source\`='' WHERE \`Action\`='OtherFolder'"
  "UPDATE \`Registry\` SET \`Value\`='#%[#qscapture.exe]' WHERE \`Name\`='EventMessageFile'"
  "UPDATE \`CustomAction\` SET \`Type\`=3393 WHERE \`Action\`='RestoreSettings'"
  "UPDATE \`CustomAction\` SET \`Type\`=3649 WHERE \`Action\`='ForgetSettings'"
  "UPDATE \`Registry\` SET \`Key\`='SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\quillset' WHERE \`Component_\`='qscapture.exe'"
  "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('RebootMark', 2, 'SOFTWARE\\quillset', '*', 'quillset.exe')"
)
# A file with a version resource is versioned: Windows Installer compares its
# File.Version with the one on disk, and a hash row would make it unversioned.
# The version is VS_FIXEDFILEINFO's, the language the resource's.
for name in "${names[@]}"; do
  resource=$(wrestool -l --type=16 "$stage/$name" 2> /dev/null | sed -n 's/.*--language=\([0-9]*\).*/\1/p' | head -1)
  [ -n "$resource" ] || continue
  wrestool -x --raw --type=16 "$stage/$name" > "$stage/version.res"
  # After the 6-byte header, "VS_VERSION_INFO" and padding: signature, struct
  # version, then the version's four words, high word first in each half.
  set -- $(od -An -v -tu2 -j40 -N16 "$stage/version.res")
  [ "$1 $2" = "1213 65263" ] || { echo "build-msi: $name: no VS_FIXEDFILEINFO" >&2; exit 1; }
  queries+=("UPDATE \`File\` SET \`Version\`='$6.$5.$8.$7', \`Language\`='$resource' WHERE \`File\`='$name'"
    "DELETE FROM \`MsiFileHash\` WHERE \`File_\`='$name'")
done
rm -f "$stage/version.res"
# ICE03: a long file name needs a short one, "SHORT|long".
for name in "${names[@]}"; do
  base=${name%.*} ext=${name##*.}
  [ ${#base} -gt 8 ] || [ ${#ext} -gt 3 ] || continue
  short=$(echo "${base:0:6}~1.${ext:0:3}" | tr a-z A-Z)
  queries+=("UPDATE \`File\` SET \`FileName\`='$short|$name' WHERE \`File\`='$name'")
done
args=()
for query in "${queries[@]}"; do
  args+=(-q "$query")
done
faketime -f "$clock" msibuild "$stage/out.msi" "${args[@]}"
faketime -f "$clock" msibuild "$stage/out.msi" -s "quillset $version" quillset "$platform;1033" "{$package}"

if [ -n "${QUILLSET_SIGN_CERT:-}" ] && [ -n "${QUILLSET_SIGN_KEY:-}" ]; then
  SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH "$here/../tools/sign.sh" "$stage/out.msi" "$stage/signed.msi" > "$stage/sign.log" 2>&1 ||
    { cat "$stage/sign.log" >&2; echo "build-msi: osslsigncode could not sign $out" >&2; exit 1; }
  mv "$stage/signed.msi" "$stage/out.msi"
fi
mv "$stage/out.msi" "$out"

#!/usr/bin/env bash
# Builds one quillset Windows Installer package from quillset.wxs:
#   build-msi.sh <x86|x64> <version> <out.msi> <qsmsica.dll> <file>...
# The files are quillset.exe, qscapture.exe, qscheck.exe and README.txt.
# Same inputs, same bytes: file times and wixl's clock come from
# SOURCE_DATE_EPOCH (the commit's time unless set), and the PackageCode,
# random in wixl, is derived from the inputs. Signed like the exes when
# QUILLSET_SIGN_CERT and QUILLSET_SIGN_KEY (and QUILLSET_SIGN_PASS_FILE) are set.
set -euo pipefail
arch=$1 version=$2 out=$3 dll=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)

for tool in wixl msibuild faketime; do
  command -v $tool > /dev/null || { echo "build-msi: $tool is not installed (tools/setup-debian.sh)" >&2; exit 1; }
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct 2> /dev/null) || SOURCE_DATE_EPOCH=315532800
fi
# libfaketime would also shift the file times that stat reports by how far
# its clock is from the real one, and wixl 0.106 (Debian 13) stamps the
# cabinet's files with them: keep the times set below.
export TZ=UTC LC_ALL=C NO_FAKE_STAT=1

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# wixl takes sources relative to the .wxs only.
cp "$here/quillset.wxs" "$stage/"
cp "$dll" "$stage/qsmsica.dll"
cp "$@" "$stage/"
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

# Version 4 layout over a hash, so the same name always gives the same GUID.
guid() {
  local h
  h=$(printf '%s' "$1" | sha256sum | cut -c1-32)
  printf '%s-%s-4%s-a%s-%s' "${h:0:8}" "${h:8:4}" "${h:13:3}" "${h:17:3}" "${h:20:12}" | tr a-f A-F
}
# A new ProductCode per version and architecture makes every release a major upgrade.
product=$(guid "quillset product $arch $version")
package=$(guid "quillset package $arch $version $(cd "$stage" && sha256sum -- * | sha256sum)")

platform=Intel
[ "$arch" = x86 ] || platform=x64
log=$stage/wixl.log
faketime "@$SOURCE_DATE_EPOCH" wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D ProductCode="$product" \
  -o "$stage/out.msi" "$stage/quillset.wxs" > "$log" 2>&1 || { cat "$log" >&2; echo "build-msi: wixl failed" >&2; exit 1; }
# wixl exits 0 after ignoring what it does not support.
if grep -Eq 'WARNING|CRITICAL' "$log"; then
  cat "$log" >&2
  echo "build-msi: wixl ignored part of quillset.wxs" >&2
  exit 1
fi
# What wixl 0.101 cannot say: public properties that reach the installer
# service in managed and elevated installs (else it drops them and the
# package ignores them), and EventMessageFile as REG_EXPAND_SZ ("#%").
faketime "@$SOURCE_DATE_EPOCH" msibuild "$stage/out.msi" \
  -q "UPDATE \`Property\` SET \`Value\`='WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;SMENABLE;SDSWITCH;APPLY' WHERE \`Property\`='SecureCustomProperties'" \
  -q "UPDATE \`Registry\` SET \`Value\`='#%[#qscapture.exe]' WHERE \`Name\`='EventMessageFile'"
faketime "@$SOURCE_DATE_EPOCH" msibuild "$stage/out.msi" -s "quillset $version" quillset "$platform;1033" "{$package}"

if [ -n "${QUILLSET_SIGN_CERT:-}" ] && [ -n "${QUILLSET_SIGN_KEY:-}" ]; then
  options=(-certs "$QUILLSET_SIGN_CERT" -key "$QUILLSET_SIGN_KEY" -h sha256 -n quillset -time "$SOURCE_DATE_EPOCH")
  [ -z "${QUILLSET_SIGN_PASS_FILE:-}" ] || options+=(-readpass "$QUILLSET_SIGN_PASS_FILE")
  osslsigncode sign "${options[@]}" -in "$stage/out.msi" -out "$stage/signed.msi" > "$stage/sign.log" 2>&1 ||
    { cat "$stage/sign.log" >&2; echo "build-msi: osslsigncode could not sign $out" >&2; exit 1; }
  mv "$stage/signed.msi" "$stage/out.msi"
fi
mv "$stage/out.msi" "$out"

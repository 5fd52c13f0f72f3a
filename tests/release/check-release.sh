#!/usr/bin/env bash
# The release as CI checks it: two signed releases from two copies of the
# tracked files in folders of different depth must give the same
# dist/SHA256SUMS, the second copy a git checkout with an uncommitted change
# that the release must leave out; every exe and package carries a SHA-1
# signature with a nested SHA-256 one, both verify against the throwaway
# certificate, a changed byte does not, the zips hold what the README says,
# and the packages' tables pass tests/msi/check-package.sh.
#   tests/release/check-release.sh [win32|win64...]     (default: both)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$root/build/release-check
rm -rf "$work" && mkdir -p "$work/cert"
cd "$work"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A self-signed code-signing certificate, its key behind a passphrase.
echo "throwaway passphrase" > cert/pass
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -subj "/CN=quillset CI signing" \
  -addext extendedKeyUsage=codeSigning -addext keyUsage=critical,digitalSignature \
  -keyout cert/key.pem -out cert/cert.pem -passout file:cert/pass 2> cert/openssl.log
export QUILLSET_SIGN_CERT=$work/cert/cert.pem QUILLSET_SIGN_KEY=$work/cert/key.pem
export QUILLSET_SIGN_PASS_FILE=$work/cert/pass
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
export SOURCE_DATE_EPOCH

# Both signatures, in this order, each verified.
verify_signed() {
  osslsigncode verify -CAfile cert/cert.pem -in "$1" > "$1.verify" 2>&1 || { fail "$1 does not verify"; return; }
  local digests
  digests=$(sed -n 's/^Message digest algorithm  *: //p' "$1.verify" | paste -sd ' ' -)
  [ "$digests" = "SHA1 SHA256" ] && grep -qx 'Number of verified signatures: 2' "$1.verify" ||
    fail "$1: signatures with digests '$digests': $(grep -i signatures "$1.verify")"
}

# The tracked files as they are now (untracked ones would not be in a clone).
copy_tracked() {
  mkdir -p "$1"
  (cd "$root" && git ls-files -z | while IFS= read -r -d '' file; do
    [ ! -e "$file" ] || printf '%s\0' "$file"
  done | xargs -0 cp --parents -t "$1")
}
copy_tracked "$work/a/quillset"
deeper=$work/second/folder/deeper/quillset
copy_tracked "$deeper"
git -C "$deeper" -c init.defaultBranch=main init --quiet
git -C "$deeper" add --all
git -C "$deeper" -c user.name=check -c user.email=check@localhost commit --quiet -m "release check"
# The sample settings file ships in the zips: an edit that shipped would change them.
echo "uncommitted" >> "$deeper/resources/kvconfig.txt"

for copy in a/quillset second/folder/deeper/quillset; do
  "$copy/tools/release.sh" "$@" > "$copy.log" 2>&1 || { cat "$copy.log"; fail "release in $copy"; exit 1; }
done
grep -q "uncommitted changes are left out" second/folder/deeper/quillset.log ||
  fail "the release from a checkout with an uncommitted change did not say it left it out"
cmp -s a/quillset/dist/SHA256SUMS second/folder/deeper/quillset/dist/SHA256SUMS ||
  fail "two folders give different zips: $(diff a/quillset/dist/SHA256SUMS second/folder/deeper/quillset/dist/SHA256SUMS)"
(cd a/quillset/dist && sha256sum --quiet -c SHA256SUMS) || fail "dist/SHA256SUMS does not match the zips"

for zip in a/quillset/dist/*.zip; do
  name=$(basename "$zip" .zip)
  arch=i386
  case $name in *-win64) arch=x86-64 ;; esac
  mkdir "$name" && unzip -q "$zip" -d "$name"
  (cd "$name" && sha256sum --quiet -c SHA256SUMS) || fail "$name: SHA256SUMS does not match"
  listed=$(LC_ALL=C ls "$name" | paste -sd ' ' -)
  [ "$listed" = "README.txt SHA256SUMS apply-settings.cmd cm-discover.ps1 cm-remediate.ps1 intune-detect.ps1 intune-remediate.ps1 kvconfig.txt qscapture.exe qscheck.exe quillset.exe" ] ||
    fail "$name holds $listed"
  for text in README.txt kvconfig.txt apply-settings.cmd cm-discover.ps1 cm-remediate.ps1 intune-detect.ps1 intune-remediate.ps1; do
    ! grep -q $'[^\r]$' "$name/$text" || fail "$name/$text has a line without CR LF"
  done
  for exe in "$name"/*.exe; do
    verify_signed "$exe"
  done
  # What ships keeps the PE flags, the zero time stamp and the size.
  sh "$root/tests/pe/check_pe.sh" --arch $arch headers "$name/quillset.exe" || fail "$name/quillset.exe headers"
  cp "$name/quillset.exe" changed.exe
  printf '\220' | dd of=changed.exe bs=1 seek=1100 conv=notrunc 2> /dev/null
  ! osslsigncode verify -CAfile cert/cert.pem -in changed.exe > changed.verify 2>&1 ||
    fail "$name: quillset.exe with a changed byte still verifies"
done

# The Windows Installer packages: listed, signed, and holding the very files
# of the zip of their architecture.
for zip in a/quillset/dist/*.zip; do
  name=$(basename "$zip" .zip)
  msi=${name%-win32}-x86.msi
  case $name in *-win64) msi=${name%-win64}-x64.msi ;; esac
  grep -q " $msi\$" a/quillset/dist/SHA256SUMS || fail "dist/SHA256SUMS does not list $msi"
  cp "a/quillset/dist/$msi" "$msi"
  verify_signed "$msi"
  "$root/tests/msi/check-package.sh" tables "$msi" || fail "$msi: tables"
  msiextract -C "$msi.files" "a/quillset/dist/$msi" > /dev/null || fail "$msi cannot be unpacked"
  # msiextract names the Program Files folder only for the 32-bit package.
  for file in quillset.exe qscapture.exe qscheck.exe README.txt; do
    cmp -s "$(find "$msi.files" -name "$file")" "$name/$file" || fail "$msi: $file is not the zip's"
  done
done

[ "$failures" -eq 0 ] || { echo "release check: $failures failures"; exit 1; }
echo "release check: same dist/SHA256SUMS from two folders, signatures verify"
cat a/quillset/dist/SHA256SUMS

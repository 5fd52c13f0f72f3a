#!/usr/bin/env bash
# Builds the release zips and Windows Installer packages from clean build
# folders into dist/:
#   tools/release.sh [win32|win64...]     (default: both)
# Each zip holds the exes, a sample kvconfig.txt, README.txt and SHA256SUMS;
# dist/SHA256SUMS lists the zips and packages. The exes and packages are
# signed when QUILLSET_SIGN_CERT and QUILLSET_SIGN_KEY (and
# QUILLSET_SIGN_PASS_FILE, if the key has a passphrase) name PEM files. The
# same commit gives the same bytes.
#
# In a git checkout the release is built from the committed tree alone
# (git archive HEAD into build/release-source), so uncommitted changes never
# ship under the commit's name. Outside git (an unpacked source archive) the
# tree is built as it is, and SOURCE_DATE_EPOCH must be set.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd -P)

arches=("$@")
[ "${#arches[@]}" -gt 0 ] || arches=(win32 win64)

# Only this folder's own repository counts, not one it happens to lie in.
if [ "$(git rev-parse --show-toplevel 2> /dev/null)" = "$top" ]; then
  commit=$(git rev-parse HEAD)
  # Every time in the zips and signatures is the commit's.
  : "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
  [ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "release: uncommitted changes are left out: building commit $commit as committed"
  source=build/release-source
  rm -rf "$source" && mkdir -p "$source"
  git archive --format=tar HEAD | tar -x -C "$source"
else
  commit="(not a git checkout)"
  [ -n "${SOURCE_DATE_EPOCH:-}" ] || { echo "release: not a git checkout; set SOURCE_DATE_EPOCH" >&2; exit 1; }
  source=.
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022

if [ -n "${QUILLSET_SIGN_CERT:-}" ] && [ -n "${QUILLSET_SIGN_KEY:-}" ]; then
  command -v osslsigncode > /dev/null || { echo "release: osslsigncode is not installed" >&2; exit 1; }
  signed="signed with $(openssl x509 -noout -subject -in "$QUILLSET_SIGN_CERT")"
else
  unset QUILLSET_SIGN_CERT QUILLSET_SIGN_KEY QUILLSET_SIGN_PASS_FILE
  signed="UNSIGNED (set QUILLSET_SIGN_CERT and QUILLSET_SIGN_KEY to sign)"
fi

# The packages of one architecture, built in the source tree into its dist/.
zip_release() {
  local arch=$1
  rm -rf "build/release-$arch"
  cmake --workflow --preset "release-$arch" > "build/release-$arch.log" 2>&1 ||
    { cat "build/release-$arch.log"; echo "release: $arch failed" >&2; return 1; }
}

rm -rf dist "$source/dist"
(
  cd "$source"
  mkdir -p build
  for arch in "${arches[@]}"; do
    zip_release "$arch"
  done
  rm -rf dist/_CPack_Packages
  # CPack packs in the order the staging folder lists its files, which depends
  # on the file system; Debian's normalizer sorts the entries by name.
  strip-nondeterminism --type zip --timestamp "$SOURCE_DATE_EPOCH" dist/*.zip > /dev/null
)
[ "$source" = . ] || mv "$source/dist" dist
(cd dist && sha256sum -- *.zip > SHA256SUMS)

# Windows Installer packages, made from the files of the zips so that both
# ship the same signed exes; build-msi.sh signs the package itself.
for arch in "${arches[@]}"; do
  msi_arch=x64
  [ "$arch" = win64 ] || msi_arch=x86
  zip=$(echo dist/quillset-*-"$arch".zip)
  version=${zip#dist/quillset-}
  version=${version%-"$arch".zip}
  built=$source/build/release-$arch
  files=$built/msi-files
  rm -rf "$files" && unzip -q "$zip" quillset.exe qscapture.exe qscheck.exe README.txt -d "$files"
  "$source/installer/build-msi.sh" "$msi_arch" "$version" "dist/quillset-$version-$msi_arch.msi" \
    "$built/installer/qsmsica.dll" "$files"/{quillset.exe,qscapture.exe,qscheck.exe,README.txt}
done
(cd dist && sha256sum -- *.msi >> SHA256SUMS)

echo "release: dist/ ($signed), commit $commit, commit time $SOURCE_DATE_EPOCH"
cat dist/SHA256SUMS

#!/usr/bin/env bash
# tools/apt-install.sh against a stand-in apt-get on PATH that fails update
# on an i386 index, installs only with -t, or never installs some packages.
# Each row checks the apt-get commands run, a line printed, the wine32 note
# and the exit code.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat > "$work/bin/apt-get" << 'STANDIN'
#!/usr/bin/env bash
echo "$*" >> "$STANDIN_LOG"
if [ "$1" = update ]; then
  [ -z "${UPDATE_FAILS:-}" ] && exit 0
  echo "E: Failed to fetch http://registry.invalid/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
fi
for arg; do
  [[ " ${NEVER:-} " != *" $arg "* ]] || { echo "E: Unable to locate package $arg"; exit 100; }
done
[ -z "${NEEDS_TARGET:-}" ] || [[ " $* " == *" -t "* ]] || { echo "E: Unable to correct problems, you have held broken packages."; exit 100; }
STANDIN
chmod +x "$work/bin/apt-get"

failures=0
u="update -qq -o Acquire::Retries=3" i="install -y -qq --no-install-recommends" t="-t bookworm"
# row <stand-in's variables> <exit code> <commands, one a line> <a line printed> <note>
row() {
  local status=0
  rm -f "$work/log" "$work/note"
  (
    export PATH="$work/bin:$PATH" STANDIN_LOG=$work/log $1
    sudo= wine32_note=$work/note
    . "$top/tools/apt-install.sh"
    apt_install bookworm cmake wine32:i386
  ) > "$work/out" 2>&1 || status=$?
  if [ "$status" -ne "$2" ] || [ "$(cat "$work/log")" != "$3" ] || ! grep -qxF -- "$4" "$work/out" ||
    [ "$(cat "$work/note" 2> /dev/null)" != "$5" ]; then
    printf 'FAIL: %s: exit code %s, ran:\n%s\nprinted:\n%s\nnote: %s\n' "$1" "$status" "$(cat "$work/log")" "$(cat "$work/out")" "$(cat "$work/note" 2> /dev/null)"
    failures=$((failures + 1))
  fi
}

row "" 0 "$u"$'\n'"$i cmake wine32:i386" "setup: installing cmake wine32:i386; this may take a few minutes" ""
row "UPDATE_FAILS=1 NEEDS_TARGET=1" 0 "$u"$'\n'"$i cmake wine32:i386"$'\n'"$i $t cmake wine32:i386" \
  "setup: warning: Failed to fetch http://registry.invalid/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" ""
row "NEVER=wine32:i386" 0 "$u"$'\n'"$i cmake wine32:i386"$'\n'"$i $t cmake wine32:i386"$'\n'"$i $t cmake" \
  "setup: warning: 32-bit Wine (wine32:i386) could not be installed: E: Unable to locate package wine32:i386; the demo shows the 64-bit build, and the 32-bit Wine tests are skipped" \
  "32-bit Wine (wine32:i386) could not be installed: E: Unable to locate package wine32:i386"
row "NEVER=cmake" 1 "$u"$'\n'"$i cmake wine32:i386"$'\n'"$i $t cmake wine32:i386"$'\n'"$i $t cmake" "E: Unable to locate package cmake" ""

[ "$failures" -eq 0 ] || exit 1
echo "4 registries: as expected"

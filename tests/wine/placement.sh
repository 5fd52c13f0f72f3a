#!/usr/bin/env bash
# End-to-end cases about where quillset is started from, in the suite's prefix:
#   placement.sh canary <prefix> <qse2e> <quillset> <canary.dll> <control.exe>
#     quillset copied into a fresh folder, a canary uxtheme.dll beside it and
#     Wine told to prefer it: the ordinary case still passes and the canary
#     never loads, while beside the control program it does.
#   placement.sh deep_directory <prefix> <qse2e> <quillset> ...
#     the ordinary case started from a current directory so deep that the
#     "CurrentDirectory: ..." trace passes 255 characters and is cut.
set -uo pipefail

case=$1 prefix=$2 qse2e=$3 quillset=$4 canary=$5 control=$6
suite=$(dirname "$0")/wine-suite.sh

# run <program> [args]: exits the script on a skip (77).
run() {
  "$suite" run "$prefix" "$@"
  status=$?
  [ "$status" -ne 77 ] || exit 77
  return "$status"
}

case $case in
canary)
  dir=$(dirname "$prefix")/planted
  rm -rf "$dir" && mkdir -p "$dir" || exit 1
  cp "$quillset" "$control" "$dir"/ && cp "$canary" "$dir"/uxtheme.dll || exit 1
  # The folder is the current directory too, as when an installer starts
  # quillset from its download folder.
  cd "$dir" || exit 1
  export QUILLSET_WINE_OVERRIDES=uxtheme=n,b
  run "$dir/${control##*/}" || { echo "FAIL: the control program did not run"; exit 1; }
  [ -e canary-loaded ] || { echo "FAIL: the canary did not load beside the control program"; exit 1; }
  rm canary-loaded
  run "$qse2e" --program "$dir/${quillset##*/}" settings.ordinary || { echo "FAIL: the ordinary case"; exit 1; }
  [ ! -e canary-loaded ] || { echo "FAIL: quillset loaded the planted uxtheme.dll"; exit 1; }
  cd .. && rm -rf "$dir"
  echo "ok: the canary loads beside the control program, not beside quillset"
  ;;
deep_directory)
  # Z:\ and this folder's path, and one component making up the rest: the
  # trace "CurrentDirectory: " + 245 characters + "  \n" is 266 characters.
  base=$(dirname "$prefix")/deep
  rest=$((245 - 2 - ${#base} - 1))
  [ "$rest" -ge 1 ] || { echo "skipped: $base is too deep already"; exit 77; }
  rm -rf "$base" && mkdir -p "$base/$(printf 'd%.0s' $(seq "$rest"))" || exit 1
  cd "$base"/d* || exit 1
  run "$qse2e" --program "$quillset" settings.ordinary || { echo "FAIL: the ordinary case from $PWD"; exit 1; }
  cd / && rm -rf "$base"
  ;;
*)
  echo "usage: $0 canary|deep_directory <prefix> <qse2e> <quillset> <canary.dll> <control.exe>" >&2
  exit 2
  ;;
esac

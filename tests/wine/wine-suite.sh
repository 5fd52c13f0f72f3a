#!/usr/bin/env bash
# The Wine side of the end-to-end suite: one throwaway prefix, kept alive
# between the cases by a persistent wineserver.
#   wine-suite.sh setup <prefix>                  fresh prefix, no display needed
#   wine-suite.sh run <prefix> <program> [args]   runs a Windows program there;
#                                                 absolute Unix paths in args become Z: paths
#   wine-suite.sh cleanup <prefix>                ends the server, removes the prefix
set -euo pipefail

command=$1 prefix=$2
shift 2
# A caller's own overrides (QUILLSET_WINE_OVERRIDES) come on top of ours.
export WINEPREFIX=$prefix WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=${QUILLSET_WINE_OVERRIDES:+;$QUILLSET_WINE_OVERRIDES}"
# Wine's background processes inherit stdout and stderr and keep them open,
# and CTest would wait for them: all Wine output goes to this file first.
out=$prefix.out
. "$(dirname "$0")/../../tools/wine-env.sh"
# CTest counts exit code 77 as skipped.
if [ "$command" != cleanup ] && [ -n "$WINE_UNAVAILABLE" ]; then
  echo "skipped: $WINE_UNAVAILABLE"
  exit 77
fi

case $command in
setup)
  # The prefix is deleted and made again, so insist on our own name for it.
  [ "${prefix##*/}" = wine-prefix ] || { echo "refusing to replace $prefix" >&2; exit 2; }
  [ ! -d "$prefix" ] || wineserver -k > /dev/null 2>&1 || true
  rm -rf "$prefix"
  mkdir -p "$prefix"
  start=$(date +%s%N)
  wineserver -p > "$out" 2>&1 < /dev/null
  "$WINE" wineboot --init >> "$out" 2>&1 < /dev/null
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >> "$out" 2>&1 < /dev/null
  echo "Wine prefix $prefix made in $(( ($(date +%s%N) - start) / 1000000 )) ms"
  ;;
run)
  program=$1
  shift
  args=()
  for arg in "$@"; do
    case $arg in /*) arg="Z:${arg//\//\\}" ;; esac
    args+=("$arg")
  done
  status=0
  # Wine traces a child's calls to our stderr, the file the cases read them from.
  export QUILLSET_WINE_OUTPUT="Z:${out//\//\\}"
  "$WINE" "$program" "${args[@]}" > "$out" 2>&1 < /dev/null || status=$?
  cat "$out"
  exit "$status"
  ;;
cleanup)
  [ "${prefix##*/}" = wine-prefix ] || { echo "refusing to remove $prefix" >&2; exit 2; }
  wineserver -k > /dev/null 2>&1 || true
  rm -rf "$prefix" "$out"
  ;;
*)
  echo "usage: $0 setup|run|cleanup <prefix> ..." >&2
  exit 2
  ;;
esac

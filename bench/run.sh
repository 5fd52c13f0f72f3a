#!/usr/bin/env bash
# Times quillset under Wine, both builds, in one throwaway prefix:
#   ordinary run against a floor program that only sleeps the restart's second;
#   with BASELINE=<commit or tag>, ordinary run against that commit's quillset;
#   the restart's cost per device with 10, 100 and 1000 stand-in devices;
#   the settings reader on a 10 MB file against an empty one;
#   exe size and imports;
#   the CPU time other processes took meanwhile, with a warning when too much.
# Every timing is a median over alternated runs from bench/qstimer.exe, which
# times from CreateProcess to exit inside Wine. Prints Markdown tables and
# writes them, with the machine, to bench/RESULTS.md.
# Rounds can be changed: PAIRS (15), BASELINE_PAIRS (25), DEVICE_ROUNDS (5),
# READER_ROUNDS (9).
set -euo pipefail

# Wine's processes leave our process tree (they fork twice, its services start
# sessions of their own), so the CPU time they took would be lost with them.
# As a child subreaper (prctl 36, PR_SET_CHILD_SUBREAPER, kept across exec)
# this shell inherits and reaps them, and their time counts as its children's.
if [ -z "${QUILLSET_BENCH_REAPER:-}" ] && command -v python3 > /dev/null; then
  export QUILLSET_BENCH_REAPER=1
  exec python3 -c 'import ctypes, os, sys
if ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0) != 0:
    sys.exit("bench: cannot become a child subreaper: " + os.strerror(ctypes.get_errno()))
os.execvp("bash", ["bash"] + sys.argv[1:])' "$0" "$@"
fi

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
begin=$(date +%s)
pairs=${PAIRS:-15}
baseline_pairs=${BASELINE_PAIRS:-25}
device_rounds=${DEVICE_ROUNDS:-5}
reader_rounds=${READER_ROUNDS:-9}
# Only a shell that made itself the subreaper above can count its tree's time.
reaper=${QUILLSET_BENCH_REAPER:-}
export -n QUILLSET_BENCH_REAPER

baseline=
if [ -n "${BASELINE:-}" ]; then
  baseline=$(git rev-parse --verify --quiet "$BASELINE^{commit}") ||
    { echo "bench: BASELINE=$BASELINE names no commit in this repository (give a commit or tag, e.g. 278838a)" >&2; exit 1; }
  base_short=$(git rev-parse --short "$baseline")
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillset-bench.XXXXXX")
# A 64-bit prefix of our own runs both builds and never touches ~/.wine.
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
# Both builds where this machine can run i386 programs (Wine's 32-bit
# loader needs them), else the 64-bit build alone.
builds="32 64"
QUILLSET_PROGRAM_ARCH=win32 . tools/wine-env.sh
if [ -n "$WINE_UNAVAILABLE" ]; then
  builds=64
  . tools/wine-env.sh
  [ -z "$WINE_UNAVAILABLE" ] || { echo "bench: $WINE_UNAVAILABLE" >&2; exit 1; }
fi
log=$work/log
# Every run's time, kept after the prefix is gone.
samples=${TMPDIR:-/tmp}/quillset-bench-samples.txt
: > "$samples"
cleanup() {
  [ ! -d "$WINEPREFIX" ] || wineserver -k > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

note() { printf '%s  %s\n' "$(date +%T)" "$*" >&2; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

note "building win32 and win64 (timing: win${builds// /, win})"
for preset in win32 win64; do
  { cmake --preset "$preset" && cmake --build --preset "$preset" --target quillset qsdevreg qsfloor qstimer; } \
    > "$log" 2>&1 || { cat "$log"; exit 1; }
done
b32=$top/build/win32 b64=$top/build/win64

# The baseline from its own tree, presets and toolchain files: only the
# quillset.exe of the builds that are timed, in the throwaway folder.
declare -A bx
if [ -n "$baseline" ]; then
  note "building quillset.exe of $base_short for win${builds// /, win}"
  mkdir "$work/baseline"
  git archive "$baseline" | tar -x -C "$work/baseline"
  for b in $builds; do
    ( cd "$work/baseline" && cmake --preset "win$b" && cmake --build --preset "win$b" --target quillset ) \
      > "$log" 2>&1 && [ -f "$work/baseline/build/win$b/shell/quillset.exe" ] || {
      cat "$log"
      echo "bench: BASELINE=$BASELINE ($base_short) does not build shell/quillset.exe with its own win$b preset; its build log is above" >&2
      exit 1
    }
    bx[$b]=$(winpath "$work/baseline/build/win$b/shell/quillset.exe")
  done
fi

# Wine's background services inherit stdout and stderr, so output goes to a file.
w() {
  "$WINE" "$@" > "$log" 2>&1 < /dev/null || { cat "$log" >&2; return 1; }
  tr -d '\r' < "$log"
}

declare -A med
# Runs qstimer and keeps each entry's median in med[label].
timed() {
  local kind label value rest
  w "$b64/bench/qstimer.exe" "$@" > "$work/timed"
  { echo "# qstimer $1 rounds"; cat "$work/timed"; } >> "$samples"
  while read -r kind label value rest; do
    [ "$kind" = median ] && med[$label]=$value
  done < "$work/timed"
}

q32=$(winpath "$b32/shell/quillset.exe") f32=$(winpath "$b32/bench/qsfloor.exe")
q64=$(winpath "$b64/shell/quillset.exe") f64=$(winpath "$b64/bench/qsfloor.exe")
devreg=$b64/tools/qsdevreg.exe
controller='PCI\VEN_1D5B&DEV_4F17&SUBSYS_00011D5B&REV_01'
# Same vendor, other device: the comparison runs furthest before it fails.
filler='PCI\VEN_1D5B&DEV_4F00'

# CPU time since boot in clock ticks: the machine's busy time, the hypervisor's
# steal included, and this shell's with all it has reaped (see the top).
cpu_ticks() {
  local cpu user nice system idle iowait irq softirq steal self
  read -r cpu user nice system idle iowait irq softirq steal _ < /proc/stat
  read -r self < "/proc/$$/stat"
  read -r -a self <<< "${self##*) }"
  echo "$((user + nice + system + irq + softirq + steal)) $((self[11] + self[12] + self[13] + self[14])) $EPOCHREALTIME"
}
read -r busy0 ours0 time0 <<< "$(cpu_ticks)"

note "making the Wine prefix"
mkdir -p "$WINEPREFIX"
wineserver -p > "$log" 2>&1 < /dev/null
w wineboot --init > /dev/null
w reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f > /dev/null
w reg add 'HKLM\System\CurrentControlSet\Services\kvcard\Parameters' /f > /dev/null
settings=$WINEPREFIX/drive_c/windows/kvinst/kvconfig.txt
mkdir -p "${settings%/*}"
printf ':1 enable= 1\r\n:2 switch= 2\r\n' > "$work/ordinary.txt"
cp "$work/ordinary.txt" "$settings"
w "$devreg" add "$controller" > /dev/null

note "ordinary run against the floor, $pairs pairs per build"
# Programs by build, for the series below: only the builds that run.
declare -A qx=([32]=$q32 [64]=$q64) fx=([32]=$f32 [64]=$f64)

args=()
for b in $builds; do args+=("q$b=${qx[$b]}" "f$b=${fx[$b]}"); done
timed "$pairs" "${args[@]}"
for b in $builds; do
  med[base$b]=$(awk -v q="${med[q$b]}" -v f="${med[f$b]}" 'BEGIN { printf "%.2f", q - f }')
done

# The paired figures of the last series: the median of label $1's run minus
# label $2's of the same round, and in how many rounds $1 was slower.
paired() {
  awk -v a="$1" -v b="$2" '$1 == "run" && $3 > 0 && ($2 == a || $2 == b) { t[$2, $3] = $4; n = $3 }
    END { for (r = 1; r <= n; r++) printf "%.2f\n", t[a, r] - t[b, r] }' "$work/timed" | sort -g |
    awk '{ d[NR] = $1; slower += $1 > 0 }
      END { printf "%+.2f %d\n", NR % 2 ? d[(NR + 1) / 2] : (d[NR / 2] + d[NR / 2 + 1]) / 2, slower }'
}
if [ -n "$baseline" ]; then
  note "ordinary run against $base_short, $baseline_pairs pairs per build"
  args=()
  for b in $builds; do args+=("now$b=${qx[$b]}" "old$b=${bx[$b]}"); done
  timed "$baseline_pairs" "${args[@]}"
  for b in $builds; do read -r "med[diff$b]" "med[slower$b]" <<< "$(paired "now$b" "old$b")"; done
fi

note "settings reader, 10 MB against empty, $reader_rounds rounds"
# Printable text without colons after one ID '1' entry: no ID '2', so the
# reader scans to the end of the file. The heads end the pipes early on
# purpose, so a broken pipe is no failure here.
(
  set +o pipefail
  {
    printf ':1 enable= 1\r\n'
    tr -dc 'A-Za-z0-9 .,=' < /dev/urandom | head -c 10400000 | fold -w 78 | sed 's/$/\r/'
  } | head -c 10485760
) > "$work/big.txt"
: > "$work/empty.txt"
big=$(winpath "$work/big.txt") empty=$(winpath "$work/empty.txt") target='C:\windows\kvinst\kvconfig.txt'
args=()
for b in $builds; do args+=("big$b=${qx[$b]}|$big|$target" "empty$b=${qx[$b]}|$empty|$target"); done
timed "$reader_rounds" "${args[@]}"
cp "$work/ordinary.txt" "$settings"

# The controller is re-added after each batch of fillers, so it is always the
# last device quillset looks at: stand-ins take the lowest free number.
registered=0
for n in 10 100 1000; do
  note "restart with $n stand-in devices, $device_rounds rounds"
  w "$devreg" remove 'PCI\VEN_1D5B&DEV_4F17' > /dev/null
  while [ "$registered" -lt "$n" ]; do
    batch=$(( n - registered < 250 ? n - registered : 250 ))
    ids=()
    for (( i = 0; i < batch; i++ )); do ids+=("$filler"); done
    w "$devreg" add "${ids[@]}" > /dev/null
    registered=$(( registered + batch ))
  done
  last=$(w "$devreg" add "$controller")
  case $last in
  "ROOT\\QUILLSET_STANDIN\\$(printf %04d "$n") "*) ;;
  *) note "warning: controller registered as ${last%% *}, not after the $n fillers" ;;
  esac
  args=()
  for b in $builds; do args+=("q$b.$n=${qx[$b]}" "f$b.$n=${fx[$b]}"); done
  timed "$device_rounds" "${args[@]}"
  for b in $builds; do
    med[over$b.$n]=$(awk -v q="${med[q$b.$n]}" -v f="${med[f$b.$n]}" 'BEGIN { printf "%.2f", q - f }')
    med[per$b.$n]=$(awk -v o="${med[over$b.$n]}" -v z="${med[base$b]}" -v n="$n" \
      'BEGIN { printf "%.3f", (o - z) / n }')
  done
done
removed=$(w "$devreg" remove 'PCI\VEN_1D5B&DEV_4F')
[ "$removed" = "removed $(( registered + 1 )) device(s)" ] || note "warning: $removed, expected $(( registered + 1 ))"

# The prefix's processes count once this shell has reaped them (at most 10 s).
wineserver -k > /dev/null 2>&1 || true
for (( i = 0; i < 100; i++ )); do
  children=
  read -r children < "/proc/$$/task/$$/children" || true
  [ -n "$children" ] || break
  sleep 0.1
done
read -r busy1 ours1 time1 <<< "$(cpu_ticks)"
# What others took, in CPUs on average; above 5% of the CPUs it can hide the
# few milliseconds we look for (docs/developers.md, Benchmark, says why).
read -r others share ours <<< "$(awk -v b=$((busy1 - busy0)) -v o=$((ours1 - ours0)) -v t0="$time0" -v t1="$time1" \
  -v hz="$(getconf CLK_TCK)" -v n="$(nproc)" \
  'BEGIN { t = hz * (t1 - t0); printf "%.2f %.0f %.2f", (b - o) / t, 100 * (b - o) / t / n, o / t }')"
figure="Other processes and the hypervisor took $others of the $(nproc) CPUs on average ($share%), the benchmark itself $ours"
if [ -z "$reaper" ]; then
  busy="Busy check not made: it needs python3 to count Wine's processes as the benchmark's own."
elif [ "$share" -gt 5 ]; then
  busy="**Warning: the machine was busy.** $figure; above 5% the figures are distorted: run again on a quiet machine."
else
  busy="Quiet machine. $figure (the warning starts above 5%)."
fi

# Imported DLLs and functions, counted from the import tables objdump lists.
imports() {
  "$1" -p "$2" | awk '/DLL Name:/ { dlls++; list = 0 } /vma: *Hint/ { list = 1; next }
    list && NF == 0 { list = 0 } list { funcs++ } END { printf "%d DLLs, %d functions", dlls, funcs }'
}
ratio() { [ -n "$1" ] && [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }
minus() { [ -n "$1" ] && [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }

# A build that did not run leaves its cells empty: shown as n/a.
row() {
  local cells=() cell
  for cell in "$@"; do cells+=("${cell:-n/a}"); done
  printf '| %s | %s | %s |\n' "${cells[@]}"
}
table() {
  row Measure win32 win64
  row --- --: --:
  row "Ordinary run, quillset (ms)" "${med[q32]:-}" "${med[q64]:-}"
  row "Ordinary run, floor (ms)" "${med[f32]:-}" "${med[f64]:-}"
  row "**Ratio quillset/floor** (target ≤ 1.01)" "$(ratio "${med[q32]:-}" "${med[f32]:-}")" \
    "$(ratio "${med[q64]:-}" "${med[f64]:-}")"
  row "Quillset − floor, 1 device (ms)" "${med[base32]:-}" "${med[base64]:-}"
  for n in 10 100 1000; do
    row "Quillset − floor, $n + 1 devices (ms)" "${med[over32.$n]:-}" "${med[over64.$n]:-}"
    row "**Per device**, $n devices (ms)" "${med[per32.$n]:-}" "${med[per64.$n]:-}"
  done
  row "Reader, 10 MB file, whole run (ms)" "${med[big32]:-}" "${med[big64]:-}"
  row "Reader, empty file, whole run (ms)" "${med[empty32]:-}" "${med[empty64]:-}"
  row "**Reader cost, 10 MB − empty (ms)**" "$(minus "${med[big32]:-}" "${med[empty32]:-}")" \
    "$(minus "${med[big64]:-}" "${med[empty64]:-}")"
  row "Ratio 10 MB/empty" "$(ratio "${med[big32]:-}" "${med[empty32]:-}")" "$(ratio "${med[big64]:-}" "${med[empty64]:-}")"
  row "quillset.exe size (bytes)" "$(stat -c %s "$b32/shell/quillset.exe")" "$(stat -c %s "$b64/shell/quillset.exe")"
  row "quillset.exe imports" "$(imports i686-w64-mingw32-objdump "$b32/shell/quillset.exe")" \
    "$(imports x86_64-w64-mingw32-objdump "$b64/shell/quillset.exe")"
  row "qsfloor.exe size (bytes)" "$(stat -c %s "$b32/bench/qsfloor.exe")" "$(stat -c %s "$b64/bench/qsfloor.exe")"
  row "qsfloor.exe imports" "$(imports i686-w64-mingw32-objdump "$b32/bench/qsfloor.exe")" \
    "$(imports x86_64-w64-mingw32-objdump "$b64/bench/qsfloor.exe")"
}
head=$(git rev-parse --short HEAD 2> /dev/null || echo "(no git)")
git diff --quiet HEAD -- job shell 2>/dev/null || head+=' (job or shell modified)'
baseline_table() {
  local b ratios=() diffs=() slower=()
  for b in 32 64; do
    ratios+=("$(ratio "${med[now$b]:-}" "${med[old$b]:-}")")
    diffs+=("${med[diff$b]:-}")
    slower+=("${med[slower$b]:+${med[slower$b]} of $baseline_pairs}")
  done
  row "Against $base_short" win32 win64
  row --- --: --:
  row "Ordinary run, $head (ms)" "${med[now32]:-}" "${med[now64]:-}"
  row "Ordinary run, $base_short (ms)" "${med[old32]:-}" "${med[old64]:-}"
  row "**Ratio of medians** (quiet: within 1.005)" "${ratios[@]}"
  row "Paired median difference (ms)" "${diffs[@]}"
  row "Pairs $head was slower" "${slower[@]}"
}
results=$(table)
[ -z "$baseline" ] || results+=$'\n\n'$(baseline_table)
elapsed=$(( $(date +%s) - begin ))

printf '\n%s\n\n%s\nWhole benchmark: %d s; every run is in %s\n' "$results" "$busy" "$elapsed" "$samples"
{
  echo "# quillset benchmark"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- Machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
  echo "- Wine: $("$WINE" --version)"
  [ "$builds" != 64 ] || echo "- win32 not timed: this machine cannot run i386 programs, which Wine's 32-bit loader needs"
  echo "- Commit: $head"
  [ -z "$baseline" ] || echo "- Baseline: $base_short (BASELINE=$BASELINE)"
  echo "- Whole benchmark: ${elapsed} s (bench/run.sh)"
  echo
  echo "$busy"
  echo
  echo "Times are medians of runs timed inside Wine from CreateProcess to exit, each"
  echo "series alternating its programs (A B, B A, ...) after one untimed round:"
  echo "$pairs rounds for the ordinary run against the floor,${baseline:+ $baseline_pairs against the baseline,}"
  echo "$device_rounds per device count, $reader_rounds for the reader."
  echo "The floor has quillset's start-up and window and only sleeps 1000 ms, the restart's pause."
  [ -z "$baseline" ] || echo "The baseline is the quillset.exe that commit's own tree and presets build; the paired difference is
the median over the rounds of (this commit's run − the baseline's run of the same round)."
  echo "Device counts are stand-ins added before the controller, so both enumerations walk all of them;"
  echo "per device = ((quillset − floor with N) − (quillset − floor with the controller alone)) / N."
  echo "The first enumeration after new devices are registered is much slower under Wine; the untimed"
  echo "round takes it. At 10 devices the difference is within the run-to-run noise."
  echo "The reader rows are whole runs on a 10 MB file with no ID '2' entry, so it is read to the end,"
  echo "against an empty file; neither run reaches the registry or the restart."
  echo
  echo "$results"
} > "$top/bench/RESULTS.md"

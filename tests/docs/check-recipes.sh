#!/usr/bin/env bash
# The fleet recipes in docs/recipes, read for what can go wrong without a
# Windows to run them on: a tool started without a check that it is there,
# a script that ends without an explicit exit or exits with a $LASTEXITCODE
# that no program set, a start that may read the code of the program before
# it, a run of qscapture without --timeout or with one past
# the script's time limit, and a detection and remediation pair that keep
# different settings.
#   check-recipes.sh <project root>
set -uo pipefail
cd "$1/docs/recipes"
export LC_ALL=C
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

for script in *.ps1 *.cmd; do
  # PowerShell 5.1 reads a file without a byte-order mark in the ANSI code
  # page, cmd in the OEM one: only ASCII reads the same in both.
  ! grep -qP '[^\x00-\x7F]' "$script" || fail "$script is not ASCII"
  last=$(grep -v '^[[:space:]]*$' "$script" | tail -1)
  case $script in
  *.ps1)
    # Each tool is checked before the first program starts.
    first=$(grep -n '^[[:space:]]*\(\$[a-z]* = \)\{0,1\}& ' "$script" | head -1 | cut -d: -f1)
    for tool in $(sed -n 's/^\(\$[A-Za-z]*\) = ".*\.exe"$/\1/p' "$script"); do
      awk -v tool="$tool" -v first="${first:-0}" '
        NR < first && /Test-Path -LiteralPath/ && (index($0, tool) || index(previous, "foreach (") && index(previous, tool)) { found = 1 }
        { previous = $0 }
        END { exit !found }' "$script" || fail "$script starts $tool without Test-Path -LiteralPath before"
    done
    [[ $last = exit\ * ]] || fail "$script ends with '$last', not an exit"
    ! grep -q 'exit \$LASTEXITCODE' "$script" || fail "$script exits with \$LASTEXITCODE, which is \$null (exit 0) when no program ran"
    # A start that fails leaves the code of the program before: each start
    # follows a reset of the global one (a script's own would hide it).
    awk '/^[[:space:]]*(\$[a-z]* = )?& / && previous !~ /^[[:space:]]*\$global:LASTEXITCODE = \$null$/ { bad = 1 }
      { previous = $0 }
      END { exit bad }' "$script" || fail "$script starts a program without \$global:LASTEXITCODE = \$null just before"
    # "$name:" is a drive-qualified variable to PowerShell, not $name and a colon.
    ! grep -qP '\$(?!env:|global:|script:)[A-Za-z_]\w*:' "$script" || fail "$script has \$name: in a string; write \${name}:"
    starts=$(grep '& \$qscapture ' "$script")
    ;;
  *.cmd)
    first=$(grep -n '^"%~dp0' "$script" | head -1 | cut -d: -f1)
    for tool in $(grep -o '%~dp0[a-z]*\.exe' "$script" | sort -u); do
      head -n "$((${first:-1} - 1))" "$script" | grep -qF "if not exist \"$tool\"" ||
        fail "$script starts $tool without 'if not exist' before"
    done
    [[ $last = exit\ /b\ * ]] || fail "$script ends with '$last', not exit /b"
    starts=$(grep '^"%~dp0qscapture\.exe" ' "$script")
    ;;
  esac
  limit=$(sed -n 's/.*Time limit: \([0-9]*\) s.*/\1/p' "$script")
  while IFS= read -r start; do
    [ -n "$start" ] || continue
    timeout=$(sed -n 's/.*--timeout \([0-9]*\) .*/\1/p' <<< "$start")
    if [ -z "$timeout" ]; then
      fail "$script runs qscapture without --timeout"
    elif [ -n "$limit" ] && [ "$timeout" -gt $((limit - 10)) ]; then
      fail "$script gives --timeout $timeout within 10 s of its time limit, $limit s"
    fi
  done <<< "$starts"
done

# A pair that kept different settings would remediate every day.
for pair in intune-detect.ps1:intune-remediate.ps1 cm-discover.ps1:cm-remediate.ps1; do
  detect=${pair%:*} remediate=${pair#*:}
  [ "$(grep '^\$s[md][A-Za-z]* = ' "$detect")" = "$(grep '^\$s[md][A-Za-z]* = ' "$remediate")" ] ||
    fail "$detect and $remediate keep different settings"
done
echo "recipes: $(ls *.ps1 *.cmd | wc -l) scripts, $failures failures"
[ "$failures" -eq 0 ]

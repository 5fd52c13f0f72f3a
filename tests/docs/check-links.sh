#!/usr/bin/env bash
# Every relative link in the project's Markdown files reaches a file, and a
# link with #anchor a heading of that file (anchors as GitHub makes them).
#   check-links.sh <project root>
set -euo pipefail
cd "$1"
export LC_ALL=C

anchors() {
  sed -n 's/^#\{1,6\} \(.*\)/\1/p' "$1" | tr '[:upper:]' '[:lower:]' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}

failures=0 links=0
for page in README.md docs/*.md; do
  dir=$(dirname "$page")
  # Inline links, one a line; a link may not span lines in these files.
  while IFS= read -r target; do
    case $target in http://* | https://* | mailto:*) continue ;; esac
    links=$((links + 1))
    file=${target%%#*} anchor=
    [[ $target != *'#'* ]] || anchor=${target#*#}
    if [ -z "$file" ]; then file=$page; else file=$dir/$file; fi
    if [ ! -f "$file" ]; then
      echo "$page: link to $target: no file $file"
      failures=$((failures + 1))
    elif [ -n "$anchor" ] && ! anchors "$file" | grep -qx -- "$anchor"; then
      echo "$page: link to $target: no heading #$anchor in $file"
      failures=$((failures + 1))
    fi
  done < <(grep -o '\](\([^)]*\))' "$page" | sed 's/^](\(.*\))$/\1/')
done
echo "$links relative links, $failures broken"
[ "$failures" -eq 0 ]

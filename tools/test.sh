#!/usr/bin/env bash
# Every test: installs what is missing, then builds and tests each preset.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-debian.sh

# clang-win32 and clang-win64: the second compiler, PE checks only.
for preset in host fuzz win32 win64 clang-win32 clang-win64; do
  echo "== $preset"
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== release"
tests/release/check-release.sh

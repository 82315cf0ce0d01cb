#!/usr/bin/env bash
# Configures and builds the given presets (default: all four).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan win32 win64)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset"
done

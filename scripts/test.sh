#!/usr/bin/env bash
# Installs what is missing, then for each preset configures, builds and runs every test
# (one CMake workflow preset each): natively, under AddressSanitizer +
# UndefinedBehaviorSanitizer, the i686 build (the product) under 32-bit wine, the x86-64
# Windows build under wine64, the threaded suite under ThreadSanitizer; then every fuzz
# target for 30 seconds.  The Linux build comes first: the Windows suites' wire check
# talks to its station.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" VARNEK_NO_MSGBOX=1
status=0
for preset in linux linux-asan win32 win64 linux-tsan; do
  echo "== $preset: configure, build, test"
  cmake --workflow --preset "$preset" || status=1
done
echo "== fuzz, 30 s per target"
scripts/fuzz.sh 30 || status=1
exit $status

#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: natively, under
# AddressSanitizer + UndefinedBehaviorSanitizer, the i686 build (the product) under
# 32-bit wine, the x86-64 Windows build under wine64, the threaded suite under
# ThreadSanitizer, and every fuzz target for 30 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh linux linux-asan win32 win64
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" VARNEK_NO_MSGBOX=1
status=0
for preset in linux linux-asan win32 win64; do
  echo "== test $preset"
  ctest --preset "$preset" -j 2 || status=1
done
# ThreadSanitizer: only the threaded suite is built and run.
scripts/build.sh linux-tsan
echo "== test linux-tsan"
ctest --preset linux-tsan || status=1
echo "== fuzz, 30 s per target"
scripts/fuzz.sh 30 || status=1
exit $status

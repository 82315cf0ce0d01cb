#!/usr/bin/env bash
# Runs every fuzz target of fuzz/ for SECONDS each (default 60), one after the other,
# starting from the committed seed corpora.  A finding (crash, sanitizer report, leak,
# hang) stops with a failure and leaves the input in build/fuzz/findings/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/bootstrap.sh
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/findings
targets=(link_frame byteswap script unzip session_rx bridge lzss_encode)
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$target" ] && cp -n fuzz/corpus/$target/* "$corpus"/ 2> /dev/null || true
  log=build/fuzz/$target.log
  if ! build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$target-" "$corpus" > "$log" 2>&1; then
    echo "fuzz_$target: FINDING (see $log and build/fuzz/findings/)"
    grep -E "ERROR|SUMMARY|runtime error" "$log" | head -5
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz_$target: ${runs:-?} runs in ${seconds}s, no finding"
done

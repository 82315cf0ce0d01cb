#!/bin/sh
# The legacy-style host (examples/legacy_host.c) under wine against the Linux station,
# which echoes the host's message and keeps a copy: the copy must hold the byte run, then
# the words and the long word most significant byte first.
# usage: legacy_host.sh NATIVE_STATION WINE_RUNNER... LEGACY_HOST
native="$1"
shift
if [ ! -x "$native" ]; then
  echo "no native station at $native: build the linux preset first"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
tries=0
until [ $tries -ge 20 ]; do
  port=$(( 20000 + ($$ + $(date +%N | sed 's/^0*//') % 20000) % 20000 ))
  "$native" listen "127.0.0.1:$port" --count 1 --echo --save "$tmp" > "$tmp/listen.txt" 2>&1 &
  lpid=$!
  until grep -q "listening on" "$tmp/listen.txt" || ! kill -0 $lpid 2>/dev/null; do sleep 0.05; done
  kill -0 $lpid 2>/dev/null && break
  tries=$((tries + 1))
done
"$@" "$port" > "$tmp/host.txt" 2>&1
code=$?
cat "$tmp/host.txt"
[ $code -eq 0 ] || { echo "the host failed (exit $code)"; cat "$tmp/listen.txt"; kill $lpid 2>/dev/null; exit 1; }
wait $lpid || { echo "the station failed"; cat "$tmp/listen.txt"; exit 1; }
grep -q "opened by 'LEGACY'" "$tmp/listen.txt" || { echo "the station did not see the host's name"; cat "$tmp/listen.txt"; exit 1; }
expected="00 7f 80 ff 4c 45 47 41 43 59 0d 0a 12 34 89 ab cd ef ff fe"
got=$(od -An -tx1 -v "$tmp/message-1.bin" | tr -s ' \n' '  ' | sed 's/^ //; s/ $//')
[ "$got" = "$expected" ] || { echo "the station received: $got"; echo "expected:             $expected"; exit 1; }
echo "the station received exactly: $got"

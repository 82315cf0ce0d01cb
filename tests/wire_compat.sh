#!/bin/sh
# A station of the Windows build (under wine) and a station of the Linux build exchange
# messages over loopback, each in both roles; the answers must equal what was sent.
# usage: wire_compat.sh WINDOWS_STATION NATIVE_STATION
win="$1"
native="$2"
if [ ! -x "$native" ]; then
  echo "no native station at $native: build the linux preset first"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export WINEDEBUG=-all VARNEK_NO_MSGBOX=1
awk 'BEGIN { for (i = 0; i < 4000; i++) printf "record %06d|STATION-%d|PAYMENT|%08d|ACCEPTED\r\n", i, i % 9, i * 37 }' > "$tmp/text.bin"
head -c 200000 /dev/urandom > "$tmp/random.bin"

# exchange LISTEN_CMD CALL_CMD NAME: one listener session, one caller with two messages
exchange() {
  port=$(( 20000 + ($$ + $(date +%N | sed 's/^0*//') % 20000) % 20000 ))
  mkdir -p "$tmp/$3"
  $1 listen "127.0.0.1:$port" --count 1 --echo > "$tmp/$3/listen.txt" 2>&1 &
  lpid=$!
  tries=0
  until $2 call "127.0.0.1:$port" --send "$tmp/text.bin" --send "$tmp/random.bin" --save "$tmp/$3" > "$tmp/$3/call.txt" 2>&1; do
    code=$?
    tries=$((tries + 1))
    if [ $code -ne 2 ] || [ $tries -ge 100 ]; then
      echo "$3: the call failed (exit $code)"; cat "$tmp/$3/call.txt" "$tmp/$3/listen.txt"; kill $lpid 2>/dev/null; return 1
    fi
    sleep 0.2
  done
  wait $lpid || { echo "$3: the listener failed"; cat "$tmp/$3/listen.txt"; return 1; }
  cmp "$tmp/text.bin" "$tmp/$3/answer-1.bin" && cmp "$tmp/random.bin" "$tmp/$3/answer-2.bin" || return 1
  grep -q "closed by the caller" "$tmp/$3/listen.txt" || { echo "$3: no close seen"; return 1; }
  echo "$3: both messages came back identical"
}

exchange "wine $win" "$native" "windows-listens-linux-calls" || exit 1
exchange "$native" "wine $win" "linux-listens-windows-calls" || exit 1

#!/bin/sh
# A station of the Windows build (under wine) and a station of the Linux build exchange
# messages, each in both roles: over loopback TCP, and over a serial line (the link
# protocol on a raw TCP line, peer to peer and through the centre log-in), compressed
# and not.  The answers must equal what was sent, byte for byte.
# usage: wire_compat.sh NATIVE_STATION WINDOWS_STATION_COMMAND...
#        (the Windows command is the wine runner and its arguments, then varnek.exe)
native="$1"
shift
win="$*"
if [ ! -x "$native" ]; then
  echo "no native station at $native: build the linux preset first"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk 'BEGIN { for (i = 0; i < 4000; i++) printf "record %06d|STATION-%d|PAYMENT|%08d|ACCEPTED\r\n", i, i % 9, i * 37 }' > "$tmp/text.bin"
head -c 200000 /dev/urandom > "$tmp/random.bin"
head -c 30000 "$tmp/text.bin" > "$tmp/text-short.bin"
head -c 20000 "$tmp/random.bin" > "$tmp/random-short.bin"

# exchange NAME LISTENER CALLER KIND [CALL OPTIONS...]: one listener session (KIND tcp,
# p2p or centre), one caller with two messages
exchange() {
  name=$1 listener=$2 caller=$3 kind=$4
  shift 4
  port=$(( 20000 + ($$ + $(date +%N | sed 's/^0*//') % 20000) % 20000 ))
  mkdir -p "$tmp/$name"
  case $kind in
    tcp) serve="listen 127.0.0.1:$port"; call="call 127.0.0.1:$port"; a=text b=random ;;
    p2p) serve="listen --serial 3 --line tcp-listen:$port"
         call="call --serial 4 --line tcp:127.0.0.1:$port --p2p"; a=text-short b=random-short ;;
    centre) serve="centre --serial 3 --line tcp-listen:$port"
            call="call --serial 4 --line tcp:127.0.0.1:$port --service 5005"; a=text-short b=random-short ;;
  esac
  $listener $serve --count 1 --echo > "$tmp/$name/listen.txt" 2>&1 &
  lpid=$!
  tries=0
  until $caller $call "$@" --send "$tmp/$a.bin" --send "$tmp/$b.bin" --save "$tmp/$name" > "$tmp/$name/call.txt" 2>&1; do
    code=$?
    tries=$((tries + 1))
    if [ $code -ne 2 ] || [ $tries -ge 100 ]; then
      echo "$name: the call failed (exit $code)"; cat "$tmp/$name/call.txt" "$tmp/$name/listen.txt"; kill $lpid 2>/dev/null; return 1
    fi
    sleep 0.2
  done
  wait $lpid || { echo "$name: the listener failed"; cat "$tmp/$name/listen.txt"; return 1; }
  cmp "$tmp/$a.bin" "$tmp/$name/answer-1.bin" && cmp "$tmp/$b.bin" "$tmp/$name/answer-2.bin" || return 1
  grep -q "closed by the caller" "$tmp/$name/listen.txt" || { echo "$name: no close seen"; return 1; }
  echo "$name: both messages came back identical"
}

exchange tcp-windows-listens "$win" "$native" tcp || exit 1
exchange tcp-linux-listens "$native" "$win" tcp || exit 1
exchange tcp-plain-windows-listens "$win" "$native" tcp --no-compress || exit 1
exchange tcp-plain-linux-listens "$native" "$win" tcp --no-compress || exit 1
exchange serial-p2p-windows-listens "$win" "$native" p2p || exit 1
exchange serial-p2p-linux-listens "$native" "$win" p2p --no-compress || exit 1
exchange serial-centre-windows-centre "$win" "$native" centre --no-compress || exit 1
exchange serial-centre-linux-centre "$native" "$win" centre || exit 1

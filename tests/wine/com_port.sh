#!/bin/sh
# The Windows station on a COM port: wine's COMn is whatever $WINEPREFIX/dosdevices/comn
# links to, here one end of a pseudo-terminal pair (socat joins the two); the Linux
# station is on the other end.  One session with two messages (one compressible, one
# random), echoed back and compared byte for byte.
# usage: com_port.sh N p2p|centre windows-listens|windows-calls NATIVE_STATION WINE_RUNNER... WINDOWS_STATION
#        (the wine runner is tests/wine/run.sh ARCH PREFIX)
com=$1 kind=$2 role=$3 native=$4
shift 4
runner_arch=$3 prefix=$4
win="$*"
if [ ! -x "$native" ]; then
  echo "no native station at $native: build the linux preset first"
  exit 77
fi
command -v socat > /dev/null || { echo "socat is missing (scripts/bootstrap.sh installs it)"; exit 1; }
tmp=$(mktemp -d)
cleanup() {
  [ -n "$cable" ] && kill "$cable" 2>/dev/null
  rm -f "$prefix/dosdevices/com$com"
  rm -rf "$tmp"
}
trap cleanup EXIT

# the prefix must exist before a COM port can be linked into it
$win --help > /dev/null 2>&1
[ -d "$prefix/dosdevices" ] || { echo "no wine prefix at $prefix ($runner_arch)"; exit 1; }

socat pty,raw,echo=0,link="$tmp/windows-end" pty,raw,echo=0,link="$tmp/linux-end" &
cable=$!
tries=0
until [ -e "$tmp/windows-end" ] && [ -e "$tmp/linux-end" ]; do
  tries=$((tries + 1))
  [ $tries -lt 100 ] || { echo "socat made no pseudo-terminals"; exit 1; }
  sleep 0.05
done
ln -sfn "$(readlink -f "$tmp/windows-end")" "$prefix/dosdevices/com$com"

awk 'BEGIN { for (i = 0; i < 900; i++) printf "record %06d|STATION-%d|PAYMENT|%08d|ACCEPTED\r\n", i, i % 9, i * 37 }' > "$tmp/text.bin"
head -c 20000 /dev/urandom > "$tmp/random.bin"

# the Windows station is on serial port 7 (COMn), the Linux station on serial port 3
case $kind in
  p2p) serve=listen; p2p=--p2p ;;
  centre) serve=centre; p2p="--service 5005" ;;
  *) echo "unknown kind $kind"; exit 2 ;;
esac
if [ "$role" = windows-listens ]; then
  listener="env DRUMMEL_PORT7=COM$com $win $serve --serial 7"
  caller="env DRUMMEL_PORT3=$tmp/linux-end $native call --serial 3 $p2p"
else
  listener="env DRUMMEL_PORT3=$tmp/linux-end $native $serve --serial 3"
  caller="env DRUMMEL_PORT7=COM$com $win call --serial 7 $p2p"
fi

$listener --count 1 --echo > "$tmp/listen.txt" 2>&1 &
lpid=$!
# the listener's line must be open before the caller's first frame, or that frame is lost
# (the caller then repeats it, which is slower but also correct)
tries=0
until grep -q "listening on" "$tmp/listen.txt"; do
  tries=$((tries + 1))
  if [ $tries -ge 200 ] || ! kill -0 $lpid 2>/dev/null; then echo "the listener did not start"; cat "$tmp/listen.txt"; exit 1; fi
  sleep 0.05
done
if ! $caller --send "$tmp/text.bin" --send "$tmp/random.bin" --save "$tmp" > "$tmp/call.txt" 2>&1; then
  echo "the call failed"; cat "$tmp/call.txt" "$tmp/listen.txt"; kill $lpid 2>/dev/null; exit 1
fi
wait $lpid || { echo "the listener failed"; cat "$tmp/listen.txt"; exit 1; }
cmp "$tmp/text.bin" "$tmp/answer-1.bin" && cmp "$tmp/random.bin" "$tmp/answer-2.bin" || exit 1
grep -q "closed by the caller" "$tmp/listen.txt" || { echo "no close seen"; cat "$tmp/listen.txt"; exit 1; }
echo "COM$com, $kind, $role: both messages came back identical"

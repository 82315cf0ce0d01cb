#!/bin/sh
# A call through a TLS tunnel, end to end: a listener on loopback, stunnel in front of it
# with a throw-away certificate, and on the caller's side a second stunnel that checks
# that certificate.  The station's messages cross the tunnel unchanged.
#   usage: tls_tunnel.sh VARNEK
# Exit 77 (skipped) where stunnel or openssl is missing.
set -u
varnek=$1
stunnel=$(command -v stunnel4 || command -v stunnel || true)
if [ -z "$stunnel" ] || ! command -v openssl > /dev/null; then
  echo "skipped: stunnel4 and openssl are needed (apt-get install stunnel4 openssl)"
  exit 77
fi
dir=$(mktemp -d)
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

# Three loopback ports, picked by process id: the listener, the tunnel's TLS end, the
# caller's plain end.
plain=$((20000 + ($$ % 9000) * 3)) tls=$((20001 + ($$ % 9000) * 3)) local=$((20002 + ($$ % 9000) * 3))

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -addext subjectAltName=DNS:localhost \
  -keyout "$dir/centre.key" -out "$dir/centre.pem" 2> "$dir/openssl.log" || { cat "$dir/openssl.log"; exit 1; }

cat > "$dir/centre.conf" << EOF
foreground = yes
pid =
[varnek-centre]
accept = 127.0.0.1:$tls
connect = 127.0.0.1:$plain
cert = $dir/centre.pem
key = $dir/centre.key
EOF
cat > "$dir/station.conf" << EOF
foreground = yes
pid =
[varnek-station]
client = yes
accept = 127.0.0.1:$local
connect = 127.0.0.1:$tls
verifyPeer = yes
CAfile = $dir/centre.pem
checkHost = localhost
EOF

"$varnek" listen "127.0.0.1:$plain" --count 1 --echo > "$dir/listen.txt" 2>&1 &
pids="$pids $!"
"$stunnel" "$dir/centre.conf" > "$dir/centre.log" 2>&1 &
pids="$pids $!"
"$stunnel" "$dir/station.conf" > "$dir/station.log" 2>&1 &
pids="$pids $!"

# Wait (at most 10 s) until both tunnel ends have bound their ports.
for i in $(seq 100); do
  if grep -q "Configuration successful" "$dir/centre.log" && grep -q "Configuration successful" "$dir/station.log" &&
     grep -q "listening" "$dir/listen.txt"; then break; fi
  sleep 0.1
done

"$varnek" call "localhost:$local" --text "through the tunnel" > "$dir/call.txt" 2>&1
rc=$?
cat "$dir/call.txt"
if [ $rc -ne 0 ] || ! grep -q "answer 18 bytes: .*|through the tunn...|" "$dir/call.txt"; then
  echo "FAILED: the call through the tunnel (exit $rc)"
  cat "$dir/listen.txt" "$dir/centre.log" "$dir/station.log"
  exit 1
fi
if ! grep -q "opened by 'CALLER'" "$dir/listen.txt"; then
  echo "FAILED: the listener saw no session"
  cat "$dir/listen.txt"
  exit 1
fi
echo "passed: a session through stunnel with a checked certificate"

#!/bin/sh
# Golden tests of the Wireshark dissectors (tools/wireshark): captures dissected by
# tshark, the output compared with the text under tests/wireshark/expected.
#
# usage: golden.sh tools|crafted VARNEK SOURCE_DIR WORK_DIR
#   tools    captures the project's own tools make: `varnek demo` (its TCP act and its
#            serial act, both ways), and `varnek script pcap` of the script the demo's
#            station port recorded
#   crafted  bad and awkward captures made with text2pcap from tests/wireshark/*.txt,
#            and some of them cut short with editcap
# Any Lua error fails the test.  VARNEK_UPDATE_GOLDEN=1 writes the expected text
# instead of comparing.  Exit 77 (skipped) where tshark is not installed.
set -u
kind=$1 varnek=$2 src=$3 work=$4
for tool in tshark text2pcap editcap; do
  if ! command -v $tool > /dev/null 2>&1; then
    echo "$tool is not installed (apt-get install tshark): skipped"
    exit 77
  fi
done
here=$src/tests/wireshark
expected=$here/expected
rm -rf "$work"
mkdir -p "$work/home" "$work/scripts" "$work/out"
cd "$work" || exit 1
export HOME="$work/home"  # no personal plugins or preferences
if tshark -G protocols 2> /dev/null | grep -q "	varnek$"; then
  echo "Wireshark already loads a Varnek dissector from its global plugins: skipped"
  exit 77
fi
failed=0

fail() {
  echo "FAIL: $*"
  failed=1
}

# dissect NAME CAPTURE ARGS...: tshark's output, checked and compared.
dissect() {
  name=$1 capture=$2
  shift 2
  tshark -n -X lua_script:"$src/tools/wireshark/varnek.lua" -X lua_script:"$src/tools/wireshark/varnek_link.lua" \
    -r "$capture" "$@" > "out/$name.raw" 2> "out/$name.err"
  # The demo's listener and relay ports are chosen by the system.
  sed -e 's/Service: [0-9]*$/Service: (port)/' "out/$name.raw" > "out/$name"
  if grep -v '^Running as user' "out/$name.err" | grep -q .; then fail "$name: tshark wrote:"; cat "out/$name.err"; fi
  if grep -q 'Lua Error' "out/$name"; then fail "$name: a Lua error"; fi
  if [ "${VARNEK_UPDATE_GOLDEN:-}" = 1 ]; then
    cp "out/$name" "$expected/$name"
  elif ! diff -u "$expected/$name" "out/$name"; then
    fail "$name differs from tests/wireshark/expected/$name"
  fi
}

detail() { dissect "$1.detail" "$2" -O varnek,varnek_link; }
fields() {
  dissect "$1.fields" "$2" -T fields -E header=y -e frame.number -e varnek_link.header -e varnek_link.block.number \
    -e varnek.flags -e varnek.len -e varnek.message.length -e varnek.message
}

case $kind in
tools)
  printf 'port = 2 mode = write\n' > LINKSCRIPT.INI
  if ! VARNEK_SCRIPT_DIR="$work/scripts" "$varnek" demo --pcap tcp.pcap --serial-pcap serial.pcap > demo.out 2>&1; then
    cat demo.out
    fail "varnek demo failed"
    exit 1
  fi
  "$varnek" script pcap scripts/LINKSCRIPT.02 > script.pcap || fail "varnek script pcap failed"
  head -c 33 scripts/LINKSCRIPT.02 > cut.02
  "$varnek" script pcap cut.02 > cut.pcap 2> cut.err
  [ $? = 4 ] && grep -q 'cut short' cut.err || fail "a script cut inside a record is not refused with exit code 4"
  detail demo-tcp tcp.pcap
  fields demo-tcp tcp.pcap
  detail demo-serial serial.pcap
  # Two passes, as Wireshark's window revisits frames: the same tree.
  dissect demo-serial.detail serial.pcap -2 -O varnek,varnek_link
  fields demo-serial serial.pcap
  detail demo-script script.pcap
  ;;
crafted)
  text2pcap -q -D -T 47001,40000 "$here/tcp-split.txt" split.pcap > /dev/null 2>&1 || fail "text2pcap tcp-split"
  text2pcap -q -D -T 5005,40000 "$here/tcp-bad.txt" bad.pcap > /dev/null 2>&1 || fail "text2pcap tcp-bad"
  text2pcap -q -l 147 "$here/link-bad.txt" link-bad.pcap > /dev/null 2>&1 || fail "text2pcap link-bad"
  # A stream that stops inside a frame, and records cut by the snapshot length.
  editcap -r split.pcap split-end.pcap 1-3 > /dev/null 2>&1
  editcap -s 70 bad.pcap bad-snap.pcap > /dev/null 2>&1
  editcap -s 12 link-bad.pcap link-snap.pcap > /dev/null 2>&1
  detail tcp-split split.pcap
  dissect tcp-split.detail split.pcap -2 -O varnek,varnek_link
  detail tcp-bad bad.pcap
  detail link-bad link-bad.pcap
  detail tcp-end split-end.pcap
  detail tcp-snap bad-snap.pcap
  detail link-snap link-snap.pcap
  ;;
*)
  echo "usage: golden.sh tools|crafted VARNEK SOURCE_DIR WORK_DIR"
  exit 2
  ;;
esac
exit $failed

#!/bin/sh
# Builds a tiny host outside the tree against an installed (or unpacked) Varnek and runs
# a session with it over loopback, against an echoing varnek station.
#
#   run.sh pkgconfig PREFIX STATION WORK   cc with pkg-config, against PREFIX
#   run.sh cmake     PREFIX STATION WORK   find_package(Varnek), shared and static
#   run.sh wine      ZIP    STATION WORK   the Windows zip: i686 mingw host linked once
#                                          through its varnek.pc (libVarnek.dll.a), once
#                                          with Varnek.lib,
#                                          both run under 32-bit wine
# STATION is a native varnek; exit 77 (skipped) when it is missing.
set -eu
mode=$1 from=$2 station=$3 work=$4
[ -x "$station" ] || { echo "no native station at $station: skipped"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
here=$(cd "$(dirname "$0")" && pwd)
port=$((20000 + $$ % 20000))

# Starts the echoing station for COUNT sessions and waits until it listens.
start_station() {
    "$station" listen "127.0.0.1:$port" --echo --count "$1" > "$work/station.log" 2>&1 &
    station_pid=$!
    tries=0
    until grep -q "listening on" "$work/station.log" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -le 100 ] || { echo "the station did not start"; cat "$work/station.log"; exit 1; }
        kill -0 $station_pid 2>/dev/null || { echo "the station stopped"; cat "$work/station.log"; exit 1; }
        sleep 0.1
    done
}

# Runs one host (its command line before the three arguments) and checks its answer.
call() {
    echo "== $*"
    "$@" 127.000.000.001 $port "hello from $mode" > "$work/call.log" 2>&1 || { cat "$work/call.log"; exit 1; }
    cat "$work/call.log"
    grep -q "^answer: hello from $mode" "$work/call.log" || { echo "wrong answer"; exit 1; }
}

finish_station() {
    wait $station_pid || { echo "the station failed"; cat "$work/station.log"; exit 1; }
    cat "$work/station.log"
}

case $mode in
pkgconfig)
    export PKG_CONFIG_PATH="$(dirname "$(find "$from" -name varnek.pc | head -n 1)")"
    echo "pkg-config --cflags --libs varnek: $(pkg-config --cflags --libs varnek)"
    src="$from/share/doc/varnek/examples/call_echo.c"
    cc -Wall -Wextra -Werror -o "$work/call_echo" "$src" $(pkg-config --cflags --libs varnek)
    start_station 1
    LD_LIBRARY_PATH="$(pkg-config --variable=libdir varnek)" call "$work/call_echo"
    finish_station
    ;;
cmake)
    src="$from/share/doc/varnek/examples/call_echo.c"
    cmake -G Ninja -S "$here/cmake" -B "$work/build" -DCMAKE_PREFIX_PATH="$from" -DCALL_ECHO_SOURCE="$src" \
          -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
    cmake --build "$work/build" > "$work/build.log" || { cat "$work/build.log"; exit 1; }
    if ldd "$work/build/call_echo_static" | grep -q libvarnek; then echo "the static host needs libvarnek.so"; exit 1; fi
    start_station 2
    call "$work/build/call_echo_shared"
    call "$work/build/call_echo_static"
    finish_station
    ;;
wine)
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" ||
        { echo "32-bit wine (wine32:i386) is not installed: skipped"; exit 77; }
    cmake -E chdir "$work" cmake -E tar xf "$from"
    top="$(dirname "$(find "$work" -name varnek.h)")/.."
    cc=i686-w64-mingw32-gcc
    src="$top/share/doc/varnek/examples/call_echo.c"
    # MinGW through the zip's own varnek.pc, then Visual C++'s import library.
    $cc -Wall -Wextra -Werror -o "$work/call_mingw.exe" "$src" \
        $(PKG_CONFIG_PATH="$top/lib/pkgconfig" pkg-config --cflags --libs varnek)
    $cc -Wall -Wextra -Werror -I"$top/include" -o "$work/call_msvc_lib.exe" "$src" "$top/lib/Varnek.lib"
    cp "$top/bin/Varnek.dll" "$work/"
    export WINEPREFIX="$work/../wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineboot -i > /dev/null 2>&1 || true
    start_station 2
    call wine "$work/call_mingw.exe"
    call wine "$work/call_msvc_lib.exe"
    finish_station
    ;;
*)
    echo "unknown mode $mode"; exit 2 ;;
esac

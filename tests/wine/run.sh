#!/bin/sh
# Runs a Windows program under wine, in a wine prefix of its own that is made on first
# use (never the user's ~/.wine).  CTest starts every .exe of a Windows build through it.
# usage: run.sh win32|win64 PREFIX PROGRAM [ARGUMENTS...]
set -e
arch="$1"
prefix="$2"
shift 2
case "$arch" in
  win32) loader=wine ;;
  win64) loader=/usr/lib/wine/wine64; [ -x "$loader" ] || loader=wine64 ;;
  *) echo "run.sh: unknown arch $arch" >&2; exit 2 ;;
esac
export WINEPREFIX="$prefix" WINEARCH="$arch"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export VARNEK_NO_MSGBOX="${VARNEK_NO_MSGBOX:-1}"

# Tests run in parallel: the first one makes the prefix, the others wait for it.
if [ ! -f "$prefix/.made" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.made" ]; then
      rm -rf "$prefix"
      $loader wineboot --init > /dev/null 2>&1
      wineserver -w
      touch "$prefix/.made"
    fi
  ) 9> "$prefix.lock"
fi
# The first program of a wine session starts wine's own background processes, which
# inherit its output and live as long as the session: CTest, reading that output, would
# wait for them.  So the session is started (and kept for 30 s after its last program)
# with its output elsewhere; then the program runs in it.
wineserver -p30 < /dev/null > /dev/null 2>&1 || true
$loader cmd /c exit < /dev/null > /dev/null 2>&1 || true
exec $loader "$@"

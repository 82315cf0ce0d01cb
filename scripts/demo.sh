#!/usr/bin/env bash
# The main job: installs what is missing, builds the three targets and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
scripts/build.sh linux win32 win64
echo "== Varnek.dll (i686): build/win32/Varnek.dll, libvarnek.so: build/linux/libvarnek.so"
build/linux/varnek demo

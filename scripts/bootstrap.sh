#!/usr/bin/env bash
# Installs, with apt-get, whatever the builds need and this machine lacks.
set -euo pipefail

packages=(
  cmake ninja-build g++ binutils
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64 wine32:i386 socat
  clang libclang-rt-14-dev
  python3 pkg-config dpkg-dev file llvm
  tshark stunnel4 openssl
)

# 32-bit wine runs the i686 build (the product) and needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" > /dev/null

#!/usr/bin/env bash
# Installs what building and testing Ocuvex needs on Debian 12, skipping
# packages already present. Runs as root (or through sudo when available).
set -euo pipefail

packages=(
    cmake g++ make pkg-config libgtest-dev libbenchmark-dev
    libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libavfilter-dev ffmpeg
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 fonts-wine
    xvfb xauth imagemagick clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
# Kernels without 32-bit support run the 32-bit Wine loader through qemu.
i386_emulation=(bash "$(dirname "$0")/i386-emulation.sh" install)
if [ "${#missing[@]}" -eq 0 ]; then
    exec "${i386_emulation[@]}"
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# wine32 is an i386 package: the architecture must be known before the update.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
"${i386_emulation[@]}"

#!/usr/bin/env bash
# Installs what Ocuvex needs on Debian 12, skipping packages already present;
# with nothing missing it needs no root. Otherwise it runs as root (or through
# sudo when available).
#   install-deps.sh tool     building the command-line tool (the demo): a
#                            compiler, CMake, pkg-config, FFmpeg's development
#                            files
#   install-deps.sh package  making its .deb (`cpack -G DEB`), whose dependency
#                            scan runs dpkg-shlibdeps: dpkg-dev and file
#   install-deps.sh [all]    building and testing everything: the packages
#                            above, the test frameworks, MinGW-w64, Wine, Xvfb,
#                            clang; where the kernel cannot start 32-bit
#                            programs, qemu's emulator for them too
#                            (scripts/i386-emulation.sh)
#   install-deps.sh --list SET  prints SET's packages, one a line
# The tool's list holds what its CMake files ask for (pkg_check_modules,
# find_package); tests/install_test.sh checks it against a configure of the
# `tool` preset.
set -euo pipefail

tool_packages=(
    cmake g++ make pkg-config libavformat-dev libavcodec-dev libavfilter-dev libavutil-dev
)
package_packages=(
    dpkg-dev file
)
test_packages=(
    libgtest-dev libbenchmark-dev ffmpeg
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 fonts-wine
    xvfb xauth imagemagick clang libclang-rt-14-dev
)

list=0
if [ "${1:-}" = --list ]; then
    list=1
    shift
fi
set=${1:-all}
case $set in
tool) packages=("${tool_packages[@]}") ;;
package) packages=("${package_packages[@]}") ;;
all) packages=("${tool_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: install-deps.sh [--list] [tool|package|all]" >&2
    exit 2
    ;;
esac
if [ "$list" -eq 1 ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ "${#missing[@]}" -ne 0 ]; then
    as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        as_root=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # wine32 is an i386 package: the architecture must be known before the update.
    if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${as_root[@]}" dpkg --add-architecture i386
    fi
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ "$set" = all ]; then
    # Kernels without 32-bit support run the 32-bit Wine loader through qemu;
    # both steps do nothing where 32-bit programs already start.
    bash "$(dirname "$0")/i386-emulation.sh" install
    bash "$(dirname "$0")/i386-emulation.sh" register
fi

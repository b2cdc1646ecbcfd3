#!/usr/bin/env bash
# Builds Ocuvex.vdf for 32- and 64-bit hosts and the command-line tool, and
# packs them with cpack (packaging/CMakeLists.txt), named by the project's
# version: build/native/Ocuvex-VERSION.zip, which a user unpacks into the
# editor's folder, and build/native/ocuvex_VERSION_ARCH.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in win32 win64 default; do
    cmake --preset "$preset" >/dev/null
done
cmake --build --preset win32 >/dev/null
cmake --build --preset win64 >/dev/null
cmake --build --preset default --target ocuvex ocuvex_manual_page >/dev/null
cpack --preset default

#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The Windows module for 32- and 64-bit hosts; the native tests check both
# files and run them under Wine.
cmake --preset win32
cmake --build --preset win32
cmake --preset win64
cmake --build --preset win64
cmake --preset default
cmake --build --preset default
ctest --preset default
# The native suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
# Each fuzz target for a bounded time (OCUVEX_FUZZ_SECONDS, default 60) from its seed corpus.
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz
# The second leg: the tool and its media tests in a Debian 13 root, against
# FFmpeg 7.1 (the root is made with debootstrap on the first run, then reused).
# OCUVEX_SKIP_DEBIAN13=1 skips it, e.g. on a machine without root or network.
if [ "${OCUVEX_SKIP_DEBIAN13:-0}" = 1 ]; then
    echo "OCUVEX_SKIP_DEBIAN13=1: the Debian 13 leg is skipped"
else
    bash scripts/debian13-media-tests.sh
fi
# The third leg: the README's demo, tool-only build and .deb on a fresh
# Debian 12 machine (a minimal root, nothing installed; the pristine root is
# made with debootstrap on the first run and kept as a tarball).
# OCUVEX_SKIP_FRESH_MACHINE=1 skips it.
if [ "${OCUVEX_SKIP_FRESH_MACHINE:-0}" = 1 ]; then
    echo "OCUVEX_SKIP_FRESH_MACHINE=1: the fresh-machine leg is skipped"
else
    bash scripts/fresh-machine-tests.sh
fi

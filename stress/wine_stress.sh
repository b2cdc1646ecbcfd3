#!/usr/bin/env bash
# Runs the stress program of one Windows build under Wine.
#   wine_stress.sh PREFIX BITS STRESS_EXE MODULE
set -euo pipefail
prefix=$1 bits=$2 exe=$3 module=$4
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY=
for file in "$exe" "$module"; do
    if [ ! -f "$file" ]; then
        echo "wine_stress.sh: '$file' is missing: build the win32 and win64 presets first" >&2
        exit 1
    fi
done
memory_check=()
if [ "$bits" = 32 ]; then
    loader=/usr/lib/wine/wine
    if ! "$loader" --version >/dev/null 2>&1; then
        echo "wine_stress.sh: SKIPPED: this kernel cannot start 32-bit programs"
        exit 77
    fi
    # Through qemu (scripts/i386-emulation.sh) the process's memory is the emulator's too.
    if head -n 1 /proc/sys/fs/binfmt_misc/ocuvex-i386 2>/dev/null | grep -qx enabled; then
        memory_check=(--no-memory-check)
    fi
else
    loader=/usr/lib/wine/wine64
    export WINELOADER=$loader
fi
exec "$loader" "$exe" "$module" 8 100 "${memory_check[@]}"

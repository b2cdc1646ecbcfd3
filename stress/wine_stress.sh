#!/usr/bin/env bash
# Runs the stress program of one Windows build under Wine.
#   wine_stress.sh PREFIX BITS STRESS_EXE MODULE
set -euo pipefail
prefix=$1 bits=$2 exe=$3 module=$4
# shellcheck source=tests/host/wine_common.sh
source "$(dirname "$0")/../tests/host/wine_common.sh"
wine_environment "$prefix"
export DISPLAY=
require_built wine_stress.sh "$exe" "$module"
use_loader "$bits"
memory_check=()
if [ "$bits" = 32 ]; then
    if ! can_run_32bit; then
        echo "wine_stress.sh: SKIPPED: this kernel cannot start 32-bit programs"
        exit 77
    fi
    # Through qemu (scripts/i386-emulation.sh) the process's memory is the emulator's too.
    if head -n 1 /proc/sys/fs/binfmt_misc/ocuvex-i386 2>/dev/null | grep -qx enabled; then
        memory_check=(--no-memory-check)
    fi
fi
exec "$loader" "$exe" "$module" 8 100 "${memory_check[@]}"

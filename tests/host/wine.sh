#!/usr/bin/env bash
# Runs the Windows builds under Wine for the test suite, in one prefix inside
# the build tree (64-bit, so it runs both the 32- and the 64-bit programs).
#   wine.sh PREFIX prefix                               create the prefix once
#   wine.sh PREFIX standin BITS WIN_STANDIN DLL NATIVE_STANDIN WORKDIR
#                                                       check the module under Wine and
#                                                       compare its frames with the native ones
#   wine.sh PREFIX stop                                 stop the prefix's wineserver
set -euo pipefail

prefix=$1
command=$2
shift 2
# shellcheck source=tests/host/wine_common.sh
source "$(dirname "$0")/wine_common.sh"
wine_environment "$prefix"
export DISPLAY=

case $command in
prefix)
    # wineboot sets up the prefix's 32-bit side only if 32-bit programs start
    # (natively, or through the emulator scripts/install-deps.sh registers).
    if [ -f "$prefix/.ocuvex-ready" ] &&
        { ! can_run_32bit || [ -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; }; then
        exit 0
    fi
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    export WINELOADER=$wine64
    if ! "$wine64" wineboot --init >"$(dirname "$prefix")/wineboot.log" 2>&1; then
        cat "$(dirname "$prefix")/wineboot.log" >&2
        echo "wine.sh: cannot create the Wine prefix '$prefix'" >&2
        exit 1
    fi
    wineserver -w
    cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
    "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.ocuvex-ready"
    ;;
standin)
    bits=$1 win_standin=$2 dll=$3 native_standin=$4 workdir=$5
    if [ "$bits" = 32 ]; then
        if ! can_run_32bit; then
            echo "wine.sh: SKIPPED: this kernel cannot start 32-bit programs (ia32 emulation disabled)" \
                "and no qemu-i386 8.1 or later is registered (run scripts/install-deps.sh as root)," \
                "so the 32-bit module cannot run under Wine here"
            exit 77
        fi
    fi
    use_loader "$bits"
    require_built wine.sh "$win_standin" "$dll"
    mkdir -p "$workdir"
    rm -f "$workdir/wine.txt" "$workdir/native.txt"
    "$native_standin" native "$workdir/native.txt"
    status=0
    "$loader" "$win_standin" "$dll" "$workdir/wine.txt" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "wine.sh: the stand-in host failed under Wine (exit $status)" >&2
        exit 1
    fi
    if ! diff -u "$workdir/native.txt" "$workdir/wine.txt"; then
        echo "wine.sh: frames converted under Wine differ from the native core's" >&2
        exit 1
    fi
    echo "wine.sh: $(wc -l <"$workdir/wine.txt") report lines identical to the native ones"
    ;;
stop)
    if [ -d "$prefix" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    ;;
*)
    echo "wine.sh: unknown command '$command'" >&2
    exit 2
    ;;
esac

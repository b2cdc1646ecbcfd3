#!/usr/bin/env bash
# Runs the Windows builds under Wine for the test suite, in one prefix inside
# the build tree (64-bit, so it runs both the 32- and the 64-bit programs).
#   wine.sh PREFIX prefix                               create the prefix once
#   wine.sh PREFIX standin WIN_STANDIN DLL NATIVE_STANDIN WORKDIR
#                                                       check the module under Wine and
#                                                       compare its frames with the native ones
#   wine.sh PREFIX stop                                 stop the prefix's wineserver
set -euo pipefail

prefix=$1
command=$2
shift 2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY=

case $command in
prefix)
    if [ -f "$prefix/.ocuvex-ready" ]; then
        exit 0
    fi
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    wineboot --init >/dev/null 2>&1
    wineserver -w
    cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.ocuvex-ready"
    ;;
standin)
    win_standin=$1 dll=$2 native_standin=$3 workdir=$4
    for file in "$win_standin" "$dll"; do
        if [ ! -f "$file" ]; then
            echo "wine.sh: '$file' is missing: build the win32 and win64 presets first" >&2
            exit 1
        fi
    done
    mkdir -p "$workdir"
    rm -f "$workdir/wine.txt" "$workdir/native.txt"
    "$native_standin" native "$workdir/native.txt"
    status=0
    wine "$win_standin" "$dll" "$workdir/wine.txt" || status=$?
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

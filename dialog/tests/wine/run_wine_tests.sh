#!/usr/bin/env bash
# Runs dialog_wine_test.exe under Wine on a virtual X display, against one
# build of Ocuvex.vdf, and takes a screenshot of the open dialog.
#   run_wine_tests.sh BITS TEST_EXE MODULE WORKDIR PREFIX
# Exits 77 (skipped) when this machine cannot run BITS-bit Windows programs.
set -euo pipefail

if [ "${1:-}" != inner ]; then
    bits=$1 exe=$2 module=$3 workdir=$4 prefix=$5
    # shellcheck source=tests/host/wine_common.sh
    source "$(dirname "$0")/../../../tests/host/wine_common.sh"
    require_built run_wine_tests.sh "$exe" "$module"
    mkdir -p "$workdir"
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" inner "$@"
fi
shift
bits=$1 exe=$2 module=$3 workdir=$4 prefix=$5

# shellcheck source=tests/host/wine_common.sh
source "$(dirname "$0")/../../../tests/host/wine_common.sh"
wine_environment "$prefix"

# The prefix (with Wine's own fonts, which give the dialog its designed size)
# is the host tests' fixture; a run on its own makes it the same way.
DISPLAY='' bash "$(dirname "$0")/../../../tests/host/wine.sh" "$prefix" prefix
use_loader "$bits"

if [ "$bits" = 32 ]; then
    # A kernel without 32-bit support cannot start the loader (126); an
    # emulated one (qemu-user) starts it, but far too slowly for a dialog
    # test (124). The probe only prints the test program's usage (2).
    probe=0
    timeout 30 "$loader" "$exe" >/dev/null 2>&1 || probe=$?
    if [ "$probe" -eq 124 ] || [ "$probe" -eq 126 ]; then
        [ "$probe" -eq 124 ] && wineserver -k 2>/dev/null || true
        echo "run_wine_tests.sh: SKIPPED: 32-bit Windows programs do not run here" \
            "(no 32-bit support in the kernel, or emulated too slowly)"
        exit 77
    fi
    if [ "$probe" -ne 2 ]; then
        echo "run_wine_tests.sh: 32-bit Wine cannot run the test program (exit $probe)" >&2
        exit 1
    fi
fi

# The test program waits at the first dialog until the screenshot is taken.
rm -f "$workdir/dialog.ready" "$workdir/dialog.done" "$workdir/config_dialog.png"
windows_dir="Z:$(echo "$workdir" | tr / '\\')"
status=0
"$loader" "$exe" "$module" "$windows_dir" >"$workdir/output.txt" 2>&1 &
test_pid=$!
for _ in $(seq 1 600); do
    if [ -f "$workdir/dialog.ready" ]; then
        geometry=$(tr -d '\r\n' <"$workdir/dialog.ready")
        import -window root -crop "$geometry" +repage "$workdir/config_dialog.png" || status=1
        touch "$workdir/dialog.done"
        break
    fi
    if ! kill -0 "$test_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
wait "$test_pid" || status=$?
wineserver -w
tr -d '\r' <"$workdir/output.txt"
if [ "$bits" = 32 ] && [ "$status" -eq 126 ]; then
    echo "run_wine_tests.sh: SKIPPED: the 32-bit loader cannot be started here"
    exit 77
fi
if [ "$status" -eq 0 ] && [ ! -s "$workdir/config_dialog.png" ]; then
    echo "run_wine_tests.sh: no screenshot of the dialog" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "run_wine_tests.sh: screenshot in $workdir/config_dialog.png"
exit "$status"

# shellcheck shell=bash
# Sourced by the scripts that run the Windows builds under Wine for the tests:
# the environment of every run, and which loader starts a 32- or 64-bit program.

# wine_environment PREFIX: one prefix, no debug output, no Mono or Gecko
# installers, no menu files written under $HOME.
wine_environment() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# Debian's `wine` prefers the 32-bit loader, which a kernel without 32-bit
# emulation starts only through qemu (scripts/i386-emulation.sh); 64-bit
# programs go straight to the 64-bit loader.
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
can_run_32bit() { "$wine32" --version >/dev/null 2>&1; }

# use_loader BITS: sets `loader` to the loader of BITS-bit programs.
# shellcheck disable=SC2034  # read by the scripts that source this file
use_loader() {
    if [ "$1" = 32 ]; then
        loader=$wine32
    else
        loader=$wine64
        export WINELOADER=$wine64
    fi
}

# require_built WHO FILE...: the Windows builds the test needs exist.
require_built() {
    local who=$1 file
    shift
    for file in "$@"; do
        if [ ! -f "$file" ]; then
            echo "$who: '$file' is missing: build the win32 and win64 presets first" >&2
            exit 1
        fi
    done
}

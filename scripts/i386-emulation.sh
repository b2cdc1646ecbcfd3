#!/usr/bin/env bash
# Lets a kernel without 32-bit support (ia32_emulation off) run i386 Linux
# programs through qemu's user-mode emulator, so the 32-bit Wine loader can run
# the 32-bit module in the tests. Does nothing where 32-bit programs already run.
#   i386-emulation.sh install    install qemu-user when needed (root)
#   i386-emulation.sh register   register it with binfmt_misc when needed (root)
# Wine needs qemu 8.1 or later: earlier releases treat MAP_FIXED_NOREPLACE as a
# mere hint, and Wine's address-space layout fails. Debian 12 has 7.2, its
# backports 10.0.
set -euo pipefail

wine32=/usr/lib/wine/wine
entry=/proc/sys/fs/binfmt_misc/ocuvex-i386
# An i386 ELF executable or position-independent executable.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

say() { echo "i386-emulation: $*"; }
runs_32bit() { "$wine32" --version >/dev/null 2>&1; }

# Prints the path of a qemu-i386 new enough for Wine, or fails.
usable_qemu() {
    local qemu version
    qemu=$(command -v qemu-i386 || command -v qemu-i386-static) || return 1
    version=$("$qemu" --version | sed -n '1s/.* version \([0-9.]*\).*/\1/p')
    dpkg --compare-versions "${version:-0}" ge 8.1 || return 1
    echo "$qemu"
}

install_qemu() {
    if [ ! -e "$wine32" ] || runs_32bit || usable_qemu >/dev/null; then
        return 0
    fi
    local as_root=() release=() candidate
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            say "not root: cannot install qemu-user, the 32-bit module's test will be skipped"
            return 0
        fi
        as_root=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    # shellcheck source=/dev/null
    . /etc/os-release
    "${as_root[@]}" apt-get update -qq
    candidate=$(apt-cache policy qemu-user | sed -n 's/ *Candidate: //p')
    if ! dpkg --compare-versions "${candidate:-0}" ge 1:8.1; then
        echo "deb http://deb.debian.org/debian $VERSION_CODENAME-backports main" |
            "${as_root[@]}" tee /etc/apt/sources.list.d/ocuvex-backports.list >/dev/null
        "${as_root[@]}" apt-get update -qq
        release=(-t "$VERSION_CODENAME-backports")
    fi
    say "installing qemu-user ${release[*]}"
    "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${release[@]}" qemu-user >/dev/null
}

register_qemu() {
    if [ ! -e "$wine32" ] || runs_32bit; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        say "not root: cannot register qemu-i386 for 32-bit programs"
        return 0
    fi
    local qemu
    if ! qemu=$(usable_qemu); then
        say "no qemu-i386 8.1 or later: run scripts/install-deps.sh"
        return 0
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/register ] &&
        ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc; then
        say "cannot mount binfmt_misc"
        return 0
    fi
    # A stale entry of ours (say, an emulator since removed) is replaced.
    if [ -e "$entry" ]; then
        echo -1 >"$entry"
    fi
    # F: the kernel opens the emulator now, so it also serves other mount namespaces.
    echo ":ocuvex-i386:M::$magic:$mask:$qemu:F" >/proc/sys/fs/binfmt_misc/register
    if runs_32bit; then
        say "32-bit programs now run through $qemu"
    else
        echo -1 >"$entry"
        say "32-bit programs still do not run through $qemu: registration withdrawn"
    fi
}

case ${1:-} in
install) install_qemu ;;
register) register_qemu ;;
*)
    echo "usage: i386-emulation.sh install|register" >&2
    exit 2
    ;;
esac

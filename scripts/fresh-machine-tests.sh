#!/usr/bin/env bash
# The README's first commands as a newcomer types them on a fresh Debian 12
# machine, which a machine with everything installed cannot show: in a minimal
# root (debootstrap --variant=minbase, nothing else installed) holding the
# committed tree (git archive HEAD),
#   1. `bash scripts/demo.sh` passes and leaves its four files;
#   2. the tool-only build (`cmake -B build && cmake --build build`, then
#      `cmake --install`) passes after `bash scripts/install-deps.sh tool` alone;
#   3. `bash scripts/install-deps.sh package` and `cpack -G DEB` make the .deb,
#      which `apt-get install ./ocuvex_*.deb` installs into a second fresh root,
#      without development packages, where `ocuvex convert` converts the
#      demo's clip to the same anaglyph frame as in the first root.
# Runs as root (through sudo when started by another user).
#
# OCUVEX_FRESH_CACHE   the pristine root as a tarball, made with debootstrap
#                      on the first run and unpacked anew for each root of
#                      every run, so nothing a previous run installed is seen
#                      (default /var/cache/ocuvex/debian12-minbase.tar.gz;
#                      remove it to make it again)
# OCUVEX_FRESH_MIRROR  the Debian mirror (default http://deb.debian.org/debian)
# OCUVEX_FRESH_SECURITY_MIRROR  the security archive (default
#                      http://deb.debian.org/debian-security)
# The roots are made in build/fresh-machine, removed when the run passes and
# kept for a look when it fails. One run at a time per machine.
set -euo pipefail

source_dir=$(realpath "$(dirname "$0")/..")
cache=$(realpath -m "${OCUVEX_FRESH_CACHE:-/var/cache/ocuvex/debian12-minbase.tar.gz}")
mirror=${OCUVEX_FRESH_MIRROR:-http://deb.debian.org/debian}
security_mirror=${OCUVEX_FRESH_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
work=$source_dir/build/fresh-machine
build_root=$work/build-root # where the newcomer builds
run_root=$work/run-root     # where the .deb is installed
tree=/root/ocuvex           # the clone, in build_root
demo_files=(sample_sbs.mkv sample_anaglyph.mp4 sample_sbs.png sample_anaglyph.png)

leg_name=fresh-debian12
# shellcheck source=scripts/chroot-lib.sh
source "$(dirname "$0")/chroot-lib.sh"

if [ "${1:-}" != --in-namespace ]; then
    leg_as_root OCUVEX_FRESH_CACHE,OCUVEX_FRESH_MIRROR,OCUVEX_FRESH_SECURITY_MIRROR "$@"
    [ -e "$cache" ] || leg_need_debootstrap
    leg_enter_namespace "${cache%.tar.gz}.lock" "$@"
fi
shift
leg_start=$SECONDS

# --- the pristine root: a minimal Debian 12 with the archives a fresh install
# has configured (the release, its updates and security updates)
make_cache() {
    local staging=${cache%.tar.gz}.root
    rm -rf --one-file-system "$staging"
    say "making a minimal Debian 12 root (kept as $cache)"
    leg_debootstrap bookworm "$staging" "$mirror"
    cat >"$staging/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security_mirror bookworm-security main
EOF
    in_root "$staging" apt-get clean
    tar -C "$staging" --numeric-owner -czf "$cache.part" . && mv "$cache.part" "$cache"
    rm -rf --one-file-system "$staging"
}
fresh_root() { # DIR: a new copy of the pristine root, mounted for use
    mkdir -p "$1"
    tar -C "$1" --numeric-owner -xzf "$cache"
    leg_mount_system "$1"
}
if [ ! -s "$cache" ]; then
    timed "the pristine root" make_cache
fi
rm -rf --one-file-system "$work"
timed "unpacking the first root" fresh_root "$build_root"
# shellcheck disable=SC2016  # dpkg-query's format, not the shell's
packages_in() { in_root "$1" dpkg-query -W -f='${Package}\n'; }
dpkg_count() { packages_in "$1" | wc -l; }
fresh_count=$(dpkg_count "$build_root")
say "a fresh Debian 12 root: $fresh_count packages, no compiler"
! in_root "$build_root" sh -c 'command -v c++ || command -v cmake' >/dev/null ||
    die "the pristine root $cache holds a compiler or CMake; remove it to make it again"

# The committed tree, as a clean clone holds it (a tree outside git as it
# stands, without its build folder).
mkdir -p "$build_root$tree"
if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    say "the tree of commit $(git -C "$source_dir" rev-parse --short HEAD)"
    git -C "$source_dir" archive HEAD | tar -C "$build_root$tree" -x
else
    tar -C "$source_dir" --exclude=./build -c . | tar -C "$build_root$tree" -x
fi
newcomer() { in_root "$build_root" bash -c "cd $tree && $1"; }

# --- 1. the demo
timed "bash scripts/demo.sh" newcomer 'bash scripts/demo.sh' || die "the demo fails on a fresh machine"
for file in "${demo_files[@]}"; do
    [ -s "$build_root$tree/build/demo/$file" ] || die "the demo left no build/demo/$file"
done
say "the demo passes and leaves its four files; it installed $(($(dpkg_count "$build_root") - fresh_count)) packages"

# --- 2. the tool-only build, after the tool's packages alone (the demo
# installed them: install-deps.sh finds nothing missing)
failed() { # WHAT LOG: the end of LOG, then WHAT fails
    tail -n 20 "$2" >&2
    die "$1 fails; its log: $2"
}
log=$work/install-deps-tool.log
newcomer 'bash scripts/install-deps.sh tool' >"$log" 2>&1 || failed "install-deps.sh tool" "$log"
! grep -q '^Installing' "$log" || die "install-deps.sh tool installs more after the demo: $(cat "$log")"
log=$work/tool-build.log
timed "the tool-only build" logged "$log" \
    newcomer 'cmake -B build && cmake --build build && cmake --install build --prefix ~/.local' ||
    failed "the tool-only build with the tool's packages alone" "$log"
version=$(in_root "$build_root" /root/.local/bin/ocuvex --version) ||
    die "the installed ~/.local/bin/ocuvex does not run"
[ -s "$build_root/root/.local/share/man/man1/ocuvex.1" ] || die "cmake --install put no manual page into ~/.local"
say "the tool-only build passes; ~/.local/bin/ocuvex says '$version'"

# --- 3. the .deb, installed into a second fresh root without development packages
log=$work/cpack.log
timed "the .deb" logged "$log" newcomer 'bash scripts/install-deps.sh package && cd build && cpack -G DEB' ||
    failed "cpack -G DEB" "$log"
debs=("$build_root$tree"/build/ocuvex_*.deb)
[ -f "${debs[0]}" ] || die "cpack made no ocuvex_*.deb in build"
deb=$(basename "${debs[0]}")
say "$deb depends on $(dpkg-deb -f "${debs[0]}" Depends)"
timed "unpacking the second root" fresh_root "$run_root"
cp "${debs[0]}" "$build_root$tree/build/demo/sample_sbs.mkv" "$run_root/root/"
log=$work/deb-install.log
timed "apt-get install ./$deb" logged "$log" in_root "$run_root" env DEBIAN_FRONTEND=noninteractive \
    sh -c "cd /root && apt-get update -qq && apt-get install -y -qq ./$deb" ||
    failed "apt-get install ./$deb in a fresh root" "$log"
dev_packages=$(packages_in "$run_root" | grep -e '-dev$' | paste -sd' ') || true
[ -z "$dev_packages" ] || die "installing $deb brought development packages: $dev_packages"
[ "$(in_root "$run_root" ocuvex --version)" = "$version" ] ||
    die "the packaged ocuvex says '$(in_root "$run_root" ocuvex --version)', the built one '$version'"
convert() { in_root "$run_root" ocuvex convert --quiet --mode anaglyph "$@"; }
convert /root/sample_sbs.mkv /root/anaglyph.mp4 || die "the packaged ocuvex cannot convert the demo's clip"
# An MP4 begins with its ftyp box.
[ "$(dd if="$run_root/root/anaglyph.mp4" bs=1 skip=4 count=4 status=none)" = ftyp ] ||
    die "the packaged ocuvex wrote no MP4"
convert --frame 36 /root/sample_sbs.mkv /root/anaglyph.png || die "the packaged ocuvex cannot write a frame"
cmp -s "$run_root/root/anaglyph.png" "$build_root$tree/build/demo/sample_anaglyph.png" ||
    die "the packaged ocuvex's anaglyph frame 36 differs from the demo's"
say "$deb installs into a fresh root with $(($(dpkg_count "$run_root") - fresh_count)) packages it pulls in, no development ones; ocuvex converts there"

leg_unmount_system "$build_root"
leg_unmount_system "$run_root"
rm -rf --one-file-system "$work"
say "passed in $((SECONDS - leg_start)) s"

#!/usr/bin/env bash
# Builds the command-line tool in a Debian 13 (trixie) root and runs its media
# tests there, so that the tool is known to build and work against Debian 13's
# FFmpeg 7.1 as well as the host's Debian 12 FFmpeg 5.1. Runs as root (through
# sudo when started by another user).
#
#   bash scripts/debian13-media-tests.sh [CTEST ARGUMENTS...]
#
# OCUVEX_DEBIAN13_ROOT  the root's directory (default build/debian13-root); it
#                       is made with debootstrap once and reused afterwards.
# OCUVEX_DEBIAN13_MIRROR  the Debian mirror (default http://deb.debian.org/debian).
# OCUVEX_DEBIAN13_SOURCE  the source tree to build (default the one holding
#                       this script).
# Extra arguments go to ctest after the label filter, e.g. -R convert_tool.
#
# The source tree is mounted read-only in the root; the build tree is
# <root>/build/<source path>, so each source tree keeps its own incremental
# build. All mounts live in a private mount namespace: they end with the run,
# whether it finishes, fails or is interrupted. One run at a time per root.
set -euo pipefail

source_dir=$(realpath "${OCUVEX_DEBIAN13_SOURCE:-$(dirname "$0")/..}")
root=$(realpath -m "${OCUVEX_DEBIAN13_ROOT:-$source_dir/build/debian13-root}")
mirror=${OCUVEX_DEBIAN13_MIRROR:-http://deb.debian.org/debian}
# What building the tool and running its media tests needs: the tool's
# packages (the compiler and build tools, FFmpeg's libraries), the ffmpeg
# program that makes the test clips, GoogleTest, and mount for the full-disk
# checks.
mapfile -t packages < <(bash "$(dirname "$0")/install-deps.sh" --list tool)
packages+=(libgtest-dev ffmpeg mount)
complete_marker=$root/.ocuvex-root-complete
tree_name=$(printf '%s' "${source_dir#/}" | tr -c 'A-Za-z0-9._-' '_')
source_in_root=/src/$tree_name
build_in_root=/build/$tree_name

leg_name=debian13
# shellcheck source=scripts/chroot-lib.sh
source "$(dirname "$0")/chroot-lib.sh"

# --- on the host: checks, debootstrap, the lock; then the rest in a namespace
if [ "${1:-}" != --in-namespace ]; then
    leg_as_root OCUVEX_DEBIAN13_ROOT,OCUVEX_DEBIAN13_MIRROR,OCUVEX_DEBIAN13_SOURCE "$@"
    if [ "$root" = / ] || [[ $source_dir/ == "$root"/* ]]; then
        die "refusing to make the root in '$root', which holds the source tree"
    fi
    leg_need_debootstrap
    leg_enter_namespace "$root.lock" "$@"
fi
shift

# --- the root: made once, topped up when the package list changes
if [ ! -e "$complete_marker" ]; then
    if [ -e "$root" ] && [ -n "$(ls -A "$root")" ]; then
        # Only what an interrupted debootstrap left behind is removed.
        [ -d "$root/debootstrap" ] || die "'$root' exists but is not an unfinished Debian root; remove it or set OCUVEX_DEBIAN13_ROOT"
        say "removing the unfinished root $root"
        rm -rf --one-file-system "$root"
    fi
    say "making a Debian 13 root in $root"
    include=$(
        IFS=,
        echo "${packages[*]}"
    )
    leg_debootstrap trixie "$root" "$mirror" "$include"
    printf '%s\n' "${packages[@]}" >"$complete_marker"
fi

mkdir -p "$root$source_in_root" "$root$build_in_root"
mount --bind "$source_dir" "$root$source_in_root"
mount -o remount,bind,ro "$root$source_in_root"
leg_mount_system "$root"

if [ "$(printf '%s\n' "${packages[@]}")" != "$(cat "$complete_marker")" ]; then
    say "installing the changed package list in the root"
    timed "package install" in_root "$root" env DEBIAN_FRONTEND=noninteractive sh -c 'dpkg --configure -a && apt-get update -qq && apt-get install -y -qq --no-install-recommends "$@" >/dev/null' \
        sh "${packages[@]}" || die "cannot install the packages in the root"
    printf '%s\n' "${packages[@]}" >"$complete_marker"
fi

# --- FFmpeg's versions, then the build and the media tests
ffmpeg_version="FFmpeg $(in_root "$root" ffmpeg -version | awk 'NR == 1 { print $3 }')"
say "$ffmpeg_version"
for library in libavformat libavcodec libavfilter libswscale libavutil; do
    say "$library $(in_root "$root" pkg-config --modversion "$library")"
done

# The tool and what the tests labelled `media` run, nothing else: no
# benchmarks, fuzzers or Windows builds in the root (a plain build has none).
timed "configure" in_root "$root" cmake -S "$source_in_root" -B "$build_in_root" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=ON ||
    die "configuring against $ffmpeg_version failed"
in_root "$root" cmake --build "$build_in_root" --target help | grep -w media_checks >/dev/null ||
    die "$source_dir has no target media_checks (declared in tests/CMakeLists.txt)"
timed "build" in_root "$root" cmake --build "$build_in_root" --target media_checks --parallel 2 ||
    die "building the tool against $ffmpeg_version failed"
timed "media tests" in_root "$root" ctest --test-dir "$build_in_root" --label-regex '^media$' --no-tests=error \
    --output-on-failure --parallel 2 "$@" ||
    die "media tests failed against $ffmpeg_version"
say "the tool builds and its media tests pass against $ffmpeg_version"

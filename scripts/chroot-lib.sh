# shellcheck shell=bash disable=SC2154  # leg_name is the sourcing leg's
# Sourced by the legs that run in Debian roots made with debootstrap
# (debian13-media-tests.sh, fresh-machine-tests.sh): messages and timing,
# root rights, debootstrap, one run at a time, a private mount and PID
# namespace for the run, and commands in a root.
#
# A leg sets leg_name (its messages' prefix) before sourcing this file. On the
# host it calls leg_as_root, then leg_enter_namespace, which runs the leg's
# script again as `SCRIPT --in-namespace ARGS...` and never returns; the
# script then shifts the flag off and does its work, where every mount ends
# with the run, whether it finishes, fails or is interrupted.

say() { echo "$leg_name: $*"; }
die() {
    echo "$leg_name: $*" >&2
    exit 1
}
timed() { # LABEL COMMAND...: runs COMMAND and says how long it took
    local label=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    say "$label took $((SECONDS - start)) s"
    return "$status"
}

logged() { # LOG COMMAND...: runs COMMAND with its output in LOG
    local log=$1
    shift
    "$@" >"$log" 2>&1
}

# Runs COMMAND in ROOT with a clean environment, as root; the lock's file
# descriptor stays outside.
in_root() { # ROOT COMMAND...
    local root=$1
    shift
    env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        chroot "$root" "$@" 9>&-
}

# Starts the script again through sudo when not root, keeping the variables
# named (comma-separated).
leg_as_root() { # VARIABLES ARGS...
    local keep=$1
    shift
    [ "$(id -u)" -eq 0 ] && return 0
    command -v sudo >/dev/null || die "needs root (debootstrap, chroot and mounts)"
    exec sudo --preserve-env="$keep" bash "$0" "$@"
}

leg_need_debootstrap() {
    command -v debootstrap >/dev/null && return 0
    say "installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
}

# Takes LOCK_FILE (waiting for another run that holds it), then runs the
# script as `SCRIPT --in-namespace ARGS...` in a private mount and PID
# namespace and exits with its status. When the run ends, however it ends,
# every process in it is killed and every mount in it goes away. Its own
# process group, so that a signal to this script reaches every process of the
# run (make then removes what it left half-built).
leg_enter_namespace() { # LOCK_FILE ARGS...
    local lock=$1 leg status=0
    shift
    mkdir -p "$(dirname "$lock")"
    exec 9>"$lock"
    flock -n 9 || {
        say "waiting for another run holding $lock"
        flock 9
    }
    setsid unshare --mount --propagation private --pid --fork --kill-child --mount-proc \
        bash "$0" --in-namespace "$@" </dev/null &
    leg=$!
    # shellcheck disable=SC2317  # called by the traps below
    stop() {
        trap '' INT TERM HUP
        kill -TERM -- "-$leg" 2>/dev/null
        wait "$leg" || true
        echo "$leg_name: interrupted" >&2
        exit "$1"
    }
    trap 'stop 130' INT
    trap 'stop 143' TERM
    trap 'stop 129' HUP
    wait "$leg" || status=$?
    exit "$status"
}

# Makes a minimal root of SUITE (the essential packages and apt, plus
# INCLUDE, comma-separated, when given) from MIRROR; on failure shows the end
# of debootstrap's log, which it keeps beside ROOT.
leg_debootstrap() { # SUITE ROOT MIRROR [INCLUDE]
    local suite=$1 root=$2 mirror=$3 include=${4:-} log=$2.debootstrap.log
    local options=(--variant=minbase)
    [ -n "$include" ] && options+=(--include="$include")
    timed "debootstrap" logged "$log" debootstrap "${options[@]}" "$suite" "$root" "$mirror" || {
        tail -n 20 "$log" >&2
        die "debootstrap failed; its log: $log"
    }
    rm -f "$log"
}

# What programs in ROOT expect of a running system: /proc, /dev, an empty
# /tmp (nothing an interrupted run leaves stays), and the host's name servers
# for apt. Call in the namespace only.
leg_mount_system() { # ROOT
    local root=$1
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    # Replaced, not written through: a link in the root could lead outside it.
    rm -f "$root/etc/resolv.conf"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
}
leg_unmount_system() { # ROOT: what leg_mount_system mounted, before ROOT is removed
    umount -R "$1/tmp" "$1/dev" "$1/proc"
}

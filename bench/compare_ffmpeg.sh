#!/usr/bin/env bash
# The whole anaglyph job, ours against FFmpeg's, on the same side-by-side
# H.264 clip (1920x1080 per view) with the same encoder and settings:
#   ocuvex convert --mode anaglyph sbs.mp4 ours.mp4
#   ffmpeg -i sbs.mp4 -vf stereo3d=sbsl:arcd -c:v libx264 -crf 18 -pix_fmt yuv420p theirs.mp4
# Wall time of each, alternating, several rounds; prints the fastest of each
# and their ratio. Usage:
#   bench/compare_ffmpeg.sh [--ocuvex PATH] [--seconds N] [--rounds N]
set -euo pipefail

ocuvex="$(cd "$(dirname "$0")/.." && pwd)/build/native/tools/ocuvex/ocuvex"
seconds=8
rounds=3
while [ $# -gt 0 ]; do
    case "$1" in
    --ocuvex) ocuvex="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    *) echo "usage: $0 [--ocuvex PATH] [--seconds N] [--rounds N]" >&2; exit 2 ;;
    esac
done

if [ ! -x "$ocuvex" ]; then
    echo "compare_ffmpeg: no ocuvex binary at $ocuvex (build it first)" >&2
    exit 1
fi
if ! "$ocuvex" convert --help >/dev/null 2>&1; then
    echo "compare_ffmpeg: this ocuvex has no convert command" >&2
    exit 1
fi
command -v ffmpeg >/dev/null || { echo "compare_ffmpeg: ffmpeg not found" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A stereo pair with real parallax and detail: one test pattern, the right
# view shifted 16 pixels; encoded as the tool's own default would (CRF 18).
clip="$work/sbs.mp4"
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=$seconds" \
    -filter_complex "[0]split[l][r];[r]crop=1904:1080:16:0,pad=1920:1080:0:0[rs];[l][rs]hstack" \
    -c:v libx264 -crf 18 -pix_fmt yuv420p "$clip"

# Runs a command and prints "wall user+sys" in seconds, its own output kept on stderr.
timed() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" 2>&3; } 3>&2 2>"$work/time"
    awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/time"
}
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

ours_best=""
theirs_best=""
for round in $(seq 1 "$rounds"); do
    rm -f "$work/ours.mp4" "$work/theirs.mp4"
    read -r ours ours_cpu < <(timed "$ocuvex" convert --quiet --mode anaglyph --codec libx264 --crf 18 "$clip" \
        "$work/ours.mp4")
    read -r theirs theirs_cpu < <(timed ffmpeg -v error -nostdin -i "$clip" -vf stereo3d=sbsl:arcd -c:v libx264 \
        -crf 18 -pix_fmt yuv420p "$work/theirs.mp4")
    printf 'round %d: ocuvex %s s (CPU %s s), ffmpeg %s s (CPU %s s)\n' "$round" "$ours" "$ours_cpu" "$theirs" \
        "$theirs_cpu"
    if [ -z "$ours_best" ] || less "$ours" "$ours_best"; then ours_best=$ours; fi
    if [ -z "$theirs_best" ] || less "$theirs" "$theirs_best"; then theirs_best=$theirs; fi
done

frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 \
    "$work/ours.mp4")
size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$work/ours.mp4")
printf '\n%s frames of %s from a 3840x1080 clip, fastest of %d rounds:\n' "$frames" "$size" "$rounds"
printf '  ocuvex convert   %.2f s\n  ffmpeg stereo3d  %.2f s\n' "$ours_best" "$theirs_best"
printf '  ffmpeg / ocuvex  %s (target: at least 1.00)\n' \
    "$(awk -v a="$theirs_best" -v b="$ours_best" 'BEGIN { printf "%.2f", a / b }')"

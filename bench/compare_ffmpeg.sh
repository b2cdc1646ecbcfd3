#!/usr/bin/env bash
# Whole convert jobs, ours against FFmpeg's, on the same side-by-side H.264
# clip with two audio tracks and subtitles, with the same encoder settings
# (by default libx264, CRF 18, preset medium, yuv420p), every stream kept:
#   anaglyph   ocuvex convert --mode anaglyph sbs.mkv ours.mkv
#              ffmpeg -i sbs.mkv -map 0 -c copy -vf stereo3d=sbsl:arcd -c:v libx264 -crf 18 -preset medium
#                  -pix_fmt yuv420p theirs.mkv
#   sbs-to-ab  the same with --mode sbs-to-ab and stereo3d=sbsl:abr (right view above, as ours lays it out)
#   swap       --swap (nop) and stereo3d=sbsl:sbsr
# A copy mode (sbs-to-ab, swap) is also measured against a plain transcode
# to the same output size: the same ffmpeg command without a filter, on a
# clip already laid out as the output (the same pictures, laid out by
# stereo3d before they were encoded as sbs.mkv was), so that decoding,
# encoding and muxing are the same work and only the conversion is not there.
# --codec ffv1 encodes with FFV1 instead, as ours does (level 3, slices with
# CRCs: ffmpeg is given -level 3 -slicecrc 1 too), a cheaper encoder beside
# which decoding and our own layer show. --source mjpeg makes the clip's
# video Motion JPEG (as cameras write it), whose decoder, unlike H.264's,
# runs on one thread. --before PATH times a second ocuvex build in the same
# rounds.
# Wall time, processor time and peak memory (/usr/bin/time -v) of each,
# in turn, several rounds. The machine may be shared: the fastest round of
# each is the least disturbed one, and is what the summary shows, with the
# ratios. Usage:
#   bench/compare_ffmpeg.sh [--ocuvex PATH] [--before PATH] [--codec libx264|ffv1] [--source h264|mjpeg]
#                           [--seconds N] [--size WxH] [--rounds N] [--jobs "anaglyph sbs-to-ab swap"]
set -euo pipefail

ocuvex="$(cd "$(dirname "$0")/.." && pwd)/build/native/tools/ocuvex/ocuvex"
seconds=60
size=1920x1080
rounds=3
jobs="anaglyph sbs-to-ab swap"
codec=libx264
source=h264
before=""
usage="usage: $0 [--ocuvex PATH] [--before PATH] [--codec libx264|ffv1] [--source h264|mjpeg] [--seconds N] [--size WxH] [--rounds N] [--jobs \"anaglyph sbs-to-ab swap\"]"
while [ $# -gt 0 ]; do
    case "$1" in
    --ocuvex) ocuvex="$2"; shift 2 ;;
    --before) before="$2"; shift 2 ;;
    --codec) codec="$2"; shift 2 ;;
    --source) source="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done

for binary in "$ocuvex" ${before:+"$before"}; do
    if [ ! -x "$binary" ]; then
        echo "compare_ffmpeg: no ocuvex binary at $binary (build it first)" >&2
        exit 1
    fi
done
case $codec in
libx264) encode=(-c:v libx264 -crf 18 -preset medium -pix_fmt yuv420p) ours=() ;;
ffv1) encode=(-c:v ffv1 -level 3 -slicecrc 1) ours=(--codec ffv1) ;;
*) echo "compare_ffmpeg: --codec takes libx264 or ffv1" >&2; exit 2 ;;
esac
case $source in
h264) source_codec=(-c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p) ;;
mjpeg) source_codec=(-c:v mjpeg -q:v 3 -pix_fmt yuvj420p) ;;
*) echo "compare_ffmpeg: --source takes h264 or mjpeg" >&2; exit 2 ;;
esac
command -v ffmpeg >/dev/null || { echo "compare_ffmpeg: ffmpeg not found" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "compare_ffmpeg: needs GNU time (apt-get install time)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP

# A stereo pair with real parallax and detail: one test pattern in each half,
# the right view shifted 8 pixels; two tones as two audio tracks; a subtitle
# every two seconds. Made fast (the source's quality is not what is timed).
w=${size%x*}
h=${size#*x}
half=$((w / 2))
clip="$work/sbs.mkv"
awk -v n="$seconds" 'BEGIN { for (i = 0; i < n / 2; i++)
    printf "%d\n00:%02d:%02d,000 --> 00:%02d:%02d,500\nline %d\n\n", i + 1, 2 * i / 60, 2 * i % 60, 2 * i / 60, 2 * i % 60 + 1, i }' \
    >"$work/subs.srt"
# make_clip OUT [LAYOUT]: the clip, its video laid out by the stereo3d
# LAYOUT (e.g. sbsl:abr) before it is encoded, so that every layout is
# encoded alike from the same pictures.
make_clip() {
    ffmpeg -v error -nostdin -y -f lavfi -i "testsrc2=size=${half}x$h:rate=25:duration=$seconds" \
        -f lavfi -i "sine=frequency=440:duration=$seconds" -f lavfi -i "sine=frequency=660:duration=$seconds" \
        -i "$work/subs.srt" \
        -filter_complex "[0]split[l][r];[r]crop=$((half - 8)):$h:8:0,pad=$half:$h:0:0[rs];[l][rs]hstack${2:+,stereo3d=$2}[v]" \
        -map "[v]" -map 1 -map 2 -map 3 "${source_codec[@]}" -c:a aac -c:s srt "$1"
}
make_clip "$clip"

# Runs a command under GNU time; prints "wall cpu peak-MiB".
measured() {
    /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
        cat "$work/stderr" >&2
        return 1
    }
    awk -F': ' '
        /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = (n == 3) ? t[1] * 3600 + t[2] * 60 + t[3] : t[1] * 60 + t[2] }
        /User time/ { cpu += $2 } /System time/ { cpu += $2 }
        /Maximum resident set size/ { peak = $2 / 1024 }
        END { printf "%.2f %.2f %.0f\n", wall, cpu, peak }' "$work/time"
}
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

declare -A filter=([anaglyph]="stereo3d=sbsl:arcd" [sbs-to-ab]="stereo3d=sbsl:abr" [swap]="stereo3d=sbsl:sbsr")
declare -A settings=([anaglyph]="--mode anaglyph" [sbs-to-ab]="--mode sbs-to-ab" [swap]="--swap")
# The copy modes' plain transcodes start from a clip laid out as their output.
declare -A layout=([sbs-to-ab]="sbsl:abr" [swap]="sbsl:sbsr")
summary=""
for job in $jobs; do
    [ -n "${filter[$job]:-}" ] || { echo "compare_ffmpeg: unknown job '$job'" >&2; exit 2; }
    plain=""
    if [ -n "${layout[$job]:-}" ]; then
        plain="$work/$job.mkv"
        make_clip "$plain" "${layout[$job]}"
    fi
    declare -A best=() cpu=() peak=()
    runs=(ocuvex ffmpeg)
    [ -z "$before" ] || runs+=(before)
    [ -z "$plain" ] || runs+=(plain)
    for round in $(seq 1 "$rounds"); do
        line="$job round $round:"
        for run in "${runs[@]}"; do
            rm -f "$work/out.mkv"
            case $run in
            # shellcheck disable=SC2086
            ocuvex) command=("$ocuvex" convert --quiet "${ours[@]}" ${settings[$job]} "$clip" "$work/out.mkv") ;;
            # shellcheck disable=SC2086
            before) command=("$before" convert --quiet "${ours[@]}" ${settings[$job]} "$clip" "$work/out.mkv") ;;
            ffmpeg) command=(ffmpeg -v error -nostdin -i "$clip" -map 0 -c copy -vf "${filter[$job]}" "${encode[@]}" "$work/out.mkv") ;;
            plain) command=(ffmpeg -v error -nostdin -i "$plain" -map 0 -c copy "${encode[@]}" "$work/out.mkv") ;;
            esac
            read -r wall used most < <(measured "${command[@]}")
            if [ "$run" = ocuvex ]; then
                streams() { ffprobe -v error -show_entries stream=codec_type -of default=nw=1:nk=1 "$1" | paste -sd, -; }
                [ "$(streams "$work/out.mkv")" = "$(streams "$clip")" ] ||
                    echo "warning: ocuvex wrote $(streams "$work/out.mkv") of $(streams "$clip")"
            fi
            best[$run]=$(min "${best[$run]:-}" "$wall") cpu[$run]=$(min "${cpu[$run]:-}" "$used")
            peak[$run]=$(min "${peak[$run]:-}" "$most")
            line+=$(printf ' %s %s s (CPU %s s, %s MiB)' "$run" "$wall" "$used" "$most")
        done
        echo "$line"
    done
    ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
    summary+=$(printf '%-10s ocuvex %7.2f s (CPU %6.1f s) %5.0f MiB   ffmpeg %7.2f s (CPU %6.1f s) %5.0f MiB   ocuvex/ffmpeg %s (CPU %s)' \
        "$job" "${best[ocuvex]}" "${cpu[ocuvex]}" "${peak[ocuvex]}" "${best[ffmpeg]}" "${cpu[ffmpeg]}" "${peak[ffmpeg]}" \
        "$(ratio "${best[ocuvex]}" "${best[ffmpeg]}")" "$(ratio "${cpu[ocuvex]}" "${cpu[ffmpeg]}")")
    if [ -n "$before" ]; then
        summary+=$(printf '   before %7.2f s (CPU %6.1f s) %5.0f MiB   ocuvex/before %s (CPU %s)' "${best[before]}" \
            "${cpu[before]}" "${peak[before]}" "$(ratio "${best[ocuvex]}" "${best[before]}")" "$(ratio "${cpu[ocuvex]}" "${cpu[before]}")")
    fi
    if [ -n "$plain" ]; then
        summary+=$(printf '   plain transcode %7.2f s (CPU %6.1f s) %5.0f MiB   ocuvex/plain %s (CPU %s)' "${best[plain]}" \
            "${cpu[plain]}" "${peak[plain]}" "$(ratio "${best[ocuvex]}" "${best[plain]}")" "$(ratio "${cpu[ocuvex]}" "${cpu[plain]}")")
    fi
    summary+=$'\n'
    unset best cpu peak
done
frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$clip")
printf '\n%s frames of %s side by side (%s), %s s, two audio tracks and subtitles, encoded with %s; fastest of %d rounds (lowest peak):\n%s' \
    "$frames" "$size" "$source" "$seconds" "$codec" "$rounds" "$summary"

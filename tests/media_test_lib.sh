# Sourced by the end-to-end checks of `ocuvex convert`: a scratch folder,
# shorthands for ffmpeg and ffprobe, the failure count, and the running of
# one case by name, so that CTest reports each case on its own.
#
#   SCRIPT OCUVEX CASE   runs the function case_CASE in a fresh folder
#   SCRIPT --list        prints the case names, one a line (for CMake)
set -u
listing=0
if [ "${1:-}" = --list ]; then
    listing=1
else
    ocuvex=$(realpath "$1")
    case_name=${2:?usage: $0 OCUVEX CASE}
    work=$(mktemp -d)
    mounts=()
    cleanup() {
        for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
        rm -rf "$work"
    }
    trap cleanup EXIT
    cd "$work" || exit 1
fi
failures=0
checks=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
ok() { checks=$((checks + 1)); }
ff() { ffmpeg -nostdin -y -hide_banner -loglevel error "$@"; }
probe() { ffprobe -hide_banner -loglevel error "$@"; }

# One value of FILE's stream (transport streams list each stream twice, in
# their program too): stream_value FILE STREAM ENTRY [ffprobe options...].
stream_value() {
    local file=$1 stream=$2 entry=$3
    shift 3
    probe "$@" -select_streams "$stream" -show_entries "stream=$entry" -of default=nw=1:nk=1 "$file" | head -n 1
}
# Frames a decoder gets out of FILE's stream (default the first video).
frame_count() { stream_value "$1" "${2:-v:0}" nb_read_frames -count_frames; }
# The time of FILE's video packet at byte POS (default the first), as the
# tool's messages give it: seconds with two decimals.
packet_time() {
    probe -select_streams v:0 -show_entries packet=pts_time,pos -of csv=p=0 "$1" |
        awk -F, -v pos="${2:-}" 'pos == "" || $2 == pos { printf "%.2f\n", $1; exit }'
}
# Packets of FILE's stream, e.g. a:0.
packet_count() { stream_value "$1" "$2" nb_read_packets -count_packets; }
# The sizes of FILE's video frames, each once: "64x36".
frame_sizes() { probe -select_streams v:0 -show_entries frame=width,height -of csv=p=0:s=x "$1" | sed 's/x*$//' | grep . | sort -u | paste -sd' '; }
# The video frames' times, one a line, rounded to the millisecond.
frame_times() {
    probe -select_streams v:0 -show_entries frame=pts_time -of default=nw=1:nk=1 "$1" | awk '{ printf "%.3f\n", $1 }'
}
# Where FILE's timeline starts (its earliest stream), in seconds.
start_time() { probe -show_entries format=start_time -of default=nw=1:nk=1 "$1"; }
# The video frames' times counted from FILE's start, as an output made from
# it starts at 0, one a line, rounded to the millisecond.
frame_times_from_start() {
    local start
    start=$(start_time "$1")
    probe -select_streams v:0 -show_entries frame=pts_time -of default=nw=1:nk=1 "$1" |
        awk -v s="$start" '{ printf "%.3f\n", $1 - s }'
}
# Seconds from the first to the last video frame's time.
frame_span() { frame_times "$1" | awk 'NR == 1 { first = $1 } { last = $1 } END { printf "%.2f\n", last - first }'; }
# The codec names of FILE's streams, comma-separated, e.g. "h264,aac".
# (Transport streams list each stream twice, in their program too; side data
# adds empty lines.)
stream_codecs() {
    probe -show_entries stream=index,codec_name -of csv=p=0 "$1" | grep . | sort -t, -k1,1n -u | cut -d, -f2 |
        paste -sd, -
}
# Success when A and B (numbers) differ by at most TOLERANCE.
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }
# Hidden temporary files `ocuvex convert` left in FOLDER (none, normally).
leftovers() { find "${1:-.}" -maxdepth 1 -name '.*.ocuvex-*' | wc -l; }

run_case() {
    if [ "$listing" -eq 1 ]; then
        declare -F | awk '$3 ~ /^case_/ { sub(/^case_/, "", $3); print $3 }'
        exit 0
    fi
    if ! declare -F "case_$case_name" >/dev/null; then
        echo "no case '$case_name' (try --list)"
        exit 2
    fi
    "case_$case_name"
    echo "$case_name: $checks passed, $failures failed"
    [ "$failures" -eq 0 ]
}

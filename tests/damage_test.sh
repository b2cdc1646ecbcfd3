#!/usr/bin/env bash
# `ocuvex convert` on files damaged the ordinary way (a few bytes
# overwritten, as a bad disk or a broken copy does), one codec and container
# each, made by the ffmpeg program at test time: H.264 in MP4, Matroska and
# a transport stream, MJPEG in AVI, FFV1 with slice checksums, a PNG
# sequence with one cut picture. For each: the closing line counts the
# frames ffmpeg's own report finds damaged (see ffmpeg_report), the same
# line every run (DAMAGE_RUNS times, default 3), and --strict refuses at the
# first damage's time, with nothing written and -y replacing nothing. One case per CTest
# test (see --list).
# shellcheck source=tests/media_test_lib.sh
source "$(dirname "$0")/media_test_lib.sh"

runs=${DAMAGE_RUNS:-3}

# 2 s of 160x96 at 25 fps.
source_args=(-f lavfi -i "testsrc2=size=160x96:rate=25:duration=2")

# overwrite FILE OFFSET COUNT: COUNT bytes of 0xff from OFFSET.
overwrite() {
    head -c "$3" /dev/zero | tr '\0' '\377' | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# The middle of the video packet of FILE at ffprobe's packet index N.
packet_middle() {
    probe -select_streams v:0 -show_entries packet=pos,size -of csv=p=0 "$1" | sed -n "$(($2 + 1))p" |
        awk -F, '{ print $2 + int($1 / 2) }'
}

# ffmpeg's report on FILE, in one thread as the tool decodes: the packets
# its CODEC decoder logs errors for while decoding them (each error line
# taken for the packet before it), and the frames the ffmpeg program calls
# corrupt (by the decoder's flags); with one damaged spot the larger of the
# two is the frames it finds damaged.
ffmpeg_report() {
    local logged flagged
    logged=$(stdbuf -o0 -e0 ffprobe -hide_banner -v error -threads 1 -select_streams v:0 -show_packets -show_frames \
        -show_entries packet=pts_time:frame=key_frame -of compact=p=1:nk=1 "$1" 2>&1 |
        awk -v tag="[$2 @" '
            /^packet\|/ { packet++; next }
            index($0, tag) == 1 && packet > 0 && !(packet in hit) { hit[packet] = 1; count++ }
            END { print count + 0 }')
    flagged=$(ffmpeg -nostdin -hide_banner -v warning -threads 1 -i "$1" -f null - 2>&1 | grep -c 'corrupt decoded frame')
    echo $((logged > flagged ? logged : flagged))
}

# The frames the closing line counts: decoded with errors plus dropped.
counted_frames() {
    sed -n 's/.*is damaged: //p' "$1" | tr ',' '\n' |
        awk '/frames? decoded with errors|frames? dropped/ { n += $1 } END { print n + 0 }'
}

# The earliest time the closing line gives ("at T s", "from T s").
first_time() { grep -o '[0-9.]* s[,;]' "$1" | tr -d ' s,;' | sort -g | head -n 1; }

# check_damaged NAME INPUT [PACKET-PATTERN]: the tool's count against
# ffmpeg's, every run alike; --strict refuses at the first damage.
check_damaged() {
    local name=$1 input=$2 packet_pattern=${3:-}
    local codec count
    codec=$(stream_value "$input" v:0 codec_name)
    count=$(ffmpeg_report "$input" "$codec")
    [ "$count" -ge 1 ] || [ -n "$packet_pattern" ] || fail "$name: ffmpeg reports no damage in $input"
    local i
    for i in $(seq "$runs"); do
        "$ocuvex" convert -y --codec ffv1 "$input" out.mkv 2>"all$i"
        [ $? -eq 0 ] && [ -s out.mkv ] || fail "$name: run $i failed: $(cat "all$i")"
        grep -v '^ocuvex: note: ' "all$i" >"err$i"
    done
    [ "$(wc -l <err1)" -eq 1 ] && grep -q "^ocuvex: '$input' is damaged: .*; 'out.mkv' written$" err1 ||
        fail "$name: closing line: $(cat err1)"
    [ "$(counted_frames err1)" -eq "$count" ] ||
        fail "$name: $(counted_frames err1) frames counted, ffmpeg finds $count: $(cat err1)"
    [ -z "$packet_pattern" ] || grep -q -- "$packet_pattern" err1 || fail "$name: no '$packet_pattern': $(cat err1)"
    for i in $(seq 2 "$runs"); do
        cmp -s err1 "err$i" || fail "$name: run $i says otherwise: $(cat "err$i") / $(cat err1)"
    done
    # --strict: one line naming INPUT, the stream and the first damage's
    # time; an existing OUTPUT stays as it was, even with -y.
    local first
    first=$(first_time err1)
    echo kept >strict.mkv
    "$ocuvex" convert --strict -y --codec ffv1 "$input" strict.mkv 2>all
    local status=$?
    grep -v '^ocuvex: note: ' all >err
    [ "$status" -eq 1 ] && [ "$(wc -l <err)" -eq 1 ] || fail "$name: --strict exited $status: $(cat err)"
    if [ -n "$packet_pattern" ]; then
        grep -q "^ocuvex: a damaged packet in '$input' at $first s (stream 0)" err || fail "$name: --strict: $(cat err)"
    else
        grep -q "^ocuvex: '$input' is damaged in stream 0 at $first s: " err ||
            fail "$name: --strict, wanted the damage at $first s: $(cat err)"
    fi
    [ "$(cat strict.mkv)" = kept ] && [ "$(leftovers)" -eq 0 ] || fail "$name: --strict -y wrote $(ls -A)"
    ok
}

# H.264 with B-frames: 16 bytes in the middle of packet 30, a P- or B-frame.
make_h264() {  # FILE
    ff "${source_args[@]}" -c:v libx264 -g 25 -bf 2 "$1" || fail "cannot make $1"
    overwrite "$1" "$(packet_middle "$1" 30)" 16
}

case_h264_mp4() {
    make_h264 damaged.mp4
    check_damaged h264_mp4 damaged.mp4
}

case_h264_mkv() {
    make_h264 damaged.mkv
    check_damaged h264_mkv damaged.mkv
}

# Twelve 188-byte packets overwritten in the middle of a transport stream:
# the demuxer marks the packet it cut corrupt, which is counted apart.
case_h264_ts() {
    ff "${source_args[@]}" -c:v libx264 -g 25 -bf 2 -f mpegts damaged.ts || fail "cannot make damaged.ts"
    local size
    size=$(stat -c %s damaged.ts)
    overwrite damaged.ts $((size / 2 / 188 * 188)) $((12 * 188))
    check_damaged h264_ts damaged.ts "a damaged packet at [0-9.]* s"
}

# MJPEG reports damage in its log alone (and by failing under --strict).
case_mjpeg_avi() {
    ff "${source_args[@]}" -c:v mjpeg damaged.avi || fail "cannot make damaged.avi"
    local at
    at=$(probe -select_streams v:0 -show_entries packet=pos -of csv=p=0 damaged.avi | sed -n 31p)
    at=$(packet_time damaged.avi "$at")
    overwrite damaged.avi "$(packet_middle damaged.avi 30)" 16
    check_damaged mjpeg_avi damaged.avi
    # The damaged frame asked for by number: --strict refuses it rather than
    # convert the next frame in its place.
    "$ocuvex" convert --strict --frame 30 damaged.avi frame.png 2>strict_frame
    [ $? -eq 1 ] && [ ! -e frame.png ] && grep -q "is damaged in stream 0 at $at s" strict_frame ||
        fail "mjpeg_avi: --strict --frame 30: $(cat strict_frame)"
    ok
}

# FFV1's slice checksums: a mismatch is in its log alone.
case_ffv1_slice_crc() {
    ff "${source_args[@]}" -c:v ffv1 -level 3 -slicecrc 1 damaged.mkv || fail "cannot make damaged.mkv"
    overwrite damaged.mkv "$(packet_middle damaged.mkv 30)" 16
    check_damaged ffv1_slice_crc damaged.mkv
}

# A PNG sequence, one picture cut in half.
case_png_sequence() {
    ff "${source_args[@]}" -frames:v 20 in%03d.png || fail "cannot make in%03d.png"
    truncate -s $(($(stat -c %s in012.png) / 2)) in012.png
    check_damaged png_sequence 'in%03d.png'
}

run_case

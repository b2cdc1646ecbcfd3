#!/usr/bin/env bash
# `ocuvex convert` on the files users actually have, made by the ffmpeg
# program at test time and kept tiny: transport streams cut in the middle of
# a GOP and joined with cat, a few damaged bytes, a picture size and pixel
# format that change mid-stream, a variable frame rate, an MPEG-4 Part 2
# output, a first frame that cannot be decoded, standard input, and a hang-up
# mid-run. Each case has a strict pass condition: frame count, duration,
# streams kept, exit status, no file left behind. One case per CTest test
# (see --list).
# shellcheck source=tests/media_test_lib.sh
source "$(dirname "$0")/media_test_lib.sh"

# 2 s of 64x36 H.264 at 25 fps (a key frame every 10, B-frames) and AAC in
# a transport stream: 50 frames.
make_ts() {  # NAME [extra ffmpeg output arguments]
    local name=$1
    shift
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=2" -f lavfi -i "sine=frequency=440:duration=2" \
        -c:v libx264 -g 10 -bf 2 -c:a aac "$@" -f mpegts "$name" || {
        echo "cannot make $name"
        exit 1
    }
}

# convert_ok LINE-PATTERN ocuvex-arguments...: exit 0, nothing left behind,
# and the damage line (when a pattern is given) or no line at all.
convert_ok() {
    local pattern=$1
    shift
    "$ocuvex" convert "$@" 2>err
    local status=$?
    [ "$status" -eq 0 ] || fail "ocuvex convert $* exited $status: $(cat err)"
    [ "$(leftovers)" -eq 0 ] || fail "ocuvex convert $* left a temporary file"
    if [ -n "$pattern" ]; then
        [ "$(wc -l <err)" -eq 1 ] && grep -q -- "$pattern" err || fail "ocuvex convert $*: wanted one line '$pattern': $(cat err)"
    else
        [ ! -s err ] || fail "ocuvex convert $* printed: $(cat err)"
    fi
}

# convert_strict_fails MESSAGE INPUT OUTPUT: --strict stops with MESSAGE,
# exit 1, and leaves neither OUTPUT nor a temporary file.
convert_strict_fails() {
    local message=$1 input=$2 output=$3
    "$ocuvex" convert --strict "$input" "$output" 2>err
    local status=$?
    [ "$status" -eq 1 ] || fail "--strict $input exited $status: $(cat err)"
    grep -q -- "$message" err || fail "--strict $input: message lacks '$message': $(cat err)"
    [ ! -e "$output" ] && [ "$(leftovers)" -eq 0 ] || fail "--strict $input left $(ls -A)"
}

# The audio packets of OUTPUT are the input's, unchanged (their contents).
same_audio() { [ "$(ff -i "$1" -map 0:a -c copy -f md5 -)" = "$(ff -i "$2" -map 0:a -c copy -f md5 -)" ]; }

# A transport stream cut in the middle of a GOP: every frame the decoder can
# make is written, the audio is kept, the job succeeds; the two B-frames
# before the first key frame, which the decoder reports errors for and
# drops (as ffmpeg's log shows), are counted.
case_cut_ts() {
    make_ts whole.ts
    local size
    size=$(stat -c %s whole.ts)
    tail -c +$((size / 3 / 188 * 188 + 1)) whole.ts >cut.ts
    local decodable
    decodable=$(frame_count cut.ts)
    convert_ok "'cut.ts' is damaged: 2 frames dropped from 2.16 s; 'out.mp4' written" --half --mode anaglyph cut.ts out.mp4
    [ "$(stream_codecs out.mp4)" = "h264,aac" ] || fail "cut TS: streams $(stream_codecs out.mp4)"
    [ "$decodable" -gt 20 ] && [ "$(frame_count out.mp4)" = "$decodable" ] ||
        fail "cut TS: $(frame_count out.mp4) frames written of $decodable decodable"
    [ "$(packet_count out.mp4 a:0)" = "$(packet_count cut.ts a:0)" ] || fail "cut TS: audio packets lost"
    near "$(frame_span out.mp4)" "$(awk -v n="$decodable" 'BEGIN { print (n - 1) / 25 }')" 0.001 ||
        fail "cut TS: frames span $(frame_span out.mp4) s"
    ok
}

# Two transport streams joined with cat: the second one's timestamps start
# over; both halves are written, one after the other, with their audio.
case_joined_ts() {
    make_ts part.ts
    cat part.ts part.ts >joined.ts
    convert_ok "'joined.ts' is damaged" joined.ts out.mp4
    [ "$(frame_count out.mp4)" -eq 100 ] || fail "joined TS: $(frame_count out.mp4) frames of 100"
    near "$(frame_span out.mp4)" 3.96 0.001 || fail "joined TS: frames span $(frame_span out.mp4) s, not 3.96"
    frame_times out.mp4 | sort -c -n -u 2>/dev/null || fail "joined TS: frame times do not increase"
    [ "$(packet_count out.mp4 a:0)" -eq $((2 * $(packet_count part.ts a:0))) ] || fail "joined TS: audio packets lost"
    local audio_end
    audio_end=$(stream_value out.mp4 a:0 duration)
    near "$audio_end" 4 0.1 || fail "joined TS: audio lasts $audio_end s, not 4"
    # The join is damage the demuxer reports, in its words: --strict refuses it.
    grep -q "a damaged packet at 3.36 s" err || fail "joined TS: $(cat err)"
    convert_strict_fails "a damaged packet in 'joined.ts' at 3.36 s (stream 0)" joined.ts strict.mp4
    ok
}

# A few damaged bytes inside a frame of a Matroska file: the decoder
# conceals or drops that frame, every other one is written; --strict stops.
case_damaged_bytes() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=2" -f lavfi -i "sine=duration=2" -c:v libx264 -g 10 -bf 0 \
        -c:a aac clean.mkv
    cp clean.mkv damaged.mkv
    # 16 bytes in the middle of the third key frame (frame 20).
    local pos size at
    read -r pos size < <(probe -select_streams v:0 -show_entries packet=pos,size,flags -of compact=p=0 clean.mkv |
        grep 'flags=K' | sed -n 3p | sed 's/.*size=\([0-9]*\).*pos=\([0-9]*\).*/\2 \1/')
    printf '\xff%.0s' $(seq 16) | dd of=damaged.mkv bs=1 seek=$((pos + size / 2)) conv=notrunc status=none
    # Its time as this FFmpeg's muxer wrote it (5.1 starts the video at 0.02 s, 7.1 at 0).
    at=$(packet_time clean.mkv "$pos")
    local decodable
    decodable=$(frame_count damaged.mkv)
    convert_ok "'damaged.mkv' is damaged: 1 frame decoded with errors at $at s; 'out.mkv' written" damaged.mkv out.mkv
    [ "$decodable" -eq 50 ] && [ "$(frame_count out.mkv)" -eq 50 ] ||
        fail "damaged bytes: $(frame_count out.mkv) frames written of $decodable decodable"
    [ "$(stream_codecs out.mkv)" = "h264,aac" ] && same_audio damaged.mkv out.mkv || fail "damaged bytes: audio lost"
    convert_strict_fails "'damaged.mkv' is damaged in stream 0 at $at s: h264: " damaged.mkv strict.mkv
    # The same file undamaged: no line, and --strict has nothing to object to.
    convert_ok "" --strict clean.mkv clean_out.mkv
    [ "$(frame_count clean_out.mkv)" -eq 50 ] || fail "clean file: $(frame_count clean_out.mkv) frames"
    ok
}

# The picture grows from 64x36 to 80x48 and turns 4:4:4 half way: every
# frame is written in the first frame's size.
case_size_change() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=1" -c:v libx264 -bf 0 -f mpegts small.ts
    ff -f lavfi -i "testsrc2=size=80x48:rate=25:duration=1" -c:v libx264 -bf 0 -pix_fmt yuv444p \
        -output_ts_offset 1 -f mpegts large.ts
    cat small.ts large.ts >changing.ts
    convert_ok "" -q --mode sbs-to-ab changing.ts out.mkv
    [ "$(frame_count out.mkv)" -eq 50 ] || fail "size change: $(frame_count out.mkv) frames of 50"
    [ "$(frame_sizes out.mkv)" = "32x72" ] || fail "size change: frames of $(frame_sizes out.mkv)"
    near "$(frame_span out.mkv)" 1.96 0.001 || fail "size change: frames span $(frame_span out.mkv) s"
    ok
}

# A variable frame rate (a frame every 0.1 s, then every 1/30 s): every
# frame at its own time.
case_variable_frame_rate() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=30:duration=2" -vf "select='not(mod(n\,3))+gt(n\,30)'" \
        -fps_mode vfr -c:v libx264 vfr.mkv 2>/dev/null ||
        ff -f lavfi -i "testsrc2=size=64x36:rate=30:duration=2" -vf "select='not(mod(n\,3))+gt(n\,30)'" \
            -vsync vfr -c:v libx264 vfr.mkv
    convert_ok "" --half --mode anaglyph vfr.mkv out.mp4
    [ "$(frame_count out.mp4)" -eq 40 ] || fail "VFR: $(frame_count out.mp4) frames of 40"
    [ "$(frame_times vfr.mkv)" = "$(frame_times out.mp4)" ] ||
        fail "VFR: times differ: $(diff <(frame_times vfr.mkv) <(frame_times out.mp4) | head -4 | tr '\n' ' ')"
    ok
}

# MPEG-4 Part 2 from a transport stream (time base 1/90000, which that
# encoder cannot take): the frame rate's time base instead.
case_mpeg4_from_ts() {
    make_ts in.ts
    convert_ok "" --half --codec mpeg4 --mode sbs-to-ab in.ts out.mp4
    [ "$(stream_codecs out.mp4)" = "mpeg4,aac" ] || fail "mpeg4: streams $(stream_codecs out.mp4)"
    [ "$(frame_count out.mp4)" -eq 50 ] || fail "mpeg4: $(frame_count out.mp4) frames of 50"
    [ "$(frame_times_from_start in.ts)" = "$(frame_times out.mp4)" ] || fail "mpeg4: frame times differ from the input's"
    ok
}

# The first frame's slice header is garbage: it is skipped (and the frames
# that need it), the rest written; --strict stops at frame 0.
case_undecodable_first_frame() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=2" -c:v libx264 -g 10 -bf 0 -f h264 clean.h264
    local idr
    idr=$(grep -obUaP '\x00\x00\x01\x65' clean.h264 | head -1 | cut -d: -f1)
    cp clean.h264 broken.h264
    printf '\xff\xff\xff\xff' | dd of=broken.h264 bs=1 seek=$((idr + 4)) conv=notrunc status=none
    ff -framerate 25 -i broken.h264 -f lavfi -i "sine=duration=2" -map 0 -map 1 -c:v copy -c:a aac broken.mkv
    local decodable
    decodable=$(frame_count broken.mkv)
    convert_ok "'broken.mkv' is damaged: .*dropped" broken.mkv out.mkv
    [ "$decodable" -ge 30 ] && [ "$(frame_count out.mkv)" = "$decodable" ] ||
        fail "undecodable first frame: $(frame_count out.mkv) frames written of $decodable decodable"
    [ "$(stream_codecs out.mkv)" = "h264,aac" ] && same_audio broken.mkv out.mkv ||
        fail "undecodable first frame: audio lost"
    convert_strict_fails "'broken.mkv' is damaged in stream 0 at $(packet_time broken.mkv) s: h264: " broken.mkv strict.mkv
    ok
}

# Standard input as INPUT ("-"), as the ffmpeg program takes it: a stream
# from another program's pipe keeps every frame and its audio; --frame counts
# its way to the frame it cannot seek to; standard output is no OUTPUT.
case_standard_input() {
    make_ts in.ts
    convert_ok "" --half --mode sbs-to-ab - out.mp4 <in.ts
    [ "$(stream_codecs out.mp4)" = "h264,aac" ] && [ "$(frame_count out.mp4)" -eq 50 ] ||
        fail "from a pipe: $(stream_codecs out.mp4), $(frame_count out.mp4) frames of 50"
    convert_ok "" --frame 37 - piped.png < <(cat in.ts)
    convert_ok "" --frame 37 in.ts seeked.png
    cmp -s piped.png seeked.png || fail "--frame 37 from a pipe is another picture"
    "$ocuvex" convert in.ts - >/dev/null 2>err
    local status=$?
    [ "$status" -eq 2 ] && grep -q "OUTPUT must name a file, not standard output" err ||
        fail "standard output as OUTPUT: exit $status: $(cat err)"
    ok
}

# The terminal closes mid-run (SIGHUP): exit 129, no output, no temporary file.
case_sighup() {
    ff -f lavfi -i "testsrc2=size=640x360:rate=25:duration=20" -f lavfi -i "sine=duration=20" -c:v libx264 \
        -preset ultrafast -c:a aac -f mpegts long.ts
    "$ocuvex" convert long.ts out.mp4 2>err &
    local pid=$!
    for _ in $(seq 100); do
        compgen -G '.out.mp4.ocuvex-*' >/dev/null && break
        sleep 0.05
    done
    sleep 0.3
    kill -s HUP "$pid"
    wait "$pid"
    local status=$?
    [ "$status" -eq 129 ] || fail "SIGHUP: exit $status: $(cat err)"
    grep -q "interrupted; 'out.mp4' not written" err || fail "SIGHUP message: $(cat err)"
    [ ! -e out.mp4 ] && [ "$(leftovers)" -eq 0 ] || fail "SIGHUP left $(ls -A)"
    ok
}

run_case

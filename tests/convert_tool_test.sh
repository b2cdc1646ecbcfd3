#!/usr/bin/env bash
# End-to-end checks of `ocuvex convert` on small clips made with the ffmpeg
# program: every mode against `ocuvex raw` on the same decoded frames, the
# streams and timestamps it keeps, and the failures that must lose nothing.
# One case per CTest test: convert_tool_test.sh OCUVEX CASE (see --list).
# shellcheck source=tests/media_test_lib.sh
source "$(dirname "$0")/media_test_lib.sh"

# Random pixels, every channel different, 10 frames at 10 fps (each mode
# needs a different shape: even and odd sizes both come up).
make_clip() {  # NAME WxH [extra ffmpeg arguments]
    local name=$1 size=$2
    shift 2
    ff -f lavfi -i "nullsrc=s=$size:r=10:d=1,geq=r='random(1)*255':g='mod(X*37+Y*91+N*53\,256)':b='random(2)*255'" \
        "$@" -pix_fmt bgr0 -c:v ffv1 "$name" || {
        echo "cannot make $name"
        exit 1
    }
}
decode_raw() { ff -i "$1" -map 0:v -f rawvideo -pix_fmt bgr0 "$2"; }

# Bytes that differ other than the unused fourth byte of each pixel.
differ_in_colour() {
    [ "$(stat -c %s "$1")" = "$(stat -c %s "$2")" ] || return 0
    [ -n "$(cmp -l "$1" "$2" | awk '$1 % 4 != 0' | head -1)" ]
}

# A clip with audio and subtitles, its video starting at 0.5 s.
make_av_clip() {
    printf '1\n00:00:00,100 --> 00:00:00,600\nhello\n' >subs.srt
    make_clip av.mkv 38x22 -f lavfi -i "sine=frequency=440:duration=1" -i subs.srt -map 0 -map 1 -map 2 \
        -c:a flac -c:s srt -output_ts_offset 0.5
}

# --- every mode, through .mkv + ffv1, pixel for pixel against `ocuvex raw`
case_modes() {
    make_clip sbs.mkv 38x22
    make_clip odd.mkv 39x23
    decode_raw sbs.mkv sbs.raw
    decode_raw odd.mkv odd.raw
    while read -r clip size settings; do
        [ -n "$clip" ] || continue
        rm -f out.mkv
        # shellcheck disable=SC2086
        if ! "$ocuvex" convert --quiet --codec ffv1 $settings "$clip.mkv" out.mkv 2>err; then
            fail "convert $settings $clip: $(cat err)"
            continue
        fi
        # shellcheck disable=SC2086
        "$ocuvex" raw --size "$size" $settings <"$clip.raw" >want.raw 2>/dev/null
        decode_raw out.mkv got.raw
        if differ_in_colour want.raw got.raw; then
            fail "convert $settings $clip differs from ocuvex raw"
        else
            ok
        fi
    done <<'LIST'
sbs 38x22 --mode nop
sbs 38x22 --mode nop --swap
odd 39x23 --mode nop --swap
sbs 38x22 --mode deinterlace
odd 39x23 --mode deinterlace --swap
sbs 38x22 --mode centering --center-width 12 --fill-color 3366cc
odd 39x23 --mode centering --center-width 7 --swap
sbs 38x22 --mode anaglyph
odd 39x23 --mode anaglyph --swap
sbs 38x22 --mode anaglyph --coefficients 0,0,0,0,0,0,0,0,0,0,0,0,1,0,0,0,0,0
sbs 38x22 --mode sbs-to-ab
odd 39x23 --mode sbs-to-ab --swap
sbs 38x22 --mode ab-to-sbs
odd 39x23 --mode ab-to-sbs --swap
sbs 38x22 --mode alignment --align-horz 3 --align-vert -2
odd 39x23 --mode alignment --align-horz -4 --align-vert 5 --swap
sbs 38x22 --mode cropping --crop-x 2 --crop-y 3 --crop-width 9 --crop-height 11
odd 39x23 --mode cropping --crop-x 1 --crop-y 0 --crop-width 5 --crop-height 7 --swap
LIST
}

# --- stills: PNG in, PNG out, exact; the other picture formats come out readable
case_stills() {
    make_clip odd.mkv 39x23
    ff -i odd.mkv -frames:v 1 odd.png
    ff -i odd.png -f rawvideo -pix_fmt bgr0 odd_png.raw
    "$ocuvex" convert -q --mode sbs-to-ab odd.png out.png &&
        ff -i out.png -f rawvideo -pix_fmt bgr0 got.raw &&
        "$ocuvex" raw --size 39x23 --mode sbs-to-ab <odd_png.raw >want.raw
    if differ_in_colour want.raw got.raw; then fail "PNG sbs-to-ab differs from ocuvex raw"; else ok; fi
    for ext in jpg bmp tif; do
        "$ocuvex" convert -q --mode anaglyph odd.png "out.$ext" || fail "still to .$ext failed"
        [ "$(probe -show_entries stream=width,height -of csv=p=0 "out.$ext")" = "19,23" ] || fail ".$ext has the wrong size"
        "$ocuvex" convert -q "out.$ext" "again.$ext" || fail "reading .$ext back failed"
        ok
    done
    # A JPEG of a 4:2:0 video is what ffmpeg writes: yuvj420p at the
    # encoder's default quality, the same bytes.
    ff -f lavfi -i "testsrc2=size=64x36:rate=10:duration=0.3" -pix_fmt yuv420p -c:v libx264 v420.mp4
    ff -i v420.mp4 -frames:v 1 theirs.jpg
    "$ocuvex" convert -q v420.mp4 ours.jpg || fail "a JPEG of a video failed"
    [ "$(stream_value ours.jpg v:0 pix_fmt)" = yuvj420p ] && cmp -s ours.jpg theirs.jpg ||
        fail "the JPEG is $(stream_value ours.jpg v:0 pix_fmt), $(stat -c %s ours.jpg) bytes where ffmpeg's are \
$(stat -c %s theirs.jpg)"
    # A name the image2 muxer would take for a pattern is written as it stands.
    "$ocuvex" convert -q odd.png 'frame%d.png' && [ -s 'frame%d.png' ] && [ ! -e frame1.png ] ||
        fail "a picture named frame%d.png went elsewhere: $(ls)"
    ok
}

# --- --frame N: the frame N the decoder gives, found by seeking in long GOPs
case_frame() {
    make_clip sbs.mkv 38x22
    decode_raw sbs.mkv sbs.raw
    "$ocuvex" convert -q --mode anaglyph --frame 4 sbs.mkv frame4.png && ff -i frame4.png -f rawvideo -pix_fmt bgr0 got.raw
    dd if=sbs.raw of=frame4.raw bs=$((38 * 22 * 4)) skip=4 count=1 status=none
    "$ocuvex" raw --size 38x22 --mode anaglyph <frame4.raw >want.raw
    if differ_in_colour want.raw got.raw; then fail "--frame 4 is not the fifth frame"; else ok; fi
    "$ocuvex" convert -q --frame 10 sbs.mkv frame10.png 2>err
    [ $? -eq 1 ] && grep -q "has only 10 frames" err && [ ! -e frame10.png ] || fail "--frame past the end: $(cat err)"
    ok
    # H.264 with a key frame every 50 frames, in MP4 and in a transport
    # stream: frames at, before and after key frames, and the last one.
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=8" -c:v libx264 -g 50 -bf 2 long.mp4
    ff -i long.mp4 -c copy long.ts
    for clip in long.mp4 long.ts; do
        for n in 0 1 49 50 51 137 199; do
            rm -f got.png
            "$ocuvex" convert -q --frame "$n" "$clip" got.png 2>err || fail "$clip --frame $n: $(cat err)"
            want=$(ff -i "$clip" -vf "select=eq(n\,$n)" -frames:v 1 -f rawvideo -pix_fmt rgb24 - | md5sum)
            [ "$(ff -i got.png -f rawvideo -pix_fmt rgb24 - | md5sum)" = "$want" ] || fail "$clip --frame $n is another frame"
            ok
        done
        rm -f got.png
        "$ocuvex" convert -q --frame 200 "$clip" got.png 2>err
        [ $? -eq 1 ] && grep -q "has only 200 frames" err && [ ! -e got.png ] || fail "$clip --frame 200: $(cat err)"
    done
}

# --- audio and subtitles copied unchanged, frame count and timestamps kept
case_streams() {
    make_av_clip
    "$ocuvex" convert -q --mode anaglyph --codec ffv1 av.mkv av_out.mkv || fail "convert with audio failed"
    copied() { ff -i "$1" -map "0:$2" -c copy -f framemd5 - | grep -v '^#'; }
    [ "$(copied av.mkv a)" = "$(copied av_out.mkv a)" ] && [ -n "$(copied av.mkv a)" ] || fail "audio not copied unchanged"
    [ "$(copied av.mkv s)" = "$(copied av_out.mkv s)" ] && [ -n "$(copied av.mkv s)" ] ||
        fail "subtitles not copied unchanged"
    # The output starts at 0, as ffmpeg's do: the input's times less its start (0.5 s).
    [ "$(frame_times_from_start av.mkv)" = "$(frame_times av_out.mkv)" ] && [ "$(frame_times av.mkv | wc -l)" -eq 10 ] ||
        fail "video timestamps changed: $(frame_times av_out.mkv | tr '\n' ' ')"
    ok
}

# --- H.264 in .mp4 keeps the frame count, the times and an odd size (4:4:4)
case_mp4() {
    make_av_clip
    make_clip odd.mkv 39x23
    # NTSC's rate, declared and kept: the frames 1001/30000 s apart; 4:2:0,
    # which the mp4 keeps.
    ff -i av.mkv -map 0:v -map 0:a -vf "setpts=N*1001/30000/TB" -r 30000/1001 -pix_fmt yuv420p -c:v ffv1 -c:a aac \
        ntsc.mkv
    "$ocuvex" convert -q ntsc.mkv even.mp4 || fail "mp4 from even size failed"
    "$ocuvex" convert -q odd.mkv odd.mp4 || fail "mp4 from odd size failed"
    [ "$(probe -select_streams v -show_entries stream=codec_name,pix_fmt,width,height -of csv=p=0 odd.mp4)" = \
        "h264,39,23,yuv444p" ] || fail "odd-size mp4 is not 39x23 4:4:4"
    [ "$(probe -select_streams v -show_entries stream=pix_fmt -of csv=p=0 even.mp4)" = "yuv420p" ] ||
        fail "even-size mp4 is not 4:2:0"
    [ "$(frame_times_from_start ntsc.mkv)" = "$(frame_times even.mp4)" ] || fail "mp4 timestamps differ from the input's"
    [ "$(probe -select_streams a -show_entries stream=codec_name -of csv=p=0 even.mp4)" = "aac" ] || fail "mp4 lost audio"
    ok
}

# --- stereo layout tags in Matroska
case_stereo_tags() {
    make_clip sbs.mkv 38x22
    tag() { probe -select_streams v -show_entries stream_tags=stereo_mode -of default=nw=1:nk=1 "$1"; }
    "$ocuvex" convert -q --codec ffv1 --mode sbs-to-ab sbs.mkv ab.mkv && [ "$(tag ab.mkv)" = "bottom_top" ] ||
        fail "sbs-to-ab not tagged bottom_top: $(tag ab.mkv)"
    "$ocuvex" convert -q --codec ffv1 --mode ab-to-sbs --swap sbs.mkv rl.mkv && [ "$(tag rl.mkv)" = "right_left" ] ||
        fail "swapped side-by-side not tagged right_left: $(tag rl.mkv)"
    "$ocuvex" convert -q --codec ffv1 sbs.mkv nop.mkv && [ -z "$(tag nop.mkv)" ] || fail "nop tagged a layout"
    ok
}

# --- no progress line when standard error is not a terminal; one when it is
case_progress() {
    make_clip sbs.mkv 38x22
    "$ocuvex" convert --codec ffv1 sbs.mkv quiet.mkv 2>err && [ ! -s err ] || fail "printed on a non-terminal: $(cat err)"
    if command -v script >/dev/null; then
        script -qec "'$ocuvex' convert --codec ffv1 sbs.mkv tty.mkv" /dev/null >tty.txt
        grep -q "frame 10/10" tty.txt || fail "no progress line on a terminal: $(cat -v tty.txt)"
        script -qec "'$ocuvex' convert -q --codec ffv1 sbs.mkv tty_q.mkv" /dev/null >tty.txt
        [ ! -s tty.txt ] || fail "--quiet still printed: $(cat -v tty.txt)"
    fi
    ok
}

# --- failures: message, exit status, nothing left behind, input untouched
case_failures() {
    make_clip sbs.mkv 38x22
    make_av_clip
    mkdir -p out
    echo 'just some text' >text.mp4
    ff -f lavfi -i "sine=duration=0.5" sound.wav
    cp sbs.mkv damaged.mkv
    local size
    size=$(stat -c %s damaged.mkv)
    head -c 3000 /dev/urandom | dd of=damaged.mkv bs=1 seek=$((size / 2)) conv=notrunc status=none
    head -c $((size * 2 / 3)) sbs.mkv >truncated.mkv
    echo 'existing output' >out/exists.mkv
    ln sbs.mkv hardlink.mkv
    ln -s sbs.mkv symlink.mkv
    make_clip flat.mkv 8x1
    inputs_sum() { md5sum sbs.mkv damaged.mkv truncated.mkv text.mp4 sound.wav out/exists.mkv; }
    local before
    before=$(inputs_sum)

    # expect STATUS MESSAGE -- ocuvex arguments...: exactly one line of stderr
    # matching MESSAGE, the status, and no file but out/exists.mkv in out/.
    expect() {
        local status=$1 message=$2
        shift 3
        "$ocuvex" "$@" >/dev/null 2>err </dev/null
        local got=$?
        [ "$got" -eq "$status" ] || fail "ocuvex $* exited $got, wanted $status: $(cat err)"
        grep -q -- "$message" err || fail "ocuvex $*: message lacks '$message': $(cat err)"
        [ "$(wc -l <err)" -eq 1 ] || fail "ocuvex $*: not one line: $(cat err)"
        [ "$(ls -A out)" = "exists.mkv" ] || fail "ocuvex $* left files: $(ls -A out)"
        ok
    }
    expect 1 "cannot read 'missing.mkv': No such file or directory" -- convert missing.mkv out/a.mkv
    expect 1 "cannot read 'out': Is a directory" -- convert out out/a.mkv
    expect 1 "'text.mp4' is not a video or image FFmpeg can read" -- convert text.mp4 out/a.mkv
    expect 1 "'sound.wav' has no video stream" -- convert sound.wav out/a.mkv
    expect 1 "'damaged.mkv' is damaged in stream 0 at 0.50 s: its video ends at 0.50 s of 1.00 s" -- \
        convert --strict --codec ffv1 damaged.mkv out/a.mkv
    expect 1 "'truncated.mkv' is damaged in stream 0 at" -- convert --strict --codec ffv1 truncated.mkv out/a.mkv
    expect 1 "cannot write 'nowhere/a.mkv': No such file or directory" -- convert sbs.mkv nowhere/a.mkv
    expect 2 "'out/a.xyz': unknown output extension (use .mp4, .mkv" -- convert sbs.mkv out/a.xyz
    expect 2 "'out/a.wav': the wav format holds no video" -- convert sbs.mkv out/a.wav
    expect 2 "mode cropping with these settings gives 0x4 frames from 38x22; nothing to write" -- \
        convert --mode cropping --crop-width 0 --crop-height 4 sbs.mkv out/a.mkv
    expect 2 "mode deinterlace with these settings gives 16x0 frames from 8x1; nothing to write" -- \
        convert --mode deinterlace flat.mkv out/a.mkv
    expect 1 "'out/exists.mkv' already exists; use -y to overwrite it" -- convert sbs.mkv out/exists.mkv
    expect 1 "'./sbs.mkv' is the input file itself" -- convert -y sbs.mkv ./sbs.mkv
    expect 1 "'hardlink.mkv' is the input file itself" -- convert -y sbs.mkv hardlink.mkv
    expect 1 "'symlink.mkv' is the input file itself" -- convert -y sbs.mkv symlink.mkv
    mkfifo pipe.mkv
    expect 1 "'pipe.mkv' is not a regular file" -- convert -y sbs.mkv pipe.mkv
    expect 2 "no video encoder named 'nope'" -- convert --codec nope sbs.mkv out/a.mkv
    expect 2 "the ffv1 encoder takes no CRF" -- convert --codec ffv1 --crf 20 sbs.mkv out/a.mkv
    expect 2 "--crf: expected 0 to 51" -- convert --crf 52 sbs.mkv out/a.mkv
    expect 1 "'av.mkv' has no video stream 1 (it has 1, counted from 0)" -- convert --video-stream 1 av.mkv out/a.mkv
    expect 2 "--framerate: 'sbs.mkv' is not an image sequence" -- convert --framerate 24 sbs.mkv out/a.mkv
    expect 2 "--framerate: expected a frame rate" -- convert --framerate fast sbs.mkv out/a.mkv
    expect 2 "unknown option '--bogus'" -- convert --bogus sbs.mkv out/a.mkv
    expect 2 "--quiet: takes no value" -- convert --quiet=garbage sbs.mkv out/a.mkv
    expect 2 "--strict: takes no value" -- convert --strict=yes sbs.mkv out/a.mkv
    expect 2 "expected INPUT and OUTPUT" -- convert sbs.mkv
    [ "$before" = "$(inputs_sum)" ] || fail "an input or the existing output changed"
    ok
}

# Starts a conversion of a 20 s clip into out/exists.mkv (an old file there),
# waits for its temporary file, and sets $pid.
start_long_conversion() {
    [ -e long.mkv ] || ff -f lavfi -i "testsrc2=size=640x360:rate=25:duration=20" -c:v libx264 -preset ultrafast long.mkv
    mkdir -p out
    echo 'old output' >out/exists.mkv
    "$ocuvex" convert -y long.mkv out/exists.mkv 2>err &
    pid=$!
    for _ in $(seq 100); do
        compgen -G 'out/.exists.mkv.ocuvex-*' >/dev/null && break
        sleep 0.05
    done
    sleep 0.2
}
# After the signal: the status, the message, nothing left, the old output kept.
check_stopped() {  # WHAT WANTED-STATUSES [MESSAGE]
    local what=$1 want=$2 message=${3:-}
    wait "$pid"
    local status=$?
    [[ " $want " == *" $status "* ]] || fail "$what: exit $status, wanted $want: $(cat err)"
    [ -z "$message" ] || grep -q "$message" err || fail "$what message: $(cat err)"
    [ "$(ls -A out)" = "exists.mkv" ] && [ "$(cat out/exists.mkv)" = "old output" ] ||
        fail "$what left $(ls -A out) or changed the old output"
    ok
}

# Every signal that ends the process part way: no temporary file, the old
# output untouched, the status of a process ended by that signal.
case_signals() {
    local signal
    for signal in INT TERM HUP QUIT PIPE; do
        start_long_conversion
        kill -s "$signal" "$pid"
        check_stopped "SIG$signal" $((128 + $(kill -l "$signal"))) "interrupted; 'out/exists.mkv' not written"
    done
    # A second signal ends it at once, and still takes the temporary file
    # along. Sent back to back, the two may be taken by two of the process's
    # threads at the same moment, so either can count as the first: the
    # process dies of the other one.
    start_long_conversion
    kill -s HUP "$pid"
    kill -s TERM "$pid"
    check_stopped "SIGHUP then SIGTERM" "143 129"
}

# A full disk and a read-only folder, on small file systems of their own
# (needs root and mount; skipped without them).
case_full_disk() {
    make_clip sbs.mkv 38x22
    ff -f lavfi -i "testsrc2=size=640x360:rate=25:duration=20" -c:v libx264 -preset ultrafast long.mkv
    if mkdir -p small readonly && mount -t tmpfs -o size=48k tmpfs small 2>/dev/null; then
        mounts+=("$work/small")
        echo 'old output' >small/keep.mkv
        "$ocuvex" convert -y --codec ffv1 long.mkv small/keep.mkv 2>err
        [ $? -eq 1 ] && grep -q "cannot write 'small/keep.mkv': No space left on device" err ||
            fail "full disk: $(cat err)"
        [ "$(ls -A small)" = "keep.mkv" ] && [ "$(cat small/keep.mkv)" = "old output" ] ||
            fail "full disk left $(ls -A small) or changed the old output"
        mount -t tmpfs -o size=48k,ro tmpfs readonly && mounts+=("$work/readonly")
        "$ocuvex" convert --codec ffv1 sbs.mkv readonly/a.mkv 2>err
        [ $? -eq 1 ] && grep -q "cannot write 'readonly/a.mkv': Read-only file system" err ||
            fail "read-only folder: $(cat err)"
        ok
    else
        echo "note: cannot mount a small file system here; full-disk checks skipped"
    fi
}

# -y replaces an existing output; the new file gets the usual permissions
case_overwrite() {
    make_clip sbs.mkv 38x22
    mkdir -p out
    echo 'old output' >out/exists.mkv
    chmod 640 out/exists.mkv
    "$ocuvex" convert -q -y --codec ffv1 sbs.mkv out/exists.mkv && [ "$(probe -show_entries stream=width -of csv=p=0 \
        out/exists.mkv)" = "38" ] && [ "$(stat -c %a out/exists.mkv)" = "640" ] || fail "-y did not replace the output"
    ok
}

run_case

#!/usr/bin/env bash
# What `ocuvex convert` keeps of what a file carries, on tiny files made by
# the ffmpeg program at test time: chapters, attachments, a cover picture, a
# second video stream, a timecode, the display matrix, subtitles and audio
# the container cannot hold as they are, a timeline that starts late (with
# an A/V-sync probe: a beep and a flash at the same moment), the stereo
# layout in and out for every mode, the other output formats and image
# sequences, an encoder that prints by itself, and the pixel aspect of half
# packings in every container that holds one. Each case has a strict
# pass condition; one case per CTest test (see --list).
# shellcheck source=tests/media_test_lib.sh
source "$(dirname "$0")/media_test_lib.sh"

# convert ARGS...: `ocuvex convert -y ARGS` exits 0 and leaves no temporary
# file; its standard error is in err.
convert() {
    "$ocuvex" convert -y "$@" 2>err
    local status=$?
    [ "$status" -eq 0 ] || fail "ocuvex convert $* exited $status: $(cat err)"
    [ "$(leftovers)" -eq 0 ] && [ -z "$(find . -maxdepth 1 -name '.ocuvex-*')" ] ||
        fail "ocuvex convert $* left a temporary file"
}
# said LINE...: standard error was exactly these lines, in this order.
said() {
    local want
    want=$(printf '%s\n' "$@")
    [ "$(cat err)" = "$want" ] || fail "wanted the lines:
$want
got:
$(cat err)"
}
# A clip of 64x36 test pictures and a tone, N seconds (default 1) at 25 fps.
make_av() {  # NAME [seconds] [extra ffmpeg arguments]
    local name=$1 seconds=${2:-1}
    shift 2
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=$seconds" -f lavfi -i "sine=duration=$seconds" "$@" "$name" ||
        {
            echo "cannot make $name"
            exit 1
        }
}
# The packets of FILE's STREAM (e.g. s:0), their times and contents.
packets() { ff -i "$1" -map "0:$2" -c copy -f framemd5 - | grep -v '^#'; }
chapters() { probe -show_entries chapter=start_time,end_time:chapter_tags=title -of csv=p=0 "$1"; }
tag() {  # FILE STREAM KEY: one tag of a stream
    probe -select_streams "$2" -show_entries "stream_tags=$3" -of default=nw=1:nk=1 "$1" | head -n 1
}
stereo_tag() { tag "$1" v:0 stereo_mode; }
# The stereo side data FFmpeg reads back from FILE's video: "type inverted", or nothing.
stereo_side_data() {
    probe -select_streams v:0 -show_entries stream_side_data=type,inverted -of csv=p=0 "$1" | grep -v '^,*$' | head -n 1
}
disposition() { probe -select_streams "$2" -show_entries "stream_disposition=$3" -of default=nw=1:nk=1 "$1"; }
# The text and times of FILE's subtitles, on one line.
text() { ff -i "$1" -map 0:s -f srt - | tr -d '\r' | grep -v '^$' | paste -sd' '; }
# The same bytes in both files.
same_file() { cmp -s "$1" "$2"; }

# --- chapters and the file's title, both ways between Matroska and MP4
case_chapters() {
    printf ';FFMETADATA1\ntitle=Holiday\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=400\ntitle=Beach\n' >meta.txt
    printf '[CHAPTER]\nTIMEBASE=1/1000\nSTART=400\nEND=1000\ntitle=Sea\n' >>meta.txt
    # No audio: an AAC stream's priming would move the start, and the chapters with it.
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=1" -i meta.txt -map_metadata 1 -c:v libx264 in.mkv
    local want
    want=$(chapters in.mkv)
    [ "$(echo "$want" | wc -l)" -eq 2 ] || fail "the input has no chapters: $want"
    for out in out.mp4 out.mkv out.mov; do
        convert --half --mode anaglyph in.mkv "$out"
        said
        [ "$(chapters "$out")" = "$want" ] || fail "$out chapters: $(chapters "$out")"
        [ "$(probe -show_entries format_tags=title -of default=nw=1:nk=1 "$out")" = "Holiday" ] ||
            fail "$out lost the title"
    done
    convert out.mp4 back.mkv
    said
    [ "$(chapters back.mkv)" = "$want" ] || fail "MP4 to Matroska chapters: $(chapters back.mkv)"
    ok
}

# --- a font attachment and ASS subtitles: kept in Matroska; in MP4 the
# subtitles become mov_text and the font is left out, each with a line
case_attachments() {
    head -c 2000 /dev/urandom >font.ttf
    printf '1\n00:00:00,200 --> 00:00:00,600\nhello\n' >subs.srt
    ff -i subs.srt subs.ass
    make_av in.mkv 1 -i subs.ass -map 0 -map 1 -map 2 -c:v libx264 -c:a aac -c:s ass \
        -attach font.ttf -metadata:s:t mimetype=application/x-truetype-font
    convert --half --mode sbs-to-ab in.mkv out.mkv
    said
    [ "$(stream_codecs out.mkv)" = "h264,aac,ass,ttf" ] || fail "Matroska streams: $(stream_codecs out.mkv)"
    ff -dump_attachment:t:0 got.ttf -i out.mkv 2>/dev/null
    same_file font.ttf got.ttf && [ "$(tag out.mkv t:0 filename)" = "font.ttf" ] || fail "the font changed"
    [ "$(packets in.mkv s:0)" = "$(packets out.mkv s:0)" ] || fail "the ASS subtitles changed"

    convert --half --mode sbs-to-ab in.mkv out.mp4
    said "ocuvex: note: stream 2 (ass subtitle) becomes mov_text: 'out.mp4' cannot hold ass" \
        "ocuvex: warning: stream 3 (ttf attachment 'font.ttf') left out: 'out.mp4' cannot hold attachments"
    [ "$(stream_codecs out.mp4)" = "h264,aac,mov_text" ] || fail "MP4 streams: $(stream_codecs out.mp4)"
    [ "$(text out.mp4)" = "$(text in.mkv)" ] && [[ "$(text in.mkv)" == *hello ]] || fail "mov_text: $(text out.mp4)"
    ok
}

# --- a cover picture: a Matroska attachment players show as the cover, and
# back in MP4 a cover again, its bytes unchanged
case_cover() {
    ff -f lavfi -i "testsrc2=size=16x16" -frames:v 1 cover.png
    make_av in.mp4 1 -i cover.png -map 0 -map 1 -map 2 -c:v libx264 -c:a aac -c:v:1 copy -disposition:v:1 attached_pic
    [ "$(disposition in.mp4 v:1 attached_pic)" = 1 ] || fail "the input has no cover"
    convert --half --mode anaglyph in.mp4 out.mkv
    said
    [ "$(stream_codecs out.mkv)" = "h264,aac,png" ] && [ "$(disposition out.mkv v:1 attached_pic)" = 1 ] &&
        [ "$(tag out.mkv v:1 mimetype)" = "image/png" ] || fail "no Matroska cover: $(stream_codecs out.mkv)"
    ff -i out.mkv -map 0:v:1 -c copy -f image2pipe got.png
    same_file cover.png got.png || fail "the Matroska cover changed"
    convert out.mkv back.mp4
    said
    [ "$(disposition back.mp4 v:1 attached_pic)" = 1 ] || fail "no MP4 cover"
    rm -f got.png
    ff -i back.mp4 -map 0:v:1 -c copy -f image2pipe got.png
    same_file cover.png got.png || fail "the MP4 cover changed"

    # A song with its cover has no video: refused in one line, nothing
    # written; asked for by number, the cover is converted as one picture.
    ff -f lavfi -i sine=duration=1 -i cover.png -map 0 -map 1 -c:a libmp3lame -c:v copy -disposition:v attached_pic \
        song.mp3
    if "$ocuvex" convert song.mp3 song.mkv 2>err; then fail "a song's cover was converted as its video"; fi
    said "ocuvex: 'song.mp3' has no video stream, only a cover picture (--video-stream 0 converts that picture)"
    [ ! -e song.mkv ] || fail "a refused song left song.mkv"
    convert --half --mode sbs-to-ab --video-stream 0 song.mp3 song.png
    said
    [ "$(probe -show_entries stream=width,height -of csv=p=0 song.png)" = 8,32 ] || fail "the cover as a picture"
    ok
}

# --- two video streams: one converted, the other copied unchanged;
# --video-stream picks which
case_two_video_streams() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=0.4" -f lavfi -i "testsrc=size=32x18:rate=25:duration=0.4" \
        -map 0 -map 1 -c:v libx264 -metadata:s:v:1 title=inset in.mkv
    convert --half --mode sbs-to-ab in.mkv out.mkv
    said
    sizes() { probe -show_entries stream=width,height -of csv=p=0 "$1" | sed 's/,*$//' | grep . | paste -sd' '; }
    [ "$(sizes out.mkv)" = "32,72 32,18" ] || fail "default: sizes $(sizes out.mkv)"
    [ "$(packets in.mkv v:1)" = "$(packets out.mkv v:1)" ] && [ "$(tag out.mkv v:1 title)" = inset ] ||
        fail "the second video stream changed"
    convert --half --mode sbs-to-ab --video-stream 1 in.mkv picked.mkv
    said
    [ "$(sizes picked.mkv)" = "16,36 64,36" ] &&
        [ "$(tag picked.mkv v:0 title)" = inset ] || fail "--video-stream 1 converted another stream"
    [ "$(packets in.mkv v:0)" = "$(packets picked.mkv v:1)" ] || fail "--video-stream 1: the first stream changed"

    # A second video the container cannot hold is encoded in its usual codec,
    # all its frames at their times; where no second picture stream fits, it
    # is left out with a warning.
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=0.4" -f lavfi -i "testsrc=size=32x18:rate=30:duration=0.4" \
        -map 0 -map 1 -c:v:0 libx264 -c:v:1 libtheora -metadata:s:v:1 title=inset theora.mkv
    convert --half --mode sbs-to-ab theora.mkv theora.mp4
    said "ocuvex: note: stream 1 (theora video) becomes h264: 'theora.mp4' cannot hold theora"
    [ "$(stream_codecs theora.mp4)" = h264,h264 ] && [ "$(frame_count theora.mp4 v:1)" = 12 ] ||
        fail "the Theora stream: $(stream_codecs theora.mp4)"
    second_times() {
        probe -select_streams v:1 -show_entries frame=pts_time -of default=nw=1:nk=1 "$1" |
            awk '{ printf "%.3f ", $1 }'
    }
    [ "$(second_times theora.mkv)" = "$(second_times theora.mp4)" ] ||
        fail "the Theora stream's frames moved: $(second_times theora.mp4)"
    # Matroska holds a second video as MP4 does: converted where it cannot
    # hold its codec, never left out.
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=0.4" -f lavfi -i "testsrc=size=32x18:rate=25:duration=0.4" \
        -map 0 -map 1 -c:v:0 libx264 -c:v:1 png png.mov
    convert --mode sbs-to-ab png.mov png.mkv
    case $(stream_codecs png.mkv) in
    h264,h264 | h264,png) [ "$(frame_count png.mkv v:1)" = 10 ] || fail "the PNG stream in Matroska lost frames" ;;
    *) fail "the PNG stream in Matroska: $(stream_codecs png.mkv)" ;;
    esac
    convert --mode nop theora.mkv 'picture%02d.png'
    said "ocuvex: note: png takes no yuv420p; 'picture%02d.png' is rgb24" \
        "ocuvex: warning: stream 1 (theora video) left out: 'picture%02d.png' cannot hold theora, nor a second png video"
    [ "$(find . -name 'picture*.png' | wc -l)" = 10 ] || fail "the sequence holds another stream's pictures"
    ok
}

# --- a QuickTime timecode: a timecode track in MOV and MP4, a tag in Matroska
case_timecode() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=0.4" -timecode 01:02:03:04 -c:v libx264 in.mov
    for out in out.mov out.mp4; do
        convert in.mov "$out"
        said
        [ "$(probe -show_entries stream=codec_type:stream_tags=timecode -of csv=p=0 "$out" | paste -sd' ')" = \
            "video,01:02:03:04 data,01:02:03:04" ] || fail "$out timecode: $(probe -show_streams "$out" | grep -i timecode)"
    done
    convert in.mov out.mkv
    said
    [ "$(tag out.mkv v:0 TIMECODE)" = "01:02:03:04" ] || fail "Matroska timecode: $(tag out.mkv v:0 TIMECODE)"
    ok
}

# --- the display matrix: a clip shot upright stays upright; where the
# container cannot hold it, a warning says so
case_rotation() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=25:duration=0.4" -c:v libx264 in.mp4
    # The track header's matrix, turned a quarter: a phone held upright.
    local at
    at=$(grep -obUa tkhd in.mp4 | head -1 | cut -d: -f1)
    printf '\0\0\0\0\0\1\0\0\0\0\0\0\377\377\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\100\0\0\0' |
        dd of=in.mp4 bs=1 seek=$((at + 44)) conv=notrunc status=none
    rotation() {
        probe -select_streams v:0 -show_entries stream_side_data=rotation -of csv=p=0 "$1" | tr ',' '\n' |
            grep -E '^-?[0-9]' | head -1
    }
    [ "$(rotation in.mp4)" = -90 ] || fail "the input is not turned: $(rotation in.mp4)"
    for out in out.mp4 out.mov; do
        convert --half --mode sbs-to-ab in.mp4 "$out"
        said
        [ "$(rotation "$out")" = -90 ] || fail "$out rotation: $(rotation "$out")"
    done
    convert --half --mode sbs-to-ab in.mp4 out.mkv
    if [ "$(rotation out.mkv)" = -90 ]; then
        said
    else
        said "ocuvex: warning: the display matrix (rotation -90 degrees) left out: 'out.mkv' cannot hold it"
    fi
    ok
}

# --- mov_text in MP4 to Matroska becomes ASS, SubRip into MP4 becomes
# mov_text, with the same text at the same times
case_subtitles() {
    printf '1\n00:00:00,200 --> 00:00:00,700\nhello\n\n2\n00:00:00,800 --> 00:00:00,900\nagain\n' >subs.srt
    make_av in.mkv 1 -i subs.srt -map 0 -map 1 -map 2 -c:v libx264 -c:a aac -c:s srt -metadata:s:s language=fre
    local want
    want=$(text in.mkv)
    convert in.mkv out.mp4
    said "ocuvex: note: stream 2 (subrip subtitle, language fre) becomes mov_text: 'out.mp4' cannot hold subrip"
    [ "$(probe -select_streams s -show_entries stream=codec_name -of csv=p=0 out.mp4)" = mov_text ] &&
        [ "$(text out.mp4)" = "$want" ] && [ "$(tag out.mp4 s:0 language)" = fre ] ||
        fail "SubRip to mov_text: $(text out.mp4)"
    convert out.mp4 back.mkv
    said "ocuvex: note: stream 2 (mov_text subtitle, language fre) becomes ass: 'back.mkv' cannot hold mov_text"
    [ "$(probe -select_streams s -show_entries stream=codec_name -of csv=p=0 back.mkv)" = ass ] &&
        [ "$(text back.mkv)" = "$want" ] || fail "mov_text to ASS: $(text back.mkv)"
    ok
}

# The A/V-sync probe: FILE's flash (the white frame) and beep onset, in one
# decoding run so both share one timeline; prints "flash onset".
sync_probe() {
    ffmpeg -nostdin -nostats -hide_banner -i "$1" -vf signalstats,metadata=print:key=lavfi.signalstats.YAVG \
        -af silencedetect=n=-30dB:d=0.1 -f null - 2>&1 |
        awk '/pts_time/ { split($0, a, "pts_time:"); t = a[2] + 0 }
             /YAVG=/ && f == "" { split($0, b, "YAVG="); if (b[2] + 0 > 100) f = t }
             /silence_end/ && o == "" { split($0, c, "silence_end: "); o = c[2] + 0 }
             END { print f, o }'
}
# A beep and a flash at 1.2 s of a 3 s clip, 48 kHz audio (AUDIO codec).
make_beep_and_flash() {  # NAME AUDIO [extra ffmpeg output arguments]
    local name=$1 audio=$2
    shift 2
    ff -f lavfi -i "color=c=black:size=64x36:rate=25:duration=3,drawbox=c=white:t=fill:enable='between(t,1.2,1.239)'" \
        -f lavfi -i "aevalsrc='if(between(t,1.2,1.4),sin(2*PI*1000*t),0)':s=48000:d=3" \
        -c:v libx264 -bf 2 -g 10 -c:a "$audio" "$@" "$name"
}
# IN OUT: OUT starts at 0 and keeps IN's flash-to-beep offset within one
# audio frame (1024 samples at 48 kHz).
check_sync() {
    local start
    start=$(start_time "$2")
    near "$start" 0 0.0005 || fail "$2 starts at $start s, not 0"
    read -r in_flash in_onset < <(sync_probe "$1")
    read -r out_flash out_onset < <(sync_probe "$2")
    [ -n "$in_flash" ] && [ -n "$in_onset" ] && [ -n "$out_flash" ] && [ -n "$out_onset" ] ||
        fail "sync probe found nothing: $1 '$in_flash $in_onset', $2 '$out_flash $out_onset'"
    near "$(awk -v a="$in_flash" -v b="$in_onset" -v c="$out_flash" -v d="$out_onset" \
        'BEGIN { print (c - d) - (a - b) }')" 0 0.0213 ||
        fail "$2: flash-to-beep $out_flash - $out_onset s, was $in_flash - $in_onset s in $1"
}

# --- a transport stream starting at 1.46 s and a Matroska file starting at
# 9.98 s: outputs start at 0 with audio and video still together
case_start_offsets() {
    make_beep_and_flash in.ts aac -f mpegts
    ff -i in.ts -c copy -output_ts_offset 9.98 late.mkv
    near "$(start_time in.ts)" 1.4 0.1 && near "$(start_time late.mkv)" 9.98 0.001 ||
        fail "inputs start at $(start_time in.ts) and $(start_time late.mkv)"
    convert in.ts out.mp4
    said
    check_sync in.ts out.mp4
    for out in late.mp4 late_out.mkv; do
        convert late.mkv "$out"
        said
        check_sync late.mkv "$out"
    done
    ok
}

# --- PCM audio into MP4: copied where this FFmpeg's MP4 muxer holds it,
# else AAC as ffmpeg makes it, with a note; in sync either way
case_pcm_to_mp4() {
    make_beep_and_flash in.mkv pcm_s16le -output_ts_offset 0.5
    convert in.mkv out.mp4
    if ff -i in.mkv -c copy probe.mp4 2>/dev/null; then
        said
        [ "$(stream_codecs out.mp4)" = "h264,pcm_s16le" ] || fail "PCM not copied: $(stream_codecs out.mp4)"
    else
        said "ocuvex: note: stream 1 (pcm_s16le audio) becomes aac: 'out.mp4' cannot hold pcm_s16le"
        [ "$(stream_codecs out.mp4)" = "h264,aac" ] || fail "PCM not made AAC: $(stream_codecs out.mp4)"
    fi
    near "$(stream_value out.mp4 a:0 duration)" 3 0.03 || fail "audio lasts $(stream_value out.mp4 a:0 duration) s"
    check_sync in.mkv out.mp4
    ok
}

# Frames of random pixels, every channel different (nothing a codec would
# smooth), 64x36 at 10 fps, lossless: NAME [extra ffmpeg output arguments].
make_pixels() {
    local name=$1
    shift
    ff -f lavfi -i "nullsrc=s=64x36:r=10:d=0.3,geq=r='random(1)*255':g='mod(X*37+Y*91+N*53\,256)':b='random(2)*255'" \
        -pix_fmt bgr0 -c:v ffv1 "$@" "$name"
}
frames_of() { ff -i "$1" -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f6; }

# --- stereo metadata in: where the input says the left eye is elsewhere
# than the mode takes the left view, the views are exchanged (one line);
# --swap exchanges them again; --ignore-stereo-metadata reads them literally
case_stereo_in() {
    make_pixels plain.mkv
    make_pixels plain37.mkv -vf "pad=64:37"
    local mode layout height expect_swap also
    # ALSO "all": --swap and --ignore-stereo-metadata are checked too (they
    # act the same way whatever the mode).
    while read -r mode layout height expect_swap also; do
        [ -n "$mode" ] || continue
        local source=plain.mkv
        [ "$height" = 37 ] && source=plain37.mkv
        ff -i "$source" -c copy -metadata:s:v stereo_mode="$layout" tagged.mkv
        local swap=() other=(--swap)
        [ "$expect_swap" = yes ] && swap=(--swap) && other=()
        convert -q --codec ffv1 --mode "$mode" "$source" want.mkv "${swap[@]}"
        convert --codec ffv1 --half --mode "$mode" tagged.mkv out.mkv
        if [ "$expect_swap" = yes ]; then
            grep -q "^ocuvex: note: 'tagged.mkv' says the left eye is in .*: the views are exchanged" err &&
                [ "$(wc -l <err)" -eq 1 ] || fail "$mode of $layout: no line: $(cat err)"
        else
            said
        fi
        [ "$(frames_of out.mkv)" = "$(frames_of want.mkv)" ] || fail "$mode of $layout ($height lines): wrong views"
        if [ "$also" = all ]; then
            convert -q --codec ffv1 --mode "$mode" "$source" want_swapped.mkv "${other[@]}"
            convert -q --codec ffv1 --mode "$mode" --swap tagged.mkv swapped.mkv
            [ "$(frames_of swapped.mkv)" = "$(frames_of want_swapped.mkv)" ] || fail "$mode of $layout: --swap"
            convert -q --codec ffv1 --mode "$mode" --ignore-stereo-metadata tagged.mkv literal.mkv
            local literal=want.mkv
            [ "$expect_swap" = yes ] && literal=want_swapped.mkv
            [ "$(frames_of literal.mkv)" = "$(frames_of "$literal")" ] || fail "$mode of $layout: --ignore-stereo-metadata"
        fi
        ok
    done <<'LIST'
nop right_left 36 yes
centering right_left 36 yes all
anaglyph right_left 36 yes
anaglyph left_right 36 no
sbs-to-ab right_left 36 yes
alignment right_left 36 yes
cropping right_left 36 yes
ab-to-sbs top_bottom 36 yes all
ab-to-sbs bottom_top 36 no
deinterlace row_interleaved_lr 36 yes all
deinterlace row_interleaved_lr 37 no
deinterlace row_interleaved_rl 36 no
LIST
    # A layout the mode does not read: said, and not used.
    ff -i plain.mkv -c copy -metadata:s:v stereo_mode=top_bottom tagged.mkv
    convert --half --codec ffv1 --mode sbs-to-ab tagged.mkv out.mkv
    said "ocuvex: note: 'tagged.mkv' says its pictures are above/below, left eye in the top half; the mode reads side-by-side pictures, so that is not used"
    # MP4's stereo side data, as this FFmpeg writes and reads it.
    ff -i plain.mkv -c:v libx264 -crf 0 -metadata:s:v stereo_mode=right_left -strict unofficial rl.mp4
    if [ -n "$(stereo_side_data rl.mp4)" ]; then
        convert -q --codec ffv1 --mode centering rl.mp4 out.mkv
        convert -q --codec ffv1 --mode centering --swap --ignore-stereo-metadata rl.mp4 want.mkv
        [ "$(frames_of out.mkv)" = "$(frames_of want.mkv)" ] || fail "MP4 stereo side data not followed"
    fi
}

# --- stereo metadata out: every mode's Matroska output says its layout (the
# anaglyph where the muxer can write it); MP4 and MOV carry the stereo side
# data as this FFmpeg writes it
case_stereo_out() {
    make_pixels sbs.mkv
    ff -i sbs.mkv -c copy -metadata:s:v stereo_mode=left_right lr.mkv
    # Whether this FFmpeg's Matroska muxer writes the anaglyph value (5.1 drops it).
    ff -i sbs.mkv -c copy -metadata:s:v stereo_mode=anaglyph_cyan_red anaglyph_probe.mkv
    local anaglyph
    anaglyph=$(stereo_tag anaglyph_probe.mkv)
    local mode plain swapped
    while read -r mode plain swapped; do
        [ -n "$mode" ] || continue
        [ "$plain" = anaglyph ] && plain=$anaglyph swapped=$anaglyph
        convert -q --codec ffv1 --mode "$mode" sbs.mkv out.mkv
        convert -q --codec ffv1 --mode "$mode" --swap sbs.mkv out_swap.mkv
        [ "$(stereo_tag out.mkv)" = "$plain" ] && [ "$(stereo_tag out_swap.mkv)" = "$swapped" ] ||
            fail "$mode: tagged '$(stereo_tag out.mkv)' and with --swap '$(stereo_tag out_swap.mkv)'"
        ok
    done <<'LIST'
deinterlace left_right right_left
centering left_right right_left
anaglyph anaglyph anaglyph
sbs-to-ab bottom_top top_bottom
ab-to-sbs left_right right_left
alignment left_right right_left
cropping left_right right_left
LIST
    # nop makes no claim about an untagged input, and keeps a tagged one's.
    convert -q --codec ffv1 sbs.mkv out.mkv
    [ -z "$(stereo_tag out.mkv)" ] || fail "nop tagged an untagged input $(stereo_tag out.mkv)"
    convert -q --codec ffv1 --swap lr.mkv out.mkv
    [ "$(stereo_tag out.mkv)" = right_left ] || fail "nop --swap of left_right: $(stereo_tag out.mkv)"
    # MP4 and MOV: what FFmpeg writes for the same layout copied from Matroska.
    local container layout_mkv ours
    for container in mp4 mov; do
        for mode in centering sbs-to-ab; do
            for swap in "" --swap; do
                convert -q --mode "$mode" $swap sbs.mkv out.mkv
                convert -q --mode "$mode" $swap sbs.mkv "out.$container"
                layout_mkv=$(stereo_tag out.mkv)
                ff -i out.mkv -c copy -strict unofficial "theirs.$container"
                ours=$(stereo_side_data "out.$container")
                [ "$ours" = "$(stereo_side_data "theirs.$container")" ] ||
                    fail "$container $mode $swap ($layout_mkv): '$ours', FFmpeg writes '$(stereo_side_data "theirs.$container")'"
                ok
            done
        done
    done
}

# --- other containers with their usual encoders, and image sequences out
# and in (--framerate)
case_formats() {
    make_av in.mkv 1 -c:v libx264 -c:a aac
    local out want
    while read -r out want; do
        [ -n "$out" ] || continue
        convert -q --mode sbs-to-ab in.mkv "$out"
        [ "$(stream_codecs "$out")" = "$want" ] || fail "$out: $(stream_codecs "$out"), wanted $want"
        [ "$(frame_count "$out")" -eq 25 ] && [ "$(frame_sizes "$out")" = 32x72 ] ||
            fail "$out: $(frame_count "$out") frames of $(frame_sizes "$out")"
        ok
    done <<'LIST'
out.webm vp9,opus
out.avi mpeg4,aac
out.ts mpeg2video,aac
LIST
    convert --half --mode sbs-to-ab in.mkv out.gif
    # GIF takes no yuv420p: the nearest format it takes (which one is FFmpeg's judgement).
    grep -qx "ocuvex: note: gif takes no yuv420p; 'out.gif' is [a-z0-9]*" err &&
        grep -qx "ocuvex: warning: stream 1 (aac audio) left out: 'out.gif' cannot hold audio" err &&
        [ "$(wc -l <err)" -eq 2 ] || fail "GIF lines: $(cat err)"
    [ "$(stream_codecs out.gif)" = gif ] && [ "$(frame_count out.gif)" -eq 25 ] || fail "GIF: $(stream_codecs out.gif)"

    mkdir frames
    convert -q --mode sbs-to-ab in.mkv 'frames/f%03d.png'
    [ "$(ls frames | head -1)" = f001.png ] && [ "$(ls frames | tail -1)" = f025.png ] &&
        [ "$(ls frames | wc -l)" -eq 25 ] && [ -z "$(find frames -mindepth 1 ! -name 'f0*')" ] ||
        fail "sequence: $(ls -A frames | head)"
    "$ocuvex" convert -q --mode sbs-to-ab --frame 7 in.mkv seven.png
    [ "$(ff -i seven.png -f rawvideo -pix_fmt rgb24 - | md5sum)" = \
        "$(ff -i frames/f008.png -f rawvideo -pix_fmt rgb24 - | md5sum)" ] || fail "picture 8 is not frame 7"
    # An existing picture is not replaced without -y; nothing else written.
    "$ocuvex" convert -q --mode sbs-to-ab in.mkv 'frames/f%03d.png' 2>err
    [ $? -eq 1 ] && grep -q "'frames/f001.png' already exists; use -y" err && [ "$(ls -A frames | wc -l)" -eq 25 ] ||
        fail "sequence over existing pictures: $(cat err)"

    # The sequence in, at 5 fps: 25 frames 0.2 s apart.
    convert -q --framerate 5 'frames/f%03d.png' back.mkv
    [ "$(frame_count back.mkv)" -eq 25 ] && near "$(frame_span back.mkv)" 4.8 0.001 ||
        fail "sequence in: $(frame_count back.mkv) frames over $(frame_span back.mkv) s"
    if command -v script >/dev/null; then
        script -qec "'$ocuvex' convert 'frames/f%03d.png' tty.mkv" /dev/null >tty.txt
        grep -q "frame 25/25" tty.txt || fail "sequence progress: $(tr '\r' '\n' <tty.txt | tail -2)"
    fi
    ok
}

# --- an image sequence interrupted: its hidden folder goes, with one signal
# (the normal way out) and with a second one (at once, from the handler)
case_sequence_interrupted() {
    ff -f lavfi -i "testsrc2=size=640x360:rate=25:duration=20" -c:v libx264 -preset ultrafast long.mkv
    mkdir seq
    local signals status
    for signals in "HUP" "HUP TERM"; do
        "$ocuvex" convert long.mkv 'seq/f%04d.png' 2>err &
        local pid=$!
        for _ in $(seq 100); do
            [ -n "$(find seq -name 'f0*.png' | head -1)" ] && break
            sleep 0.05
        done
        for signal in $signals; do kill -s "$signal" "$pid"; done
        wait "$pid"
        status=$?
        # Two signals may be taken on two threads at once: either ends it.
        case " $signals " in
        *" $(kill -l $((status - 128)) 2>/dev/null) "*) ;;
        *) fail "$signals: exit $status: $(cat err)" ;;
        esac
        [ -z "$(ls -A seq)" ] || fail "$signals left $(ls -A seq | head -3)"
        ok
    done
}

# --- the progress total: right, or absent when the frame rate varies
case_progress_total() {
    command -v script >/dev/null || return 0
    ff -f lavfi -i "testsrc2=size=64x36:rate=30:duration=2" -vf "select='not(mod(n\,3))+gt(n\,30)'" \
        -fps_mode vfr -c:v libx264 vfr.mkv 2>/dev/null ||
        ff -f lavfi -i "testsrc2=size=64x36:rate=30:duration=2" -vf "select='not(mod(n\,3))+gt(n\,30)'" \
            -vsync vfr -c:v libx264 vfr.mkv
    script -qec "'$ocuvex' convert vfr.mkv out.mkv" /dev/null >tty.txt
    local last
    last=$(tr '\r' '\n' <tty.txt | grep frame | tail -1)
    [[ $last == "frame 40 "* ]] || fail "variable frame rate progress: $last"
    make_av cfr.mkv 1 -c:v libx264
    script -qec "'$ocuvex' convert cfr.mkv out2.mkv" /dev/null >tty.txt
    last=$(tr '\r' '\n' <tty.txt | grep frame | tail -1)
    [[ $last == "frame 25/25 "* ]] || fail "constant frame rate progress: $last"
    ok
}

# --- x265 prints its own log past FFmpeg's: --quiet silences it, and
# without --quiet only its warnings would show
case_quiet_x265() {
    ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libx265 || {
        echo "note: this FFmpeg has no libx265; skipped"
        return 0
    }
    make_av in.mkv 0.4 -c:v libx264 -c:a aac
    convert -q --codec libx265 --mode anaglyph in.mkv quiet.mkv
    said
    # Without --quiet its errors only, not its 22 lines of information.
    convert --half --codec libx265 --mode anaglyph in.mkv plain.mkv
    ! grep -q '^x265 \[\(info\|warning\)\]' err || fail "x265 printed: $(cat err)"
    [ "$(stream_codecs quiet.mkv)" = hevc,aac ] && [ "$(frame_count quiet.mkv)" -eq 10 ] ||
        fail "x265: $(stream_codecs quiet.mkv)"
    ok
}

# --- picture properties: the pixel aspect ratio and the field order, which
# each mode keeps where each view keeps its rows' parity
case_picture_properties() {
    # Interlaced, top field first (FFmpeg 7 codes it "tb", 5.1 "tt").
    make_pixels tt.mkv -vf setfield=tff -flags +ildct -field_order tt -aspect 2:1
    field_order() { stream_value "$1" v:0 field_order; }
    local same other
    same=$(field_order tt.mkv)
    case $same in
    tt) other=bb ;;
    tb) other=bt ;;
    *) fail "the input is not top field first: $same" ;;
    esac
    local mode settings want
    while read -r mode want settings; do
        [ -n "$mode" ] || continue
        [ "$want" = same ] && want=$same
        [ "$want" = other ] && want=$other
        # shellcheck disable=SC2086
        convert -q --codec ffv1 --mode "$mode" $settings tt.mkv out.mkv
        [ "$(field_order out.mkv)" = "$want" ] || fail "$mode $settings: field order $(field_order out.mkv), not $want"
        ok
    done <<'LIST'
nop same --swap
anaglyph same
sbs-to-ab same
cropping other --crop-y 1 --crop-width 20 --crop-height 20
cropping same --crop-y 2 --crop-width 20 --crop-height 20
deinterlace progressive
LIST
    # Pixels 9:8 (a 64x36 picture shown 2:1): each pixel keeps its shape.
    [ "$(stream_value tt.mkv v:0 sample_aspect_ratio)" = 9:8 ] || fail "the input's pixels are not 9:8"
    for out in out.mkv out.mp4; do
        convert -q --mode sbs-to-ab tt.mkv "$out"
        [ "$(stream_value "$out" v:0 sample_aspect_ratio)" = 9:8 ] ||
            fail "$out pixel aspect $(stream_value "$out" v:0 sample_aspect_ratio)"
    done
    ok
}

# --- half packings: the pixel aspect in every container that stores one
# (MP4, MKV, MOV, WebM, PNG, JPEG, TIFF), a warning where a picture cannot
# (BMP), the stereo tags as without --half, and the note that names --half
# when the views look squeezed
case_half_packing() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=10:duration=0.5" -pix_fmt yuv420p -c:v libx264 half.mkv
    local ext
    for ext in mp4 mkv mov webm png jpg tif; do
        convert -q --half --mode sbs-to-ab half.mkv "out.$ext"
        [ "$(stream_value "out.$ext" v:0 sample_aspect_ratio)" = 4:1 ] ||
            fail ".$ext: pixel aspect $(stream_value "out.$ext" v:0 sample_aspect_ratio), not 4:1"
        ok
    done
    convert --half --mode anaglyph half.mkv out.bmp
    said "ocuvex: warning: 'out.bmp' cannot hold the pixel aspect ratio 2:1 (bmp pictures have none): it displays \
at 8:9 instead of 16:9"
    # The layout tags are those of a full input: neither tag says half.
    convert -q --codec ffv1 --half --mode sbs-to-ab --swap half.mkv tagged.mkv
    [ "$(stereo_tag tagged.mkv)" = top_bottom ] || fail "half sbs-to-ab --swap tagged '$(stereo_tag tagged.mkv)'"
    # A full side-by-side frame squeezed to half for a TV: 4:2:0 H.264 at
    # half the width, still tagged side by side.
    ff -i half.mkv -c copy -metadata:s:v stereo_mode=left_right lr.mkv
    convert -q --output-packing half lr.mkv tv.mkv
    [ "$(stream_value tv.mkv v:0 width)x$(stream_value tv.mkv v:0 height)" = 32x36 ] &&
        [ "$(stream_value tv.mkv v:0 pix_fmt)" = yuv420p ] && [ "$(stereo_tag tv.mkv)" = left_right ] ||
        fail "squeezed: $(stream_value tv.mkv v:0 width)x$(stream_value tv.mkv v:0 height)," \
            "$(stream_value tv.mkv v:0 pix_fmt), '$(stereo_tag tv.mkv)'"
    # Views of 8:9 read as full: one line names --half; none under --quiet,
    # with --half, nor for nop, whose output is the same either way.
    convert --mode sbs-to-ab half.mkv full.mkv
    said "ocuvex: note: each view of 'half.mkv' displays at 8:9; if its views are squeezed (half side-by-side), \
--half displays each at 16:9"
    convert -q --mode sbs-to-ab half.mkv full.mkv
    said
    convert --half --mode sbs-to-ab half.mkv full.mkv
    said
    convert half.mkv nop.mkv
    said
    # --half on a full frame of 16:9 views (3840x1080 scaled down): the other way round.
    ff -f lavfi -i "testsrc2=size=128x36:rate=10:duration=0.2" -pix_fmt yuv420p -c:v libx264 wide.mkv
    convert --half --mode sbs-to-ab wide.mkv wide_out.mkv
    said "ocuvex: note: with --half each view of 'wide.mkv' displays at 32:9; if its views are not squeezed (full \
side-by-side), each displays at 16:9 without --half"
    ok
}

run_case

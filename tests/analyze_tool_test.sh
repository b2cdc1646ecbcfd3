#!/usr/bin/env bash
# End-to-end checks of `ocuvex analyze` on clips of the sample scene with
# known rig errors (ocuvex_render_sample, named by $OCUVEX_RENDER_SAMPLE) and
# on clips made with the ffmpeg program: what it measures, the JSON, the
# commands it proposes carried out and measured again, how it samples, and
# the failures. One case per CTest test: analyze_tool_test.sh OCUVEX CASE.
# shellcheck source=tests/media_test_lib.sh
source "$(dirname "$0")/media_test_lib.sh"

# The sample scene with surface detail, 640x360 views side by side, 24 fps:
# render_rig FRAMES OUT [renderer options] [-- ffmpeg output options].
render_rig() {
    local frames=$1 out=$2
    shift 2
    local scene=() encode=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        scene+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift && encode=("$@")
    "${OCUVEX_RENDER_SAMPLE:?the sample renderer}" --texture --frames "$frames" "${scene[@]}" |
        ff -f rawvideo -pix_fmt bgr0 -s 1280x360 -r 24 -i - "${encode[@]}" "$out" || {
        echo "cannot make $out"
        exit 1
    }
}

# The value of NAME in OBJECT (an object with no objects before NAME) of the
# one-line JSON in FILE; OBJECT - for the top level.
json_value() {
    local file=$1 object=$2 name=$3 text
    text=$(cat "$file")
    [ "$object" = - ] || text=$(grep -o "\"$object\":{[^{}]*" <<<"$text")
    grep -o "\"$name\":[^,}]*" <<<"$text" | head -n 1 | cut -d: -f2- | tr -d '"'
}
# The sampled frames' times in FILE's JSON, one a line.
sample_times() { grep -o '"time":[^,]*' "$1" | cut -d: -f2; }

# expect_value FILE OBJECT NAME WANTED [TOLERANCE]: a number within
# TOLERANCE (default 0) of WANTED, or the text WANTED.
expect_value() {
    local got matches
    got=$(json_value "$1" "$2" "$3")
    if [[ $4 =~ ^-?[0-9.]+$ ]]; then
        [[ $got =~ ^-?[0-9.e+-]+$ ]] && near "$got" "$4" "${5:-0}" && matches=1
    else
        [ "$got" = "$4" ] && matches=1
    fi
    if [ -z "${matches:-}" ]; then
        fail "$1: $2.$3 is '$got', wanted $4${5:+ ± $5}"
    else
        ok
    fi
}

# Runs the convert commands `ocuvex analyze ARGS...` proposes, in order.
run_proposal() {
    "$ocuvex" analyze -q "$@" >summary.txt 2>err || fail "analyze $*: $(cat err)"
    local line count=0
    while read -r line; do
        [[ $line == "ocuvex convert "* ]] || continue
        count=$((count + 1))
        eval "\"\$ocuvex\" ${line#ocuvex } -q 2>err" || fail "proposed for $*: $line: $(cat err)"
    done <summary.txt
    [ "$count" -gt 0 ] || fail "analyze $* proposed nothing: $(cat summary.txt)"
}

# --- a rig error after H.264 CRF 23 is measured within a line; the JSON
# holds every number; the proposed commands convert, and level the views
case_rig_error() {
    render_rig 48 rig.mkv --rig-vertical 6 -- -c:v libx264 -crf 23 -pix_fmt yuv420p
    "$ocuvex" analyze --json rig.mkv >rig.json 2>err || fail "analyze --json: $(cat err)"
    [ ! -s err ] || fail "analyze printed on a non-terminal: $(cat err)"
    [ "$(wc -l <rig.json)" -eq 1 ] || fail "the JSON is not one line"
    local field
    for field in input width height layout left_eye swap sampling samples_wanted frames_decoded view_width \
        view_height packing view_aspect noise frames sampled measured flat unmatched unusable vertical matches offset \
        q1 q3 agreement low high \
        disparity nearest farthest median nearest_percent farthest_percent median_percent nearest_in_a_frame \
        farthest_in_a_frame geometry fitted_frames rotation_degrees scale_percent centre_offset warnings rotated scaled \
        vertical_drift vertical_spread depth_inverted too_deep diverges proposal needs_alignment align_horz align_vert aligned_width \
        aligned_height needs_cropping crop_x crop_y crop_width crop_height cropped_width cropped_height nearest_after \
        farthest_after screens screen width_mm distance_mm range_degrees farthest_mm commands frame_records time verdict \
        vertical_matches horizontal_matches vertical_median; do
        grep -q "\"$field\":" rig.json || fail "the JSON lacks $field"
    done
    # Brackets and quotes that pair up: one object, nothing after it.
    awk '{ gsub(/\\./, ""); gsub(/"[^"]*"/, ""); d = 0
           for (i = 1; i <= length($0); i++) { c = substr($0, i, 1); d += (c == "{" || c == "[") - (c == "}" || c == "]")
               if (d < 0 || (d == 0 && i < length($0))) exit 1 }
           exit d != 0 }' rig.json || fail "the JSON is not one well-formed object"
    ok
    expect_value rig.json - sampling decoding
    expect_value rig.json frames sampled 48
    expect_value rig.json frames measured 48 4
    expect_value rig.json vertical offset 6 1
    # The red ball and the backdrop: -19.2 and 7.68 pixels.
    expect_value rig.json disparity nearest -19 1
    expect_value rig.json disparity farthest 8 1
    expect_value rig.json warnings rotated false
    expect_value rig.json warnings vertical_drift false
    expect_value rig.json proposal align_vert -6 1
    [ "$(sample_times rig.json | wc -l)" -eq 48 ] || fail "not 48 frame records"

    run_proposal rig.mkv
    [ -s rig-aligned.mkv ] && [ -s rig-cropped.mkv ] || fail "the proposal wrote $(ls)"
    "$ocuvex" analyze --json rig-cropped.mkv >again.json || fail "analyze cropped.mkv"
    expect_value again.json vertical offset 0
    expect_value again.json disparity nearest 0 1
    expect_value again.json proposal needs_alignment false
    # The cropped views keep the measured views' shape (640x360).
    awk -v w="$(json_value again.json - view_width)" -v h="$(json_value again.json - view_height)" \
        'BEGIN { d = w / h - 640 / 360; exit !(d < 0.01 && d > -0.01) }' || fail "cropped views lost their shape"
    ok
}

# --- a turned or scaled right view is warned of, levelled at its centre
case_warnings() {
    render_rig 1 turned.png --rig-rotate 1 --rig-vertical 4
    render_rig 1 scaled.png --rig-scale 2
    "$ocuvex" analyze --json turned.png >turned.json && "$ocuvex" analyze turned.png >turned.txt ||
        fail "analyze turned.png"
    expect_value turned.json warnings rotated true
    expect_value turned.json geometry rotation_degrees 1 0.1
    expect_value turned.json proposal align_vert -4 1
    grep -q "^warning: the views are turned +1.0[0-9] degrees against each other: no offset fixes that" turned.txt ||
        fail "no turn warning: $(cat turned.txt)"
    "$ocuvex" analyze --json scaled.png >scaled.json || fail "analyze scaled.png"
    expect_value scaled.json warnings scaled true
    expect_value scaled.json geometry scale_percent 2 0.2
    expect_value scaled.json proposal align_vert 0 1
}

# --- above/below and rows, the eyes by convention, metadata and --swap, and
# the commands proposed for each carried out
case_layouts() {
    render_rig 6 sbs.mkv --rig-vertical 6 -- -c:v ffv1
    ff -i sbs.mkv -vf stereo3d=sbsl:abl -c:v ffv1 ab.mkv
    ff -i sbs.mkv -vf stereo3d=sbsl:abl -c:v ffv1 -metadata:s:v stereo_mode=top_bottom ab_tagged.mkv
    ff -i sbs.mkv -vf stereo3d=sbsl:irl -c:v ffv1 rows.mkv
    ff -i sbs.mkv -vf stereo3d=sbsl:irl,pad=iw:ih+1:0:1 -c:v ffv1 rows_odd.mkv
    # Without metadata the left eye is where convert's modes take the left
    # view: an above/below picture's lower half, the odd lines of an even
    # height; ffmpeg's abl and irl put it in the top half and on line 0.
    while read -r want args; do
        [ -n "$want" ] || continue
        # shellcheck disable=SC2086
        "$ocuvex" analyze -q --json $args >out.json 2>err || fail "analyze $args: $(cat err)"
        expect_value out.json vertical offset "$want"
    done <<'LIST'
6 sbs.mkv
-6 --swap sbs.mkv
-6 --layout above-below ab.mkv
6 --layout above-below --swap ab.mkv
6 ab_tagged.mkv
-6 --layout rows rows.mkv
-6 --layout rows rows_odd.mkv
LIST
    expect_value out.json - left_eye "the even lines"
    # ffmpeg's abl puts the left eye on top, where convert takes the right
    # one: the depth comes out inside out, and a note says so.
    "$ocuvex" analyze --layout above-below ab.mkv >out.txt || fail "analyze ab.mkv"
    grep -q "^note: most of the picture lies in front of the screen .* it was taken to be in the bottom half by convention); analyse with --swap" \
        out.txt || fail "no note on inverted depth: $(cat out.txt)"
    "$ocuvex" analyze --layout above-below --swap ab.mkv >out.txt || fail "analyze --swap ab.mkv"
    ! grep -q "^note: most of the picture" out.txt || fail "a note on inverted depth the right way round: $(cat out.txt)"
    "$ocuvex" analyze ab_tagged.mkv >out.txt 2>err
    grep -q "above-below, left eye in the top half" out.txt || fail "metadata's layout: $(head -1 out.txt)"
    "$ocuvex" analyze --layout side-by-side ab_tagged.mkv >/dev/null 2>err
    grep -q "'ab_tagged.mkv' says its pictures are above/below, left eye in the top half; they are read as side-by-side" \
        err || fail "no note on the metadata set aside: $(cat err)"
    ok

    # The views level, the nearest content at the screen, once the proposal
    # is carried out: through ab-to-sbs, and with --swap (which the last
    # command carries; the result then says the left eye is on the right).
    run_proposal ab_tagged.mkv
    [ -s ab_tagged-sbs.mkv ] || fail "no ab_tagged-sbs.mkv: $(ls)"
    "$ocuvex" analyze --json ab_tagged-cropped.mkv >again.json || fail "analyze the above/below proposal's result"
    expect_value again.json vertical offset 0
    expect_value again.json disparity nearest 0 1
    run_proposal --swap sbs.mkv
    "$ocuvex" analyze --swap --json sbs-cropped.mkv >again.json || fail "analyze the swapped proposal's result"
    expect_value again.json vertical offset 0
    expect_value again.json disparity nearest 0 1
}

# --- half packings: views squeezed to the frame's shape, read with --half;
# every proposed command carries --half, converts, and the result displays
# at 16:9, the views' shape
case_half() {
    # Half side by side: two 320x360 views in a 640x360 frame of square pixels.
    "${OCUVEX_RENDER_SAMPLE:?the sample renderer}" --texture --view-size 320x360 --frames 12 --rig-vertical 5 |
        ff -f rawvideo -pix_fmt bgr0 -s 640x360 -r 24 -i - -vf setsar=1 -c:v libx264 -crf 23 -pix_fmt yuv420p \
            half.mkv || fail "cannot make half.mkv"
    "$ocuvex" analyze --half --json half.mkv >half.json || fail "analyze --half half.mkv"
    expect_value half.json - packing half
    expect_value half.json - view_aspect 16:9
    expect_value half.json vertical offset 5 1
    run_proposal --half half.mkv
    [ "$(grep -c '^ *ocuvex convert --half ' summary.txt)" -eq 2 ] || fail "commands without --half: $(cat summary.txt)"
    [ "$(stream_value half-cropped.mkv v:0 display_aspect_ratio)" = 16:9 ] ||
        fail "half-cropped.mkv displays at $(stream_value half-cropped.mkv v:0 display_aspect_ratio)"
    # Read as full, the views display at 8:9, half as wide on a screen: the
    # depth looks half as deep.
    "$ocuvex" analyze --json half.mkv >full.json || fail "analyze half.mkv"
    expect_value full.json - packing full
    expect_value full.json - view_aspect 8:9
    near "$(json_value full.json - range_degrees)" "$(awk -v d="$(json_value half.json - range_degrees)" \
        'BEGIN { print d / 2 }')" 0.02 || fail "the depth as full: $(json_value full.json - range_degrees) degrees"
    ok

    # Half above/below, the left eye on top as its metadata says: ab-to-sbs
    # --half makes a frame that displays at 16:9, and so does the crop.
    "$OCUVEX_RENDER_SAMPLE" --texture --view-size 960x270 --frames 8 --rig-vertical -3 |
        ff -f rawvideo -pix_fmt bgr0 -s 1920x270 -r 24 -i - -vf stereo3d=sbsl:abl,setsar=1 -c:v ffv1 \
            -metadata:s:v stereo_mode=top_bottom ab_half.mkv || fail "cannot make ab_half.mkv"
    run_proposal --half ab_half.mkv
    [ "$(grep -c '^ *ocuvex convert --half ' summary.txt)" -eq 3 ] || fail "commands without --half: $(cat summary.txt)"
    local file
    for file in ab_half-sbs.mkv ab_half-cropped.mkv; do
        [ "$(stream_value "$file" v:0 display_aspect_ratio)" = 16:9 ] ||
            fail "$file displays at $(stream_value "$file" v:0 display_aspect_ratio)"
    done
    "$ocuvex" analyze --half --json ab_half-cropped.mkv >again.json || fail "analyze ab_half-cropped.mkv"
    expect_value again.json vertical offset 0
    expect_value again.json - view_aspect 16:9
}

# --- frames spread over the whole file: key frames by seeking, decoding on
# where key frames are sparse, pipes decoded through, a still picture once
case_sampling() {
    ff -f lavfi -i "testsrc2=size=320x180:rate=25:duration=2" -c:v libx264 -preset ultrafast -g 25 two.mkv
    ff -stream_loop 59 -i two.mkv -c copy long.mkv
    ff -f lavfi -i "testsrc2=size=320x180:rate=25:duration=20" -c:v libx264 -preset ultrafast -g 1000 onekey.mkv
    ff -i onekey.mkv -c copy onekey.ts
    ff -f lavfi -i "testsrc2=size=320x180" -frames:v 1 still.png
    # check_spread FILE.json LENGTH SAMPLES: one sample in each of SAMPLES
    # equal stretches of LENGTH seconds, in order.
    check_spread() {
        sample_times "$1" | awk -v span="$2" -v n="$3" '
            { stretch = int($1 / span * n); if (stretch != NR - 1) { print "sample " NR " at " $1 " s"; bad = 1 } }
            END { if (NR != n) { print NR " samples"; bad = 1 }; exit bad }' >spread.txt ||
            fail "$1: $(cat spread.txt)"
        ok
    }
    "$ocuvex" analyze --json --frames 20 long.mkv >long.json || fail "analyze long.mkv"
    expect_value long.json - sampling seeking
    check_spread long.json 120 20
    # A key frame each: decoded alone, and the first frame besides.
    expect_value long.json - frames_decoded 21
    "$ocuvex" analyze --json --frames 20 onekey.mkv >onekey.json || fail "analyze onekey.mkv"
    expect_value onekey.json - sampling seeking
    check_spread onekey.json 20 20
    # One key frame: decoded on through the file, once.
    local decoded
    decoded=$(json_value onekey.json - frames_decoded)
    [ "$decoded" -le 501 ] || fail "onekey.mkv: $decoded frames decoded for 500"
    # A pipe of unknown length: every Nth frame, thinned out as it goes.
    cat onekey.ts | "$ocuvex" analyze --json --frames 20 - >pipe.json || fail "analyze a pipe"
    expect_value pipe.json - sampling decoding
    expect_value pipe.json - frames_decoded 500
    sample_times pipe.json | awk 'NR == 1 && $1 != 0 { exit 1 } $1 <= last && NR > 1 { exit 1 } { last = $1; n++ }
        END { exit !(n >= 10 && n <= 20 && last > 15) }' || fail "pipe samples: $(sample_times pipe.json | paste -sd' ')"
    ok
    "$ocuvex" analyze --json still.png >still.json || fail "analyze still.png"
    expect_value still.json - sampling still
    expect_value still.json frames sampled 1
    # Flat frames are counted, and nothing is proposed.
    ff -f lavfi -i "color=black:size=320x180:rate=25:duration=4" -c:v libx264 -preset ultrafast black.mkv
    "$ocuvex" analyze --json --frames 10 black.mkv >black.json || fail "analyze black.mkv"
    expect_value black.json frames flat 10
    expect_value black.json proposal measured false
    grep -q '"commands":\[\]' black.json || fail "commands proposed for black frames"
    "$ocuvex" analyze --frames 10 black.mkv | grep -q "nothing measured" || fail "black frames: no 'nothing measured'"
    ok
}

# --- a progress line on a terminal only
case_progress() {
    ff -f lavfi -i "testsrc2=size=320x180:rate=25:duration=2" -c:v libx264 -preset ultrafast -g 25 two.mkv
    ff -stream_loop 29 -i two.mkv -c copy long.mkv
    "$ocuvex" analyze --frames 12 long.mkv >out.txt 2>err && [ ! -s err ] || fail "printed on a non-terminal: $(cat err)"
    if command -v script >/dev/null; then
        script -qec "'$ocuvex' analyze --frames 12 long.mkv" /dev/null >tty.txt
        grep -q "sample 12/12" tty.txt || fail "no progress line on a terminal: $(cat -v tty.txt)"
        script -qec "'$ocuvex' analyze -q --frames 12 long.mkv" /dev/null >tty.txt
        ! grep -q "sample " tty.txt || fail "--quiet still showed progress: $(cat -v tty.txt)"
    fi
    ok
}

# --- failures as convert has them: one line, status 1 (input) or 2 (usage)
case_failures() {
    echo 'just some text' >text.mp4
    ff -f lavfi -i "sine=duration=0.5" sound.wav
    ff -f lavfi -i "testsrc2=size=64x36:rate=10:duration=1" -c:v ffv1 ok.mkv
    head -c 1000 ok.mkv >truncated.mkv
    mkdir -p folder
    expect() {  # STATUS MESSAGE -- ARGUMENTS...
        local status=$1 message=$2
        shift 3
        "$ocuvex" "$@" >out 2>err </dev/null
        local got=$?
        [ "$got" -eq "$status" ] || fail "ocuvex $* exited $got, wanted $status: $(cat err)"
        grep -q -- "$message" err || fail "ocuvex $*: message lacks '$message': $(cat err)"
        [ "$(wc -l <err)" -eq 1 ] || fail "ocuvex $*: not one line: $(cat err)"
        [ ! -s out ] || fail "ocuvex $* printed a result: $(cat out)"
        ok
    }
    expect 1 "cannot read 'missing.mkv': No such file or directory" -- analyze missing.mkv
    expect 1 "cannot read 'folder': Is a directory" -- analyze folder
    expect 1 "'text.mp4' is not a video or image FFmpeg can read" -- analyze text.mp4
    expect 1 "'sound.wav' has no video stream" -- analyze sound.wav
    expect 1 "'truncated.mkv' has no frame that can be decoded" -- analyze truncated.mkv
    expect 2 "analyze: expected one INPUT" -- analyze
    expect 2 "analyze: expected one INPUT" -- analyze ok.mkv ok.mkv
    expect 2 "unknown option '--bogus'" -- analyze --bogus ok.mkv
    expect 2 "--frames: expected 1 to 1000: '0'" -- analyze --frames 0 ok.mkv
    expect 2 "--layout: expected side-by-side, above-below or rows: 'diagonal'" -- analyze --layout diagonal ok.mkv
    expect 2 "--json: takes no value" -- analyze --json=yes ok.mkv
    "$ocuvex" --help | grep -q "^  analyze " || fail "ocuvex --help does not list analyze"
    "$ocuvex" analyze --help | grep -q "^usage: ocuvex analyze" || fail "no analyze --help"
    ok
}

run_case

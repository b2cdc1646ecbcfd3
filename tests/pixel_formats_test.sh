#!/usr/bin/env bash
# `ocuvex convert` on the decoded frame's own pixel format, on clips made by
# the ffmpeg program at test time (64x36, five frames): every copy mode that
# ffmpeg's stereo3d filter also makes gives its very output, plane for plane
# and frame for frame, in five pixel formats (deinterlaced 4:2:0 included);
# half and full packings give stereo3d's pixels and aspect, and a full input
# squeezed to half is ffmpeg's scale in its own format; bit depth and colour
# tags are kept; an odd crop of 4:2:0 works in 4:4:4 and is written in
# 4:2:0, and says so; centering's fill colour lands in the source's own
# numbers; the anaglyph goes through RGB with the source's matrix and range;
# H.264 at an odd size says which profile it gets; ffv1 takes pictures one
# pixel wide; palette and packed 4:2:2 sources are converted once. One case
# per CTest test (see --list).
# shellcheck source=tests/media_test_lib.sh
source "$(dirname "$0")/media_test_lib.sh"

# make_source NAME PIX_FMT [extra ffmpeg output arguments]: 64x36, 5 frames
# of testsrc2 in PIX_FMT, lossless (rawvideo in NUT takes every format).
make_source() {
    local name=$1 format=$2
    shift 2
    ff -f lavfi -i "testsrc2=size=64x36:rate=10:duration=0.5" -pix_fmt "$format" "$@" -c:v rawvideo "$name" || {
        echo "cannot make $name"
        exit 1
    }
}

# tagged_source NAME PIX_FMT TAGS [extra output arguments]: the same in
# Matroska (NUT keeps no colour tags), tagged by setparams (TAGS: its
# options, e.g. colorspace=bt709); ffmpeg 7.1 wants a range as an output
# option too (-color_range pc).
tagged_source() {
    local name=$1 format=$2 tags=$3
    shift 3
    ff -f lavfi -i "testsrc2=size=64x36:rate=10:duration=0.5" -vf "format=$format,setparams=$tags" "$@" -c:v ffv1 \
        "$name" || {
        echo "cannot make $1"
        exit 1
    }
}

# Each decoded frame's size and checksum, one a line (no timestamps).
frame_sums() { ff -i "$1" -map 0:v -f framemd5 - | grep -v '^#' | awk -F', *' '{ print $5, $6 }'; }
pix_fmt() { stream_value "$1" v:0 pix_fmt; }
size_of() { echo "$(stream_value "$1" v:0 width)x$(stream_value "$1" v:0 height)"; }
# The bytes of frame 0 of FILE as decoded (its own pixel format), from
# OFFSET, COUNT of them, as decimal numbers separated by spaces.
frame_bytes() {  # FILE OFFSET COUNT [unit: 1 or 2 bytes]
    ff -i "$1" -frames:v 1 -f rawvideo - | od -An -v -j "$2" -N "$(($3 * ${4:-1}))" -tu"${4:-1}" | xargs
}

# convert_quiet ARGS...: exit 0, nothing printed (notes go under --quiet).
convert_quiet() {
    "$ocuvex" convert -q "$@" 2>err || fail "ocuvex convert -q $*: $(cat err)"
    [ ! -s err ] || fail "ocuvex convert -q $* printed: $(cat err)"
}

# Our copy modes and the stereo3d layouts that make the same picture: our
# left view of above/below is the lower half (the first rows in memory), of
# interlaced rows the odd picture lines (the even memory rows).
stereo3d_cases='nop - sbsl:sbsl
nop --swap sbsl:sbsr
deinterlace - irr:sbsl
deinterlace --swap irr:sbsr
deinterlace --swap irl:sbsl
sbs-to-ab - sbsl:abr
sbs-to-ab --swap sbsl:abl
ab-to-sbs - abr:sbsl
ab-to-sbs --swap abr:sbsr'

# Every such mode, with and without swap, against stereo3d on the same
# source: the same pixel format and the same frames. Interlaced rows of
# 4:2:0 give each view the chroma rows of its own parity, as stereo3d does.
check_stereo3d() {  # PIX_FMT
    local format=$1 mode swap layout
    make_source src.nut "$format"
    while read -r mode swap layout; do
        [ "$swap" = - ] && swap=
        rm -f ours.nut theirs.nut
        # shellcheck disable=SC2086
        "$ocuvex" convert --quiet --codec rawvideo --mode "$mode" $swap src.nut ours.nut 2>err ||
            fail "$format $mode $swap: $(cat err)"
        ff -i src.nut -vf "stereo3d=$layout" -c:v rawvideo theirs.nut
        if [ "$(pix_fmt ours.nut)" != "$(pix_fmt theirs.nut)" ]; then
            fail "$format $mode $swap: ours is $(pix_fmt ours.nut), stereo3d=$layout's $(pix_fmt theirs.nut)"
        elif [ "$(frame_sums ours.nut)" != "$(frame_sums theirs.nut)" ] || [ "$(frame_sums ours.nut | wc -l)" -ne 5 ]; then
            fail "$format $mode $swap: frames differ from stereo3d=$layout's"
        else
            ok
        fi
    done <<<"$stereo3d_cases"
}
case_stereo3d_yuv420p() { check_stereo3d yuv420p; }
case_stereo3d_yuv422p10le() { check_stereo3d yuv422p10le; }
case_stereo3d_yuv444p12le() { check_stereo3d yuv444p12le; }
case_stereo3d_gbrp() { check_stereo3d gbrp; }
case_stereo3d_bgr0() { check_stereo3d bgr0; }

# "WxH SAR DAR" of FILE's video.
aspect() {
    probe -select_streams v:0 -show_entries stream=width,height,sample_aspect_ratio,display_aspect_ratio \
        -of csv=p=0 "$1" | head -n 1 | awk -F, '{ print $1 "x" $2, $3, $4 }'
}

# Every mode, full and half, either swap, on a 64x36 source of square
# pixels (16:9): where stereo3d has the same layouts (sbs2l, ab2l and full
# ones, in and out) the same aspect, and (+) the same pixels, which --half
# leaves as they are (stereo3d_* compare every layout's); elsewhere the
# shape written after =. Half in, half out by default; --output-packing
# full of a half input only declares the aspect.
half_cases='--mode nop --half|sbs2l:sbs2l
--mode nop --half --swap --output-packing full|sbs2l:sbsr
--mode sbs-to-ab --swap|sbsl:abl
--mode sbs-to-ab --half|+sbs2l:ab2r
--mode sbs-to-ab --half --swap|sbs2l:ab2l
--mode sbs-to-ab --half --output-packing full|sbs2l:abr
--mode ab-to-sbs|abr:sbsl
--mode ab-to-sbs --half --swap|+ab2r:sbs2r
--mode ab-to-sbs --half --output-packing full|ab2r:sbsl
--mode anaglyph|sbsl:arcd
--mode anaglyph --half --swap|sbs2r:arcd
--mode deinterlace|=128x18 1:4 16:9
--mode deinterlace --swap --output-packing full|=128x18 1:2 32:9
--mode centering --center-width 8 --half --swap|=72x36 1:1 2:1
--mode alignment --align-horz 2 --half|=60x36 1:1 5:3
--mode cropping --crop-width 16 --crop-height 12 --swap|=32x12 1:1 8:3'
case_half_packings() {
    make_source src.nut yuv420p
    local options want layout
    while IFS='|' read -r options want; do
        rm -f ours.nut theirs.nut
        # shellcheck disable=SC2086
        "$ocuvex" convert --quiet --codec rawvideo $options src.nut ours.nut 2>err || fail "$options: $(cat err)"
        case $want in
        =*) [ "$(aspect ours.nut)" = "${want#=}" ] || fail "$options: $(aspect ours.nut), not ${want#=}" ;;
        *)
            layout=${want#+}
            ff -i src.nut -vf "stereo3d=$layout" -c:v rawvideo theirs.nut
            [ "$(aspect ours.nut)" = "$(aspect theirs.nut)" ] ||
                fail "$options: $(aspect ours.nut), stereo3d=$layout's $(aspect theirs.nut)"
            [ "$want" = "$layout" ] || [ "$(frame_sums ours.nut)" = "$(frame_sums theirs.nut)" ] ||
                fail "$options: frames differ from stereo3d=$layout's"
            ;;
        esac
        ok
    done <<<"$half_cases"
}

# A full input to a half output: the converted frame squeezed to half its
# width (side by side) or height (above/below) in the source's own pixel
# format, as ffmpeg's scale does it, each view showing at its full shape
# squeezed.
case_squeeze() {
    make_source src.nut yuv420p10le
    local options want filters
    while IFS='|' read -r options filters want; do
        rm -f ours.nut theirs.nut
        # shellcheck disable=SC2086
        "$ocuvex" convert --quiet --codec rawvideo --output-packing half $options src.nut ours.nut 2>err ||
            fail "$options: $(cat err)"
        ff -i src.nut -vf "$filters" -c:v rawvideo theirs.nut
        [ "$(pix_fmt ours.nut)" = yuv420p10le ] && [ "$(aspect ours.nut)" = "$want" ] ||
            fail "$options: $(pix_fmt ours.nut) $(aspect ours.nut), not yuv420p10le $want"
        [ "$(frame_sums ours.nut)" = "$(frame_sums theirs.nut)" ] || fail "$options: frames differ from $filters"
        ok
    done <<'LIST'
--mode nop --swap|stereo3d=sbsl:sbsr,scale=32:36:flags=bicubic|32x36 1:1 8:9
--mode sbs-to-ab|stereo3d=sbsl:abr,scale=32:36:flags=bicubic|32x36 1:1 8:9
LIST
}

# 10 bits in, 10 bits out, with the colour tags (BT.2020, PQ) as they are;
# 12 bits into H.264 become the 10 it takes, with a note.
case_bit_depth() {
    tagged_source hdr.mkv yuv420p10le color_primaries=bt2020:color_trc=smpte2084:colorspace=bt2020nc:range=tv
    convert_quiet --mode sbs-to-ab hdr.mkv ab.mp4
    convert_quiet --codec ffv1 --mode sbs-to-ab hdr.mkv ab.mkv
    local want="yuv420p10le,tv,bt2020nc,smpte2084,bt2020"
    for out in ab.mp4 ab.mkv; do
        local got
        got=$(probe -select_streams v -show_entries stream=pix_fmt,color_range,color_space,color_primaries,color_transfer \
            -of csv=p=0 "$out" | sed 's/,*$//')
        [ "$got" = "$want" ] || fail "$out is $got, not $want"
    done
    [ "$(stream_value ab.mp4 v:0 profile)" = "High 10" ] || fail "ab.mp4 is not High 10"
    ff -i hdr.mkv -vf stereo3d=sbsl:abr -c:v rawvideo want.nut
    [ "$(frame_sums ab.mkv)" = "$(frame_sums want.nut)" ] || fail "the lossless 10-bit output lost bits"
    ok
    make_source deep.nut yuv422p12le
    "$ocuvex" convert deep.nut deep.mp4 2>err || fail "12-bit to H.264: $(cat err)"
    [ "$(pix_fmt deep.mp4)" = yuv422p10le ] || fail "12-bit 4:2:2 into H.264 is $(pix_fmt deep.mp4)"
    [ "$(cat err)" = "ocuvex: note: libx264 takes no yuv422p12le; 'deep.mp4' is yuv422p10le" ] ||
        fail "12-bit note: $(cat err)"
    ok
}

# A crop whose window starts on an odd column of 4:2:0: the job works in
# 4:4:4, converted once as ffmpeg converts, then cropped as ffmpeg crops,
# and the file is 4:2:0 again, as ffmpeg's format=yuv420p makes it; one
# line says so, none under --quiet.
case_chroma_fallback() {
    make_source src.nut yuv420p
    local crop="--mode cropping --crop-x 1 --crop-y 3 --crop-width 9 --crop-height 11"
    # shellcheck disable=SC2086
    "$ocuvex" convert --codec rawvideo $crop src.nut ours.nut 2>err || fail "odd crop: $(cat err)"
    [ "$(cat err)" = "ocuvex: note: these settings do not fall on yuv420p's chroma samples; the pictures are \
converted once to yuv444p, so that no chroma moves by part of a sample, and written in yuv420p where the encoder \
takes it" ] || fail "odd crop note: $(cat err)"
    ff -i src.nut -filter_complex \
        "format=yuv444p,split[a][b];[a]crop=9:11:1:3[l];[b]crop=9:11:33:3[r];[l][r]hstack,format=yuv420p" \
        -c:v rawvideo theirs.nut
    [ "$(pix_fmt ours.nut)" = yuv420p ] || fail "odd crop of yuv420p gives $(pix_fmt ours.nut)"
    [ "$(frame_sums ours.nut)" = "$(frame_sums theirs.nut)" ] || fail "odd crop differs from ffmpeg's"
    # Deinterlaced 4:2:0 stays 4:2:0 in H.264 (High, which plays everywhere).
    convert_quiet --mode deinterlace src.nut fields.mp4
    [ "$(pix_fmt fields.mp4),$(stream_value fields.mp4 v:0 profile)" = "yuv420p,High" ] ||
        fail "deinterlaced 4:2:0 into H.264: $(pix_fmt fields.mp4),$(stream_value fields.mp4 v:0 profile)"
    # An odd height in H.264 takes no 4:2:0: the nearest it takes.
    # shellcheck disable=SC2086
    convert_quiet $crop src.nut odd.mp4
    [ "$(pix_fmt odd.mp4)" = yuv422p ] || fail "odd crop into H.264 gives $(pix_fmt odd.mp4)"
    # shellcheck disable=SC2086
    convert_quiet --codec rawvideo $crop src.nut quiet.nut
    # An even window stays in 4:2:0, and silent.
    "$ocuvex" convert --codec rawvideo --mode cropping --crop-x 2 --crop-y 4 --crop-width 10 --crop-height 12 \
        src.nut even.nut 2>err
    [ "$(pix_fmt even.nut)" = yuv420p ] && [ ! -s err ] || fail "even crop: $(pix_fmt even.nut), $(cat err)"
    ok
}

# Centering's margins in the source's own numbers: red (ff0000) in BT.709
# limited and full range, 8 and 10 bits, and in planar GBR.
case_fill_colour() {
    local range
    for range in tv pc; do
        tagged_source "$range.mkv" yuv420p "colorspace=bt709:range=$range" -color_range "$range"
        convert_quiet --codec ffv1 --mode centering --center-width 8 --fill-color ff0000 "$range.mkv" "c_$range.mkv"
    done
    # 72x36 4:2:0: Y rows of 72, then U and V planes of 36x18; margin at column 0.
    [ "$(frame_bytes c_tv.mkv 0 2) $(frame_bytes c_tv.mkv 2592 1) $(frame_bytes c_tv.mkv 3240 1)" = "63 63 102 240" ] ||
        fail "limited BT.709 red: $(frame_bytes c_tv.mkv 0 2) $(frame_bytes c_tv.mkv 2592 1) $(frame_bytes c_tv.mkv 3240 1)"
    [ "$(frame_bytes c_pc.mkv 0 2) $(frame_bytes c_pc.mkv 2592 1) $(frame_bytes c_pc.mkv 3240 1)" = "54 54 99 255" ] ||
        fail "full BT.709 red: $(frame_bytes c_pc.mkv 0 2) $(frame_bytes c_pc.mkv 2592 1) $(frame_bytes c_pc.mkv 3240 1)"
    [ "$(stream_value c_pc.mkv v:0 color_range)" = pc ] || fail "the full range tag was lost"
    tagged_source ten.mkv yuv420p10le colorspace=bt709
    convert_quiet --codec rawvideo --mode centering --center-width 8 --fill-color ff0000 ten.mkv c_ten.nut
    [ "$(frame_bytes c_ten.nut 0 1 2) $(frame_bytes c_ten.nut 5184 1 2) $(frame_bytes c_ten.nut 6480 1 2)" = \
        "250 409 960" ] || fail "10-bit limited red: $(frame_bytes c_ten.nut 0 1 2)"
    make_source gbr.nut gbrp
    convert_quiet --codec rawvideo --mode centering --center-width 8 --fill-color 3366cc gbr.nut c_gbr.nut
    # Planes G, B, R of 72x36 each.
    [ "$(frame_bytes c_gbr.nut 0 1) $(frame_bytes c_gbr.nut 2592 1) $(frame_bytes c_gbr.nut 5184 1)" = "102 204 51" ] ||
        fail "gbrp fill: $(frame_bytes c_gbr.nut 0 1) $(frame_bytes c_gbr.nut 2592 1) $(frame_bytes c_gbr.nut 5184 1)"
    ok
}

# The anaglyph reads a full-range BT.709 source as such (here its left view
# passes through), and its H.264 output is tagged with what it is written in.
case_anaglyph_colour() {
    ff -f lavfi -i "color=black:size=16x8:rate=10:duration=0.3,format=yuv444p,geq=lum=100:cb=90:cr=180" \
        -vf setparams=colorspace=bt709:range=pc -color_range pc -c:v ffv1 full.mkv
    local left=1,0,0,0,0,0,0,1,0,0,0,0,0,0,1,0,0,0
    convert_quiet --codec ffv1 --mode anaglyph --coefficients "$left" full.mkv rgb.mkv
    # B, G, R of (Y, Cb, Cr) = (100, 90, 180) in full-range BT.709: 29.5,
    # 82.8, 181.9 (BT.601 limited would give 10, 62, 187), as libswscale
    # rounds them (FFmpeg 7.1 a little differently from 5.1).
    local bgr
    read -r -a bgr <<<"$(frame_bytes rgb.mkv 0 3)"
    near "${bgr[0]:-0}" 29.5 1.5 && near "${bgr[1]:-0}" 82.8 1.5 && near "${bgr[2]:-0}" 181.9 1.5 ||
        fail "anaglyph input colour: ${bgr[*]}"
    convert_quiet --mode anaglyph --coefficients "$left" full.mkv out.mp4
    [ "$(probe -select_streams v -show_entries stream=color_range,color_space -of csv=p=0 out.mp4)" = "tv,bt709" ] ||
        fail "anaglyph output tags: $(probe -select_streams v -show_entries stream=color_range,color_space -of csv=p=0 out.mp4)"
    # BT.709 limited luma of that RGB: 16 + 219 * 100.2 / 255.
    near "$(frame_bytes out.mp4 0 1)" 102 1 || fail "anaglyph output luma $(frame_bytes out.mp4 0 1)"
    # PQ: a warning, the job done all the same.
    ff -i full.mkv -vf setparams=color_trc=smpte2084:color_primaries=bt2020:colorspace=bt2020nc -c:v ffv1 pq.mkv
    "$ocuvex" convert --codec ffv1 --mode anaglyph pq.mkv pq_out.mkv 2>err || fail "PQ anaglyph failed: $(cat err)"
    grep -q "^ocuvex: warning: the anaglyph is defined on pixel values, and these are BT.2020 HDR (PQ) ones" err &&
        [ "$(wc -l <err)" -eq 1 ] || fail "PQ anaglyph warning: $(cat err)"
    ok
}

# H.264 at an odd size: 4:4:4 (or 4:2:2 with only the height odd), and a
# note naming the profile and the way to a widely playable file.
case_odd_size_h264() {
    ff -f lavfi -i "testsrc2=size=64x36:rate=10:duration=0.5,format=rgb24,crop=63:36:0:0" -pix_fmt yuv420p -c:v ffv1 wide.mkv
    ff -f lavfi -i "testsrc2=size=64x36:rate=10:duration=0.5,format=rgb24,crop=64:35:0:0" -pix_fmt yuv420p -c:v ffv1 tall.mkv
    "$ocuvex" convert wide.mkv wide.mp4 2>err || fail "odd width: $(cat err)"
    [ "$(pix_fmt wide.mp4),$(stream_value wide.mp4 v:0 profile)" = "yuv444p,High 4:4:4 Predictive" ] ||
        fail "odd width: $(pix_fmt wide.mp4),$(stream_value wide.mp4 v:0 profile)"
    [ "$(cat err)" = "ocuvex: note: 'wide.mp4' is 63x36 pixels and H.264 takes 4:2:0 only with even sides, so it is \
yuv444p, profile High 4:4:4 Predictive, which browsers and most hardware players cannot play; settings that give even \
sides make a widely playable file" ] || fail "odd width note: $(cat err)"
    "$ocuvex" convert tall.mkv tall.mp4 2>err || fail "odd height: $(cat err)"
    [ "$(pix_fmt tall.mp4),$(stream_value tall.mp4 v:0 profile)" = "yuv422p,High 4:2:2" ] ||
        fail "odd height: $(pix_fmt tall.mp4),$(stream_value tall.mp4 v:0 profile)"
    grep -q "so it is yuv422p, profile High 4:2:2," err || fail "odd height note: $(cat err)"
    convert_quiet wide.mkv quiet.mp4
    ok
}

# ffv1 on pictures 1 pixel wide, and 1 pixel high.
case_tiny_ffv1() {
    ff -f lavfi -i "testsrc2=size=64x64:rate=10:duration=0.3,format=bgr0,crop=2:16:0:0" -c:v rawvideo narrow.nut
    convert_quiet --codec ffv1 --mode sbs-to-ab narrow.nut one.mkv
    [ "$(size_of one.mkv)" = "1x32" ] || fail "1-pixel-wide ffv1: $(size_of one.mkv)"
    [ "$(frame_count one.mkv)" -eq 3 ] || fail "1-pixel-wide ffv1: $(frame_count one.mkv) frames"
    ff -f lavfi -i "testsrc2=size=64x64:rate=10:duration=0.3,format=yuv444p,crop=16:2:0:0" -c:v rawvideo flat.nut
    convert_quiet --codec ffv1 --mode ab-to-sbs flat.nut low.mkv
    [ "$(size_of low.mkv)" = "32x1" ] || fail "1-pixel-high ffv1: $(size_of low.mkv)"
    ok
}

# Sources whose pixels cannot be moved plane by plane: converted once to the
# nearest format that can, as ffmpeg would convert them, and said.
case_odd_formats() {
    local format want
    for format in pal8 yuyv422; do
        make_source "$format.nut" "$format"
        rm -f ours.nut theirs.nut
        "$ocuvex" convert --codec rawvideo --mode sbs-to-ab "$format.nut" ours.nut 2>err ||
            fail "$format: $(cat err)"
        want=$(pix_fmt ours.nut)
        grep -q "^ocuvex: note: $format pictures cannot be moved plane by plane; they are converted once to $want$" err ||
            fail "$format note: $(cat err)"
        ff -i "$format.nut" -vf "format=$want,stereo3d=sbsl:abr" -c:v rawvideo theirs.nut
        [ "$(frame_sums ours.nut)" = "$(frame_sums theirs.nut)" ] || fail "$format through $want differs from ffmpeg's"
        ok
    done
}

run_case

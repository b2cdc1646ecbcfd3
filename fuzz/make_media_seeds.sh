#!/usr/bin/env bash
# Writes the seeds of media_fuzz once, with the ffmpeg program: tiny files of
# several containers and codecs (32x18 side by side, a few frames, a short
# tone where the container takes audio), each a few KB. They are committed;
# run again only to add containers or codecs.
set -euo pipefail
out="$(cd "$(dirname "$0")" && pwd)/corpus/media_fuzz"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
video=(-f lavfi -i "testsrc2=size=32x18:rate=10:duration=0.5")
audio=(-f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.5")
seed() {  # NAME ffmpeg-output-arguments...: the output file is the last argument
    local name=$1
    shift
    if ffmpeg -nostdin -y -hide_banner -loglevel error "$@" 2>/dev/null; then
        cp "${@: -1}" "$out/seed-$name"
        echo "seed-$name: $(stat -c %s "$out/seed-$name") bytes"
    else
        echo "skipped $name (this ffmpeg cannot make it)"
    fi
}
cd "$work"
seed h264-aac.mkv "${video[@]}" "${audio[@]}" -c:v libx264 -g 3 -bf 1 -c:a aac -b:a 16k a.mkv
seed h264-aac.mp4 "${video[@]}" "${audio[@]}" -c:v libx264 -g 3 -c:a aac -b:a 16k -movflags +faststart a.mp4
seed h264-mp2.ts "${video[@]}" "${audio[@]}" -c:v libx264 -g 3 -c:a mp2 -b:a 32k a.ts
seed hevc.mkv "${video[@]}" -c:v libx265 -x265-params log-level=none a.mkv
seed ffv1-bgr0.mkv "${video[@]}" -pix_fmt bgr0 -c:v ffv1 -frames:v 2 a.mkv
seed mjpeg-pcm.avi "${video[@]}" "${audio[@]}" -c:v mjpeg -q:v 31 -frames:v 2 -c:a pcm_u8 -t 0.2 a.avi
seed vp8-vorbis.webm "${video[@]}" "${audio[@]}" -c:v libvpx -b:v 50k -c:a libvorbis a.webm
seed vp9.webm "${video[@]}" -c:v libvpx-vp9 -b:v 50k a.webm
seed av1.mkv "${video[@]}" -c:v libaom-av1 -cpu-used 8 -b:v 50k a.mkv
seed mpeg2-mp2.mpg "${video[@]}" "${audio[@]}" -c:v mpeg2video -q:v 10 -c:a mp2 -b:a 32k -f mpeg a.mpg
seed mpeg4.mov "${video[@]}" -c:v mpeg4 -q:v 10 a.mov
seed flv1-mp3.flv "${video[@]}" "${audio[@]}" -c:v flv1 -q:v 10 -c:a libmp3lame -b:a 8k -ar 11025 a.flv
seed theora.ogv "${video[@]}" -c:v libtheora -q:v 1 a.ogv
seed gif.gif "${video[@]}" -frames:v 3 a.gif
seed yuv444.y4m "${video[@]}" -pix_fmt yuv444p -frames:v 2 a.y4m
seed h264-annexb.h264 "${video[@]}" -c:v libx264 -g 3 a.h264
seed picture.png "${video[@]}" -frames:v 1 a.png
seed picture.jpg "${video[@]}" -frames:v 1 a.jpg
seed picture.bmp "${video[@]}" -frames:v 1 -pix_fmt bgr24 a.bmp
printf '1\n00:00:00,100 --> 00:00:00,400\nhello\n' >subs.srt
seed subtitles.mkv "${video[@]}" "${audio[@]}" -i subs.srt -map 0 -map 1 -map 2 -c:v libx264 -c:a flac -c:s srt a.mkv
# A transport stream whose picture size changes mid-way.
ffmpeg -nostdin -y -hide_banner -loglevel error -f lavfi -i "testsrc2=size=32x18:rate=10:duration=0.3" \
    -c:v libx264 -bf 0 -f mpegts one.ts
ffmpeg -nostdin -y -hide_banner -loglevel error -f lavfi -i "testsrc2=size=40x24:rate=10:duration=0.3" \
    -c:v libx264 -bf 0 -pix_fmt yuv444p -output_ts_offset 0.3 -f mpegts two.ts
cat one.ts two.ts >"$out/seed-size-change.ts"
echo "seed-size-change.ts: $(stat -c %s "$out/seed-size-change.ts") bytes"

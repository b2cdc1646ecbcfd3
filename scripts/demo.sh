#!/usr/bin/env bash
# The main job: renders the side-by-side sample clip (3 seconds, balls at
# different depths) and converts it with `ocuvex convert` to a red-cyan
# anaglyph video, plus one frame of the source and of the anaglyph as PNG.
# Installs and builds only what that needs: the tool, without the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh tool
cmake --preset tool >/dev/null
cmake --build --preset tool --target ocuvex ocuvex_render_sample >/dev/null
bin=build/tool/tools
out=build/demo
mkdir -p "$out"
"$bin/sample/ocuvex_render_sample" --frames 72 --output "$out/sample_sbs.mkv"
ocuvex=("$bin/ocuvex/ocuvex" convert -y)
"${ocuvex[@]}" --mode anaglyph "$out/sample_sbs.mkv" "$out/sample_anaglyph.mp4"
"${ocuvex[@]}" --mode anaglyph --frame 36 "$out/sample_sbs.mkv" "$out/sample_anaglyph.png"
"${ocuvex[@]}" --frame 36 "$out/sample_sbs.mkv" "$out/sample_sbs.png"
echo "side-by-side source clip: $out/sample_sbs.mkv"
echo "red-cyan anaglyph video:  $out/sample_anaglyph.mp4"
echo "one frame, source:        $out/sample_sbs.png"
echo "one frame, anaglyph:      $out/sample_anaglyph.png"

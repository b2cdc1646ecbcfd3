#!/usr/bin/env bash
# The main job: renders the side-by-side sample and converts it to a
# red-cyan anaglyph.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ocuvex ocuvex_render_sample >/dev/null
bin=build/native/tools
out=build/demo
mkdir -p "$out"
"$bin/sample/ocuvex_render_sample" --frames 1 >"$out/sample_sbs.raw"
"$bin/ocuvex/ocuvex" raw --size 1280x360 --mode anaglyph <"$out/sample_sbs.raw" >"$out/sample_anaglyph.raw"
convert -size 1280x360 -depth 8 BGRA:"$out/sample_sbs.raw" -alpha off "$out/sample_sbs.png"
convert -size 640x360 -depth 8 BGRA:"$out/sample_anaglyph.raw" -alpha off "$out/sample_anaglyph.png"
echo "side-by-side source: $out/sample_sbs.png"
echo "red-cyan anaglyph:   $out/sample_anaglyph.png"

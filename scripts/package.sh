#!/usr/bin/env bash
# Builds Ocuvex.vdf for 32- and 64-bit hosts and packs them into a zip that a
# user unpacks into the editor's folder.
#   scripts/package.sh [ZIP]      (default: build/Ocuvex-1.3.0.zip)
set -euo pipefail
cd "$(dirname "$0")/.."
zip_path=$(realpath -m "${1:-build/Ocuvex-1.3.0.zip}")

for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
mkdir -p "$staging/plugins32" "$staging/plugins64"
cp build/win32/Ocuvex.vdf "$staging/plugins32/Ocuvex.vdf"
cp build/win64/Ocuvex.vdf "$staging/plugins64/Ocuvex.vdf"
cat >"$staging/README.txt" <<'TEXT'
Ocuvex filter 1.3 for VirtualDub
================================

Stereoscopic (3-D) video conversions: swap views, deinterlace field-sequential
stereo, centering margins, red-cyan Dubois anaglyph, side-by-side <-> above/below,
alignment and cropping of both views.

Installation: unpack this archive into the folder that holds VirtualDub.exe.
  plugins32\Ocuvex.vdf   for 32-bit VirtualDub (1.7.2 and later load plugins32,
                         older versions only plugins\: copy it there instead)
  plugins64\Ocuvex.vdf   for 64-bit VirtualDub
Restart VirtualDub and add "Ocuvex filter" from Video > Filters > Add.
TEXT
# Windows line endings for Notepad.
sed -i 's/$/\r/' "$staging/README.txt"

mkdir -p "$(dirname "$zip_path")"
rm -f "$zip_path"
(cd "$staging" && cmake -E tar cf "$zip_path.tmp" --format=zip README.txt plugins32/Ocuvex.vdf plugins64/Ocuvex.vdf)
mv "$zip_path.tmp" "$zip_path"
echo "package: $zip_path"

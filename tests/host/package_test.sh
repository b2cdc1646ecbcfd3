#!/usr/bin/env bash
# The release zip holds exactly the two modules, each the one its preset
# built, and the README.
#   package_test.sh SOURCE_DIR WORKDIR
set -euo pipefail
source_dir=$1 workdir=$2
rm -rf "$workdir"
mkdir -p "$workdir/unpacked"
bash "$source_dir/scripts/package.sh" "$workdir/Ocuvex.zip" >/dev/null
listing=$(cd "$workdir" && cmake -E tar tf Ocuvex.zip | sort | tr '\n' ' ')
if [ "$listing" != "README.txt plugins32/Ocuvex.vdf plugins64/Ocuvex.vdf " ]; then
    echo "package_test: the zip holds [$listing]" >&2
    exit 1
fi
(cd "$workdir/unpacked" && cmake -E tar xf ../Ocuvex.zip)
cmp "$workdir/unpacked/plugins32/Ocuvex.vdf" "$source_dir/build/win32/Ocuvex.vdf"
cmp "$workdir/unpacked/plugins64/Ocuvex.vdf" "$source_dir/build/win64/Ocuvex.vdf"
echo "package_test: zip holds both modules and the README"

#!/usr/bin/env bash
# The module zip that cpack makes from this build tree: named by the
# project's version, it holds exactly the two modules, each the one its
# preset built, and the README, which names the version too.
#   package_test.sh BUILD_DIR WIN32_DIR WIN64_DIR VERSION WORKDIR
set -euo pipefail
build_dir=$1 win32_dir=$2 win64_dir=$3 version=$4 workdir=$5
rm -rf "$workdir"
mkdir -p "$workdir/unpacked"
cpack --config "$build_dir/CPackConfig.cmake" -G ZIP -B "$workdir" >"$workdir/cpack.log" ||
    { cat "$workdir/cpack.log" >&2; exit 1; }
zip=$workdir/Ocuvex-$version.zip
if [ ! -f "$zip" ]; then
    echo "package_test: no $zip; cpack made: $(cd "$workdir" && ls -- *.zip 2>/dev/null)" >&2
    exit 1
fi
listing=$(cmake -E tar tf "$zip" | grep -v "/$" | sort | tr "\n" " ")
if [ "$listing" != "README.txt plugins32/Ocuvex.vdf plugins64/Ocuvex.vdf " ]; then
    echo "package_test: the zip holds [$listing]" >&2
    exit 1
fi
(cd "$workdir/unpacked" && cmake -E tar xf "$zip")
cmp "$workdir/unpacked/plugins32/Ocuvex.vdf" "$win32_dir/Ocuvex.vdf"
cmp "$workdir/unpacked/plugins64/Ocuvex.vdf" "$win64_dir/Ocuvex.vdf"
IFS=. read -r major minor _ <<<"$version"
if [ "$(head -1 "$workdir/unpacked/README.txt")" != $'Ocuvex filter '"$major.$minor"$' for VirtualDub\r' ]; then
    echo "package_test: the README begins '$(head -1 "$workdir/unpacked/README.txt" | tr -d '\r')'" >&2
    exit 1
fi
echo "package_test: $(basename "$zip") holds both modules and the README"

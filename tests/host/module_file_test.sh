#!/usr/bin/env bash
# Checks a built Ocuvex.vdf as a file: architecture, hardening flags, exactly
# the two undecorated exports, only system DLLs imported, stripped, the
# version block and manifest resources, and no x87 arithmetic in the code that
# converts frames (32-bit x87 math would round the anaglyph differently; x87
# loads, stores and truncating conversions of doubles are exact and allowed).
#   module_file_test.sh BITS DLL BUILD_DIR VERSION    (VERSION: the project's, e.g. 1.3.0)
set -euo pipefail

bits=$1 dll=$2 build_dir=$3
# The version block carries four numbers: 1.3.0 is "1, 3, 0, 0".
IFS=. read -r major minor patch tweak <<<"$4"
version="$major, $minor, ${patch:-0}, ${tweak:-0}"
if [ "$bits" = 32 ]; then
    tools=i686-w64-mingw32 format=pei-i386
else
    tools=x86_64-w64-mingw32 format=pei-x86-64
fi
failures=0
fail() {
    echo "module_file_test: $*" >&2
    failures=$((failures + 1))
}

if [ ! -f "$dll" ]; then
    echo "module_file_test: '$dll' is missing: build the win$bits preset first" >&2
    exit 1
fi
headers=$("$tools-objdump" -p "$dll")

grep -q "file format $format" <<<"$headers" || fail "not a $format file"

# Exports: exactly the two entry points, by their plain names.
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^\s*\[\s*[0-9]*\] //p' | sort)
expected_exports=$'VirtualdubFilterModuleDeinit\nVirtualdubFilterModuleInit2'
[ "$exports" = "$expected_exports" ] || fail "exports are [$(tr '\n' ' ' <<<"$exports")], not the two entry points"

# Imports: system DLLs only (no C++ runtime, no threading library).
while read -r name; do
    case ${name,,} in
    kernel32.dll | user32.dll | gdi32.dll | comdlg32.dll | comctl32.dll | advapi32.dll | msvcrt.dll | version.dll) ;;
    *) fail "imports non-system DLL $name" ;;
    esac
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
grep -qi "DLL Name: KERNEL32.dll" <<<"$headers" || fail "no import table"

# ASLR and DEP (and 64-bit ASLR on x86-64).
characteristics=$((16#$(sed -n 's/^DllCharacteristics\s*//p' <<<"$headers")))
((characteristics & 0x40)) || fail "not relocatable (no --dynamicbase)"
((characteristics & 0x100)) || fail "not NX compatible (no --nxcompat)"
if [ "$bits" = 64 ]; then
    ((characteristics & 0x20)) || fail "no high-entropy ASLR (no --high-entropy-va)"
fi

# Stripped: no symbol table, no debug sections.
if "$tools-objdump" -h "$dll" | grep -q '\.debug'; then
    fail "carries debug sections"
fi
if [ -n "$("$tools-nm" "$dll" 2>/dev/null)" ]; then
    fail "carries a symbol table"
fi

# Resources, read back from the file.
resources=$("$tools-windres" -i "$dll" -O rc)
for line in 'LANGUAGE 9, 1' '1 VERSIONINFO' " FILEVERSION $version" " PRODUCTVERSION $version" ' FILEOS 0x4' \
    ' FILETYPE 0x1' 'BLOCK "040904b0"' 'VALUE "Translation", 0x409, 1200' \
    'VALUE "Comments", "Apply various conversions to stereoscopic source video."' \
    'VALUE "FileDescription", "VirtualDUB Ocuvex Filter"' 'VALUE "ProductName", "VirtualDUB Ocuvex Filter"' \
    "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" 'VALUE "InternalName", "Ocuvex"' \
    'VALUE "OriginalFilename", "Ocuvex.vdf"' 'VALUE "CompanyName", ""' 'VALUE "LegalTrademarks", ""' \
    'VALUE "PrivateBuild", ""' 'VALUE "SpecialBuild", ""' 'VALUE "LegalCopyright", "' '2 24 /* RT_MANIFEST */' \
    'requestedExecutionLevel level=""asInvoker"" uiAccess=""false""'; do
    grep -qF -- "$line" <<<"$resources" || fail "resources lack: $line"
done
if grep -q 'FILEFLAGS 0x[1-9a-f]' <<<"$resources"; then
    fail "the version block has file flags"
fi
if [ "$(grep -c '^LANGUAGE' <<<"$resources")" -ne 1 ] && grep -v '^LANGUAGE 9, 1' <<<"$resources" | grep -q '^LANGUAGE'; then
    fail "a resource is not US English"
fi

# No x87 instruction at all in the objects that compute pixels: not even a
# conversion, whose rounding would depend on the host's FPU control word.
objects=$(find "$build_dir/core" "$build_dir/host" -name '*.obj' -path '*ocuvex_core.dir*' -o -name '*.obj' -path '*ocuvex_host_binding.dir*')
[ -n "$objects" ] || fail "no core objects under $build_dir"
for object in $objects; do
    x87=$("$tools-objdump" -d --no-show-raw-insn "$object" | awk -F'\t' 'NF >= 2 { split($2, m, " "); if (m[1] ~ /^f/) print m[1] }' | sort -u | tr '\n' ' ')
    [ -z "$x87" ] || fail "$(basename "$object") uses the x87 unit: $x87"
done

# Every translation unit is compiled for SSE2 double math without contraction.
required_flags=(-ffp-contract=off)
if [ "$bits" = 32 ]; then
    required_flags+=(-msse2 -mfpmath=sse)
fi
commands=$(grep '"command"' "$build_dir/compile_commands.json" || true)
[ -n "$commands" ] || fail "no compile commands in $build_dir"
for flag in "${required_flags[@]}"; do
    if grep -v -q -e "$flag" <<<"$commands"; then
        fail "a translation unit is compiled without $flag"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "module_file_test: $failures check(s) failed for $dll" >&2
    exit 1
fi
echo "module_file_test: $dll passes"

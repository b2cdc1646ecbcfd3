#!/usr/bin/env bash
# End-to-end checks of `ocuvex raw` and `ocuvex geometry` through their
# standard streams and exit statuses.
#   raw_tool_test.sh OCUVEX VERSION    (VERSION: the project's, e.g. 1.3.0)
set -u
ocuvex=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect STATUS STDERR-PATTERN -- command...
expect() {
    local status=$1 pattern=$2
    shift 3
    "$@" >"$work/out" 2>"$work/err" </dev/null
    local got=$?
    [ "$got" -eq "$status" ] || fail "$* exited $got, wanted $status"
    [ -z "$pattern" ] || grep -q -- "$pattern" "$work/err" || fail "$*: stderr lacks '$pattern': $(cat "$work/err")"
}

# Two 4x2 frames of distinct pixels (B, G, R, X bytes).
head -c 64 /dev/urandom >"$work/two_frames"
cat "$work/two_frames" "$work/two_frames" >"$work/four_frames"

# nop copies frames exactly, X bytes included
"$ocuvex" raw --size 4x2 <"$work/four_frames" >"$work/out" || fail "nop failed"
cmp -s "$work/four_frames" "$work/out" || fail "nop did not copy the frames exactly"

# swapping twice gives the input back
"$ocuvex" raw --size 4x2 --swap <"$work/four_frames" | "$ocuvex" raw --size 4x2 --swap >"$work/out"
cmp -s "$work/four_frames" "$work/out" || fail "swap twice is not the identity"

# side-by-side -> above/below -> side-by-side, through the tool's bottom-up view
"$ocuvex" raw --size 4x2 --mode sbs-to-ab <"$work/two_frames" | "$ocuvex" raw --size 2x4 --mode ab-to-sbs >"$work/out"
cmp -s "$work/two_frames" "$work/out" || fail "sbs -> ab -> sbs is not the identity"

# above/below: the left view (first half of each row) ends up at the bottom of the picture
printf 'LLLLRRRR' >"$work/one_row"
"$ocuvex" raw --size 2x1 --mode sbs-to-ab <"$work/one_row" >"$work/out"
[ "$(cat "$work/out")" = "RRRRLLLL" ] || fail "sbs-to-ab put the left view on top: $(cat "$work/out")"

# pixels a mode leaves unwritten come out as 0 (swap on an odd width)
printf 'AAAABBBBCCCC' >"$work/odd_row"
"$ocuvex" raw --size 3x1 --swap <"$work/odd_row" | od -An -c | tr -d ' \n' >"$work/out"
[ "$(cat "$work/out")" = 'BBBBAAAA\0\0\0\0' ] || fail "odd swap gave $(cat "$work/out")"

# a trailing partial frame: message, exit 2, whole frames still written
head -c 100 "$work/four_frames" >"$work/partial"
"$ocuvex" raw --size 4x2 <"$work/partial" >"$work/out" 2>"$work/err"
[ $? -eq 2 ] || fail "partial frame did not exit 2"
grep -q "partial frame" "$work/err" || fail "partial frame message missing"
head -c 96 "$work/four_frames" | cmp -s - "$work/out" || fail "the whole frames before the partial one was lost"

# anaglyph of the Dubois reference pixels: L = (255,0,0), R = black -> (116,0,0)
printf '\x00\x00\xff\x00\x00\x00\x00\x00' | "$ocuvex" raw --size 2x1 --mode anaglyph | od -An -tu1 | tr -s ' ' >"$work/out"
[ "$(cat "$work/out")" = " 0 0 116 0" ] || fail "anaglyph gave $(cat "$work/out")"
printf '\x00\x00\xff\x00\x00\x00\x00\x00' |
    "$ocuvex" raw --size 2x1 --mode anaglyph --coefficients 0,0,0,0,0,0,0,0,0,0,0,0,1,0,0,0,0,0 |
    od -An -tu1 | tr -s ' ' >"$work/out"
[ "$(cat "$work/out")" = " 255 0 0 0" ] || fail "--coefficients not used: $(cat "$work/out")"

# geometry: one JSON line with the corrected settings
json=$("$ocuvex" geometry --size 1280x480 --mode cropping --crop-width 640 2>/dev/null)
want='{"width":2,"height":10,"pitch":8,"settings":{"swap_lr":0,"mode":207,"center_width":0,"align_horz":0,"align_vert":0,"crop_x":0,"crop_y":0,"crop_width":1,"crop_height":10,"fill_color":0},"aspect":{"input_layout":"side-by-side","input_packing":"full","view_aspect":"4:3","output_layout":"side-by-side","output_packing":"full","width":2,"height":10,"squeezed":false,"sample_aspect":"1:1","display_aspect":"1:5"}}'
[ "$json" = "$want" ] || fail "geometry printed $json"
"$ocuvex" geometry --size 1280x480 --mode cropping --crop-width 640 2>&1 >/dev/null | grep -q "corrected" ||
    fail "no notice of the corrected crop width"
json=$("$ocuvex" geometry --size 641x3 --mode anaglyph --fill-color ff8000 --swap)
[ "$json" = '{"width":320,"height":3,"pitch":1280,"settings":{"swap_lr":1,"mode":203,"center_width":0,"align_horz":0,"align_vert":0,"crop_x":0,"crop_y":0,"crop_width":10,"crop_height":10,"fill_color":16744448},"aspect":{"input_layout":"side-by-side","input_packing":"full","view_aspect":"320:3","output_layout":"single","output_packing":null,"width":320,"height":3,"squeezed":false,"sample_aspect":"1:1","display_aspect":"320:3"}}' ] ||
    fail "geometry printed $json"
# geometry's aspect, as convert declares it: a half side-by-side frame to
# above/below, and a full one of 16:15 pixels squeezed for a TV.
aspect_of() { "$ocuvex" geometry "$@" | sed 's/.*"aspect"://'; }
[ "$(aspect_of --size 640x360 --mode sbs-to-ab --half)" = '{"input_layout":"side-by-side","input_packing":"half","view_aspect":"16:9","output_layout":"above-below","output_packing":"half","width":320,"height":720,"squeezed":false,"sample_aspect":"4:1","display_aspect":"16:9"}}' ] ||
    fail "half sbs-to-ab: $(aspect_of --size 640x360 --mode sbs-to-ab --half)"
[ "$(aspect_of --size 1440x576 --sar 16/15 --output-packing half)" = '{"input_layout":"side-by-side","input_packing":"full","view_aspect":"4:3","output_layout":"side-by-side","output_packing":"half","width":720,"height":576,"squeezed":true,"sample_aspect":"16:15","display_aspect":"4:3"}}' ] ||
    fail "squeezed: $(aspect_of --size 1440x576 --sar 16/15 --output-packing half)"

# usage errors: one line, exit 2
expect 2 "size" -- "$ocuvex" raw
expect 2 "size" -- "$ocuvex" raw --size 12
expect 2 "unknown option" -- "$ocuvex" raw --size 2x2 --bogus
expect 2 "32-bit range" -- "$ocuvex" geometry --size 2x2 --crop-x 2147483648
expect 2 "not a whole number" -- "$ocuvex" geometry --size 2x2 --align-horz 1.5
expect 2 "unknown mode" -- "$ocuvex" raw --size 2x2 --mode sideways
expect 2 "unknown command" -- "$ocuvex" frobnicate
expect 2 "larger than 1 GiB" -- "$ocuvex" raw --size 1x1 --mode centering --center-width 2000000000
expect 2 "unknown command" -- "$ocuvex" "$(printf 'bad\nname\033[2J')"
[ "$(wc -l <"$work/err")" -le 1 ] && ! grep -q "$(printf '\033')" "$work/err" ||
    fail "an unknown command was echoed with its control characters"
expect 2 "takes no value" -- "$ocuvex" raw --size 2x2 --help=1
expect 2 "takes no value" -- "$ocuvex" geometry --size 2x2 --swap=yes
expect 2 "missing value" -- "$ocuvex" geometry --size
expect 2 "expected full or half" -- "$ocuvex" geometry --size 2x2 --output-packing quarter
expect 2 "the anaglyph has one picture" -- "$ocuvex" geometry --size 2x2 --mode anaglyph --output-packing full
expect 2 "expected a ratio" -- "$ocuvex" geometry --size 2x2 --sar 0:1
expect 2 "unknown option" -- "$ocuvex" raw --size 2x2 --half
expect 0 "" -- "$ocuvex" raw --help
expect 0 "" -- "$ocuvex" --version
[ "$(cat "$work/out")" = "ocuvex $version" ] || fail "--version printed '$(cat "$work/out")'"
[ "$(wc -l <"$work/err")" -le 1 ] || fail "an error took more than one line"

if [ "$failures" -ne 0 ]; then
    echo "$failures raw tool check(s) failed"
    exit 1
fi
echo "raw tool checks passed"

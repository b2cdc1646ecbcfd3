#!/usr/bin/env bash
# End-to-end checks of how `ocuvex raw` reads and writes its streams: a file
# or a pipe on standard input, frames arriving in odd pieces, a partial last
# frame, a file or a pipe on standard output, a reader that goes away.
# Usage: raw_io_test.sh OCUVEX CASE (one CTest test per case).
set -u
ocuvex=$1
case_name=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 40 frames of 37x29 pixels: odd width (a padded output pitch), rows that are
# no multiple of any pipe or page size.
frame=$((37 * 29 * 4))
head -c $((40 * frame)) /dev/urandom >"$work/frames"
modes=("--mode nop" "--swap" "--mode sbs-to-ab" "--mode anaglyph" "--mode cropping --crop-x 2 --crop-width 9")

# The output of the input as a file, the reference every other way must match.
reference() {  # MODE... ; writes $work/ref
    "$ocuvex" raw --size 37x29 "$@" <"$work/frames" >"$work/ref" || fail "raw $* from a file failed"
}

# Writes the frames in pieces of 1, 7, 4093 and 65537 bytes with pauses, so
# that reads end anywhere in a frame.
trickle() {
    local offset=0 i=0 sizes=(1 7 4093 65537)
    while [ "$offset" -lt $((40 * frame)) ]; do
        local n=${sizes[$((i % 4))]}
        tail -c +$((offset + 1)) "$work/frames" | head -c "$n"
        offset=$((offset + n))
        i=$((i + 1))
        [ $((i % 8)) -ne 0 ] || sleep 0.01
    done
}

case $case_name in
pipe_pieces)
    for mode in "${modes[@]}"; do
        reference $mode
        trickle | "$ocuvex" raw --size 37x29 $mode >"$work/out" || fail "raw $mode from a trickling pipe failed"
        cmp -s "$work/ref" "$work/out" || fail "raw $mode: a trickling pipe gave other bytes than a file"
        dd if="$work/frames" bs=4093 status=none | "$ocuvex" raw --size 37x29 $mode >"$work/out"
        cmp -s "$work/ref" "$work/out" || fail "raw $mode: 4093-byte writes gave other bytes than a file"
    done
    ;;
file_offset)
    # Standard input shared with a command before: frames start where it stopped.
    { dd bs=100 count=1 of=/dev/null status=none && "$ocuvex" raw --size 37x29 >"$work/out" 2>"$work/err"; } <"$work/frames"
    [ $? -eq 2 ] && grep -q "partial frame: $((frame - 100)) of" "$work/err" ||
        fail "frames from offset 100 did not end with a partial frame: $(cat "$work/err")"
    tail -c +101 "$work/frames" | head -c $((39 * frame)) | cmp -s - "$work/out" ||
        fail "frames read from offset 100 are not the file's bytes from there"
    # ... and one after: it finds the offset where reading would have left it.
    { "$ocuvex" raw --size 37x29 >/dev/null && cat >"$work/rest"; } <"$work/frames"
    [ -s "$work/rest" ] && fail "a command after raw read $(stat -c %s "$work/rest") bytes raw left behind"
    ;;
partial_frame)
    head -c $((3 * frame + 1000)) "$work/frames" >"$work/partial"
    for input in file pipe; do
        if [ $input = file ]; then
            "$ocuvex" raw --size 37x29 <"$work/partial" >"$work/out" 2>"$work/err"
        else
            cat "$work/partial" | "$ocuvex" raw --size 37x29 >"$work/out" 2>"$work/err"
        fi
        [ $? -eq 2 ] || fail "a partial frame from a $input did not exit 2"
        grep -q "partial frame: 1000 of $frame bytes" "$work/err" || fail "$input: message $(cat "$work/err")"
        head -c $((3 * frame)) "$work/frames" | cmp -s - "$work/out" || fail "$input: the whole frames were lost"
    done
    ;;
output_targets)
    for mode in "${modes[@]}"; do
        reference $mode
        "$ocuvex" raw --size 37x29 $mode <"$work/frames" | cat >"$work/out"
        cmp -s "$work/ref" "$work/out" || fail "raw $mode: a pipe got other bytes than a file"
        printf 'kept' >"$work/appended"
        "$ocuvex" raw --size 37x29 $mode <"$work/frames" >>"$work/appended"
        { printf 'kept' && cat "$work/ref"; } | cmp -s - "$work/appended" || fail "raw $mode: appending went wrong"
    done
    # More rows than one gathered write takes, at a padded pitch.
    head -c $((3 * 2100 * 4)) /dev/urandom >"$work/tall"
    "$ocuvex" raw --size 3x2100 <"$work/tall" | cmp -s "$work/tall" - || fail "a 3x2100 frame did not copy exactly"
    ;;
reader_leaves)
    # A reader that stops early kills raw with SIGPIPE, as it kills cat ...
    head -c $((4000 * frame)) /dev/zero >"$work/long"
    "$ocuvex" raw --size 37x29 <"$work/long" | head -c 10 >/dev/null
    status=${PIPESTATUS[0]}
    [ "$status" -eq 141 ] || fail "raw exited $status when its reader left, wanted 141 (SIGPIPE)"
    # ... and where SIGPIPE is ignored, raw says so and exits 1.
    (
        trap '' PIPE
        "$ocuvex" raw --size 37x29 <"$work/long" 2>"$work/err" | head -c 10 >/dev/null
        exit "${PIPESTATUS[0]}"
    )
    status=$?
    [ "$status" -eq 1 ] || fail "raw exited $status with SIGPIPE ignored, wanted 1"
    grep -q "cannot write to standard output: Broken pipe" "$work/err" || fail "message $(cat "$work/err")"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "more than one line of error"
    ;;
cut_short)
    # Another process truncates the file raw is reading: one line and exit 1,
    # not a crash. The output pipe fills up first, so raw is mid-run.
    head -c $((4000 * frame)) /dev/urandom >"$work/long"
    mkfifo "$work/fifo"
    "$ocuvex" raw --size 37x29 <"$work/long" >"$work/fifo" 2>"$work/err" &
    raw=$!
    exec 3<"$work/fifo"
    head -c $((10 * frame)) <&3 >/dev/null
    truncate -s $((20 * frame)) "$work/long"
    cat <&3 >/dev/null
    exec 3<&-
    wait "$raw"
    status=$?
    [ "$status" -eq 1 ] || fail "raw exited $status when its input was truncated, wanted 1"
    grep -q "cannot read standard input: the file was cut short" "$work/err" || fail "message $(cat "$work/err")"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) of $case_name failed"
    exit 1
fi
echo "$case_name passed"

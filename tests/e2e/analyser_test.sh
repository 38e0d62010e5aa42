#!/usr/bin/env bash
# Tessaly and Orbisca on a private JACK server: the software loopback (-t)
# looks as the in-process rendering does; the loop cable (a pure delay) and the
# open loop (silence) both draw a flat trace on the 0 dB line; -b2048 is shown
# in the read-out; Escape ends each run with status 0.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
rig_xvfb_start || fail "no X server"
rig_jack_start "e2e-analyser-$$" 256 || fail "no JACK server"

# Runs PROGRAM with OPTIONS, optionally with the cable, until CHECK succeeds on
# its screenshot (at most 30 s); leaves shot.png, the last one, for the verdict.
run() { rig_measure_until "$BUILD_DIR/rtresponse/$1" "$2" 30 "$work/shot.png" "$3" "${@:4}"; }

# -t: the screenshot equals the in-process rendering, but for single rows of
# the trace where a level sits on a rounding boundary.
like_rendering() {
    differing=$(compare -metric AE "$work/shot.png" "$work/expected.ppm" null: 2>&1)
    [ "$differing" -le 8 ] 2>/dev/null
}
for program in tessaly orbisca; do
    "$BUILD_DIR/tools/analyser_render" "$program" 200000 system 64 "$work/expected.ppm" || fail "analyser_render"
    run "$program" none like_rendering -t
    like_rendering || fail "$program -t: $differing pixels differ from the in-process rendering"
    echo "$program -t: $differing pixels differ from the in-process rendering"
done

# A pure delay is flat: every bin at the mean level, the 0 dB line (row 100 / 300).
flat() { rig_row_is_green "$work/shot.png" 0 "$1" "$2"; }
run tessaly cable "flat 990 100"
flat 990 100 || fail "tessaly with the cable: the trace is not flat on the 0 dB line"
run orbisca cable "flat 980 300"
flat 980 300 || fail "orbisca with the cable: the trace is not flat on the 0 dB line"

# Silence reads -190 dB in every bin: flat on the 0 dB line as well.
run tessaly none "flat 990 100"
flat 990 100 || fail "tessaly without the cable: the trace is not flat"

# -b2048 is shown in the read-out.
shows_2048() { rig_text_shows "$work/shot.png" 1025 301 "@2,277,14=buffer size : 2048"; }
run tessaly cable shows_2048 -b2048
shows_2048 || fail "-b2048 not shown"

echo "PASS"

#!/usr/bin/env bash
# Karvel on a private JACK server with the loop cable karvel:out_0 -> karvel:in_0,
# at periods 64, 256 and 1024: the read-out and the trace show the delay that
# jack_iodelay reports for the same server, plus the one frame that PortAudio's
# one-frame full-duplex callbacks add. Without the cable the peak stays 0.00.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
karvel="$BUILD_DIR/latency/karvel"
rig_xvfb_start || fail "no X server"

# Checks that the screenshot's read-out line at window row ROW shows TEXT in yellow.
readout_shows() { rig_text_shows "$work/shot.png" 1001 201 "@2,$1,14=$2"; }

pixel() { convert "$work/shot.png" -format "%[pixel:p{$1,$2}]" info:; }

# Runs karvel -b64 for SECONDS with or without the cable; leaves shot.png.
measure() { rig_measure "$karvel" "$2" "$1" "$work/shot.png" -b64; }

# The read-out at the loop's delay and, where the trace shows it, the trace's
# peak 85 pixels above the zero line (window row 15) in column delay: what a
# converged filter shows (about 3 s on an idle machine, more on a busy one).
converged() {
    readout_shows 177 "peak pos    : $delay (${ms}ms)" &&
        { [ "$delay" -gt 1000 ] || [ "$(pixel "$delay" 15)" = "srgb(85,255,85)" ]; }
}

for period in 64 256 1024; do
    rig_jack_start "e2e-karvel-$period-$$" "$period" || fail "no JACK server"
    reference=$(rig_iodelay_frames)
    [ -n "$reference" ] || fail "period $period: jack_iodelay measured nothing"
    delay=$((reference + 1))
    ms=$(awk -v d="$delay" 'BEGIN { printf "%.1f", d / 48 }')
    rig_measure_until "$karvel" cable 40 "$work/shot.png" converged -b64
    readout_shows 177 "peak pos    : $delay (${ms}ms)" \
        || fail "period $period: jack_iodelay $reference frames, read-out is not \"peak pos    : $delay (${ms}ms)\""
    readout_shows 157 "buffer size : 64" || fail "period $period: buffer size read-out"
    [ "$delay" -gt 1000 ] || [ "$(pixel "$delay" 15)" = "srgb(85,255,85)" ] || fail "period $period: no trace peak in column $delay"
    echo "period $period: jack_iodelay $reference frames, karvel $delay frames"
    rig_cleanup
    rig_xvfb_start || fail "no X server"
done

rig_jack_start "e2e-karvel-open-$$" 256 || fail "no JACK server"
measure 4 none
readout_shows 167 "peak val    : 0.00" || fail "without the cable the peak is not 0.00"
readout_shows 177 "peak pos    : 0 (0.0ms)" || fail "without the cable the peak position is not 0"

echo "PASS"

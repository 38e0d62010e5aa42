#!/usr/bin/env bash
# Morvane under Xvfb on two private JACK servers at once: one run with the loop
# cable morvane:out_0 -> morvane:in_0, one with the software loopback (-t).
# After about half a minute both traces lie within 0.2 dB (20 rows) of the
# 0 dB line over bins 100 to 923: a pure delay is flat, and so is the
# loopback's response there; the loopback's trace also shows its falling band
# edges. The buffer-size read-out shows the size after its fall-back, Escape
# ends each run with status 0, and nothing is printed. (morvane -h is in
# usage_test.sh.)
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
morvane="$BUILD_DIR/response/morvane"
settle=34  # seconds of adaptation before the screenshot

rig_xvfb_start || fail "no X server"
cable_server="e2e-morvane-cable-$$"
loop_server="e2e-morvane-loop-$$"
rig_jack_start "$loop_server" 256 || fail "no JACK server"
rig_jack_start "$cable_server" 256 || fail "no JACK server"

# The window of one process (two windows share the title).
window_of() {
    local pid="$1" id
    for _ in $(seq 150); do
        id=$(timeout 2 xdotool search --all --pid "$pid" --name "Morvane.exe" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# Checks that screenshot SHOT shows TEXT in yellow with its top row at ROW, x = 2.
readout_shows() { rig_text_shows "$1" 1025 301 "@2,$2,14=$3"; }

# ---- the two measurements, side by side -----------------------------------------
# One after the other, so that their audio start-ups do not compete.
JACK_DEFAULT_SERVER="$cable_server" "$morvane" -b256 >"$work/cable.out" 2>&1 &
cable_pid=$!
JACK_DEFAULT_SERVER="$cable_server" rig_wait_port morvane:in_0 15 ||
    fail "cable run: no ports (running: $(kill -0 $cable_pid 2>/dev/null && echo yes || echo no))"
JACK_DEFAULT_SERVER="$cable_server" jack_connect morvane:out_0 morvane:in_0 || fail "no cable"
JACK_DEFAULT_SERVER="$loop_server" "$morvane" -t -b100 >"$work/loop.out" 2>&1 &
loop_pid=$!
JACK_DEFAULT_SERVER="$loop_server" rig_wait_port morvane:out_0 15 ||
    fail "loopback run: no ports (running: $(kill -0 $loop_pid 2>/dev/null && echo yes || echo no))"
cable_id=$(window_of $cable_pid) || fail "cable run: no window ($(cat "$work/cable.out"))"
loop_id=$(window_of $loop_pid) || fail "loopback run: no window ($(cat "$work/loop.out"))"
# Side by side, not overlapping: a screenshot reads the window's pixels on screen.
xdotool windowmove "$cable_id" 0 0
xdotool windowmove "$loop_id" 0 400
# A JACK cycle skipped on a loaded machine disturbs the model for a while: past
# the settling time the traces are looked at again, up to 30 s more, until both
# are flat (the band edges below are checked on the last screenshot).
sleep "$settle"
flat() {
    rig_shot "$cable_id" "$work/cable.png" || fail "no screenshot of the cable run"
    rig_shot "$loop_id" "$work/loop.png" || fail "no screenshot of the loopback run"
    why=$(rig_trace_within "$work/cable.png" 100 923 80 120) || { why="cable: $why"; return 1; }
    why=$(rig_trace_within "$work/loop.png" 100 923 80 120) || { why="loopback: $why"; return 1; }
}
looks=1
until flat; do
    [ $looks -ge 30 ] && break
    looks=$((looks + 1))
    sleep 1
done
[ $looks -gt 1 ] && echo "the traces looked at $looks times past the settling time (last: ${why:-flat})"

for run in cable loop; do
    [ $run = cable ] && { id=$cable_id; pid=$cable_pid; } || { id=$loop_id; pid=$loop_pid; }
    rig_escape_ends "$id" $pid "$run run" "$work/$run.out"
done

# Mid-band: rows 80 .. 120 are the 0 dB line (row 100) +- 0.2 dB.
why=$(rig_trace_within "$work/cable.png" 100 923 80 120) || fail "cable: mid-band trace not flat within 0.2 dB: $why"
why=$(rig_trace_within "$work/loop.png" 100 923 80 120) || fail "loopback: mid-band trace not flat within 0.2 dB: $why"
readout_shows "$work/cable.png" 277 "buffer size : 256" || fail "cable: buffer size read-out is not 256"
readout_shows "$work/loop.png" 277 "buffer size : 64" || fail "loopback: buffer size read-out is not 64 after -b100"

# The loopback's band edges: bin 1023 about 1.82 dB down (window row 282),
# within 0.1 dB: the lowest green pixel of column 1023 (which also holds the
# lower half of the stroke from bin 1022) lies in rows 272 .. 292. The stroke
# from the DC bin, far below, reaches the bottom row in column 1.
edge=$(rig_green_pixels "$work/loop.png" 1023 1023 | awk 'BEGIN { m = -1 } $2 > m { m = $2 } END { print m }')
[ "$edge" -ge 272 ] && [ "$edge" -le 292 ] || fail "loopback: bin 1023 not about 1.82 dB down (lowest row $edge)"
[ "$(convert "$work/loop.png" -format "%[pixel:p{1,300}]" info:)" = "$RIG_GREEN" ] || fail "loopback: no stroke from the DC bin"

echo "PASS"

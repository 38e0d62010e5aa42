#!/usr/bin/env bash
# loopcheck on a stand-in for a real card on a PipeWire desktop, through
# pw-jack at quantum 1024: PipeWire splits a card into a sink and a source, so
# the rig's "Card sink" and apart from it the virtual source "Card source",
# with loopsim between the sink's monitor and the source's input as the cable
# and the converters. loopcheck with --out-device sink --in-device source
# measures PipeWire's own round trip (loopsim at 0 frames) and, at 3000 frames
# (beyond Karvel's 2000 taps), exactly 3000 frames more; with -d on the sink
# alone its input is the sink's monitor: it measures one quantum, says so and
# ends with status 6 (0 with --allow-monitor), and -q prints nothing.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
rig_pipewire_start 1024 || fail "no PipeWire session"

# loopcheck OPTIONS... through pw-jack, its output in $work/out; fails unless it ends with status 0.
check() {
    timeout 60 pw-jack "$loopcheck" "$@" >"$work/out" 2>"$work/err"
    local status=$?
    [ $status = 0 ] || fail "loopcheck $*: exit status $status: $(cat "$work/out" "$work/err")"
}
# jq EXPRESSION on $work/out with $own; fails unless it is true, or unless
# the JSON holds to its schema.
json_holds() {
    rig_json_check "$work/out" || fail "loopcheck's JSON breaks docs/loopcheck.schema.json"
    jq -e --argjson own "${own:-0}" "def near(x; y; t): (x - y) | fabs <= t; $1" "$work/out" >/dev/null ||
        fail "loopcheck's JSON fails $1: $(cat "$work/out")"
}

for delay in 0 3000; do
    rig_loopsim_start --delay $delay || fail "no loopsim"
    jack_connect "Card sink:monitor_FL" loopsim:in && jack_connect loopsim:out "Card source:input_FL" ||
        fail "cannot wire loopsim between the card's sink and source"
    check --out-device "Card sink" --in-device "Card source" --json
    json_holds '.device.output.name == "Card sink" and .device.input.name == "Card source" and .buffer.granted == 1024'
    json_holds '.flags.input_is_monitor == false and .runs[0].polarity == "normal" and near(.runs[0].gain_db; 0; 0.01)'
    if [ $delay = 0 ]; then
        own=$(jq '.summary.mean_frames' "$work/out")
        # PipeWire's own round trip is whole quanta.
        json_holds 'near(.summary.mean_frames; (.summary.mean_frames / 1024 | round) * 1024; 0.01) and .summary.mean_frames >= 1024'
    else
        json_holds 'near(.summary.mean_frames; $own + 3000; 0.01)'
    fi
    echo "loopsim $delay frames: loopcheck $(jq '.summary.mean_frames' "$work/out") frames," \
        "jack_iodelay $(rig_iodelay_frames "Card sink:playback_FL" "Card source:capture_FL") frames"
    rig_stop $RIG_LOOPSIM_PID
done

# loopcheck OPTIONS... through pw-jack; fails unless it ends with status 6, the monitor's.
check_monitor() {
    timeout 60 pw-jack "$loopcheck" "$@" >"$work/out" 2>"$work/err"
    local status=$?
    [ $status = 6 ] || fail "loopcheck $* on the monitor: exit status $status, not 6: $(cat "$work/out" "$work/err")"
}
check_monitor -d "Card sink"
grep -q "^input is an output's monitor" "$work/out" || fail "no monitor verdict: $(cat "$work/out")"
check_monitor -d "Card sink" -q
[ ! -s "$work/out" ] || fail "-q printed a monitor's latency: $(cat "$work/out")"
check_monitor -d "Card sink" --json --expect 1024
json_holds '.status == "monitor input" and .flags.input_is_monitor and .expect.pass == false and near(.summary.mean_frames; 1024; 0.01)'
check -d "Card sink" --allow-monitor
grep -q "^warning: the input is an output's monitor" "$work/out" || fail "no monitor warning: $(cat "$work/out")"
check -d "Card sink" --json --allow-monitor
json_holds '.status == "ok" and .flags.input_is_monitor and near(.summary.mean_frames; 1024; 0.01)'
echo "PASS"

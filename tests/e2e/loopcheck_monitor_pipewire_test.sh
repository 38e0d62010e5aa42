#!/usr/bin/env bash
# loopcheck --monitor through PipeWire's JACK face on a private headless
# session at quantum 1024: the rig's stand-in card ("Card sink", and apart
# from it the virtual source "Card source") with loopsim between the sink's
# monitor and the source's input as the cable. A clean 30 s: no glitch, exit
# status 0, the drift 0 within 0.1 ppm (one clock). The xruns the stream's log
# counted during the run are printed beside the result, whatever they are.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
rig_pipewire_start 1024 || fail "no PipeWire session"
rig_loopsim_start --delay 0 || fail "no loopsim"
jack_connect "Card sink:monitor_FL" loopsim:in && jack_connect loopsim:out "Card source:input_FL" ||
    fail "cannot wire loopsim between the card's sink and source"
timeout 90 pw-jack "$loopcheck" --out-device "Card sink" --in-device "Card source" --monitor 30s --json -q \
    >"$work/out" 2>"$work/err"
status=$?
summary=$(tail -1 "$work/out")
echo "PipeWire's JACK face, 30 s: exit status $status, $(jq -c '{glitches, by_kind, xruns, drift_ppm,
    drift_ppm_uncertainty, residue_db}' <<<"$summary" 2>/dev/null)"
jq -r 'select(.event == "glitch") | "glitch: \(.)"' "$work/out" 2>/dev/null
[ "$status" = 0 ] || fail "exit status $status: $summary $(cat "$work/err")"
jq -e '.event == "summary" and .glitches == 0 and .duration_s == 30 and (.drift_ppm | fabs) < 0.1' <<<"$summary" \
    >/dev/null || fail "not clean: $summary"
echo "PASS"

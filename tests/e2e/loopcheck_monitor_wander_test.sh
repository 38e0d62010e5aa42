#!/usr/bin/env bash
# loopcheck --monitor 60s through loopsim on a private JACK server (dummy
# backend, period 1024, 48000 Hz) on a quiet loop that wanders: noise at
# -110 dBFS, the clock's offset wandering 0.3 ppm RMS with a 2 s correlation
# time, and a step of its rate from 0 to 1 ppm 30 s into the stimulus. The
# truth is loopsim's own log: its clock lines (every 10 ms) give the realised
# drift. Judged: no glitch and exit status 0; the step reported as one `rate`
# change within 1 s of where loopsim made it, its rates either side within
# 0.5 ppm of 0 and 1; the summary followed to the end (`locked`); and the drift's
# 95 % interval covering loopsim's realised drift over the span the summary
# names (drift_from_s to drift_to_s).
#
# Why 60 s, no shorter: the interval is to cover a drift over 30 correlation
# times of wander, and the step needs a stretch of the slopes either side of
# it well beyond the wander's time to stand out of it; at 30 s the stretch
# after the step is 7 correlation times, where the issue's offline tables
# show the coverage still holds but the step's frame scatters by seconds. Its
# cost: about 65 s of wall time and, measured on the test machine, some 5 s of
# processor time (loopcheck's detector about 1 s a minute at 48 kHz, loopsim's
# resampler and the server the rest).
#
# Where loopsim's frames are in loopcheck's (as loopcheck_monitor_test.sh
# lines them up): loopsim's output frame `out` reaches loopcheck at stream
# frame S0 + out + (L - D), S0 the first sound's stream frame, L the loop's
# latency, D loopsim's --delay; a monitor frame is the stimulus's stream
# frame plus it.
#
# A run the server disturbed (it logged a late client, or loopcheck's stream
# flagged an xrun) that fails is run again, up to three times; disturbed in
# every attempt, the test says so and ends as skipped (77).
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
rate=48000
delay=3000
step_s=30

rig_jack_start "loopcheck-wander-$$" 1024 $rate || fail "no JACK server"

# The realised drift over the summary's span, from loopsim's clock lines at
# the frames nearest its ends: (delay change) / (input frames) x 1e6.
realised_drift() {
    local out="$work/run.out" sim="$work/run.sim" s0 stim offset from to
    s0=$(head -1 "$out" | jq -r .first_sound_stream_frame)
    stim=$(head -1 "$out" | jq -r .stimulus.stream_frame)
    offset=$(head -1 "$out" | jq -r ".latency_frames - $delay")
    from=$(tail -1 "$out" | jq -r "($stim + .drift_from_s * $rate) - $s0 - $offset")
    to=$(tail -1 "$out" | jq -r "($stim + .drift_to_s * $rate) - $s0 - $offset")
    awk -v a="$from" -v b="$to" '/^clock / {
        delete v
        for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
        if (!na || (v["out"] - a)^2 < (oa - a)^2) { oa = v["out"]; ia = v["in"]; da = v["delay"]; na = 1 }
        if (!nb || (v["out"] - b)^2 < (ob - b)^2) { ob = v["out"]; ib = v["in"]; db = v["delay"]; nb = 1 } }
        END { printf "%.6f\n", (db - da) / (ib - ia) * 1e6 }' "$sim"
}

# judge: prints what is wrong with the attempt, nothing when it is right.
judge() {
    local out="$work/run.out" sim="$work/run.sim"
    [ "$status" = 0 ] || echo "exit status $status, not 0"
    tail -1 "$out" | jq -e '.event == "summary" and .glitches == 0 and .locked and .changes_by_kind.rate == 1' \
        >/dev/null || echo "the summary: $(tail -1 "$out" | jq -c '{glitches, by_kind, changes_by_kind, locked}')"
    local s0 stim offset
    s0=$(head -1 "$out" | jq -r .first_sound_stream_frame)
    stim=$(head -1 "$out" | jq -r .stimulus.stream_frame)
    offset=$(head -1 "$out" | jq -r ".latency_frames - $delay")
    # The step: loopsim's clock line at it (its ppm is 1 plus the wander there).
    local step_out
    step_out=$(awk -v r=$rate -v t=$step_s '/^clock / { split($2, kv, "="); if (kv[2] + 0 == t * r) { print kv[2]; exit } }' "$sim")
    [ -n "$step_out" ] || { echo "loopsim logged no clock line at its step"; return; }
    jq -r -s --argjson s0 "$s0" --argjson stim "$stim" --argjson offset "$offset" --argjson at "$step_out" \
        --argjson tol $rate '[.[] | select(.event == "change" and .kind == "rate")] |
        if length != 1 then "\(length) rate changes reported, not 1"
        else .[0] | (($stim + .frame) - ($s0 + $at + $offset)) as $d |
            if ($d | fabs) > $tol then "the rate change reported \($d) frames from loopsim'"'"'s step"
            elif (.rate_before_ppm | fabs) > 0.5 or (.rate_after_ppm - 1 | fabs) > 0.5 then
                "the rate change reads \(.rate_before_ppm) to \(.rate_after_ppm) ppm"
            else empty end end' "$out"
    tail -1 "$out" | jq -e --argjson r "$realised" '(.drift_ppm - $r | fabs) <= .drift_ppm_interval_95' >/dev/null ||
        echo "the drift's interval misses loopsim's realised drift $realised ppm: $(tail -1 "$out" |
            jq -c '{drift_ppm, drift_ppm_interval_95, drift_from_s, drift_to_s}')"
}

for attempt in 1 2 3; do
    [ "$attempt" = 1 ] || rig_hold_builds 75  # the next attempt without the builds beside it
    : >"$work/run.sim"
    rig_loopsim_start --cable loopcheck --log "$work/run.sim" --delay $delay --gain 0.5 --noise -110 \
        --wander 0.3,2,$attempt --clock-log 0.01 --rate-step $step_s.0,1 || fail "no loopsim"
    before=$(wc -l <"$RIG_JACK_LOG")
    timeout 150 "$loopcheck" --monitor 60s --json >"$work/run.out" 2>"$work/run.err"
    status=$?
    server_xruns=$(tail -n +$((before + 1)) "$RIG_JACK_LOG" | grep -c XRun)
    rig_stop "$RIG_LOOPSIM_PID"
    rig_json_check "$work/run.out" || fail "attempt $attempt: a line breaks docs/loopcheck.schema.json"
    realised=$(realised_drift)
    verdict=$(judge)
    flagged=$(tail -1 "$work/run.out" | jq .xruns)
    summary=$(tail -1 "$work/run.out" | jq -c '{glitches, changes, drift_ppm, drift_ppm_interval_95, residue_db,
        false_glitches_per_hour, followed_s}')
    if [ -z "$verdict" ]; then
        echo "ok (attempt $attempt; loopsim's realised drift $realised ppm): $summary"
        echo "$(jq -c 'select(.event == "change")' "$work/run.out")"
        echo "PASS"
        exit 0
    fi
    [ "$server_xruns" = 0 ] && [ "$flagged" = 0 ] && fail "$verdict
$summary
$(jq -c 'select(.event == "glitch" or .event == "change")' "$work/run.out" | head -20)"
    echo "attempt $attempt disturbed (the server logged $server_xruns xruns, loopcheck's stream $flagged): $verdict"
done
echo "SKIP: the server was late in every attempt: the machine is too busy to judge it"
exit 77

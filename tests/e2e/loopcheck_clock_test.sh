#!/usr/bin/env bash
# The interface's clock against the system's (loopcheck's "clock:" line and
# JSON clock_rate) on a private JACK dummy server, through loopsim. The dummy
# backend sleeps on the system's clock, so the truth is 0 ppm; its period is
# 240 frames at 48000 Hz, 5000 us exactly (at 256 the period is a fraction of
# a microsecond, which a server may round). Checked:
#   - --monitor 10s (CLOCK_SECONDS: 60 under the "long" label): the figure is
#     there, its interval under 50 ppm, and 0 ppm within it, with 20 ppm more
#     for the server's own wake-ups (on a loaded machine the dummy server's
#     cycles, which it times itself, were seen to run 5 to 10 ppm slow over 10 s
#     when its wake-ups came late in spells);
#   - a plain run of 6 s (--settle 6): the figure is there; a plain run of
#     under a second has none (null: shorter than 5 s);
#   - --buffers 240 --soak 5: the size's row has the figure, by the same
#     bounds, over its latency and soak together (some 6.5 s), in the table.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
seconds="${CLOCK_SECONDS:-10}"

rig_jack_start "loopcheck-clock-$$" 240 48000 || fail "no JACK server"
rig_loopsim_start --cable loopcheck --delay 100 || fail "no loopsim"

# within FILE WHAT [PATH]: the clock_rate of the last line of FILE (at PATH,
# .clock_rate by default): there, narrow enough, and 0 within its interval and
# the server's margin.
within() {
    local file="$1" what="$2" path="${3:-.clock_rate}"
    tail -1 "$file" | jq -e "$path"' | . != null and .ppm_uncertainty < 50 and
        (.ppm | fabs) <= .ppm_uncertainty + 20 and .segments >= 1 and (.rate_hz - 48000 | fabs) < 5' >/dev/null ||
        fail "$what: clock_rate $(tail -1 "$file" | jq -c "$path")"
    echo "ok   $what: $(tail -1 "$file" | jq -c "$path")"
}

timeout $((seconds + 60)) "$loopcheck" --monitor "${seconds}s" --json >"$work/monitor.out" 2>"$work/monitor.err"
status=$?
[ $status = 0 ] || [ $status = 7 ] || fail "--monitor ${seconds}s: status $status: $(cat "$work/monitor.err")"
rig_json_check "$work/monitor.out" || fail "--monitor: the lines do not hold to the schema"
within "$work/monitor.out" "--monitor ${seconds}s"

if [ "$seconds" -le 10 ]; then
    timeout 60 "$loopcheck" --settle 6 --json >"$work/plain.out" 2>"$work/plain.err" ||
        fail "--settle 6: status $?: $(cat "$work/plain.err")"
    rig_json_check "$work/plain.out" || fail "--settle 6: the report does not hold to the schema"
    within "$work/plain.out" "a plain run of 6 s"
    timeout 60 "$loopcheck" --settle 6 >"$work/plain.txt" 2>&1 || fail "--settle 6 (text): status $?"
    grep -q "^clock: 4[0-9.]* Hz on the system's monotonic clock, [-+][0-9.]* ± [0-9.]* ppm over [0-9.]* s" \
        "$work/plain.txt" || fail "--settle 6: no clock line: $(cat "$work/plain.txt")"
    timeout 60 "$loopcheck" --json >"$work/short.out" 2>"$work/short.err" || fail "plain run: status $?"
    jq -e '.clock_rate == null' "$work/short.out" >/dev/null ||
        fail "a plain run under 5 s gave a clock rate: $(jq -c .clock_rate "$work/short.out")"
    echo "ok   a plain run under 5 s: clock_rate null"
    timeout 60 "$loopcheck" --buffers 240 --soak 5 --json >"$work/buffers.out" 2>"$work/buffers.err"
    status=$?
    [ $status = 0 ] || [ $status = 5 ] || fail "--buffers 240 --soak 5: status $status: $(cat "$work/buffers.err")"
    rig_json_check "$work/buffers.out" || fail "--buffers: the report does not hold to the schema"
    within "$work/buffers.out" "--buffers 240 --soak 5, its row" ".buffers[0].clock_rate"
    jq -e '.buffers[0].clock_rate_reason == null' "$work/buffers.out" >/dev/null || fail "--buffers: a reason beside the figure"
fi
echo PASS

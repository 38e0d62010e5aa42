#!/usr/bin/env bash
# Time to a result: loopcheck against jack_iodelay on the same loops, on
# private JACK servers (dummy backend, 48000 Hz) at periods 64, 256 and 1024,
# through loopsim paths whose round trips reach 8192 frames. loopsim plugs
# itself into each program's ports the moment they exist (--cable), so
# neither waits for a script to wire it.
#   jack_iodelay: from its start to its first reading within 0.01 frame of
#     its last (it runs for RUN_S seconds, 4 by default, and never ends by itself);
#   loopcheck: from its start to its exit with the latency printed (-q): a
#     script waits for the exit, not for a line; and the same with --response.
# Each figure is the median of TRIES (5) runs. Prints a Markdown table and the
# ratios loopcheck / jack_iodelay; then how soon loopsim's cable follows
# loopcheck's ports (jack_evmon's events, time-stamped as they come).
#
#   bench/time_to_result.sh     (after tools/build.sh)
set -u
cd "$(dirname "$0")/.."
export SOURCE_DIR=$PWD BUILD_DIR="${BUILD_DIR:-$PWD/build}"
. tools/rig.sh
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck" tries=${TRIES:-5} run_s=${RUN_S:-4}

# Prints each line of standard input after the seconds since START.
# Bash's own clock per line (no process per line: a date and an awk each
# took 15 ms and stamped a burst of lines late), made relative to START at the end.
stamp() {
    while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done |
        awk -v s="$1" '{ $1 = sprintf("%.3f", $1 - s); print }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "-" }'; }

# loopsim with a cable to CLIENT[:OUT:IN] and the path's options.
loopsim_start() { rig_loopsim_start "${@:2}" --cable "$1" || fail "no loopsim"; }

# Seconds from jack_iodelay's start to its first reading within 0.01 of its last.
iodelay_time() {
    local start
    start=$(date +%s.%N)
    timeout -k 1 "$run_s" stdbuf -o0 jack_iodelay 2>/dev/null | stdbuf -o0 tr '\r' '\n' | stamp "$start" >"$work/iodelay"
    awk '$3 == "frames" && / total roundtrip/ { t[++n] = $1; v[n] = $2 }
         END { if (!n) { print "-"; exit } for (i = 1; i <= n; i++) if (v[i] - v[n] <= 0.01 && v[n] - v[i] <= 0.01) { print t[i]; exit } }' \
        "$work/iodelay"
}
iodelay_value() { awk '$3 == "frames" && / total roundtrip/ { v = $2 } END { print v }' "$work/iodelay"; }

# Seconds from loopcheck's start to its exit, its latency printed; OPTIONS follow.
loopcheck_time() {
    local start end
    start=$(date +%s.%N)
    timeout 60 "$loopcheck" -q "$@" >"$work/loopcheck" 2>/dev/null || { echo "-"; return; }
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}
loopcheck_value() { head -1 "$work/loopcheck"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "-" }'; }

echo "| period | round trip (frames) | jack_iodelay reads | after (s) | loopcheck reads | until its exit (s) | ratio | with --response (s) |"
echo "|---|---|---|---|---|---|---|---|"
for period in 64 256 1024; do
    rig_jack_stop
    rig_jack_start "time-to-result-$$-$period" "$period" || fail "no JACK server at period $period"
    for delay in 0 3031 $((8192 - period - 63)); do
        loopsim_start jack_delay:out:in --delay $delay --aa 20000
        for _ in $(seq "$tries"); do iodelay_time; done | median >"$work/t.iodelay"
        iodelay_read=$(iodelay_value)
        rig_stop $RIG_LOOPSIM_PID
        loopsim_start loopcheck --delay $delay --aa 20000
        for _ in $(seq "$tries"); do loopcheck_time; done | median >"$work/t.loopcheck"
        loopcheck_read=$(loopcheck_value)
        for _ in $(seq "$tries"); do loopcheck_time --response "$work/r.csv"; done | median >"$work/t.response"
        rig_stop $RIG_LOOPSIM_PID
        read -r ti <"$work/t.iodelay"
        read -r tl <"$work/t.loopcheck"
        read -r tr <"$work/t.response"
        echo "| $period | $((period + delay + 63)) | $iodelay_read | $ti | $loopcheck_read | $tl | $(ratio "$tl" "$ti") | $tr |"
    done
done

# ---- the cable ------------------------------------------------------------------------
rig_jack_stop
rig_jack_start "time-to-result-$$-cable" 256 || fail "no JACK server"
# jack_evmon reports ports by number: loopsim's two come first, then
# loopcheck's; the connections that involve loopsim's are the cable.
echo
echo "| loopsim's cable | out_0 -> loopsim:in after (ms) | loopsim:out -> in_0 after (ms) |"
echo "|---|---|---|"
for _ in $(seq "$tries"); do
    start=$(date +%s.%N)
    timeout -k 1 6 stdbuf -oL jack_evmon 2>/dev/null | stamp "$start" >"$work/events" &
    events=$!
    sleep 0.5
    loopsim_start loopcheck --delay 0
    "$loopcheck" -q >/dev/null 2>&1
    rig_stop $RIG_LOOPSIM_PID
    wait $events
    awk '$2 == "Port" && $4 == "registered" { n++; if (n <= 2) ours[$3] = n; else { last = $1; theirs[$3] = 1 } }
         $2 == "Ports" && $6 == "connected" && last != "" {
             if (($3 in theirs) && ($5 in ours) && !a) a = ($1 - last) * 1000
             if (($3 in ours) && ($5 in theirs) && !b) b = ($1 - last) * 1000 }
         END { printf "| from loopcheck'"'"'s last port | %.1f | %.1f |\n", a, b }' "$work/events"
done

#!/usr/bin/env bash
# Endurance check: each program measures a JACK loop for MINUTES (default 10)
# on a private X server and a private JACK server of its own (dummy backend,
# 48000 Hz, period 256, loop cable PROGRAM:out_0 -> PROGRAM:in_0), the
# programs side by side. Every 10 seconds it samples the program's resident
# memory (VmRSS), threads and open file descriptors, and the xruns in the JACK
# server's log; the samples go to out/endurance-PROGRAM.tsv.
#
# The first minute is warm-up. A program fails when, between the minute after
# the warm-up and the last minute, the smallest resident memory grew by more
# than 1 MiB, or the smallest thread or descriptor count grew at all (the
# smallest, because a short-lived refresh thread may be caught in one sample);
# or when it stopped, or did not end within 10 s of an Escape at the end.
# Xruns are counted, not judged: on a machine without real-time scheduling they
# measure the machine as much as the program. They are two kinds in the log:
# "client" (the program had not finished its cycle in time) and "server" (the
# dummy backend's own timer woke late). jack_iodelay, measured alongside on a
# server of its own, shows how many of them the machine causes by itself.
#
#   tools/endurance.sh [MINUTES] [PROGRAM...]    (after tools/build.sh; MINUTES >= 3;
#                                                the four programs and jack_iodelay by default)
#   BUILD=DIR tools/endurance.sh ...             the programs built in DIR
#
# Exit status 0 when every program passed, 1 otherwise. Not part of the tests.
set -eu
cd "$(dirname "$0")/.."
. tools/rig.sh
build="${BUILD:-build}"
interval=10
warmup=60
growth_kb=1024

# One program, on its own servers; prints one summary line last.
endure() {
    local minutes="$1" program="$2" log samples
    trap rig_cleanup EXIT
    trap 'exit 143' TERM INT
    samples="out/endurance-$program.tsv"
    rig_xvfb_start
    rig_jack_start "endurance-$program-$$" 256
    log="$RIG_JACK_LOG"
    local pid client window=""
    if [ "$program" = jack_iodelay ]; then
        client=jack_delay
        jack_iodelay >/dev/null 2>&1 &
        pid=$!
        rig_wait_port jack_delay:in 10
        jack_connect jack_delay:out jack_delay:in
    else
        client=$program
        rig_loop_start "$(rig_program_binary "$build" "$program")"
        pid=$RIG_LOOP_PID
        window=$(rig_wait_window "$(tr '[:lower:]' '[:upper:]' <<<"${program:0:1}")${program:1}.exe" 15)
    fi
    local start=$SECONDS elapsed=0 alive=yes
    printf 'seconds\tvmrss_kb\tthreads\tfds\tclient_xruns\tserver_xruns\n' >"$samples"
    while [ $elapsed -lt $((minutes * 60)) ]; do
        sleep $((start + elapsed + interval - SECONDS > 0 ? start + elapsed + interval - SECONDS : 0)) &
        wait $!  # not a plain sleep: a signal's trap runs at once
        elapsed=$((SECONDS - start))
        kill -0 "$pid" 2>/dev/null || { alive=no; break; }
        printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$elapsed" "$(rig_proc_status "$pid" VmRSS)" \
            "$(rig_proc_status "$pid" Threads)" "$(ls "/proc/$pid/fd" | wc -l)" \
            "$(grep -c "JackEngine::XRun: client = $client " "$log" || true)" \
            "$(grep -c "JackTimedDriver::Process XRun" "$log" || true)" >>"$samples"
    done
    local ended=no
    if [ $alive = yes ] && [ -z "$window" ]; then
        kill -TERM "$pid"
        rig_wait_exit "$pid" 10
        [ "$RIG_STATUS" != 124 ] && ended=yes
    elif [ $alive = yes ]; then
        xdotool key --window "$window" Escape || true
        rig_wait_exit "$pid" 10
        [ "$RIG_STATUS" = 0 ] && ended=yes
    fi
    # The verdict: smallest values of the minute after the warm-up against
    # those of the last minute, and the xruns after the warm-up.
    awk -F'\t' -v program="$program" -v minutes="$minutes" -v warmup=$warmup -v alive=$alive \
        -v ended=$ended -v growth=$growth_kb -v last=$((minutes * 60 - 60)) '
        function low(a, b) { return a == "" || b < a ? b : a }
        NR == 1 { next }
        $1 <= warmup { cx0 = $5; sx0 = $6; next }
        $1 <= warmup + 60 { r0 = low(r0, $2); t0 = low(t0, $3); f0 = low(f0, $4) }
        $1 > last { r1 = low(r1, $2); t1 = low(t1, $3); f1 = low(f1, $4) }
        { cx = $5; sx = $6 }
        END {
            verdict = "PASS"
            if (alive != "yes") verdict = "FAIL (stopped)"
            else if (ended != "yes") verdict = "FAIL (did not end on Escape)"
            else if (r0 == "" || r1 == "") verdict = "FAIL (too few samples)"
            else if (r1 - r0 > growth || t1 > t0 || f1 > f0) verdict = "FAIL (growth)"
            printf "%s: %d min, VmRSS %.1f -> %.1f MiB (%+d KiB), threads %d -> %d, fds %d -> %d, " \
                   "xruns after warm-up: %d client, %d server; %s\n", program, minutes, r0 / 1024, r1 / 1024,
                   r1 - r0, t0, t1, f0, f1, cx - cx0, sx - sx0, verdict
        }' "$samples"
}

if [ "${1:-}" = "--one" ]; then
    endure "$2" "$3"
    exit 0
fi

minutes=10
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then minutes="$1"; shift; fi
[ "$minutes" -ge 3 ] || { echo "endurance: MINUTES must be 3 or more" >&2; exit 2; }
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=(karvel tessaly orbisca morvane jack_iodelay)
mkdir -p out
children=()
stop_children() { rig_stop "${children[@]}"; }
trap stop_children EXIT
for program in "${programs[@]}"; do
    [ "$program" = jack_iodelay ] || [ -x "$(rig_program_binary "$build" "$program")" ] ||
        { echo "$program: not built in $build" >&2; exit 2; }
    "$0" --one "$minutes" "$program" >"out/endurance-$program.log" 2>&1 &
    children+=($!)
done
echo "endurance: ${programs[*]} for $minutes min each, side by side; samples in out/endurance-*.tsv"
for pid in "${children[@]}"; do wait "$pid" || true; done
children=()
status=0
for program in "${programs[@]}"; do
    line=$(tail -1 "out/endurance-$program.log")
    echo "$line"
    [[ "$line" == *"; PASS" ]] || status=1
done
exit $status

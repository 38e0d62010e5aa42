#!/usr/bin/env bash
# karvel.exe under Wine measuring a loop, and loopcheck.exe the same loop.
#
# A build with ASIO (the default where the SDK's files are) runs on WineASIO,
# whose path is one JACK period each way in all: its out_1 is cabled to its
# in_1 through loopsim's 1000 frames, so the truth is 1256 frames at period
# 256, well within Karvel's 2000 taps. Every run must find it (never a skip):
# the read-out's peak position is the truth within a frame, its buffer size
# 256, in each of WINE_LOOP_RUNS runs in a row (3; 10 to show it holds);
# then loopcheck.exe, without -d, chooses ASIO and reads the truth within
# 0.01 frame.
#
# A build without ASIO runs on Wine's WASAPI, through its ALSA
# driver and ALSA's jack plugin, to a private JACK server, where the plugin's
# output 1 is cabled back to its input 1. The loop is exact (unity gain), so
# the peak value grows towards 1 as on Linux; its position is the round trip
# of that path, which Wine's start-up timing sets anew on every run, in steps
# of 32 frames: a JACK period of 256 frames each way and Wine's own buffers,
# whatever the program asks for. loopcheck.exe measured it at 1888 to 3000
# frames on an idle machine and 2200 to 4832 beside a build, so only some
# runs land within Karvel's 2000 taps, and under load hardly any: the test
# draws up to ten runs, each given up once the peak value has not grown in
# 5 s. When none lands, loopcheck.exe's measurement of the path says why: a
# path beyond the taps is Wine's, and the test ends as skipped (77), never
# as passed; a path within them is a failure. Skipped too when build-windows/
# has no karvel.exe.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
# Under tools/test.sh the Windows programs are built beside the first tests.
rig_wait_builds windows || fail "the Windows programs were not built (tools/test.sh: build-logs/windows.log)"
karvel=$(rig_wine_exe karvel 2>/dev/null) ||
    { echo "SKIP: no karvel.exe in $RIG_WINE_BUILD (tools/windows_build.sh builds the Windows programs)"; exit 0; }
rig_xvfb_start || fail "no X server"
rig_jack_start "e2e-wine-loop-$$" 256 || fail "no JACK server"
rig_wine_start || fail "no Wine prefix"

readout_shows() { rig_karvel_shows "$work/shot.png" "$@"; }
converged() { rig_karvel_converged "$work/shot.png"; }

# ---- ASIO: WineASIO through loopsim, every run ------------------------------------
if rig_wine_has_asio; then
    rig_wine_asio_start || fail "WineASIO not registered"
    path=1000 truth=1256 runs=${WINE_LOOP_RUNS:-3}
    rig_loopsim_start --delay $path --cable rigwine:out_1:in_1 || fail "no loopsim"
    for run in $(seq "$runs"); do
        started=$SECONDS
        rig_wine "$karvel" -b256 >/dev/null 2>&1 &
        pid=$!
        id=$(rig_wait_window "Karvel.exe" 120) || fail "run $run: no karvel.exe window"
        # The filter's time constant is 3.5 s: 0.5 within about 3 s of the start.
        rig_shot_until "$id" "$work/shot.png" 30 converged || fail "run $run: the peak value under 0.5 after 30 s"
        position=$(rig_karvel_position "$work/shot.png") || fail "run $run: no peak position in the read-out"
        readout_shows 157 "buffer size : 256" || fail "run $run: the buffer size read-out"
        rig_wine_key "$id" Escape
        rig_wait_exit $pid 10
        [ "$RIG_STATUS" = "0" ] || fail "run $run: exit status $RIG_STATUS after Escape"
        [ $((position - truth)) -ge -1 ] && [ $((position - truth)) -le 1 ] ||
            fail "run $run: peak pos $position, truth $truth"
        echo "run $run of $runs: karvel.exe on ASIO: peak pos $position (truth $truth), buffer size 256, in $((SECONDS - started)) s"
    done
    # loopcheck.exe without -d: ASIO first, its one device. WineASIO prints a
    # line of its own on standard output as it loads libjack: the report is the JSON line.
    rig_wine "$(rig_wine_exe loopcheck)" --json </dev/null >"$work/lc.out" 2>"$work/lc.err" &
    rig_wait_exit $! 60
    grep '^{' "$work/lc.out" >"$work/lc.json" || true
    [ "$RIG_STATUS" = 0 ] || fail "loopcheck.exe: status $RIG_STATUS: $(cat "$work/lc.err" "$work/lc.json")"
    rig_json_check "$work/lc.json" || fail "loopcheck.exe: its JSON breaks docs/loopcheck.schema.json"
    jq -e --argjson t $truth '(.summary.mean_frames - $t | fabs) <= 0.01 and .host_api == "ASIO"' "$work/lc.json" >/dev/null ||
        fail "loopcheck.exe read $(head -c 600 "$work/lc.json"), truth $truth"
    echo "loopcheck.exe without -d: $(jq -c '{host_api, device: .device, latency: .summary.mean_frames}' "$work/lc.json") (truth $truth)"
    echo "PASS"
    exit 0
fi

# ---- WASAPI: Wine's path, whatever its length this run ------------------------------

# One run of karvel.exe on the loop: 0 with the position in $position once the
# peak value reached 0.5 (about 3 s on a steady loop: the filter's time
# constant is 3.5 s), 1 when the run missed: no stream on JACK within 30 s, or
# a peak value still under 0.1 after 5 s (a loop within the taps passes 0.6
# by then, one beyond them leaves it at about 0.01), or under 0.5 after 15 s.
# Escape ends it either way.
measure() {
    local pid id started converged_in=yes
    rig_wine "$karvel" -b256 >/dev/null 2>&1 &
    pid=$!
    id=$(rig_wait_window "Karvel.exe" 120) || fail "no karvel.exe window"
    if ! rig_wine_loop 30; then
        # Beside a build, Wine's stream start now and then hangs in the ALSA
        # jack plugin: the window is up, the key loop not yet, so Escape would
        # go unread. Such a run is ended by force and counts as missed.
        missed="no stream on JACK within 30 s (the ports: $(jack_lsp 2>/dev/null | tr '\n' ' '))"
        rig_wine_kill $pid
        return 1
    fi
    started=$SECONDS
    landed() { converged || { [ $((SECONDS - started)) -ge 5 ] && readout_shows 167 "peak val    : 0.0" && return 2; }; }
    rig_shot_until "$id" "$work/shot.png" 15 landed_or_not || converged_in=no
    [ $converged_in = yes ] && { position=$(rig_karvel_position "$work/shot.png") || fail "no peak position in the read-out"; }
    [ $converged_in = yes ] && { readout_shows 157 "buffer size : 256" || fail "buffer size read-out"; }
    rig_wine_key "$id" Escape
    rig_wait_exit $pid 10
    [ "$RIG_STATUS" = "0" ] || fail "exit status $RIG_STATUS after Escape"
    [ $converged_in = yes ]
}
# The check for rig_shot_until: succeeds when the run landed, and ends the
# wait, marked as a miss, once it plainly has not.
landed_or_not() {
    landed
    case $? in
    0) return 0 ;;
    2) missed="the peak value under 0.1 after 5 s"; converged_in=no; return 0 ;;
    *) missed="the peak value under 0.5 after 15 s"; return 1 ;;
    esac
}

karvel_runs=10
for run in $(seq $karvel_runs); do
    missed=""
    measure && break
    echo "run $run: missed: $missed"
    position=""
done
if [ -n "$position" ]; then
    [ "$position" -ge 1216 ] && [ "$position" -le 1999 ] ||
        fail "peak position $position, not within 1216 to 1999 frames"
    echo "karvel.exe: the loop at $position frames ($(awk -v p="$position" 'BEGIN { printf "%.1f", p / 48 }') ms), found by run $run of $karvel_runs"
fi

# loopcheck.exe on the same path, whatever its length this time: it settles
# four seconds, for the rig to find its ports and close the loop. On a loaded
# machine Wine's WASAPI stream now and then stops delivering frames for good:
# loopcheck.exe retries the spoiled run twice on the same stream, then ends
# with status 4, or its start hangs (no stream on JACK within 30 s: the
# process is ended by force); and beside a build the rig may close the loop
# only after the sweep (status 3). Such a run is started anew, on a new
# stream, up to three in all; the test says how many it took and how often
# loopcheck.exe retried.
latency=""
if loopcheck=$(rig_wine_exe loopcheck 2>/dev/null); then
    for run in 1 2 3; do
        rig_wine "$loopcheck" --settle 4 --json >"$work/loopcheck.json" 2>"$work/loopcheck.err" &
        pid=$!
        if ! rig_wine_loop 30; then
            kill -0 $pid 2>/dev/null && state="still running" || state="ended"
            rig_wine_kill $pid
            echo "loopcheck.exe run $run: no stream on JACK within 30 s ($state; $(jack_lsp 2>/dev/null | tr '\n' ' ')): $(cat "$work/loopcheck.err" "$work/loopcheck.json" 2>/dev/null | tr '\n' ' ')"
            [ $run -lt 3 ] && continue
            fail "loopcheck.exe: no stream on JACK in three runs"
        fi
        rig_wait_exit $pid 40
        { [ "$RIG_STATUS" = "3" ] || [ "$RIG_STATUS" = "4" ]; } && [ $run -lt 3 ] || break
        echo "loopcheck.exe run $run: status $RIG_STATUS: $(jq -r '.message' "$work/loopcheck.json" 2>/dev/null)"
    done
    [ "$RIG_STATUS" = "0" ] || fail "loopcheck.exe: exit status $RIG_STATUS: $(cat "$work/loopcheck.err" "$work/loopcheck.json")"
    rig_json_check "$work/loopcheck.json" || fail "loopcheck.exe: its JSON breaks docs/loopcheck.schema.json"
    latency=$(jq -r '.summary.mean_frames' "$work/loopcheck.json") || fail "loopcheck.exe: no JSON"
    # At most 200 ms, more than Wine's buffers hold each way (its ALSA
    # buffer of four 10 ms periods, and the stream's own): beside a real
    # build the path grows, to 4832 frames once.
    awk -v l="$latency" 'BEGIN { exit !(l >= 1216 && l <= 9600) }' ||
        fail "loopcheck.exe: latency $latency, not within 1216 to 9600 frames"
    jq -e '.host_api == "Windows WASAPI" and .runs[0].polarity == "normal" and (.runs[0].gain_db | fabs) < 0.1' \
        "$work/loopcheck.json" >/dev/null || fail "loopcheck.exe: $(cat "$work/loopcheck.json")"
    retries=$(jq '[.runs[].attempts - 1] | add' "$work/loopcheck.json")
    echo "loopcheck.exe: the loop at $latency frames, by run $run of 3, with $retries retries of its own"
fi
if [ -z "$position" ]; then
    [ -n "$latency" ] && awk -v l="$latency" 'BEGIN { exit !(l >= 2000) }' ||
        fail "no run of $karvel_runs found the loop${latency:+, which loopcheck.exe measured at $latency frames, within the 2000 taps}"
    echo "SKIP: no run of $karvel_runs put the loop within Karvel's 2000 taps: Wine's path, $(printf "%.0f" "$latency") frames as loopcheck.exe measured it"
    exit 77
fi
echo "PASS"

#!/usr/bin/env bash
# loopcheck --monitor through loopsim on a private JACK server (dummy backend,
# period 1024, 48000 Hz): six glitches of the three kinds injected in 60 s, a
# clock 50 ppm fast for 20 s, one 400 ppm slow for 20 s, and
# slips at either end of a loop whose clocks are 150 ppm apart. The truth is loopsim's own log:
# each of its glitches must be reported within 10 ms, with its kind and size,
# and nothing else. So every second of the 120 is a check that nothing false
# is reported: a separate clean run of 40 s (it was here) added only 40 s more
# of that, and its exit status 0 is the 400 ppm run's.
#
# Where a glitch is in the capture: loopsim counts its output frames from the
# slot in which the first sound (loopcheck's first sweep, played at stream
# frame S0) arrived, so loopsim's output frame `out` reaches loopcheck at
# stream frame S0 + out + (L - D): L the loop's latency, D loopsim's --delay,
# L - D the server's own round trip. loopcheck gives S0, L and the stimulus's
# stream frame in its start line; a glitch's stream frame is the latter plus
# its frame.
#
# The server: on a loaded machine a dummy JACK server run with -r now and then
# skips a late client. That is a real glitch of the loop, and the monitor
# reports it; but when the client skipped is loopsim, loopcheck's own stream
# saw nothing wrong (its callback ran), and loopsim's frame count, the truth's
# clock, falls a period behind. The server's log says so ("XRun: client = ...
# was not finished"). So every attempt is judged strictly: every glitch must
# be one of loopsim's, within 10 ms, of its kind and size, every one of
# loopsim's found, and the exit status right. An attempt that fails so is a
# failure of the test unless the server logged an xrun during it or
# loopcheck's stream flagged one: then it is run again (three attempts), and
# when every attempt was disturbed and failed, the test says so and ends as
# skipped (77), never as passed. The server runs at period 1024 (21 ms a cycle): a client is late
# more rarely than at 256. (At 4096, PortAudio calls back four times a cycle
# and loopcheck's check of JACK's frame counter takes three of them for missed
# cycles.) A latency measurement the server spoiled three times (status 4,
# "unstable") is disturbed too.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
rate=48000
tolerance=$((rate / 100))  # 10 ms

rig_jack_start "loopcheck-monitor-$$" 1024 $rate || fail "no JACK server"

# run_attempt NAME SECONDS LOOPCHECK_OPTIONS -- LOOPSIM_OPTIONS: one run, its
# lines in $work/NAME.out, loopsim's log in $work/NAME.sim, status in $status,
# the xruns the server logged meanwhile in $server_xruns.
run_attempt() {
    local name="$1" seconds="$2" checks=()
    shift 2
    while [ "$1" != "--" ]; do checks+=("$1"); shift; done
    shift
    : >"$work/$name.sim"
    rm -rf "$work/wav"  # --save-glitches: this attempt's files only, in a folder loopcheck makes
    rig_loopsim_start --cable loopcheck --log "$work/$name.sim" "$@" || fail "$name: no loopsim"
    local before
    before=$(wc -l <"$RIG_JACK_LOG")
    timeout $((seconds + 60)) "$loopcheck" --monitor "${seconds}s" --json "${checks[@]}" >"$work/$name.out" 2>"$work/$name.err"
    status=$?
    # Before loopsim stops: a client that leaves may be logged as late.
    tail -n +$((before + 1)) "$RIG_JACK_LOG" | grep XRun >"$work/$name.xruns" || true
    server_xruns=$(wc -l <"$work/$name.xruns")
    rig_stop "$RIG_LOOPSIM_PID"
}

# Every line one JSON object, parsed alone; a start first and a summary last.
# (run_case holds each line to the schema as well.)
check_lines() {
    local name="$1" line n=0
    while IFS= read -r line; do
        n=$((n + 1))
        jq -e 'type == "object" and (.event | type == "string")' <<<"$line" >/dev/null ||
            fail "$name: line $n is not a JSON object: $line"
    done <"$work/$name.out"
    [ "$(head -1 "$work/$name.out" | jq -r .event)" = start ] || fail "$name: no start line"
    tail -1 "$work/$name.out" | jq -e '.event == "summary" and ([.duration_s, .frames, .glitches, .by_kind, .longest_clean_s,
        .xruns, .drift_ppm, .drift_ppm_uncertainty, .delay_start_frames, .delay_end_frames, .residue_db] |
        all(. != null))' >/dev/null || fail "$name: the summary lacks a key: $(tail -1 "$work/$name.out")"
    jq -e -s '[.[] | select(.event == "glitch")] | all(has("t_s") and has("wall") and has("frame") and has("kind")
        and has("frames") and has("xrun"))' "$work/$name.out" >/dev/null || fail "$name: a glitch line lacks a key"
}

# The glitches as "stream_frame kind frames side xrun", and loopsim's as
# "stream_frame kind n side" (a line of its log without side= is the capture's).
glitches_of() {
    jq -r -s '(.[0].stimulus.stream_frame) as $s | .[] | select(.event == "glitch") |
        "\($s + .frame) \(.kind) \(.frames) \(.side // "none") \(.xrun)"' "$work/$1.out"
}
truth_of() {
    local start offset
    start=$(head -1 "$work/$1.out" | jq -r .first_sound_stream_frame)
    offset=$(head -1 "$work/$1.out" | jq -r ".latency_frames - $2")
    awk -v s0="$start" -v offset="$offset" '/^glitch / {
        delete v
        for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
        kind = v["kind"] == "drop" ? "dropped" : v["kind"] == "insert" ? "inserted" : "zeros"
        printf "%.0f %s %s %s\n", s0 + v["out"] + offset, kind, v["n"], ("side" in v) ? v["side"] : "capture" }' "$work/$1.sim"
}

# judge NAME DELAY: prints each disagreement with loopsim's log. A side
# loopcheck names must be loopsim's (it names none on one clock).
judge() {
    local name="$1" delay="$2"
    awk -v tol=$tolerance '
        FNR == NR { tf[++t] = $1; tk[t] = $2; tn[t] = $3; ts[t] = $4; next }
        { gf[++g] = $1; gk[g] = $2; gn[g] = $3; gs[g] = $4 }
        END {
            for (j = 1; j <= g; j++) {
                ok = 0
                for (i = 1; i <= t; i++)
                    if (!used[i] && (gf[j] - tf[i])^2 <= tol^2 && gk[j] == tk[i] && gn[j] == tn[i] &&
                        (gs[j] == "none" || gs[j] == ts[i])) { used[i] = 1; ok = 1; break }
                if (!ok) print "unexplained glitch at stream frame " gf[j] ": " gk[j] " " gn[j] " " gs[j]
            }
            for (i = 1; i <= t; i++)
                if (!used[i]) print "missed: loopsim " tk[i] " " tn[i] " at stream frame " tf[i]
        }' <(truth_of "$name" "$delay") <(glitches_of "$name")
}

# run_case NAME SECONDS WANT_STATUS DELAY LOOPCHECK_OPTIONS -- LOOPSIM_OPTIONS
run_case() {
    local name="$1" seconds="$2" want="$3" delay="$4" attempt verdict flagged
    shift 4
    for attempt in 1 2 3; do
        [ "$attempt" = 1 ] || rig_hold_builds 130  # the next attempt without the builds beside it
        run_attempt "$name" "$seconds" "$@" --delay "$delay"
        rig_json_check "$work/$name.out" || fail "$name: attempt $attempt: a line breaks docs/loopcheck.schema.json"
        if [ "$status" = 4 ] && head -1 "$work/$name.out" | jq -e '.status == "unstable"' >/dev/null; then
            echo "$name: attempt $attempt disturbed: $(head -1 "$work/$name.out" | jq -r .message)"
            continue
        fi
        check_lines "$name"
        flagged=$(tail -1 "$work/$name.out" | jq .xruns)
        verdict=$(judge "$name" "$delay")
        [ -n "$verdict" ] || [ "$status" = "$want" ] || verdict="exit status $status, not $want: $(tail -1 "$work/$name.out")"
        if [ -z "$verdict" ]; then
            echo "$name: ok (attempt $attempt; the server logged $server_xruns xruns, loopcheck's stream $flagged)"
            return 0
        fi
        [ "$server_xruns" = 0 ] && [ "$flagged" = 0 ] && fail "$name: $verdict
loopcheck: $(glitches_of "$name" | tr '\n' ';')
loopsim: $(truth_of "$name" "$delay" | tr '\n' ';')"
        echo "$name: attempt $attempt disturbed: the server logged $server_xruns xruns ($(sort "$work/$name.xruns" |
             uniq -c | tr -s ' ' | tr '\n' ';')), loopcheck's stream $flagged; loopcheck found" \
             "$(tail -1 "$work/$name.out" | jq -c '{glitches, by_kind}'): $(tr '\n' ';' <<<"$verdict")"
    done
    echo "SKIP: $name: the server skipped a client in every attempt: the machine is too busy to judge it"
    exit 77
}

# Six glitches of the three kinds, one frame to a thousand.
run_case glitches 60 7 3000 --save-glitches "$work/wav/" -- \
    --glitch drop,8,1 --glitch insert,16,64 --glitch zero,24,48 --glitch drop,32,480 \
    --glitch insert,40,256 --glitch zero,48,1000
[ "$(grep -c '^glitch' "$work/glitches.sim")" = 6 ] || fail "loopsim logged $(grep -c '^glitch' "$work/glitches.sim") glitches, not 6"
count=$(tail -1 "$work/glitches.out" | jq .glitches)
[ "$(find "$work/wav" -name 'glitch-*.wav' | wc -l)" = "$count" ] || fail "not one WAV file per glitch"
# Each a mono 32-bit float WAV of 200 ms, the loop's stimulus in it (python's
# wave module reads integer PCM only: the chunks are read here).
python3 - "$work/wav" $rate <<'PY' || fail "the WAV files are not readable"
import array, glob, math, struct, sys
folder, rate = sys.argv[1], int(sys.argv[2])
for path in sorted(glob.glob(folder + "/glitch-*.wav")):
    data = open(path, "rb").read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", path
    at, fmt, samples = 12, None, None
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if tag == b"fmt ":
            fmt = struct.unpack("<HHIIHH", data[at + 8:at + 24])
        elif tag == b"data":
            samples = array.array("f", data[at + 8:at + 8 + size])
        at += 8 + size + (size & 1)
    assert fmt is not None and fmt[0] in (3, 0xFFFE) and fmt[1] == 1 and fmt[2] == rate and fmt[5] == 32, (path, fmt)
    assert len(samples) == rate // 5, (path, len(samples))
    rms = math.sqrt(sum(x * x for x in samples) / len(samples))
    assert all(math.isfinite(x) for x in samples) and rms > 0.01, (path, rms)
PY

# A clock 50 ppm fast: the delay slides, no glitch, the drift within 2 ppm;
# --max-drift 10 turns it into exit status 5.
run_case ppm 20 5 3000 --max-drift 10 -- --ppm 50
tail -1 "$work/ppm.out" | jq -e '(.drift_ppm - 50 | fabs) <= 2 and .status == "limit exceeded"' >/dev/null ||
    fail "ppm: $(tail -1 "$work/ppm.out")"
echo "ppm: $(tail -1 "$work/ppm.out" | jq -c '{drift_ppm, drift_ppm_uncertainty, delay_start_frames, delay_end_frames}')"

# Two clocks 400 ppm apart, as a cheap interface's: locked on from the start,
# no glitch, the drift within 2 ppm.
run_case ppm400 20 0 3000 -- --ppm -400
tail -1 "$work/ppm400.out" | jq -e '(.drift_ppm + 400 | fabs) <= 2 and .locked and .glitches == 0' >/dev/null ||
    fail "ppm400: $(tail -1 "$work/ppm400.out")"
echo "ppm400: $(tail -1 "$work/ppm400.out" | jq -c '{drift_ppm, drift_ppm_uncertainty, drift_ppm_interval_95, longest_clean_s}')"

# Two clocks 150 ppm apart, a slip at each end: N played frames at the
# playback, N captured at the capture, which differ by N x 150e-6 frames
# (0.15 at 1024). Each read in its own side's frames, and named so.
run_case sides 20 7 3000 -- --ppm 150 --glitch drop,4,1024,playback --glitch insert,9,2048,playback \
    --glitch drop,14,1024
glitches_of sides | awk '{ print $4 }' | tr '\n' ' ' | grep -qx 'playback playback capture ' ||
    fail "sides: the sides read $(glitches_of sides | tr '\n' ';')"
echo "sides: $(glitches_of sides | tr '\n' ';')"
echo "PASS"

#!/usr/bin/env bash
# loopcheck --report's sections for --quality and --monitor, through loopsim
# on a private JACK server (dummy backend, 48000 Hz, period 1024), each page
# opened in headless Chromium (tools/browser_check.py): no console line, no
# request; the page's text holds the JSON's figures, and the plots' marks sit
# at the pixels docs/internals/reports.md gives, for truths loopcheck has no
# part in:
#
#   quality   two loops, loopsim's polynomial, noise and capacitive crosstalk:
#             in loop 1's spectrum of the -1 dBFS tone the H2 and H3 markers
#             fill the columns of 2 f and 3 f (f the coherent bin's frequency,
#             the documented rule) and H2's dot sits on the row of loopsim's
#             own --print-distortion; the crosstalk's 1 kHz point on the row
#             of loopsim's --print-crosstalk-at at the tone the run names
#             (loop 2's, all driven)
#   monitor   --monitor 30s, three glitches injected: a red line in the column
#             of each glitch's time as loopsim's log gives it and no other;
#             the histogram's bars in the bins of the stretches between them
#   sigterm   --monitor 0 ended by SIGTERM after its first glitch: the report
#             is written all the same, with that glitch
#
# Plots are 900 px wide, area 820 px from left 64, on the frequency axis
# 10 Hz .. 24 kHz (log); spectra 340 high (area 256, -200..0 dBFS), the
# crosstalk 300 (216, -160..0 dB), the delay 300 (216, 0 .. the run's length
# in s), the stretches 260 (176, log from the bin before the first bar to the
# bin after the last, 1-2-5 edges; 0 .. ceil(1.15 x the most)).
#
# A glitch's time: loopsim counts its output frames from the slot where the
# first sound (stream frame S0) arrived, so its output frame `out` reaches
# loopcheck at stream frame S0 + out + (L - D) (L the loop's latency, D
# loopsim's --delay); its time is that less the stimulus's stream frame, over
# the rate (tests/e2e/loopcheck_monitor_test.sh). A run the server disturbed
# (an xrun: a glitch loopsim did not make) is run again, three times at most,
# then the test is skipped (77), never passed.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopsim="$BUILD_DIR/tools/loopsim/loopsim"
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
check="$SOURCE_DIR/tools/browser_check.py"
[ -x /usr/bin/chromium ] || fail "no /usr/bin/chromium (Debian package chromium)"
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
rate=48000

# browse NAME HEIGHT: the page in Chromium, 1100 px wide, as NAME.ppm and NAME.dom.
browse() {
    python3 "$check" "$work/$1.html" --shot "$work/$1.png" --size "1100x$2" --dom "$work/$1.dom" >"$work/$1.check" 2>&1 ||
        fail "$1: the browser check failed: $(cat "$work/$1.check")"
    convert "$work/$1.png" "$work/$1.ppm" || fail "$1: convert"
}

# shows NAME TEXT...: each TEXT is in the page's DOM.
shows() {
    local name="$1" text
    shift
    for text in "$@"; do
        grep -qF -- "$text" "$work/$name.dom" || fail "$name: the page does not show \"$text\""
    done
}

# pixels NAME CHECKS: runs python CHECKS with pic (NAME.ppm), frames (each
# plot's area's top-left "left top", found by its frame: a line of 822 px of
# #555555 whose left end goes on down, as a top's does and a bottom's not: a
# curve along the area's lowest row may blur the bottom's line) and has(x, y,
# colour) within 16 of each channel.
pixels() {
    python3 - "$work/$1.ppm" "$SOURCE_DIR/tools" "$2" <<'PY'
import math, sys
sys.path.insert(0, sys.argv[2])
from pixel_check import Picture, parse_colour
pic = Picture(sys.argv[1])
line, rows = b"\x55" * (3 * 822), []
for y in range(pic.height):
    row = pic.rgb[3 * y * pic.width:3 * (y + 1) * pic.width]
    x = row.find(line)
    while x >= 0 and x % 3:
        x = row.find(line, x + 1)
    if x >= 0 and pic.has(x // 3, y + 1, (0x55, 0x55, 0x55), 0):
        rows.append((x // 3 + 1, y + 1))
frames = rows
def has(x, y, colour, radius=0):
    c = parse_colour(colour)
    return any(pic.has(x + dx, y + dy, c, 16) for dx in range(-radius, radius + 1) for dy in range(-radius, radius + 1))
def share(x, y0, y1, colour):
    return sum(has(x, y, colour) for y in range(y0, y1)) / (y1 - y0)
def log_column(left, f, low, high):
    return left + math.floor(math.log10(f / low) / math.log10(high / low) * 820)
problems = []
exec(sys.argv[3])
if problems:
    print("\n".join(problems + [f"plots at {frames}"]))
sys.exit(1 if problems else 0)
PY
}

rig_jack_start "loopcheck-report-modes-$$" 1024 $rate || fail "no JACK server"

# ---- quality -------------------------------------------------------------------
path="--delay 300 --poly 0.000224,0.0001 --noise -120 --crosstalk -90,capacitive"
# The tone: the odd bin of the 32768-frame block nearest 997 Hz.
coherent() { awk -v f="$1" 'BEGIN { n = 32768; b = 2 * int((f * n / 48000 - 1) / 2 + 0.5) + 1; printf "%.6f", b * 48000 / n }'; }
tone=$(coherent 997)
h2=$("$loopsim" --rate $rate $path --print-distortion "$tone,-1" | awk '$3 == 2 && $4 == 0 { print $2 }')
[ -n "$h2" ] || fail "loopsim gives no truth: H2 '$h2'"
# shellcheck disable=SC2086
rig_loopsim_start $path --cable loopcheck || fail "no loopsim"
for attempt in 1 2 3 4; do
    [ "$attempt" = 1 ] || rig_hold_builds 130  # the next attempt without the builds beside it
    timeout 120 "$loopcheck" --json --quality --out 1,2 --in 1,2 --report "$work/quality.html" >"$work/quality.json" 2>"$work/quality.err" </dev/null
    status=$?
    [ $status = 4 ] || break
    echo "quality: spoiled by the machine's load (attempt $attempt), again"
done
rig_stop "$RIG_LOOPSIM_PID"
[ $status = 0 ] || fail "quality: exit status $status: $(cat "$work/quality.json" "$work/quality.err")"
rig_json_check "$work/quality.json" || fail "quality: its JSON breaks docs/loopcheck.schema.json"
# The crosstalk plot's second series (loop 2 into loop 1, all driven) at loop
# 2's own tone near 1 kHz, as the run names it (an odd bin 3 (mod 6)).
khz=$(jq -r '[.quality.crosstalk[] | select(.method == "all-driven")][1].octave_hz[3]' "$work/quality.json")
crosstalk=$(echo "$khz" | "$loopsim" --rate $rate --channels 2 $path --print-crosstalk-at 2>/dev/null | awk '{ print $2 }')
[ -n "$crosstalk" ] && awk -v f="$khz" 'BEGIN { b = f * 32768 / 48000; k = int(b + 0.5); exit !(k % 6 == 3 && (b - k)^2 < 1e-12) }' ||
    fail "loop 2's tone near 1 kHz, $khz Hz, is not on the grid, or loopsim gives no crosstalk there: '$crosstalk'"
browse quality 8600
for k in 0 1; do
    for level in -1 -20 -60; do
        shows quality "$(jq -r ".quality.channels[$k].thd_n[] | select(.level_dbfs == $level) | .thd_n_db" "$work/quality.json" |
            xargs printf '%.1f dB (')"
    done
    shows quality "$(jq -r ".quality.channels[$k].noise.dbfs" "$work/quality.json" | xargs printf '%.1f dBFS')" \
        "$(jq -r ".quality.channels[$k].imd.smpte_db" "$work/quality.json" | xargs printf '%.1f dB')" \
        "$(jq -r ".quality.channels[$k].imd.ccif_db" "$work/quality.json" | xargs printf '%.1f dB')"
done
shows quality "Key figures, loop 2 (out 2 → in 2)" "$(jq -r '.quality.crosstalk[0].db_1khz' "$work/quality.json" | xargs printf '%.1f dB')" \
    "Spectrum of the -1 dBFS tone, loop 1" "Noise spectrum, outputs silent, loop 2" "Crosstalk at the octave centres"
# The last eleven plots: per loop the three tones, the harmonics and the noise, then the crosstalk.
pixels quality "
assert len(frames) >= 11, f'{len(frames)} plots'
left, top = frames[-11]
for k in (2, 3):
    c = log_column(left, k * $tone, 10, 24000)
    if share(c, top + 40, top + 256, '#ff7f0e') < 0.95 or share(c + 2, top + 40, top + 256, '#ff7f0e') > 0.1:
        problems.append(f'H{k}: the marker is not in column {c} alone')
c, r = log_column(left, 2 * $tone, 10, 24000), top + math.floor(256 * -($h2) / 200)
# Beside the marker's column: the dot (radius 3) on its row, nothing 6 rows off.
if not (has(c - 2, r, '#ff7f0e', 1) and has(c + 2, r, '#ff7f0e', 1)) or has(c - 2, r - 6, '#ff7f0e') or has(c - 2, r + 6, '#ff7f0e'):
    problems.append(f'H2 dot: not at column {c}, row {r} ($h2 dBFS)')
left, top = frames[-1]
c, r = log_column(left, $khz, 10, 24000), top + math.floor(216 * -($crosstalk) / 160)
if not has(c, r, '#d62728', 2):
    problems.append(f'crosstalk: no point at column {c}, row {r} ($crosstalk dB)')
" || fail "quality: the plots are off their marks"
echo "ok   quality page: H2 and H3 in their columns, H2 at $h2 dBFS, crosstalk $crosstalk dB at $khz Hz"

# ---- monitor -------------------------------------------------------------------
# monitor_run NAME LOOPCHECK_OPTIONS -- LOOPSIM_OPTIONS: the JSON lines in
# NAME.out (held to the schema), loopsim's log in NAME.sim, the status in $status, the xruns the
# server logged meanwhile in $server_xruns.
monitor_run() {
    local name="$1" checks=()
    shift
    while [ "$1" != "--" ]; do checks+=("$1"); shift; done
    shift
    : >"$work/$name.sim"
    rig_loopsim_start --cable loopcheck --delay 3000 --log "$work/$name.sim" "$@" || fail "$name: no loopsim"
    local before
    before=$(wc -l <"$RIG_JACK_LOG")
    timeout 120 "$loopcheck" --json --report "$work/$name.html" "${checks[@]}" >"$work/$name.out" 2>"$work/$name.err" </dev/null
    status=$?
    rig_json_check "$work/$name.out" || fail "$name: a line breaks docs/loopcheck.schema.json"
    # A client the server skipped is a glitch loopsim did not make, which loopcheck's stream may not see.
    server_xruns=$(tail -n +$((before + 1)) "$RIG_JACK_LOG" | grep -c XRun)
    rig_stop "$RIG_LOOPSIM_PID"
}

# truth NAME: each of loopsim's glitches as its time from the stimulus's start, s.
truth() {
    local start first latency
    start=$(head -1 "$work/$1.out" | jq -r .stimulus.stream_frame)
    first=$(head -1 "$work/$1.out" | jq -r .first_sound_stream_frame)
    latency=$(head -1 "$work/$1.out" | jq -r .latency_frames)
    awk -v s0="$first" -v latency="$latency" -v start="$start" -v rate=$rate '/^glitch / {
        for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
        printf "%.6f\n", (s0 + v["out"] + latency - 3000 - start) / rate }' "$work/$1.sim"
}

for attempt in 1 2 3; do
    [ "$attempt" = 1 ] || rig_hold_builds 100  # the next attempt without the builds beside it
    monitor_run monitor --monitor 30s -- --glitch drop,4,480 --glitch zero,5.5,1000 --glitch insert,17,256
    glitches=$(tail -1 "$work/monitor.out" | jq -r .glitches)
    [ "$status" = 7 ] && [ "$glitches" = 3 ] && break
    [ "$(tail -1 "$work/monitor.out" | jq -r .xruns)" != 0 ] || [ "$server_xruns" != 0 ] ||
        fail "monitor: exit status $status, $glitches glitches, not 7 and 3: $(tail -1 "$work/monitor.out")"
    echo "monitor: attempt $attempt disturbed by xruns (the server's $server_xruns): $(tail -1 "$work/monitor.out" | jq -c '{glitches, xruns}')"
    [ $attempt = 3 ] && { echo "SKIP: the server disturbed every attempt: the machine is too busy to judge it"; exit 77; }
done
[ "$(wc -l <"$work/monitor.sim")" = 3 ] || fail "monitor: loopsim logged $(wc -l <"$work/monitor.sim") glitches, not 3"
summary=$(tail -1 "$work/monitor.out")
duration=$(jq -r .duration_s <<<"$summary")
times=$(truth monitor | paste -sd,)
browse monitor 3600
# The page writes a drift that rounds to zero as +0.000, never -0.000.
shows monitor "Monitor" "3 (1 dropped, 1 inserted, 1 zeros)" "$(jq -r .drift_ppm <<<"$summary" | xargs printf '%+.3f ppm' | sed 's/^-0\.000 /+0.000 /')" \
    "$(jq -r .longest_clean_s <<<"$summary" | xargs printf '%.1f s')" "$(jq -r .delay_end_frames <<<"$summary" | xargs printf '%.3f frames')" \
    "The loop's delay, glitches in red" "Glitch-free stretches"
# The stretches' truth: start to each glitch to the end, in 1-2-5 bins.
pixels monitor "
times, duration = [$times], $duration
left, top = frames[-2]
red = [x for x in range(left, left + 820) if share(x, top + 20, top + 216, '#d62728') > 0.9]
want = [left + math.floor(t / duration * 820) for t in times]
# A glitch found within 10 ms of loopsim's (a quarter of a column) may fall in the next column.
if len(red) != 3 or any(min(abs(r - w) for r in red) > 1 for w in want):
    problems.append(f'glitch lines in columns {[r - left for r in red]}, not {[w - left for w in want]}')
edges = [s * 10 ** d / 100 for d in range(9) for s in (1, 2, 5)]
def bin_of(x):
    return max([i for i in range(24) if x >= edges[i]] + [0])
lengths = [times[0]] + [b - a for a, b in zip(times, times[1:])] + [duration - times[-1]]
counts = {}
for x in lengths:
    counts[bin_of(x)] = counts.get(bin_of(x), 0) + 1
first, last = max(min(counts) - 1, 0), min(max(counts) + 1, 23)
top_count = math.ceil(1.15 * max(counts.values()))
left, top = frames[-1]
for i in range(first, last + 1):
    c = log_column(left, math.sqrt(edges[i] * edges[i + 1]), edges[first], edges[last + 1])
    n = counts.get(i, 0)
    r = top + math.floor(176 * (top_count - n) / top_count)
    if n and not (has(c, r + 2, '#1f77b4') and has(c, top + 174, '#1f77b4')) or has(c, r - 2, '#1f77b4'):
        problems.append(f'bin {edges[i]} s: no bar of {n} up to row {r - top} in column {c - left}')
" || fail "monitor: the plots are off their marks"
echo "ok   monitor page: glitches at $times s of $duration s in their columns, the stretches' bars"

# ---- SIGTERM -------------------------------------------------------------------
: >"$work/sigterm.sim"
rig_loopsim_start --cable loopcheck --delay 3000 --log "$work/sigterm.sim" --glitch drop,4,480 || fail "sigterm: no loopsim"
"$loopcheck" --json --monitor 0 --report "$work/sigterm.html" >"$work/sigterm.out" 2>"$work/sigterm.err" </dev/null &
pid=$!
for _ in $(seq 600); do
    grep -q '"event":"glitch"' "$work/sigterm.out" && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
done
grep -q '"event":"glitch"' "$work/sigterm.out" || { kill $pid; fail "sigterm: no glitch within 60 s: $(cat "$work/sigterm.out")"; }
kill -TERM $pid
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && { kill -9 $pid; fail "sigterm: loopcheck still runs 10 s after SIGTERM"; }
wait $pid
status=$?
rig_stop "$RIG_LOOPSIM_PID"
rig_json_check "$work/sigterm.out" || fail "sigterm: a line breaks docs/loopcheck.schema.json"
[ -s "$work/sigterm.html" ] || fail "sigterm: no report (exit status $status): $(cat "$work/sigterm.err")"
browse sigterm 3600
glitches=$(tail -1 "$work/sigterm.out" | jq -r .glitches)
shows sigterm "Monitor" "until interrupted" "$glitches (" "$(tail -1 "$work/sigterm.out" | jq -r .duration_s | xargs printf '%.1f s')"
echo "ok   sigterm: exit status $status, the report written with $glitches glitch(es)"
[ -z "$(ls -A "$TMPDIR")" ] || fail "browser_check left $(ls "$TMPDIR") behind"
echo "PASS"

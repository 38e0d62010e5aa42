#!/usr/bin/env bash
# The monitor's memory over a run: loopcheck --monitor on a private JACK
# server (dummy backend, period 1024) through loopsim at RATE Hz, with a
# glitch every 10 s (--glitch-random 6,1), its VmRSS and VmHWM read from
# /proc once a minute (the run lasts MINUTES and 10 s, so that the last
# minute is read too). Nothing but the capped glitch list should grow: the
# figure after 1 minute and at the end should be the same.
#
#   bench/monitor_memory.sh [MINUTES] [RATE]    (default 2 minutes, 48000 Hz; after tools/build.sh)
#   BUILD=DIR bench/monitor_memory.sh ...        loopcheck and loopsim built in DIR
set -eu
cd "$(dirname "$0")/.."
. tools/rig.sh
minutes="${1:-2}" rate="${2:-48000}"
[[ "$minutes" =~ ^[0-9]+$ ]] && [ "$minutes" -ge 1 ] || { echo "MINUTES: a whole number from 1" >&2; exit 2; }
[[ "$rate" =~ ^[0-9]+$ ]] || { echo "RATE: a whole number of Hz" >&2; exit 2; }
BUILD_DIR="$(cd "${BUILD:-build}" && pwd)"
work=$(mktemp -d)
trap 'rig_cleanup; rm -rf "$work"' EXIT
rig_jack_start "monitor-memory-$$" 1024 "$rate" || exit 1
rig_loopsim_start --delay 3000 --cable loopcheck --glitch-random 6,1 --log "$work/sim.log" || exit 1
"$BUILD_DIR/loopcheck/loopcheck" --monitor "$((minutes * 60 + 10))s" -q >"$work/out" 2>&1 &
pid=$!
started=$SECONDS
# VmRSS counts the JACK server's shared memory that every client maps (about
# 100 MB at this period); RssAnon is the program's own.
echo "| minute | VmRSS MB | VmHWM MB | RssAnon MB | glitches so far |"
echo "|---|---|---|---|---|"
for minute in $(seq "$minutes"); do
    # Each minute by the clock from the program's start (the latency's second
    # or so comes first), not by counting sleeps, which a busy machine stretches.
    while kill -0 $pid 2>/dev/null && [ $((SECONDS - started)) -lt $((minute * 60)) ]; do sleep 0.5; done
    kill -0 $pid 2>/dev/null || break
    awk -v m="$minute" -v g="$(grep -c '^glitch' "$work/out" || true)" \
        '$1 == "VmRSS:" { rss = $2 } $1 == "VmHWM:" { hwm = $2 } $1 == "RssAnon:" { anon = $2 }
         END { printf "| %d | %.1f | %.1f | %.1f | %d |\n", m, rss / 1024, hwm / 1024, anon / 1024, g }' "/proc/$pid/status"
done
rig_wait_exit $pid 60
echo "loopcheck's exit status: $RIG_STATUS"
grep -v '^glitch' "$work/out" | tail -4

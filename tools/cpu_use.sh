#!/usr/bin/env bash
# CPU use of a whole program while it measures a JACK loop, beside jack_iodelay's
# on the same kind of server: each runs SECONDS (default 20) on a private JACK
# server (dummy backend, 48000 Hz, period 256) with its loop cable connected.
#
#   tools/cpu_use.sh [SECONDS]       (after tools/build.sh)
#   BUILD=DIR tools/cpu_use.sh ...   the programs built in DIR
set -eu
cd "$(dirname "$0")/.."
. tools/rig.sh
trap rig_cleanup EXIT
seconds="${1:-20}"
ticks=$(getconf CLK_TCK)
[ -n "${DISPLAY:-}" ] || rig_xvfb_start

# Prints the CPU share (user + system) of PID over the next SECONDS.
cpu_share() {
    local pid="$1" before after
    before=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    sleep "$seconds"
    after=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    awk -v t="$((after - before))" -v hz="$ticks" -v s="$seconds" 'BEGIN { printf "%.1f %% of one core", 100 * t / hz / s }'
}

for program in karvel tessaly orbisca morvane; do
    binary=$(rig_program_binary "${BUILD:-build}" "$program")
    [ -x "$binary" ] || continue
    rig_jack_start "cpu-$program-$$" 256
    rig_loop_start "$binary"
    pid=$RIG_LOOP_PID
    sleep 2
    echo "$program: $(cpu_share $pid)"
    kill -TERM $pid
    rig_wait_exit $pid 5
    rig_jack_stop
done

rig_jack_start "cpu-iodelay-$$" 256
jack_iodelay >/dev/null 2>&1 &
pid=$!
rig_wait_port jack_delay:out 10
jack_connect jack_delay:out jack_delay:in
sleep 2
echo "jack_iodelay: $(cpu_share $pid)"
kill $pid

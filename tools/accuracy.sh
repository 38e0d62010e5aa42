#!/usr/bin/env bash
# How right the programs are on realistic loops: each path of the table below
# runs through loopsim (the simulated interface) on private JACK servers
# (dummy backend, 48000 Hz, period 256), measured by Karvel (read-outs at 5, 10
# and 20 s), jack_iodelay, Tessaly and Orbisca (one refresh after 5 s) and
# Morvane (after 20 and 45 s), and compared with the path's true response.
# Prints a Markdown table on standard output; takes five minutes or more (four
# cases at a time), and says on standard error as each case finishes.
#
#   tools/accuracy.sh        (after tools/build.sh)
#
# Columns: the truth as Karvel should read it (position = the path's largest
# tap + the JACK round trip of 256 + PortAudio's one frame; value = the largest
# tap); Karvel's "position / value" read-outs; jack_iodelay's round trip in
# frames (the truth: 256 + the path's delay); for the response programs, the
# worst error in dB over the columns where the true curve lies in the window,
# as far as the pixels tell (Tessaly and Orbisca draw a point to the nearest row:
# 0.005 and 0.05 dB). Below the table, the runs in which the busy machine made
# the loop skip JACK cycles.
set -u
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-$PWD/build}"
check="$build/tools/shot_check"
work=$(mktemp -d)
# Ended early, it ends the cases still running; each stops what it started.
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT

paths="
converters|--delay 300 --aa 20000,127 --highpass 3 --gain 0.5
inverted|--delay 300 --aa 20000,127 --highpass 3 --gain 0.5 --invert
noise -60 dBFS|--delay 300 --aa 20000,127 --highpass 3 --gain 0.5 --noise -60
half a frame|--delay 300 --fraction 0.5 --aa 22000 --highpass 3
EQ +0.5 dB 1 kHz Q 2|--delay 300 --aa 22000 --highpass 3 --peak 1000,2,0.5 --gain 0.7
shelf -10 dB 300 Hz|--delay 40 --aa 20000 --highpass 5 --low-shelf 300,0.7071,-10 --gain 1.5
dropouts 20 ms / 2 s|--delay 300 --aa 22000 --highpass 3 --gain 0.5 --dropout 20,2
beyond 2000|--delay 2500 --aa 20000 --highpass 3"

# Runs every case, four at a time.
running=0
n=0
cases=$(( $(grep -c '|' <<<"$paths") * 4 ))
while IFS='|' read -r name options; do
    [ -n "$name" ] || continue
    n=$((n + 1))
    echo "$name" >"$work/$n.name"
    for run in "karvel 5,10,20 --iodelay" "tessaly 5" "orbisca 5" "morvane 20,45"; do
        set -- $run
        # shellcheck disable=SC2086
        {
            BUILD_DIR="$build" timeout 200 tools/loopcase.sh "$1" "$work/$n-$1" "$2" ${3:-} -- $options \
                >"$work/$n-$1.log" 2>&1
            echo "accuracy: $name: $1 done after ${SECONDS} s (of $cases cases)" >&2
        } &
        running=$((running + 1))
        [ $running -ge 4 ] && { wait -n; running=$((running - 1)); }
    done
done <<<"$paths"
wait

readout() { "$check" text "$1" 2 "$2" 26 | sed 's/.*: //; s/ (.*//; s/ *$//'; }
worst() {
    [ -s "$2" ] || { echo "failed"; return; }
    awk '$2 > -290 { found = 1 } END { exit found }' "$3" && { echo "nothing to hold"; return; }
    "$check" trace "$1" "$2" "$3" within 100 |
        awk '{ if ($(NF - 1) < 50) print "off scale"; else printf "%s dB (%d bins)", $3, $(NF - 1) }'
}

echo "| path | truth: position / value | Karvel 5 s | 10 s | 20 s | jack_iodelay (truth) | Tessaly | Orbisca | Morvane 20 s | 45 s |"
echo "|---|---|---|---|---|---|---|---|---|---|"
n=0
while IFS='|' read -r name options; do
    [ -n "$name" ] || continue
    n=$((n + 1))
    k="$work/$n-karvel"
    # Two largest taps within 0.1 % of each other (half a frame of delay; the DC
    # blocker's tail parts them by less) are more alike than Karvel can tell.
    truth=$(awk '{ m = $2 < 0 ? -$2 : $2; if (m > best * 1.001) { best = m; first = $1; v = $2; s = 0; c = 0 }
                   if (m > best * 0.999) { s += $1; c++; last = $1 } }
                 END { if (c > 1) printf "%d or %d", first + 257, last + 257; else printf "%d", first + 257
                       printf " / %.3f|%g", v, 256 + s / c }' "$k/truth-ir.txt")
    row="| $name | ${truth%|*}"
    for t in 5 10 20; do
        if [ -s "$k/shot-$t.ppm" ]; then row+=" | $(readout "$k/shot-$t.ppm" 177) / $(readout "$k/shot-$t.ppm" 167)"
        else row+=" | failed"; fi
    done
    row+=" | $(awk '{ print $1 }' "$k/iodelay.txt" 2>/dev/null) (${truth#*|})"
    row+=" | $(worst tessaly "$work/$n-tessaly/shot-5.ppm" "$work/$n-tessaly/truth-response.txt")"
    row+=" | $(worst orbisca "$work/$n-orbisca/shot-5.ppm" "$work/$n-orbisca/truth-response.txt")"
    for t in 20 45; do
        row+=" | $(worst tessaly "$work/$n-morvane/shot-$t.ppm" "$work/$n-morvane/truth-model.txt")"
    done
    echo "$row |"
done <<<"$paths"
echo
# The counts of skipped cycles only grow: the last line of each run is its total.
awk 'FNR == 1 && NR > 1 { if (last > 0) { n++; if (last > most) most = last } } { last = $2 }
     END { if (last > 0) { n++; if (last > most) most = last }
           if (n) printf "The machine was busy: in %d runs the loop skipped JACK cycles (a client was late), up to %d in one run.\n", n, most }' \
    "$work"/*/skipped.txt
for log in "$work"/*.log; do
    [ -s "$log" ] && { echo; echo "$(basename "$log" .log): $(cat "$log")"; }
done
exit 0

#!/usr/bin/env bash
# How right loopcheck is on realistic loops: each path of the table below runs
# through loopsim (the simulated interface) on a private JACK server (dummy
# backend, 48000 Hz, period 256), measured by loopcheck --repeat 10 --json,
# once more with --response, and by jack_iodelay on the same path, and is
# compared with the path's truth as loopsim prints it. Prints a Markdown
# table; takes about five minutes.
#
#   tools/loopcheck_accuracy.sh        (after tools/build.sh; ONLY=REGEX for the paths it names)
#
# The truth: the server's own round trip R (jack_iodelay through a 0-frame
# loopsim) + loopsim's group delay at 1 kHz (for a linear-phase path its
# delay, fraction included). Columns: loopcheck's mean, its standard deviation
# and largest error over the 10 runs (of the latency, or for paths with a DC
# blocker, an EQ or a shelf, whose delay depends on the frequency, of the group
# delay at 1 kHz, group_delay_1khz_frames); the largest gain error against loopsim's mean |H| over 500 Hz - 2 kHz;
# (its mean over 24 twelfth-octave bands of the band's mean |H|, as loopcheck
# takes it); the polarity of every run; the largest |level - truth| from 20 Hz to 20 kHz,
# both relative to 1 kHz, over the rows loopcheck does not mark "low snr";
# jack_iodelay's last reading and its error; the JACK cycles in which a client
# was late (the busy machine) while loopcheck measured the path.
set -u
cd "$(dirname "$0")/.."
export SOURCE_DIR=$PWD BUILD_DIR="${BUILD_DIR:-$PWD/build}"
. tools/rig.sh
rig_test_begin
loopsim="$BUILD_DIR/tools/loopsim/loopsim" loopcheck="$BUILD_DIR/loopcheck/loopcheck" repeat=${REPEAT:-10}
rig_jack_start "loopcheck-accuracy-$$" 256 || fail "no JACK server"

converters="--delay 300 --aa 20000,127 --highpass 3 --gain 0.5"
#  name | measured: latency or group delay | loopsim options | loopcheck options
paths="
converters|gd|$converters|
inverted|gd|$converters --invert|
noise -60 dBFS|gd|$converters --noise -60|
half a frame|gd|--delay 300 --fraction 0.5 --aa 22000 --highpass 3|
EQ +0.5 dB 1 kHz Q 2|gd|--delay 300 --aa 22000 --highpass 3 --peak 1000,2,0.5 --gain 0.7|
shelf -10 dB 300 Hz|gd|--delay 40 --aa 20000 --highpass 5 --low-shelf 300,0.7071,-10 --gain 1.5|
dropouts 20 ms / 2 s|gd|--delay 300 --aa 22000 --highpass 3 --gain 0.5 --dropout 20,2|
beyond 2000|gd|--delay 2500 --aa 20000 --highpass 3|
delay 2820|lat|--delay 2820|
delay 10000|lat|--delay 10000|
delay 60000|lat|--delay 60000|
delay 200000|lat|--delay 200000|--max-delay 5
fraction 0.25|lat|--delay 300 --fraction 0.25|
fraction 0.5|lat|--delay 300 --fraction 0.5|
linear phase, noise -60 dBFS|lat|--delay 300 --aa 20000 --gain 0.5 --noise -60|
linear phase, noise -30 dBFS|lat|--delay 300 --aa 20000 --gain 0.5 --noise -30|
linear phase 255 taps|lat|--delay 300 --aa 20000,255 --gain 0.5|"

# jack_iodelay's last reading in 4 s through loopsim with OPTIONS.
iodelay_reading() {
    rig_loopsim_start "$@" --cable jack_delay:out:in || exit 1
    timeout 4 stdbuf -o0 jack_iodelay 2>/dev/null | tr '\r' '\n' |
        awk '$2 == "frames" && / total roundtrip/ { v = $1 } END { print v }'
    rig_stop $RIG_LOOPSIM_PID
}

round_trip=$(iodelay_reading --delay 0)
[ -n "$round_trip" ] || fail "jack_iodelay read nothing"
echo "The server's round trip, by jack_iodelay through a 0-frame loopsim: $round_trip frames; loopcheck --repeat $repeat."
echo
echo "| path | truth (frames) | loopcheck mean | sd | largest error | gain error (dB) | polarity | response: largest error (dB) | jack_iodelay | its error | late cycles |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
while IFS='|' read -r name measured options check_options; do
    [ -n "$name" ] && [[ $name =~ ${ONLY:-.} ]] || continue
    # shellcheck disable=SC2086
    truth=$(awk -v r="$round_trip" -v d="$("$loopsim" $options --print-group-delay 1000)" 'BEGIN { printf "%.4f", r + d }')
    # shellcheck disable=SC2086
    truth_gain=$(awk 'BEGIN { for (b = 0; b < 24; b++) for (i = 0; i < 20; i++) {
                                 lo = 500 * 2 ^ (b / 12); hi = 500 * 2 ^ ((b + 1) / 12); print lo + (hi - lo) * (i + 0.5) / 20 } }' |
        "$loopsim" $options --print-response-at |
        awk '{ s += 10 ^ ($2 / 20); n++ } END { printf "%.6f", 20 * log(s / n) / log(10) }')
    polarity=normal
    [[ " $options " == *" --invert "* ]] && polarity=inverted
    field=latency_frames
    [ "$measured" = gd ] && field=group_delay_1khz_frames

    late=$(grep -c "was not finished" "$RIG_JACK_LOG")
    # shellcheck disable=SC2086
    rig_loopsim_start $options --cable loopcheck || fail "no loopsim"
    # shellcheck disable=SC2086
    timeout 300 "$loopcheck" --repeat "$repeat" --json $check_options >"$work/runs.json" 2>/dev/null
    # A fresh loopsim: a long path still holds the last sweep, which the next
    # loopcheck would hear.
    rig_stop $RIG_LOOPSIM_PID
    # shellcheck disable=SC2086
    rig_loopsim_start $options --cable loopcheck || fail "no loopsim"
    # shellcheck disable=SC2086
    # Once more when a late JACK cycle on the busy machine spoiled it.
    timeout 120 "$loopcheck" --response "$work/r.csv" $check_options >/dev/null 2>&1 ||
        timeout 120 "$loopcheck" --response "$work/r.csv" $check_options >/dev/null 2>&1 || rm -f "$work/r.csv"
    rig_stop $RIG_LOOPSIM_PID
    late=$(($(grep -c "was not finished" "$RIG_JACK_LOG") - late))
    row=$(jq -r --argjson t "$truth" --argjson g "$truth_gain" --arg f "$field" --arg p "$polarity" '
        def fmt(d): . * pow(10; d) | round / pow(10; d) | tostring;
        if (.runs | length) == 0 then "| \(.message) | | | | |"
        else [.runs[] | .[$f]] as $x | ($x | add / length) as $m
            | "| \($m | fmt(4))\(if .status == "ok" then "" else " (\(.status))" end) | \(($x | map(. - $m | . * .) | add / length | sqrt) | fmt(5))"
            + " | \($x | map(. - $t | fabs) | max | fmt(5))"
            + " | \([.runs[] | .gain_db - $g | fabs] | max | fmt(4))"
            + " | \(if all(.runs[]; .polarity == $p) then "right" else "WRONG" end) |"
        end' "$work/runs.json" 2>/dev/null) || row="| failed | | | | |"
    if [ -s "$work/r.csv" ]; then
        # Against the truth at loopcheck's own frequencies, both relative to 1 kHz.
        awk -F, 'NR > 1 && $1 >= 20 && $1 <= 20000 && $5 == "" { print $1 }' "$work/r.csv" >"$work/hz"
        # shellcheck disable=SC2086
        response=$( (echo 1000; cat "$work/hz") | "$loopsim" $options --print-response-at |
            awk -F'[ ,]' 'NR == FNR { if (FNR == 1) ref = $2; else want[$1] = $2 - ref; next }
                          FNR == 1 { next } $5 == "" && ($1 in want) { d = $2 - want[$1]; if (d < 0) d = -d; if (d > worst) worst = d; n++ }
                          END { printf "%.4f (%d rows)", worst, n }' - "$work/r.csv")
    else
        response="failed"
    fi
    # shellcheck disable=SC2086
    iodelay=$(iodelay_reading $options)
    iodelay_error=$(awk -v a="$iodelay" -v t="$truth" 'BEGIN { if (a == "") print "-"; else printf "%.3f", a - t }')
    echo "| $name | $truth $row $response | ${iodelay:-none} | $iodelay_error | $late |"
done <<<"$paths"

#!/usr/bin/env bash
# loopcheck through loopsim (the simulated interface) on private JACK servers
# (dummy backend, period 256) at 48000, 44100 and 96000 Hz: one table of
# paths, each with the latency, gain and polarity it must find, and the
# loops that are not there, too long, broken by dropouts, clipped or echoed.
# loopsim plugs itself in between loopcheck:out_0 and loopcheck:in_0 the
# moment loopcheck registers its ports (--cable), within its 0.1 s of settling.
#
# The truth of a case: the server's own round trip R, measured once per server
# by jack_iodelay through a 0-frame loopsim, plus the path's group delay at
# 1 kHz as loopsim prints it (for a linear-phase path its delay to the peak);
# its gain: loopsim's level at 1 kHz; both of the main path, without its
# echoes. Each case's check is a jq expression over loopcheck's JSON with $lat
# (R + the path's delay) and $gain (dB), or "text:" and an extended regular
# expression its text output must match. A retry is not checked where the case
# does not cause one: on a busy machine a late JACK cycle spoils a run now and
# then, and loopcheck rightly retries it.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopsim="$BUILD_DIR/tools/loopsim/loopsim"
loopcheck="$BUILD_DIR/loopcheck/loopcheck"

# @CLEAN@: a clean converter path.
clean="--delay 300 --aa 20000 --gain 0.5"
#    name        | rate  | loopsim options                   | loopcheck options             | exit | check
cases=$(cat <<'CASES'
delay         |48000|--delay 300                          |--json                        |0|near(.summary.mean_frames; $lat; 0.01) and near(.runs[0].gain_db; $gain; 0.01) and .runs[0].polarity == "normal" and (.flags | del(.retried) | [.[]] | any | not)
converters    |48000|@CLEAN@ --highpass 3                  |--json                        |0|near(.runs[0].group_delay_frames; $lat; 0.05) and near(.runs[0].gain_db; $gain; 0.01)
half-frame    |48000|--delay 2820 --fraction 0.5 --aa 22000 --gain 0.7|--json --repeat 3   |0|near(.summary.mean_frames; $lat; 0.01) and .summary.runs == 3 and .summary.sd_frames < 0.005 and (.runs | length) == 3
long          |48000|--delay 60000                        |--json                        |0|near(.summary.mean_frames; $lat; 0.01) and near(.summary.mean_ms; $lat / 48; 0.001)
inverted      |48000|--delay 300 --invert --gain 0.5      |--json                        |0|near(.summary.mean_frames; $lat; 0.01) and near(.runs[0].gain_db; $gain; 0.01) and .runs[0].polarity == "inverted" and .flags.inverted
inverted-text |48000|--delay 300 --invert                 |                              |0|text:warning: polarity inverted
clipping      |48000|@CLEAN@ --gain 2                      |--json --level -1 --response @WORK@/r.csv|0|near(.summary.mean_frames; $lat; 0.01) and .flags.clipping and .response.valid == false
echo-after    |48000|--delay 300 --gain 0.5 --echo 5000,-6  |--json                        |0|near(.summary.mean_frames; $lat; 0.01) and .runs[0].next_peak.offset_frames == 5000 and near(.runs[0].next_peak.level_db; -6; 0.1) and .flags.echo
echo-before   |48000|--delay 300 --gain 0.5 --echo -200,-20 |--json                        |0|near(.summary.mean_frames; $lat; 0.01) and .runs[0].next_peak.offset_frames == -200 and near(.runs[0].next_peak.level_db; -20; 0.1) and .flags.echo
expect-pass   |48000|--delay 300                          |--json --expect @LAT@:0.01    |0|.status == "ok" and .expect.pass and .expect.frames == $lat
expect-fail   |48000|--delay 300                          |--json --expect 300           |5|.status == "outside expected" and .expect.pass == false and near(.summary.mean_frames; $lat; 0.01)
no-loop       |48000|--delay 300 --cable nobody           |--json                        |3|.status == "no loop" and (.message | test("no loop found")) and (.runs | length) == 0
beyond        |48000|--delay 60000                        |--max-delay 0.5               |3|text:no loop found within 24000 frames
just-beyond   |48000|--delay 30000                        |--max-delay 0.5               |3|text:no loop found within 24000 frames
dropout-once  |48000|@CLEAN@ --dropout-once 0.05,20        |--json                        |0|near(.summary.mean_frames; $lat; 0.01) and .runs[0].attempts == 2 and .flags.retried
dropout-every |48000|@CLEAN@ --dropout 5,0.05              |--json                        |4|.status == "unstable" and (.message | test("spoiled 3 times")) and (.runs | length) == 0
rate-44100    |44100|--delay 1000 --aa 20000 --gain 0.5   |--json                        |0|.rate == 44100 and near(.summary.mean_frames; $lat; 0.01) and near(.summary.mean_ms; $lat / 44.1; 0.001) and near(.runs[0].gain_db; $gain; 0.01)
rate-96000    |96000|--delay 1000 --aa 40000 --gain 0.5   |--json                        |0|.rate == 96000 and near(.summary.mean_frames; $lat; 0.01) and near(.summary.mean_ms; $lat / 96; 0.001) and near(.runs[0].gain_db; $gain; 0.01)
CASES
)

server_rate="" round_trip="" failed=0
while IFS='|' read -r name rate sim_options check_options want check; do
    name=${name// /}
    [ -n "$name" ] || continue
    if [ "$rate" != "$server_rate" ]; then
        rig_jack_stop
        rig_jack_start "loopcheck-test-$$-$rate" 256 "$rate" || fail "no JACK server at $rate Hz"
        rig_loopsim_start --delay 0 || fail "no loopsim"
        round_trip=$(rig_iodelay_frames loopsim:in loopsim:out)
        rig_stop $RIG_LOOPSIM_PID
        [ -n "$round_trip" ] || fail "jack_iodelay read nothing at $rate Hz"
        echo "$rate Hz: the server's round trip is $round_trip frames"
        server_rate=$rate
    fi
    sim_options=${sim_options//@CLEAN@/$clean}
    # shellcheck disable=SC2086
    set -- $sim_options
    [[ " $* " == *" --cable "* ]] || set -- "$@" --cable loopcheck
    main_path=$(sed 's/--echo [^ ]*//g' <<<"$*")
    # shellcheck disable=SC2086
    lat=$(awk -v r="$round_trip" -v d="$("$loopsim" --rate "$rate" $main_path --print-group-delay 1000)" 'BEGIN { print r + d }')
    # shellcheck disable=SC2086
    gain=$(echo 1000 | "$loopsim" --rate "$rate" $main_path --print-response-at | awk '{ print $2 }')
    rig_loopsim_start "$@" || fail "$name: no loopsim"
    check_options=${check_options//@LAT@/$lat}
    # shellcheck disable=SC2086
    timeout 60 "$loopcheck" ${check_options//@WORK@/$work} >"$work/out" 2>"$work/err"
    status=$?
    rig_stop $RIG_LOOPSIM_PID
    verdict=ok
    if [ "$status" != "$want" ]; then
        verdict="exit status $status, not $want"
    elif [ "${check#text:}" != "$check" ]; then
        grep -qE "${check#text:}" "$work/out" "$work/err" || verdict="no line matches /${check#text:}/"
    elif ! jq -e --argjson lat "$lat" --argjson gain "$gain" \
        "def near(x; y; t): (x - y) | fabs <= t; $check" "$work/out" >/dev/null 2>"$work/jq.err"; then
        verdict="the JSON fails: $check $(cat "$work/jq.err")"
    fi
    if [ "$verdict" = ok ]; then
        echo "ok   $name (truth $lat frames, $gain dB)"
    else
        echo "FAIL $name: $verdict (truth $lat frames, $gain dB); loopcheck $check_options printed:"
        sed 's/^/    /' "$work/out" "$work/err"
        failed=1
    fi
done <<<"$cases"
[ $failed = 0 ] || fail "some cases failed"
echo "PASS"

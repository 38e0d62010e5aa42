#!/usr/bin/env bash
# loopcheck through loopsim (the simulated interface) on private JACK servers
# (dummy backend, period 256) at 48000, 44100 and 96000 Hz: one table of
# paths, each with the latency, gain and polarity it must find, and the
# loops that are not there, too long, broken by dropouts, clipped or echoed;
# the server's own device straight on JACK (no device index), and the same
# named with -d, through PortAudio, which must read the same; and the JSON
# sample of docs/loopcheck.md held to a real run's keys and to the schema.
# loopsim plugs itself in between loopcheck:out_0 and loopcheck:in_0 the
# moment loopcheck registers its ports (--cable), within its 0.1 s of settling.
#
# The truth of a case: the server's own round trip R, measured once per server
# by jack_iodelay through a 0-frame loopsim, plus the path's group delay at
# 1 kHz as loopsim prints it (for a linear-phase path its delay to the peak);
# its gain: loopsim's level at 1 kHz; both of the main path, without its
# echoes. Each case's check is a jq expression over loopcheck's JSON with $lat
# (R + the path's delay) and $gain (dB), the JSON then held to its schema
# (docs/loopcheck.schema.json), or "text:" and an extended regular
# expression its text output must match. A retry is not checked where the case
# does not cause one: on a busy machine a late JACK cycle spoils a run now and
# then, and loopcheck rightly retries it. Where no loop is found every lag up
# to --max-delay is listened to: no-loop searches 0.5 s, not 2, so that three
# attempts on a busy machine are not all spoiled by such a cycle.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopsim="$BUILD_DIR/tools/loopsim/loopsim"
loopcheck="$BUILD_DIR/loopcheck/loopcheck"

# @CLEAN@: a clean converter path.
clean="--delay 300 --aa 20000 --gain 0.5"
#    name        | rate  | loopsim options                   | loopcheck options             | exit | check
cases=$(cat <<'CASES'
delay         |48000|--delay 300                          |--json                        |0|near(.summary.mean_frames; $lat; 0.01) and near(.runs[0].gain_db; $gain; 0.01) and .runs[0].polarity == "normal" and (.flags | del(.retried) | [.[]] | any | not) and .host_api == "JACK Audio Connection Kit" and .device.output == {"index": null, "name": "system"}
portaudio     |48000|--delay 300                          |--json -d system              |0|near(.summary.mean_frames; $lat; 0.01) and .host_api == "JACK Audio Connection Kit" and (.device.output.index | type) == "number" and .device.input.name == "system" and .reported_latency.frames == 256
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
no-loop       |48000|--delay 300 --cable nobody           |--json --max-delay 0.5       |3|.status == "no loop" and (.message | test("no loop found.*input 1 of .system. was digital silence")) and (.runs | length) == 0
alsa-index    |48000|--delay 300                          |--json -d 0 --max-delay 0.5   |3|.host_api == "ALSA" and .device.output == {"index": 0, "name": "jack"} and (.message | test("input 1 of .jack. was digital silence"))
beyond        |48000|--delay 60000                        |--max-delay 0.5               |3|text:no loop found within 24000 frames
just-beyond   |48000|--delay 30000                        |--max-delay 0.5               |3|text:no loop found within 24000 frames
dropout-once  |48000|@CLEAN@ --dropout-once 0.05,20        |--json                        |0|near(.summary.mean_frames; $lat; 0.01) and .runs[0].attempts >= 2 and (.runs[0].dropouts[0] | test("digital silence")) and .flags.retried
slip-once     |48000|@CLEAN@ --glitch insert,0.03,256 --glitch drop,0.06,256|--json                        |0|near(.summary.mean_frames; $lat; 0.01) and .runs[0].attempts >= 2 and (.runs[0].dropouts[0] | test("delay moved by")) and .flags.retried
dropout-every |48000|@CLEAN@ --dropout 5,0.05              |--json                        |4|.status == "unstable" and (.message | test("spoiled 3 times")) and (.runs | length) == 0
weak          |48000|--delay 300 --gain 0.003 --noise -40   |--json                        |0|.runs[0].lengthened and .runs[0].snr_db < 40 and ((.summary.mean_frames - $lat) | fabs) <= .summary.latency_uncertainty_frames
rate-44100    |44100|--delay 1000 --aa 20000 --gain 0.5   |--json                        |0|.rate == 44100 and near(.summary.mean_frames; $lat; 0.01) and near(.summary.mean_ms; $lat / 44.1; 0.001) and near(.runs[0].gain_db; $gain; 0.01)
rate-96000    |96000|--delay 1000 --aa 40000 --gain 0.5   |--json                        |0|.rate == 96000 and near(.summary.mean_frames; $lat; 0.01) and near(.summary.mean_ms; $lat / 96; 0.001) and near(.runs[0].gain_db; $gain; 0.01)
CASES
)

server_rate="" round_trip="" failed=0

# A case whose check failed while the server logged an XRun (a client late
# because the machine stalled: a run spoiled beyond its retries, or a retry
# whose reason is the stall rather than the case's own dropout) is run again,
# twice at most.
# A cycle the dummy server skipped because a client was late ("was not
# finished": loopsim's, say, which no client sees) disturbs the case alike: in
# a clean-clone run one left a pure delay's gain at -2.68 dB, no XRun logged.
xruns_logged() { grep -c -e XRun -e "was not finished" "$RIG_JACK_LOG"; }
# A run the server disturbed that loopcheck rightly judged unstable (4).
disturbed() { # STATUS XRUNS_BEFORE NAME
    [ "$1" = 4 ] && [ "$(xruns_logged)" -gt "$2" ] || return 1
    echo "note $3: unstable while the server logged an xrun; run again"
}
# Sets verdict for the case's last run: ok, or what failed.
judge() {
    verdict=ok
    if [ "$status" != "$want" ]; then
        verdict="exit status $status, not $want"
    elif [ "${check#text:}" != "$check" ]; then
        grep -qE "${check#text:}" "$work/out" "$work/err" || verdict="no line matches /${check#text:}/"
    elif ! jq -e --argjson lat "$lat" --argjson gain "$gain" \
        "def near(x; y; t): (x - y) | fabs <= t; $check" "$work/out" >/dev/null 2>"$work/jq.err"; then
        verdict="the JSON fails: $check $(cat "$work/jq.err")"
    elif ! rig_json_check "$work/out" >"$work/schema.err"; then
        verdict="the JSON breaks docs/loopcheck.schema.json:
$(cat "$work/schema.err")"
    fi
}
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
    check_options=${check_options//@LAT@/$lat}
    for attempt in 1 2 3; do
        [ "$attempt" = 1 ] || rig_hold_builds 70  # the next attempt without the builds beside it
        xruns=$(xruns_logged)
        rig_loopsim_start "$@" || fail "$name: no loopsim"
        # shellcheck disable=SC2086
        timeout 60 "$loopcheck" ${check_options//@WORK@/$work} >"$work/out" 2>"$work/err"
        status=$?
        rig_stop $RIG_LOOPSIM_PID
        judge
        [ "$verdict" != ok ] && [ "$(xruns_logged)" -gt "$xruns" ] && [ $attempt -lt 3 ] || break
        echo "note $name: $verdict, while the server logged an xrun; run again"
    done
    if [ "$verdict" = ok ]; then
        echo "ok   $name (truth $lat frames, $gain dB)"
    else
        echo "FAIL $name: $verdict (truth $lat frames, $gain dB); loopcheck $check_options printed:"
        sed 's/^/    /' "$work/out" "$work/err"
        failed=1
    fi
done <<<"$cases"

# The response's noise: every run of --repeat 3 measures its own, and reads
# what a single run reads, row by row, within a few dB (never "200", never
# empty). Each row's SNR is an estimate from 4096 quiet frames: two runs'
# differ by about 3 dB on average, and without a bias. At period 1024: four
# runs of 1.3 s each at 256 are often spoiled three times over by the odd
# 10 ms the machine stalls (the server's log: "JackTimedDriver::Process XRun").
rig_jack_stop
rig_jack_start "loopcheck-test-$$-noise" 1024 48000 || fail "no JACK server"
rig_loopsim_start --delay 300 --aa 20000 --gain 0.5 --noise -60 --cable loopcheck || fail "no loopsim"

# The JSON sample of docs/loopcheck.md ("key for key") is a real run's: the
# keys loopcheck prints with the options the sample names (--expect,
# --response), nested objects recursively and arrays by their first element
# (tools/json_sample.py), and the sample passes the schema. A key added to
# the output fails here until the sample shows it.
for attempt in 1 2 3; do
    [ "$attempt" = 1 ] || rig_hold_builds 70  # the next attempt without the builds beside it
    xruns=$(xruns_logged)
    timeout 60 "$loopcheck" --json --expect 1387 --response "$work/sample.csv" >"$work/real.json" 2>"$work/err"
    status=$?
    disturbed "$status" "$xruns" "the JSON sample's run" || break
done
[ "$status" = 0 ] || [ "$status" = 5 ] || fail "the JSON sample's run: exit status $status: $(cat "$work/real.json" "$work/err")"
python3 "$SOURCE_DIR/tools/json_sample.py" --out "$work/sample.json" "$work/real.json" >"$work/keys" ||
    fail "docs/loopcheck.md's JSON sample is not a real run's, key for key (refresh it from loopcheck --json --expect 619 --response r.csv):
$(sed 's/^/    /' "$work/keys")"
rig_json_check "$work/sample.json" || fail "docs/loopcheck.md's JSON sample breaks docs/loopcheck.schema.json"
echo "docs/loopcheck.md's JSON sample: the keys of a real run, and the schema's"

response_noise_pair() {
    for what in "one.csv" "three.csv --repeat 3"; do
        for attempt in 1 2 3; do
            [ "$attempt" = 1 ] || rig_hold_builds 70  # the next attempt without the builds beside it
            xruns=$(xruns_logged)
            # shellcheck disable=SC2086
            timeout 60 "$loopcheck" -q --response "$work/"$what >/dev/null 2>&1
            status=$?
            disturbed "$status" "$xruns" "response $what" || break
        done
        [ "$status" = 0 ] || fail "the response run $what failed: exit status $status"
    done
    awk -F, '
        FNR == 1 { file++; next }
        file == 1 { one[$1] = $4; next }
        $1 >= 100 && $1 <= 15000 && ($1 in one) {
            rows++
            if ($4 == "" || one[$1] == "" || $4 >= 199 || one[$1] >= 199) bad++
            d = $4 - one[$1]; bias += d; if (d < 0) d = -d
            if (d > 6) far++
            sum += d
        }
        END {
            printf "response noise: %d rows, mean SNR difference %.2f dB, mean |difference| %.2f dB, %d over 6 dB, %d unmeasured\n", rows, bias / rows, sum / rows, far, bad
            exit !(rows > 1000 && bad == 0 && bias / rows < 1.5 && -bias / rows < 1.5 && sum / rows < 4 && far < rows / 8)
        }' "$work/one.csv" "$work/three.csv"
}
# The fault this looks for is systematic: every pair would disagree. A single
# pair spoiled by a click the server did not log (a 10 ms stall of loopsim or
# loopcheck on a loaded machine adds its energy to 4096 quiet frames) is taken
# again: up to three pairs, and one that agrees passes. Three that disagree
# fail, unless every one of them was disturbed, which cannot be judged.
undisturbed_disagreements=0
for pair in 1 2 3; do
    before=$(($(xruns_logged) + $(rig_jack_skipped)))
    response_noise_pair && break
    [ $(($(xruns_logged) + $(rig_jack_skipped))) -gt $before ] || undisturbed_disagreements=$((undisturbed_disagreements + 1))
    if [ $pair = 3 ]; then
        [ $undisturbed_disagreements = 0 ] || fail "the runs after the first measure the noise unlike the first, in three pairs of three"
        echo "SKIP: the response noise pair was disturbed by the server in every attempt: the machine is too busy to judge it"
        exit 77
    fi
    echo "note response noise: the pair disagreed; run again"
done

rig_stop $RIG_LOOPSIM_PID

# Every bad number is refused with status 2 and its reason, before PortAudio is
# touched: within a second, and no JACK client of loopcheck's is left behind.
bad_numbers=(
    "--level nan" "--level inf" "--level -inf" "--level 1e999" "--level 1" "--level -81" "--level 3x"
    "--max-delay nan" "--max-delay inf" "--max-delay -inf" "--max-delay 1e999" "--max-delay 0" "--max-delay 11"
    "--settle nan" "--settle inf" "--settle -inf" "--settle 1e999" "--settle -1" "--settle 11"
    "--expect nan" "--expect inf" "--expect -inf" "--expect 1e999" "--expect 0:nan" "--expect 100:inf" "--expect 100:-1"
    "-r nan" "-r inf" "-r -inf" "-r 1e999" "-r 1000" "-r 1000000"
    "--repeat nan" "--repeat inf" "--repeat -inf" "--repeat 1e999" "--repeat 0" "--repeat 101" "--repeat 1.5")
for bad in "${bad_numbers[@]}"; do
    # shellcheck disable=SC2086
    timeout 1 "$loopcheck" $bad >"$work/out" 2>"$work/err"
    status=$?
    [ $status = 2 ] || { echo "FAIL loopcheck $bad: exit status $status, not 2: $(cat "$work/out" "$work/err")"; failed=1; continue; }
    [ "$(tail -1 "$work/err")" = 'Run "loopcheck --help" for the options.' ] && [ "$(wc -l <"$work/err")" = 2 ] ||
        { echo "FAIL loopcheck $bad: not the reason and where the options are: $(cat "$work/err")"; failed=1; }
done
if jack_lsp 2>/dev/null | grep -q "^loopcheck"; then
    echo "FAIL a bad number left a JACK client: $(jack_lsp | grep loopcheck)"
    failed=1
fi
echo "bad numbers: ${#bad_numbers[@]} refused with status 2"
# With --json, one JSON object on standard output whatever the status: a bad
# option (2) and an output file that cannot be written (1) included.
for case in "2|bad options|--json --level nan" "2|bad options|--repaet 3 --json" "1|error|--json --report /nonexistent/r.html"; do
    IFS='|' read -r want status_word options <<<"$case"
    # shellcheck disable=SC2086
    timeout 5 "$loopcheck" $options >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" = "$want" ] || fail "loopcheck $options: exit status $status, not $want"
    rig_json_check "$work/out" || fail "loopcheck $options: standard output is not one object of docs/loopcheck.schema.json: $(cat "$work/out")"
    jq -e --arg s "$status_word" --argjson e "$want" '.status == $s and .exit_status == $e and (.message | length) > 0' \
        "$work/out" >/dev/null || fail "loopcheck $options: $(cat "$work/out")"
done
echo "--json: one object for a bad option (2) and an unwritable report (1)"
"$loopcheck" --help >"$work/out" || fail "--help ended with an error"
head -1 "$work/out" | grep -q "^usage: loopcheck" || fail "--help does not begin with the usage: $(head -3 "$work/out")"
# Mistyped as people mistype them: the option named, the one meant, and where
# the options are listed, on two lines.
while IFS='|' read -r options said; do
    # shellcheck disable=SC2086
    timeout 5 "$loopcheck" $options >"$work/out" 2>"$work/err"
    status=$?
    printf 'loopcheck: %s\nRun "loopcheck --help" for the options.\n' "$said" | cmp -s - "$work/err" && [ $status = 2 ] ||
        fail "loopcheck $options: exit status $status and \"$(cat "$work/err")\", not 2 and \"$said\""
done <<'TYPED'
--repaet 3|--repaet is not an option; did you mean --repeat?
-repeat 3|-repeat is not an option; did you mean --repeat?
--monitor 1h30m --levle -3|--levle is not an option; did you mean --level?
--monitor 10min --max-glitches 1.5|--max-glitches: "1.5" is not a whole number
--level|--level needs a value: DBFS
TYPED
# The man page says what --help says of every option's range and default: both
# are printed from one table. (Lines joined: each wraps them its own way.)
man_page="$BUILD_DIR/man/loopcheck.1"
if [ -f "$man_page" ]; then
    man_text=$(MANWIDTH=5000 man -l "$man_page" 2>/dev/null | col -b | tr -s ' \n' '  ')
    help_text=$("$loopcheck" --help | tr -s ' \n' '  ')
    while read -r fact; do
        [ -n "$fact" ] || continue
        grep -qF -- "$fact" <<<"$man_text" || fail "the man page lacks --help's \"$fact\""
    done < <(grep -oE '[-0-9.]+ to [-0-9.]+( \(default [^)]*\))?|\(default [^)]*\)' <<<"$help_text")
    echo "man page: every range and default --help gives"
else
    echo "note: no man page built (scdoc missing): --help and the man page not compared"
fi
# The user's reference names every option --help lists.
for option in $("$loopcheck" --help | grep -oE '^  (-[a-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+'); do
    grep -qF -- "\`$option" "$SOURCE_DIR/docs/loopcheck.md" || fail "docs/loopcheck.md does not name $option"
done
[ $failed = 0 ] || fail "some cases failed"
echo "PASS"

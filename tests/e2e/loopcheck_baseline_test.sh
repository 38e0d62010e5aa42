#!/usr/bin/env bash
# Baselines through loopsim on a private JACK server (dummy backend, 48000 Hz,
# period 256): a baseline made with --quality on loopsim's --delay 300 --poly
# 0,0.001 (a cubic: THD+N from its third harmonic, no noise), then compared with
#   - the same loop: exit 0;
#   - 1 frame more delay (--delay 301): exit 5, latency_frames named;
#   - the cubic's coefficient times sqrt 2: its harmonic's power doubled, THD+N
#     3.01 dB worse (the closed form, 20 log10 sqrt 2): exit 5, thd_n_db named;
#   - the coefficient 2 % larger (THD+N 0.17 dB worse, inside its 1 dB
#     tolerance): exit 0;
#   - a baseline whose identity is another interface's: refused, status 1,
#     and compared with --baseline-any: exit 0;
# and --trend over the results kept: two interfaces, the worse THD+N marked.
# The JUnit of a regression holds the figure as a <failure>.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
rig_jack_start "loopcheck-baseline-$$" 256 48000 || fail "no JACK server"

failed=0
# Runs loopcheck through loopsim with LOOPSIM options, again when a late server cycle made it unstable (4).
run() { # name, loopsim options, then loopcheck's
    local name="$1" sim="$2" xruns
    shift 2
    for attempt in 1 2 3; do
        [ "$attempt" = 1 ] || rig_hold_builds 60
        xruns=$(grep -c XRun "$RIG_JACK_LOG")
        # shellcheck disable=SC2086
        rig_loopsim_start $sim --cable loopcheck || fail "$name: no loopsim"
        timeout 60 "$loopcheck" "$@" >"$work/$name.out" 2>"$work/$name.err"
        status=$?
        rig_stop "$RIG_LOOPSIM_PID"
        [ "$status" = 4 ] && [ "$(grep -c XRun "$RIG_JACK_LOG")" -gt "$xruns" ] || return 0
        echo "note $name: attempt $attempt unstable while the server logged an xrun; run again"
    done
}
expect() { # name, exit status wanted, then a command that must succeed
    local name="$1" want="$2"
    shift 2
    if [ "$status" = "$want" ] && "$@" >/dev/null 2>&1; then
        echo "ok   $name (exit $status) $(grep -hE "^(regressed|loopcheck: --baseline)" "$work/$name.out" "$work/$name.err" 2>/dev/null | head -1)"
    else
        echo "FAIL $name: exit status $status (want $want)"
        sed 's/^/    /' "$work/$name.out" "$work/$name.err" | tail -15
        failed=1
    fi
}

run base "--delay 300 --poly 0,0.001" --quality --save-baseline "$work/base.json" --json
[ "$status" = 0 ] || fail "the baseline's run: exit status $status: $(cat "$work/base.out" "$work/base.err")"
rig_json_check "$work/base.json" || fail "the baseline breaks the schema"
echo "baseline: latency $(jq .summary.mean_frames "$work/base.json"), THD+N $(jq '.quality.channels[0].thd_n[0].thd_n_db' "$work/base.json") dB"

run same "--delay 300 --poly 0,0.001" --quality --baseline "$work/base.json"
expect same 0 grep -q "^baseline: thd_n_db " "$work/same.out"
run later "--delay 301 --poly 0,0.001" --quality --baseline "$work/base.json" --junit "$work/later.xml"
expect later 5 grep -qE "^regressed: latency_frames 55[0-9.]+ → 55[0-9.]+ frames, tolerance 0.5$" "$work/later.out"
expect later-junit 5 test "$(xmllint --xpath 'count(//testcase[@classname="loopcheck.baseline"][@name="latency_frames"]/failure)' "$work/later.xml")" = 1
run worse "--delay 300 --poly 0,0.0014142136" --quality --baseline "$work/base.json" --json
expect worse 5 jq -e '(.message | test("regressed: thd_n_db")) and (.message | test("latency") | not) and .status == "regressed"' "$work/worse.out"
# The change itself against the closed form: 3.01 dB within 0.05.
change=$(jq -n --slurpfile a "$work/base.json" --slurpfile b "$work/worse.out" '$b[0].quality.channels[0].thd_n[0].thd_n_db - $a[0].quality.channels[0].thd_n[0].thd_n_db')
echo "THD+N moved by $change dB"
expect worse-by-3.01-dB 5 awk -v c="$change" 'BEGIN { exit !((c - 3.0103)^2 < 0.0025) }'
run slightly "--delay 300 --poly 0,0.00102" --quality --baseline "$work/base.json"
expect slightly 0 grep -q "^baseline: thd_n_db " "$work/slightly.out"

jq -c '.environment.key = "usb:08bb:2902:ANOTHER"' "$work/base.json" >"$work/other.json"
run other "--delay 300" --baseline "$work/other.json"
expect other 1 grep -q "made on another interface" "$work/other.err"
run other-any "--delay 300" --baseline "$work/other.json" --baseline-any
expect other-any 0 true
# --trend over the runs kept: the baseline, the worse one and the other interface's; a stranger not read.
mkdir -p "$work/lab/bench-1" "$work/lab/bench-2"
cp "$work/base.json" "$work/lab/bench-1/1.json"
cp "$work/worse.out" "$work/lab/bench-1/2.json"
cp "$work/other.json" "$work/lab/bench-2/1.json"
echo '{"program": "sox"}' >"$work/lab/stranger.json"
status=0
timeout 30 "$loopcheck" --trend "$work/lab" --json >"$work/trend.out" 2>"$work/trend.err" || status=$?
expect trend 0 jq -e '.results == 3 and .unread == 1 and (.trend | length) == 2 and
    ([.trend[] | select(.results == 2) | .figures[] | select(.name == "thd_n_db") | .points | map(.regressed)] == [[false, true]]) and
    ([.trend[] | select(.results == 2) | .figures[] | select(.name == "latency_frames") | .points | map(.regressed)] == [[false, false]])' "$work/trend.out"
[ $failed = 0 ] || exit 1
echo "loopcheck baselines: every case as expected"

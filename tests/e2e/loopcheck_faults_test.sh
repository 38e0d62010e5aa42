#!/usr/bin/env bash
# The faults a new user met in loopcheck's output, through loopsim on a
# private JACK server (dummy backend, 48000 Hz, period 256), each as the user
# met it (every one failed at 26b57cb):
#   - a --monitor run said of the monitor that it did not run, before it ran:
#     the text's "note: --monitor did not run: the session ended before it",
#     the start event's measurement.not_run listing it (a CI check on not_run
#     failed every night);
#   - -q with a failing --expect or --limits exited 5 and said nothing on
#     standard error, where the docs promise the reason there;
#   - --buffers' soak was refused in the monitor's words (1 s, "or 0 for until
#     Ctrl-C"), and a soak too short to judge a size was taken.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
rig_jack_start "loopcheck-faults-$$" 256 48000 || fail "no JACK server"
echo '{"thd_n_db": {"max": -200}}' >"$work/tight.json"
failed=0
check() { # name condition-message
    if [ "$2" = ok ]; then echo "ok   $1"; else echo "FAIL $1: $2"; failed=1; fi
}

# Runs loopcheck with the options through loopsim; its output in $work/out and $work/err, its status in $status.
measure() {
    rig_loopsim_start --delay 300 --gain 0.5 --cable loopcheck || fail "no loopsim"
    # shellcheck disable=SC2068
    timeout 120 "$loopcheck" $@ >"$work/out" 2>"$work/err"
    status=$?
    rig_stop "$RIG_LOOPSIM_PID"
}

measure --monitor 2s
! grep -q "did not run" "$work/out" && [ "$status" = 0 ] && verdict=ok ||
    verdict="status $status, or a note that it did not run: $(grep "did not run" "$work/out")"
check "--monitor says nothing of the monitor before it ran" "$verdict"

measure --json --monitor 2s
head -1 "$work/out" | jq -e '.event == "start" and .measurement.not_run == []' >/dev/null && verdict=ok ||
    verdict="the start's not_run: $(head -1 "$work/out" | jq -c .measurement.not_run)"
check "--monitor's start event lists nothing not run" "$verdict"

measure -q --expect 3000
[ "$status" = 5 ] && grep -qx "556.000" "$work/out" &&
    [ "$(cat "$work/err")" = "outside the expected 3000.000 ± 0.500 frames" ] && verdict=ok ||
    verdict="status $status, standard output \"$(cat "$work/out")\", standard error \"$(cat "$work/err")\""
check "-q with a failing --expect says why on standard error" "$verdict"

measure -q --limits "$work/tight.json"
[ "$status" = 5 ] && grep -qx "556.000" "$work/out" && [ "$(cat "$work/err")" = "outside limits: thd_n_db" ] &&
    verdict=ok || verdict="status $status, standard error \"$(cat "$work/err")\""
check "-q with failing --limits says why on standard error" "$verdict"

for soak in 0.5 0 1; do
    "$loopcheck" --buffers 256 --soak "$soak" >"$work/out" 2>"$work/err"
    status=$?
    said="loopcheck: --soak: \"$soak\" is outside 2 s to 1000 h (a soak checks the loop from some 0.6 s after it starts)"
    [ "$status" = 2 ] && [ "$(head -1 "$work/err")" = "$said" ] && verdict=ok ||
        verdict="status $status: $(head -1 "$work/err")"
    check "--soak $soak is refused in the soak's own words" "$verdict"
done

[ $failed = 0 ] || exit 1
echo "PASS"

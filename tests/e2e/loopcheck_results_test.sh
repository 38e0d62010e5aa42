#!/usr/bin/env bash
# What CI engines read of loopcheck, through loopsim on a private JACK server
# (dummy backend, 48000 Hz, period 256): --junit valid against the Jenkins
# xunit plugin's junit-10.xsd (tests/data/junit/), --lava's lines, and
# --skip-if-no-loop with --exit-protocol gnu. Three runs, each read for
# several checks:
#   - latency + --expect + --limits (one figure no converter reaches) +
#     --monitor 3s: every check a test case; the limit that fails a <failure>
#     with loopcheck's words; the latency's value within 0.5 frame of the
#     truth (jack_iodelay through a 0-frame loopsim, plus loopsim's 300); the
#     monitor's glitches 0 as loopsim's log has none; the report attached;
#     LAVA's lines the same checks;
#   - no loop wired (loopsim not started), --skip-if-no-loop --exit-protocol
#     gnu: status 77, the loop's case and the modes not run <skipped>;
#   - --buffers 256,512: a case per size;
#   - --monitor with --save-glitches on a loopsim that zeroes 480 frames (its
#     log's one glitch): the glitches' case a <failure> whose system-out
#     attaches every WAV the monitor wrote, each once, and no other case any.
# And the JSON's environment: libjack's version the one jackd --version
# prints (JACK 2's server and library come from one package), the schema's
# version, and LOOPCHECK_SYSFS read for the machine (a fixture tree's host
# name in the JSON and as the JUnit suite's hostname).
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
xsd="$SOURCE_DIR/tests/data/junit/junit-10.xsd"
command -v xmllint >/dev/null || fail "no xmllint (libxml2-utils, in tools/setup.sh's test list)"
rig_jack_start "loopcheck-results-$$" 256 48000 || fail "no JACK server"
rig_server_round_trip
lat=$((round_trip + 300))
echo "the server's round trip is $round_trip frames: the loop's latency $lat"
# One figure no converter reaches, two any loop meets.
echo '{"thd_n_db": {"max": -200}, "gain_db": {"min": -30, "max": 10}, "noise_dbfs": {"max": 0}}' >"$work/limits.json"

failed=0
check() { # what, then a command that must succeed
    local what="$1"
    shift
    if "$@" >/dev/null 2>&1; then echo "ok   $what"; else echo "FAIL $what"; failed=1; fi
}
valid() { xmllint --noout --schema "$xsd" "$1" 2>&1 | grep -v " validates$"; xmllint --noout --schema "$xsd" "$1" 2>/dev/null; }
xpath() { xmllint --xpath "$2" "$1" 2>/dev/null; }
is() { [ "$(xpath "$1" "$2")" = "$3" ]; }

# ---- a run of every kind of check ------------------------------------------------
for attempt in 1 2 3; do
    [ "$attempt" = 1 ] || rig_hold_builds 60
    xruns=$(grep -c XRun "$RIG_JACK_LOG")
    skipped=$(rig_jack_skipped)
    rig_loopsim_start --delay 300 --gain 0.5 --cable loopcheck || fail "no loopsim"
    timeout 90 "$loopcheck" --json --expect "$lat:0.5" --limits "$work/limits.json" --monitor 3s --max-drift 200 \
        --junit "$work/a.xml" --lava "$work/a.txt" --report "$work/a.html" >"$work/a.json" 2>"$work/a.err"
    status=$?
    rig_stop "$RIG_LOOPSIM_PID"
    # A busy machine's server that logged an xrun, or skipped a late client's
    # cycle ("was not finished"), made the run unstable (4) or its frames
    # glitch (7; a clean-clone run once counted 2 glitches where loopsim logged
    # none): those frames were lost in the server, not in the loop.
    { [ "$status" = 4 ] || [ "$status" = 7 ]; } || break
    [ "$(grep -c XRun "$RIG_JACK_LOG")" -gt "$xruns" ] || [ "$(rig_jack_skipped)" -gt "$skipped" ] || break
    echo "note: attempt $attempt ended with status $status while the server logged an xrun or skipped a cycle; run again"
done
a="$work/a.xml"
echo "exit status $status; the JUnit's cases:"
xpath "$a" '//testcase' | grep -o '<testcase [^>]*' | sed 's/^/    /'
check "exit status 5 (outside limits), got $status" [ "$status" = 5 ]
check "the JUnit validates against junit-10.xsd" valid "$a"
check "the loop found, a case" is "$a" 'count(//testcase[@classname="loopcheck.latency"][@name="loop_found"][not(*)])' 1
check "the latency against --expect, passing" \
    is "$a" 'count(//testcase[@classname="loopcheck.latency"][@name="latency_frames"][not(failure)])' 1
value=$(xpath "$a" 'string(//property[@name="latency.latency_frames.value"]/@value)')
check "its value $value within 0.5 frame of the truth $lat" awk -v v="$value" -v t="$lat" 'BEGIN { exit !(v != "" && (v - t)^2 <= 0.25) }'
check "its bounds and direction as properties" is "$a" 'string(//property[@name="latency.latency_frames.direction"]/@value)' closer
for figure in thd_n_db gain_db noise_dbfs; do
    check "the limit $figure a case" is "$a" "count(//testcase[@classname=\"loopcheck.quality\"][@name=\"$figure\"])" 1
done
check "the failing limit a <failure>" \
    is "$a" 'count(//testcase[@classname="loopcheck.quality"][@name="thd_n_db"]/failure)' 1
check "the passing limits not" is "$a" 'count(//testcase[@classname="loopcheck.quality"][@name!="thd_n_db"][@name!="limits"]/failure)' 0
check "loopcheck's words as the limits' failure" \
    is "$a" 'string(//testcase[@name="limits"]/failure/@message)' "outside limits: thd_n_db"
check "thd_n_db's unit dB" is "$a" 'string(//property[@name="quality.thd_n_db.unit"]/@value)' dB
# The monitor: loopsim's log names no glitch, so the count is 0 and the case passes.
loopsim_glitches=$(grep -ci glitch "$work/loopsim.out")
check "loopsim logged no glitch ($loopsim_glitches)" [ "$loopsim_glitches" = 0 ]
[ "$status" = 7 ] && { echo "the monitor's glitches, none logged by loopsim or the server:"; jq -c '.monitor.glitches // .monitor' "$work/a.json" 2>/dev/null | head -c 2000; echo; }
check "the monitor's glitches a passing case of 0" \
    is "$a" 'concat(count(//testcase[@classname="loopcheck.monitor"][@name="glitches"][not(failure)]), " ", //property[@name="monitor.glitches.value"]/@value)' "1 0"
check "the monitor's drift a case" is "$a" 'count(//testcase[@classname="loopcheck.monitor"][@name="drift_ppm"])' 1
check "the report attached" grep -q "\[\[ATTACHMENT|$work/a.html\]\]" "$a"
check "the tallies: the testsuite's failures are its <failure>s" \
    is "$a" 'number(//testsuite/@failures) = count(//testcase/failure) and number(//testsuite/@tests) = count(//testcase)' true
check "LAVA's lines, one a case" [ "$(wc -l <"$work/a.txt")" = "$(xpath "$a" 'count(//testcase)')" ]
check "LAVA's latency with its measurement" grep -qE "^latency\.latency_frames pass $value frames$" "$work/a.txt"
check "LAVA's failing limit" grep -qE "^quality\.thd_n_db fail -?[0-9.e+-]+ dB$" "$work/a.txt"
check "the JSON passes the schema" rig_json_check "$work/a.json"
jack_version=$(timeout 10 jackd --version 2>/dev/null | sed -n 's/^jackdmp version \([0-9.]*\).*/\1/p' | head -1)
libjack=$(head -1 "$work/a.json" | jq -r '.measurement.environment.audio.libjack')
check "libjack $libjack, the server's $jack_version" [ "${jack_version:-none}" = "$libjack" ]
check "schema_version 1.2" [ "$(head -1 "$work/a.json" | jq -r .measurement.schema_version)" = 1.2 ]

# ---- no loop wired: a skip, under GNU's convention --------------------------------
LOOPCHECK_SYSFS="$SOURCE_DIR/tests/data/identity/usb" timeout 60 "$loopcheck" --json --quality --monitor 3s \
    --skip-if-no-loop --exit-protocol gnu --junit "$work/b.xml" --lava "$work/b.txt" >"$work/b.out" 2>"$work/b.err"
status=$?
b="$work/b.xml"
check "no loop: exit status 77 under gnu, got $status ($(tail -1 "$work/b.out"))" [ "$status" = 77 ]
check "no loop: the JUnit validates" valid "$b"
check "no loop: the loop's case skipped" is "$b" 'count(//testcase[@name="loop_found"]/skipped)' 1
check "no loop: --quality and --monitor skipped, with their reason" \
    is "$b" 'count(//testcase[@name="quality" or @name="monitor"]/skipped[string-length(@message) > 0])' 2
check "no loop: no failure" is "$b" 'count(//failure)' 0
# (Its stream's clock against the system's, a figure of a stream that ran 5 s
# or more, which a slow start on a busy machine reaches, aside.)
check "no loop: LAVA's lines" diff <(printf 'latency.loop_found skip\nquality skip\nmonitor skip\n') <(grep -v clock_rate "$work/b.txt")
check "no loop: the JSON's status skip, its own exit status 77" jq -e '.status == "skip" and .exit_status == 77' "$work/b.out"
check "no loop: the JSON passes the schema" rig_json_check "$work/b.out"
check "LOOPCHECK_SYSFS: the fixture's host in the JSON" jq -e '.environment.host.name == "bench-usb" and .environment.host.dmi.product == "OptiPlex 7080"' "$work/b.out"
check "LOOPCHECK_SYSFS: and the JUnit's hostname" is "$b" 'string(//testsuite/@hostname)' bench-usb

# ---- a buffer sweep ------------------------------------------------------------------
rig_loopsim_start --delay 300 --cable loopcheck || fail "no loopsim"
timeout 90 "$loopcheck" --buffers 256,512 --soak 2 --junit "$work/c.xml" >"$work/c.out" 2>"$work/c.err"
status=$?
rig_stop "$RIG_LOOPSIM_PID"
c="$work/c.xml"
check "--buffers: the JUnit validates (exit status $status)" valid "$c"
check "--buffers: a case per size" is "$c" 'count(//testcase[@classname="loopcheck.buffers"][@name="buffer 256" or @name="buffer 512"])' 2
check "--buffers: each size's round trip, in ms" \
    is "$c" 'string(//property[@name="buffers.buffer 512.unit"]/@value)' ms
# ---- the glitches' WAVs as attachments ---------------------------------------------------
rig_loopsim_start --delay 300 --glitch zero,1.5,480 --cable loopcheck || fail "no loopsim"
timeout 90 "$loopcheck" --monitor 4s --save-glitches "$work/wav" --junit "$work/d.xml" >"$work/d.out" 2>"$work/d.err"
status=$?
rig_stop "$RIG_LOOPSIM_PID"
d="$work/d.xml"
loopsim_glitches=$(grep -c "^glitch " "$work/loopsim.out")
wavs=$(cd "$work/wav" 2>/dev/null && ls *.wav 2>/dev/null | sed "s|^|$work/wav/|" | sort)
attached=$(xpath "$d" 'string(//testcase[@name="glitches"]/system-out)' | sed -n 's/^\[\[ATTACHMENT|\(.*\.wav\)\]\]$/\1/p' | sort)
check "--save-glitches: the JUnit validates (exit status $status)" valid "$d"
check "--save-glitches: loopsim logged 1 glitch ($loopsim_glitches), the glitches' case a failure" \
    is "$d" 'count(//testcase[@name="glitches"]/failure)' 1
written=$(wc -w <<<"$wavs")
counted=$(xpath "$d" 'string(//property[@name="monitor.glitches.value"]/@value)')
check "--save-glitches: $written WAVs written, as many as the case's count $counted" [ "$written" -ge 1 -a "$written" = "$counted" ]
check "--save-glitches: the glitches' case attaches every WAV written, each once" [ "$attached" = "$wavs" ]
check "--save-glitches: no other case attaches a WAV" is "$d" 'count(//testcase[@name!="glitches"]/system-out[contains(., ".wav]]")])' 0

if [ $failed != 0 ]; then
    for f in a b c d; do echo "--- $f"; cat "$work/$f.xml" "$work/$f.err" 2>/dev/null | head -80; done
    exit 1
fi
echo "loopcheck results: every check as expected"

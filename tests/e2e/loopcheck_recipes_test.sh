#!/usr/bin/env bash
# The recipes of docs/recipes/, run as a CI engine would run them, against
# loopsim on a private JACK server (dummy backend, 48000 Hz, period 256), with
# the build's loopcheck on PATH as the installed one would be. The truth is
# the loop's: jack_iodelay's round trip through a 0-frame loopsim, plus
# loopsim's 300 frames (its log), never loopcheck's own figures.
#   - GitLab (gitlab-ci.yml): the YAML parses; the job's script, run as the
#     runner runs it (bash -e, the job's variables exported), with the
#     example limits and the device named (JACK's "system") passes and leaves every artifact the job keeps, the
#     JUnit it names as its report valid against junit-10.xsd with the
#     latency's and each limit's cases; with an --expect 5 frames off the job
#     fails and the JUnit, still written, holds the latency as <failure>.
#   - LAVA (lava-loopcheck.yaml): the steps, run as LAVA runs them (one POSIX
#     shell script, the params exported first), through a stand-in
#     lava-test-case that records its arguments: every line of loopcheck's
#     --lava arrives as a call in LAVA's syntax, the latency's measurement
#     within 0.5 frame of the truth with units frames; with no loop wired and
#     --skip-if-no-loop, the loop's case arrives as skip.
#   - pytest (test_loopcheck.py) under the system's python3: passes with the
#     truth as EXPECT_FRAMES; fails, naming test_latency, with the truth + 5.
#   - the benchmark tracker (benchmark.yml): its run steps make smaller.json
#     and bigger.json; each handed to the action whose tool is
#     customSmallerIsBetter or customBiggerIsBetter; each entry {name, unit,
#     value[, range]} in the file of its figure's direction (the schema's
#     `better` where it says), its value loopcheck's JSON's, the latency the
#     truth's within 0.5 frame, THD+N loopsim's noise's closed form within 0.5 dB.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
recipes="$SOURCE_DIR/docs/recipes"
xsd="$SOURCE_DIR/tests/data/junit/junit-10.xsd"
python=/usr/bin/python3
command -v xmllint >/dev/null || fail "no xmllint (libxml2-utils, in tools/setup.sh's test list)"
"$python" -c 'import yaml, pytest' 2>/dev/null || fail "no python3-yaml or python3-pytest (tools/setup.sh's test list)"
mkdir -p "$work/bin"
ln -s "$BUILD_DIR/loopcheck/loopcheck" "$work/bin/loopcheck"
export PATH="$work/bin:$PATH"

rig_jack_start "loopcheck-recipes-$$" 256 48000 || fail "no JACK server"
rig_server_round_trip
lat=$((round_trip + 300))
echo "the server's round trip is $round_trip frames: the loop's latency $lat"
# One loopsim for every run, its noise at -110 dBFS so that the noise and the
# dynamic range are figures, not digital silence's: --cable plugs it into
# each new loopcheck.
rig_loopsim_start --delay 300 --gain 0.5 --noise -110 --cable loopcheck || fail "no loopsim"

failed=0
check() { # what, then a command that must succeed
    local what="$1"
    shift
    if "$@" >/dev/null 2>&1; then echo "ok   $what"; else echo "FAIL $what"; failed=1; fi
}
xpath() { xmllint --xpath "$2" "$1" 2>/dev/null; }
is() { [ "$(xpath "$1" "$2")" = "$3" ]; }
near() { awk -v v="$1" -v t="$2" -v d="$3" 'BEGIN { exit !(v != "" && (v - t)^2 <= d^2) }'; }

# ---- GitLab CI: the job's script, as the runner runs it ------------------------------
# yaml_job FILE JOB [VAR=VALUE...]: the job as a bash -e script, its variables
# exported (those given overriding the file's), then its script's lines.
yaml_job() {
    "$python" - "$@" <<'EOF'
import shlex, sys, yaml
document = yaml.safe_load(open(sys.argv[1]))
job = document[sys.argv[2]]
variables = dict(job.get("variables", {}))
variables.update(dict(a.split("=", 1) for a in sys.argv[3:]))
print("set -e")
for name, value in variables.items():
    print(f"export {name}={shlex.quote(str(value))}")
for line in job["script"]:
    print(line)
EOF
}
gitlab="$recipes/gitlab-ci.yml"
report=$("$python" -c 'import sys, yaml; print(yaml.safe_load(open(sys.argv[1]))["loopcheck"]["artifacts"]["reports"]["junit"])' "$gitlab")
check "gitlab-ci.yml parses, its JUnit report named ($report)" [ -n "$report" ]
kept=$("$python" -c 'import sys, yaml; print(*yaml.safe_load(open(sys.argv[1]))["loopcheck"]["artifacts"]["paths"])' "$gitlab")
check "the artifacts kept whatever the outcome" \
    "$python" -c 'import sys, yaml; sys.exit(yaml.safe_load(open(sys.argv[1]))["loopcheck"]["artifacts"]["when"] != "always")' "$gitlab"
for run in pass fail; do
    mkdir -p "$work/gitlab-$run"
    cp "$recipes/limits.json" "$work/gitlab-$run/"
    if [ $run = pass ]; then yaml_job "$gitlab" loopcheck LOOPCHECK_DEVICE=system; else
        yaml_job "$gitlab" loopcheck "LOOPCHECK_OPTIONS=--expect $((lat + 5))"
    fi >"$work/gitlab-$run/job.sh"
    (cd "$work/gitlab-$run" && timeout 120 bash job.sh >job.out 2>&1)
    echo "$?" >"$work/gitlab-$run/status"
done
g="$work/gitlab-pass/$report"
check "GitLab: the job passes with the example limits (status $(cat "$work/gitlab-pass/status"))" \
    [ "$(cat "$work/gitlab-pass/status")" = 0 ]
for file in $kept; do check "GitLab: the artifact $file made" [ -s "$work/gitlab-pass/$file" ]; done
check "GitLab: the JUnit validates against junit-10.xsd" xmllint --noout --schema "$xsd" "$g"
check "GitLab: the latency's case" is "$g" 'count(//testcase[@classname="loopcheck.latency"][@name="latency_frames"][not(failure)])' 1
for figure in $(jq -r 'keys[]' "$recipes/limits.json"); do
    check "GitLab: the limit $figure a passing case" \
        is "$g" "count(//testcase[@classname=\"loopcheck.quality\"][@name=\"$figure\"][not(failure)])" 1
done
value=$(xpath "$g" 'string(//property[@name="latency.latency_frames.value"]/@value)')
check "GitLab: the latency $value within 0.5 frame of the truth $lat" near "$value" "$lat" 0.5
g="$work/gitlab-fail/$report"
check "GitLab: the job fails with --expect $((lat + 5)) (status $(cat "$work/gitlab-fail/status"))" \
    [ "$(cat "$work/gitlab-fail/status")" != 0 ]
check "GitLab: its JUnit validates" xmllint --noout --schema "$xsd" "$g"
check "GitLab: the latency its <failure>" is "$g" 'count(//testcase[@name="latency_frames"]/failure)' 1

# ---- LAVA: the steps through a stand-in lava-test-case ----------------------------------
# The stand-in records its arguments, one call a line, and refuses what LAVA refuses.
cat >"$work/bin/lava-test-case" <<'EOF'
#!/bin/sh
name="$1"; shift
[ -n "$name" ] || { echo "lava-test-case: no name" >&2; exit 1; }
line="$name"
while [ $# -gt 0 ]; do
    case "$1" in
    --result) case "$2" in pass|fail|skip|unknown) ;; *) echo "lava-test-case: result $2" >&2; exit 1;; esac ;;
    --measurement|--units) ;;
    *) echo "lava-test-case: $1" >&2; exit 1 ;;
    esac
    [ $# -ge 2 ] || { echo "lava-test-case: $1 without a value" >&2; exit 1; }
    line="$line $1 $2"; shift 2
done
echo "$line" >>"$LAVA_CALLS"
EOF
chmod +x "$work/bin/lava-test-case"
# lava_steps FILE [PARAM=VALUE...]: the test definition's run.sh, as LAVA writes it.
lava_steps() {
    "$python" - "$@" <<'EOF'
import shlex, sys, yaml
definition = yaml.safe_load(open(sys.argv[1]))
assert definition["metadata"]["format"] == "Lava-Test Test Definition 1.0"
params = dict(definition.get("params", {}))
params.update(dict(a.split("=", 1) for a in sys.argv[2:]))
for name, value in params.items():
    print(f"{name}={shlex.quote(str(value))}")
    print(f"export {name}")
for step in definition["run"]["steps"]:
    print(step)
EOF
}
lava="$recipes/lava-loopcheck.yaml"
mkdir -p "$work/lava"
lava_steps "$lava" "LOOPCHECK_OPTIONS=--skip-if-no-loop --limits $recipes/limits.json" >"$work/lava/run.sh" || fail "lava-loopcheck.yaml has no steps"
# A battery a busy machine's server disturbed (an xrun, a late client's cycle
# skipped) ends unstable, exit status 4: run again, with the builds held.
disturbed_since() { [ "$(grep -c XRun "$RIG_JACK_LOG")" -gt "$1" ] || [ "$(rig_jack_skipped)" -gt "$2" ]; }
for attempt in 1 2 3; do
    [ "$attempt" = 1 ] || rig_hold_builds 60
    xruns=$(grep -c XRun "$RIG_JACK_LOG") skipped=$(rig_jack_skipped)
    rm -f "$work/lava/calls"
    (cd "$work/lava" && LAVA_CALLS="$work/lava/calls" timeout 120 sh run.sh >run.out 2>&1)
    grep -q "exit status 4" "$work/lava/run.out" && disturbed_since "$xruns" "$skipped" || break
    echo "note: LAVA's run $attempt unstable while the server was disturbed; run again"
done
# What loopcheck wrote, as the calls LAVA's syntax makes of it.
awk '{ printf "%s --result %s", $1, $2; if (NF >= 3) printf " --measurement %s", $3; if (NF >= 4) printf " --units %s", $4; print "" }' \
    "$work/lava/loopcheck-lava.txt" >"$work/lava/expected" 2>/dev/null
echo "LAVA: $(wc -l <"$work/lava/calls" 2>/dev/null || echo 0) calls of lava-test-case"
check "LAVA: loopcheck wrote its lines" [ -s "$work/lava/expected" ]
check "LAVA: every line arrives as a lava-test-case call" diff "$work/lava/expected" "$work/lava/calls"
measured=$(awk '$1 == "latency.latency_frames" && $7 == "frames" { print $5 }' "$work/lava/calls")
check "LAVA: the latency $measured frames within 0.5 frame of the truth $lat" near "$measured" "$lat" 0.5
check "LAVA: the limits' figures with units" grep -qE '^quality\.thd_n_db --result pass --measurement [-0-9.e]+ --units dB$' "$work/lava/calls"
# No loop wired: loopsim stopped for this run alone.
rig_stop "$RIG_LOOPSIM_PID"
mkdir -p "$work/lava-none"
lava_steps "$lava" >"$work/lava-none/run.sh"
(cd "$work/lava-none" && LAVA_CALLS="$work/lava-none/calls" timeout 120 sh run.sh >run.out 2>&1)
check "LAVA: no loop, --skip-if-no-loop: the loop's case a skip" grep -qx 'latency.loop_found --result skip' "$work/lava-none/calls"
rig_loopsim_start --delay 300 --gain 0.5 --noise -110 --cable loopcheck || fail "no loopsim"

# ---- pytest, labgrid's style, under the system's python3 ------------------------------
for run in truth off; do
    expect=$lat
    [ $run = off ] && expect=$((lat + 5))
    (cd "$work" && EXPECT_FRAMES=$expect timeout 200 "$python" -m pytest -p no:cacheprovider -q \
        --junitxml="$work/pytest-$run.xml" "$recipes/test_loopcheck.py" >"$work/pytest-$run.out" 2>&1)
    echo "$?" >"$work/pytest-$run.status"
done
check "pytest: passes with EXPECT_FRAMES $lat ($(tail -1 "$work/pytest-truth.out"))" [ "$(cat "$work/pytest-truth.status")" = 0 ]
check "pytest: its two tests ran" is "$work/pytest-truth.xml" 'string(//testsuite/@tests)' 2
check "pytest: fails with EXPECT_FRAMES $((lat + 5)) ($(tail -1 "$work/pytest-off.out"))" [ "$(cat "$work/pytest-off.status")" = 1 ]
check "pytest: test_latency the one failing" is "$work/pytest-off.xml" 'string(//testcase[failure]/@name)' test_latency

# ---- the benchmark tracker --------------------------------------------------------------
bench="$recipes/benchmark.yml"
mkdir -p "$work/bench"
"$python" - "$bench" >"$work/bench/steps.sh" <<'EOF' || fail "benchmark.yml has no run steps"
import shlex, sys, yaml
job = yaml.safe_load(open(sys.argv[1]))["jobs"]["loopcheck"]
for name, value in job.get("env", {}).items():
    print(f"export {name}={shlex.quote(str(value))}")
for step in job["steps"]:
    if "run" in step:
        print("bash -e <<'STEP'\n" + step["run"] + "\nSTEP\n[ $? = 0 ] || exit 1")  # each step as GitHub runs it (bash -e)
EOF
for attempt in 1 2 3; do
    [ "$attempt" = 1 ] || rig_hold_builds 60
    xruns=$(grep -c XRun "$RIG_JACK_LOG") skipped=$(rig_jack_skipped)
    (cd "$work/bench" && timeout 120 bash steps.sh >steps.out 2>&1)
    bench_status=$?
    [ "$(jq -r .exit_status "$work/bench/loopcheck.json" 2>/dev/null)" = 4 ] && disturbed_since "$xruns" "$skipped" || break
    echo "note: the benchmark's run $attempt unstable while the server was disturbed; run again"
done
check "benchmark: its run steps pass" [ "$bench_status" = 0 ]
check "benchmark: the JSON passes the schema" rig_json_check "$work/bench/loopcheck.json"
# Each file handed to the action of its direction.
tool_of() {
    "$python" -c '
import sys, yaml
for step in yaml.safe_load(open(sys.argv[1]))["jobs"]["loopcheck"]["steps"]:
    if step.get("uses", "").startswith("benchmark-action/github-action-benchmark@") and step["with"]["output-file-path"] == sys.argv[2]:
        print(step["with"]["tool"])' "$bench" "$1"
}
check "benchmark: smaller.json to customSmallerIsBetter" [ "$(tool_of smaller.json)" = customSmallerIsBetter ]
check "benchmark: bigger.json to customBiggerIsBetter" [ "$(tool_of bigger.json)" = customBiggerIsBetter ]
# Each figure: its entry's name, the file of its direction, the JSON's value, its
# key in the schema (its `better` read there: a figure without one, "-").
#   name | file | value in loopcheck's JSON | schema key
rows=(
    "latency|smaller|.summary.mean_ms|-"
    "thd_n at -1 dBFS|smaller|.quality.channels[0].thd_n[0].thd_n_db|thd_n_db"
    "noise, A-weighted|smaller|.quality.channels[0].noise.dbfs_a|-"
    "snr|bigger|.runs[0].snr_db|snr_db"
    "dynamic range, A-weighted|bigger|.quality.channels[0].dynamic_range_db_a|-"
)
for file in smaller bigger; do
    check "benchmark: $file.json's entries each {name, unit, value[, range]}" jq -e \
        'length > 0 and all(.[]; (.name | type) == "string" and (.unit | type) == "string" and (.value | type) == "number"
             and ((keys - ["name", "unit", "value", "range"]) | length) == 0 and ((.range // "") | type) == "string")' \
        "$work/bench/$file.json"
done
for row in "${rows[@]}"; do
    IFS='|' read -r name file path key <<<"$row"
    entry=$(jq -c --arg n "$name" '.[] | select(.name == $n)' "$work/bench/$file.json")
    want=$(jq "$path" "$work/bench/loopcheck.json")
    check "benchmark: \"$name\" in $file.json, $want as the JSON has it" \
        jq -e --argjson w "$want" '.value == $w' <<<"${entry:-null}"
    if [ "$key" != - ]; then
        better=$(jq -r --arg k "$key" '[.. | objects | .[$k]? | objects | .better | strings] | unique | join(",")' "$SOURCE_DIR/docs/loopcheck.schema.json")
        direction=$([ "$file" = smaller ] && echo lower || echo higher)
        check "benchmark: \"$name\": the schema's $key is $better is better, the file's $direction" [ "$better" = "$direction" ]
    fi
done
# THD+N's closed form on loopsim's path: its white noise (-110 dBFS RMS over 0 to
# 24 kHz) in the battery's 20 Hz to 20 kHz band, against the -1 dBFS sine's RMS
# after the gain of 0.5: -100.8 dB.
thd_n=$(jq '.[] | select(.name == "thd_n at -1 dBFS") | .value' "$work/bench/smaller.json")
closed=$(awk 'BEGIN { printf "%.3f", -110 + 10 * log((20000 - 20) / 24000) / log(10) - (20 * log(0.5 * 10^(-1 / 20)) / log(10) - 10 * log(2) / log(10)) }')
check "benchmark: THD+N $thd_n dB within 0.5 dB of loopsim's closed form $closed" near "$thd_n" "$closed" 0.5
ms=$(jq '.[] | select(.name == "latency") | .value' "$work/bench/smaller.json")
check "benchmark: the latency $ms ms, the truth's $lat frames at 48 kHz within 0.5 frame" near "$ms" "$(awk -v l="$lat" 'BEGIN { print l / 48 }')" "$(awk 'BEGIN { print 0.5 / 48 }')"
check "benchmark: the latency's range its uncertainty" jq -e '.[] | select(.name == "latency") | .range | test("^± [0-9.e-]+$")' "$work/bench/smaller.json"

if [ $failed != 0 ]; then
    for f in gitlab-pass/job.out gitlab-fail/job.out lava/run.out lava/calls lava-none/run.out pytest-truth.out pytest-off.out bench/steps.out; do
        echo "--- $f"; head -40 "$work/$f" 2>/dev/null
    done
    exit 1
fi
echo "recipes: every recipe ran as expected"

#!/usr/bin/env bash
# The end-to-end tests under load: while a competing build compiles the suite
# again and again (a second build folder, build-soak/, cleaned and rebuilt with
# -j2 in a loop), each end-to-end test runs N times in a row, LANES tests at
# a time (1 by default; the tests run side by side in tools/test.sh too). Prints
# "NAME k/N" with the verdict and time of each run, the retries a test
# reported (lines that name a retry or a run started anew), and a summary
# with how late the machine woke a real-time thread meanwhile (cyclictest).
# Long (an hour or more at N = 10): tools/test.sh does not run it.
#
#   tools/soak.sh [-n N] [-j LANES] [REGEX]   (after tools/test.sh, or tools/build.sh
#                                     and tools/windows_build.sh for the Wine tests)
#
# N is 10 by default; REGEX picks tests by ctest name (e.g. 'wine|frame').
# Exit status 0 when no run failed (a skipped run, one the test could not judge,
# is counted apart), 1 when one failed, 2 for bad options.
# The logs of failed and skipped runs stay in build/soak/
set -u
# One block, read whole before it runs: editing this file during a soak
# cannot change what the soak does next.
{
cd "$(dirname "$0")/.."
runs=10 lanes=1
while getopts n:j: option; do
    case $option in
    n) runs=$OPTARG ;;
    j) lanes=$OPTARG ;;
    *) echo "usage: tools/soak.sh [-n N] [-j LANES] [REGEX]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
pattern=${1:-.}
[[ $runs =~ ^[1-9][0-9]{0,3}$ ]] || { echo "soak: -n wants a whole number from 1 to 9999, not $runs" >&2; exit 2; }
[[ $lanes =~ ^[1-8]$ ]] || { echo "soak: -j wants a whole number from 1 to 8, not $lanes" >&2; exit 2; }
[ -f build/CTestTestfile.cmake ] || { echo "soak: no build/ (tools/build.sh first)" >&2; exit 2; }

mapfile -t tests < <(cd build && ctest --no-tests=error -N -L e2e -R "$pattern" |
                   sed -n 's/^ *Test *#[0-9]*: \(e2e\..*\)$/\1/p' | grep -vx 'e2e\.late_builds')
[ ${#tests[@]} -gt 0 ] || { echo "soak: no end-to-end test matches $pattern" >&2; exit 2; }
logs=build/soak
rm -rf "$logs"
mkdir -p "$logs"

# The competing build, in a process group of its own so that it ends with
# this script, by its group's id. It compiles for real: through the compiler
# cache every round after the first would be hits, a few links and little
# load.
# The lanes and each test's ctest too, so that an interrupted soak ends at
# once, whole.
competitor="" running="" prober=""
stop_competitor() {
    local group
    # The lanes, the ctest each runs (a session of its own), the build.
    for group in $running $(cat "$logs"/*.running 2>/dev/null) $competitor; do
        kill -- -"$group" 2>/dev/null
        wait "$group" 2>/dev/null
    done
    competitor="" running=""
    [ -n "$prober" ] && kill "$prober" 2>/dev/null
}
trap stop_competitor EXIT
trap 'exit 130' INT TERM
cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOOPCABLE_CCACHE=OFF >"$logs/competitor-configure.log" 2>&1 ||
    { echo "soak: cannot configure build-soak/: $(tail -3 "$logs/competitor-configure.log")" >&2; exit 1; }
setsid bash -c 'while :; do cmake --build build-soak --target clean >/dev/null 2>&1
                          cmake --build build-soak -j2 >/dev/null 2>&1; done' &
competitor=$!
echo "soak: ${#tests[@]} tests, $runs runs each, beside a competing build (cmake --build build-soak -j2, in a loop)"

# How late the machine wakes a real-time thread under this load, for reading
# the skips: a test that skips says its server missed a cycle, and a server
# at SCHED_FIFO misses one only when the machine holds it off that long (a
# virtual machine's host can). cyclictest (rt-tests) wakes a SCHED_FIFO 90
# thread every 5 ms; where it is missing or may not take that priority, the
# soak goes on without it.
if command -v cyclictest >/dev/null && timeout 5 cyclictest -q -m -p 90 -i 5000 -t 1 -D 1 >/dev/null 2>&1; then
    cyclictest -q -m -p 90 -i 5000 -t 1 -h 200000 >"$logs/wakeups.txt" 2>&1 &
    prober=$!
fi
# wakeups_report: the probe's worst wake-up, and how often it was later than
# a JACK cycle of 256 and of 1024 frames at 48 kHz (5.3 and 21.3 ms).
wakeups_report() {
    [ -n "$prober" ] || { echo "soak: no wake-up probe (cyclictest from rt-tests, at SCHED_FIFO 90)"; return; }
    kill -INT "$prober" 2>/dev/null  # it prints its histogram as it ends
    wait "$prober" 2>/dev/null
    prober=""
    awk '/^# Total:/ { total = $3 + 0 } /^# Max Latencies:/ { max = $4 + 0 }
         /^# Histogram Overflows:/ { over256 += $4; over1024 += $4 }
         !/^#/ && NF >= 2 { if ($1 > 5333) over256 += $2; if ($1 > 21333) over1024 += $2 }
         END { printf "soak: a real-time thread woken every 5 ms (%d times) came up to %.1f ms late;" \
                      " later than a JACK cycle of 256 frames %d times, of 1024 frames %d times\n",
                      total, max / 1000, over256, over1024 }' "$logs/wakeups.txt"
}

# soak_test NAME: its runs in a row. Prints a line per run and leaves its
# tally (passed skipped seconds slowest runs-with-retries) in NAME.tally.
soak_test() {
    local name=$1 passed=0 skipped=0 seconds=0 slowest=0 retries=0 k log start took verdict retried
    for k in $(seq "$runs"); do
        log="$logs/$name-$k.log"
        start=$SECONDS
        (cd build && exec setsid ctest --no-tests=error -R "^${name//./\\.}\$" -V) >"$log" 2>&1 &
        echo $! >"$logs/$name.running"
        if wait $!; then
            # A test that could not judge ends as skipped (77): never a pass.
            if grep -q '\*\*\*Skipped' "$log"; then
                verdict=skip skipped=$((skipped + 1))
            else
                verdict=pass passed=$((passed + 1))
            fi
        else
            verdict=FAIL
        fi
        rm -f "$logs/$name.running"
        took=$((SECONDS - start))
        seconds=$((seconds + took))
        [ $took -gt $slowest ] && slowest=$took
        # What the test says about its own retries: a run started anew, an
        # attempt disturbed or made again, or a program's retries of its own
        # (not a JSON document the test shows, whose "retried" flag is a field).
        retried=$(sed -n 's/^[0-9]*: //p' "$log" |
                  grep -E '^(run [0-9]+:|loopcheck\.exe run [0-9]+:)|retr|attempt [2-9]|disturbed' |
                  grep -v -e ' 0 retries' -e '^ *{' |
                  paste -sd ';' -)
        [ -n "$retried" ] && retries=$((retries + 1))
        {
            echo "$name $k/$runs $verdict ${took}s${retried:+  retried: $retried}"
            [ $verdict = FAIL ] && sed -n 's/^[0-9]*: //p' "$log" | grep -E '^FAIL|rig:' | head -3 | sed 's/^/    /'
            [ $verdict = skip ] && sed -n 's/^[0-9]*: //p' "$log" | grep -E '^SKIP' | head -1 | sed 's/^/    /'
        } | flock "$logs/out.lock" cat  # whole lines, though lanes print at once
        [ $verdict = pass ] && rm -f "$log"  # the logs of skipped and failed runs stay
    done
    echo "$passed $skipped $seconds $slowest $retries" >"$logs/$name.tally"
}

# Lanes: the tests shared out longest first (by the times ctest has recorded
# for them, else alike), each to the lane with the least so far.
declare -A cost lane_of
for name in "${tests[@]}"; do cost[$name]=1; done
if [ -f build/Testing/Temporary/CTestCostData.txt ]; then
    while read -r name _ average; do
        [ -n "${cost[$name]:-}" ] && cost[$name]=${average%.*}
    done <build/Testing/Temporary/CTestCostData.txt
fi
load=()
for ((l = 0; l < lanes; l++)); do load[l]=0; done
for name in $(for name in "${tests[@]}"; do echo "${cost[$name]} $name"; done | sort -rn | cut -d' ' -f2); do
    least=0
    for ((l = 1; l < lanes; l++)); do [ "${load[l]}" -lt "${load[least]}" ] && least=$l; done
    lane_of[$name]=$least
    load[least]=$((load[least] + cost[$name] + 1))
done
for ((l = 0; l < lanes; l++)); do
    setsid bash -c "$(declare -f soak_test); runs=$runs logs=$logs"'
                    for name in "$@"; do soak_test "$name"; done' lane \
        $(for name in "${tests[@]}"; do [ "${lane_of[$name]}" = $l ] && echo "$name"; done) &
    running+=" $!"
done
for lane in $running; do wait "$lane"; done  # the lanes: the build runs on
running=""
stop_competitor

echo "== soak summary ($runs runs each, $lanes at a time, beside a competing build)"
status=0
for name in "${tests[@]}"; do
    read -r passed skipped seconds slowest retries <"$logs/$name.tally" 2>/dev/null || passed=0 skipped=0 seconds=0 slowest=0 retries=0
    [ $((passed + skipped)) = "$runs" ] || status=1
    printf '%-32s %3d/%d passed, %d skipped  mean %4d s  slowest %4d s  runs with retries %d\n' "$name" "$passed" "$runs" "$skipped" \
        $((seconds / runs)) "$slowest" "$retries"
done
wakeups_report
[ $status = 0 ] && echo "soak: no run failed" || echo "soak: some runs failed (logs in $logs/)"
exit $status
}

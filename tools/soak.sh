#!/usr/bin/env bash
# The end-to-end tests under load: while a competing build compiles the suite
# again and again (a second build folder, build-soak/, cleaned and rebuilt with
# -j2 in a loop), each end-to-end test runs N times in a row. Prints
# "NAME k/N" with the verdict and time of each run, the retries a test
# reported (lines that name a retry or a run started anew), and a summary.
# Long (an hour or more at N = 10): tools/test.sh does not run it.
#
#   tools/soak.sh [-n N] [REGEX]     (after tools/test.sh, or tools/build.sh and
#                                     tools/windows_build.sh for the Wine tests)
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
runs=10
while getopts n: option; do
    case $option in
    n) runs=$OPTARG ;;
    *) echo "usage: tools/soak.sh [-n N] [REGEX]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
pattern=${1:-.}
[[ $runs =~ ^[1-9][0-9]{0,3}$ ]] || { echo "soak: -n wants a whole number from 1 to 9999, not $runs" >&2; exit 2; }
[ -f build/CTestTestfile.cmake ] || { echo "soak: no build/ (tools/build.sh first)" >&2; exit 2; }

mapfile -t tests < <(cd build && ctest --no-tests=error -N -L e2e -R "$pattern" |
                   sed -n 's/^ *Test *#[0-9]*: \(e2e\..*\)$/\1/p' | grep -vx 'e2e\.late_builds')
[ ${#tests[@]} -gt 0 ] || { echo "soak: no end-to-end test matches $pattern" >&2; exit 2; }
logs=build/soak
rm -rf "$logs"
mkdir -p "$logs"

# The competing build, in a process group of its own so that it ends with
# this script, by its group's id.
# Each test's ctest too, so that an interrupted soak ends at once, whole.
competitor="" running=""
stop_competitor() {
    local group
    for group in $running $competitor; do
        kill -- -"$group" 2>/dev/null
        wait "$group" 2>/dev/null
    done
    competitor="" running=""
}
trap stop_competitor EXIT
trap 'exit 130' INT TERM
cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$logs/competitor-configure.log" 2>&1 ||
    { echo "soak: cannot configure build-soak/: $(tail -3 "$logs/competitor-configure.log")" >&2; exit 1; }
setsid bash -c 'while :; do cmake --build build-soak --target clean >/dev/null 2>&1
                          cmake --build build-soak -j2 >/dev/null 2>&1; done' &
competitor=$!
echo "soak: ${#tests[@]} tests, $runs runs each, beside a competing build (cmake --build build-soak -j2, in a loop)"

declare -A passed skipped seconds slowest notes
status=0
for name in "${tests[@]}"; do
    passed[$name]=0 skipped[$name]=0 seconds[$name]=0 slowest[$name]=0 notes[$name]=""
    for k in $(seq "$runs"); do
        log="$logs/$name-$k.log"
        start=$SECONDS
        (cd build && exec setsid ctest --no-tests=error -R "^${name//./\\.}\$" -V) >"$log" 2>&1 &
        running=$!
        if wait $running; then
            # A test that could not judge ends as skipped (77): never a pass.
            if grep -q '\*\*\*Skipped' "$log"; then
                verdict=skip
                skipped[$name]=$((skipped[$name] + 1))
            else
                verdict=pass
                passed[$name]=$((passed[$name] + 1))
            fi
        else
            verdict=FAIL
            status=1
        fi
        running=""
        took=$((SECONDS - start))
        seconds[$name]=$((seconds[$name] + took))
        [ $took -gt "${slowest[$name]}" ] && slowest[$name]=$took
        # What the test says about its own retries: a run started anew, or a
        # program's retries of its own.
        retried=$(sed -n 's/^[0-9]*: //p' "$log" | grep -E '^(run [0-9]+:|loopcheck\.exe run [0-9]+:)|retr' | grep -v ' 0 retries' |
                  paste -sd ';' -)
        echo "$name $k/$runs $verdict ${took}s${retried:+  retried: $retried}"
        [ -n "$retried" ] && notes[$name]+="x"
        [ $verdict = pass ] && rm -f "$log"  # the logs of skipped and failed runs stay
        [ $verdict = FAIL ] && sed -n 's/^[0-9]*: //p' "$log" | grep -E '^FAIL|rig:' | head -3 | sed 's/^/    /'
        [ $verdict = skip ] && sed -n 's/^[0-9]*: //p' "$log" | grep -E '^SKIP' | head -1 | sed 's/^/    /'
    done
done
stop_competitor

echo "== soak summary ($runs runs each, beside a competing build)"
for name in "${tests[@]}"; do
    printf '%-32s %3d/%d passed, %d skipped  mean %4d s  slowest %4d s  runs with retries %d\n' "$name" "${passed[$name]}" "$runs" "${skipped[$name]}" \
        $((seconds[$name] / runs)) "${slowest[$name]}" "${#notes[$name]}"
done
[ $status = 0 ] && echo "soak: no run failed" || echo "soak: some runs failed (logs in $logs/)"
exit $status
}

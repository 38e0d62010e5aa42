#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the end-to-end tests
# (real windows under Xvfb, private JACK servers and PipeWire sessions, the
# Windows programs under Wine) in the normal build, the unit tests under
# ASan + UBSan, the programs for Windows (their warnings errors, ASIO's code
# paths compiled as well), and the threaded unit tests under TSan. The unit
# tests are compiled once, in the sanitizer build where they run, not in
# build/ as well: from an empty compiler cache that second compile was the
# largest part of build/.
#
# On 2 cores the stages overlap where that pays: the end-to-end tests spend
# most of their time waiting for windows and servers, so the builds they do not
# need run meanwhile, niced, so that they take what CPU the tests leave:
#
#   setup, then build/ without the unit tests (foreground: everything waits for it)
#   the Windows programs, the ASIO check      (background from the start;
#                                              the libraries come from the cache,
#                                              else they take about five minutes)
#   the sanitizer builds, then the unit tests under ASan + UBSan and the
#   threaded ones under TSan                  (background once build/ is done, niced)
#   the end-to-end tests side by side (ctest -j6), the monitor's offline
#   harness among them (label "harness", built in build/); the "late" one (the
#   frame's, which also runs the ASan probe) waits in ctest for the sanitizer
#   builds (the fixture e2e.late_builds holds one slot); a test's attempt after
#   a disturbed one stops the background builds while it runs (rig_hold_builds)
#   the Wine tests                            (a ctest of their own, -j4, once
#                                              the Windows programs are built)
#
# Each stage's time is printed at the end. E2E_JOBS sets ctest's -j for the
# end-to-end tests (default 6: the heavy ones count as two, each wait for the
# background builds as one, see tests/CMakeLists.txt). Logs of the background
# builds: build-logs/.
set -eu
# One block, read whole before it runs: editing this file during a run (a
# checkout, a merge) cannot change what the run does next.
{
cd "$(dirname "$0")/.."
. tools/packaged.sh
e2e_jobs=${E2E_JOBS:-6}
logs=build-logs
rm -rf "$logs"
mkdir -p "$logs"
begin=$SECONDS
times=()
status=0
# stage NAME COMMAND...: runs a foreground stage, notes its time and failure.
stage() {
    local name="$1" start=$SECONDS
    shift
    echo "== $name"
    "$@" || { status=1; name="$name (FAILED)"; }
    times+=("$(printf '%5d s  %s' $((SECONDS - start)) "$name")")
}
# Every ctest call fails when it finds no test: a missing GoogleTest or a
# mistyped label must not pass as green.
run_ctest() { (cd "$1" && shift && exec ctest --no-tests=error --output-on-failure "$@"); }
# The same, its output kept in build-logs/, and the tests that ended as
# skipped (exit status 77: a server that would not hold still, Wine's path
# beyond Karvel's taps) noted by name for the summary: a skip is no failure,
# but nobody should have to read the log to learn of one.
skipped=()
run_ctest_noting() {
    local log
    log="$logs/ctest-$(basename "$1").log"
    run_ctest "$@" | tee "$log"
    local result=${PIPESTATUS[0]}
    mapfile -t -O "${#skipped[@]}" skipped < <(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*/\1/p' "$log")
    return $result
}

stage "setup: the Debian packages" tools/setup.sh
# Every tool the scripts call comes from those packages: a machine mended by
# hand (a tool under /usr/local, a link, a package installed by hand) would
# pass here and fail on a fresh one.
stage "the scripts' tools, each from a package setup.sh installs (tools/setup.sh --check)" tools/setup.sh --check
stage "the sources in the house style (clang-format)" tools/format.sh --check

# The background builds: each in a session of its own, niced, writes its log
# and, at its end, its status and time. Once the foreground has nothing left
# to run beside them they are reniced to 0 (where allowed): on a machine shared
# with other builds, nice 10 would otherwise starve them. They end with this
# script.
background=()
in_background() { # NAME COMMAND...
    local name="$1"
    shift
    setsid bash -c 'start=$SECONDS log=$1
                    shift
                    if nice -n "${NICE:-10}" "$@" >"$log.log" 2>&1; then result=0; else result=1; fi
                    echo "$result $((SECONDS - start))" >"$log.status"' in_background "$logs/$name" "$@" &
    background+=($!)
}
stop_background() {
    local group
    for group in "${background[@]}"; do kill -- -"$group" 2>/dev/null || true; done
}
trap stop_background EXIT
finish_background() { # NAME: waits for it, shows its log on failure
    local name="$1" result seconds group
    for group in "${background[@]}"; do renice -n 0 -g "$group" >/dev/null 2>&1 || true; done
    for _ in $(seq 3600); do [ -f "$logs/$name.status" ] && break; sleep 1; done
    read -r result seconds <"$logs/$name.status" 2>/dev/null || { result=1 seconds="?"; echo "$name: did not finish within an hour"; }
    if [ "$result" = 0 ]; then
        tail -1 "$logs/$name.log"
    else
        tail -40 "$logs/$name.log"
        status=1
        name="$name (FAILED)"
    fi
    times+=("$(printf '%5s s  %s (background)' "$seconds" "$name")")
}

# The Windows programs at full priority, warnings as errors (from the
# compiler cache they take seconds, and the Wine tests wait for them), then
# the ASIO side of the one unit that has it, which needs no test.
NICE=0 in_background windows bash -c 'WINDOWS_WERROR=ON tools/windows_build.sh && touch "$1" && tools/windows_check.sh' \
    windows "$logs/windows-programs.built"
stage "build/: programs, benchmarks, tools, the end-to-end tests' probes" tools/build.sh e2e
# The sanitizer builds, then at once their unit tests, still niced, while the
# end-to-end tests wait on servers and windows: the mark sanitizer-builds.built
# lets the late end-to-end tests start as soon as the builds are done. Each
# ctest's output is kept in build-logs/ctest-build-*.log and shown at the end.
in_background sanitizers bash -c 'tools/build.sh sanitizers || exit 1
    touch "$1"
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        exec ctest --no-tests=error --output-on-failure -L "^unit" -j2) >"$2" 2>&1
    asan=$?
    (cd build-tsan && TSAN_OPTIONS=halt_on_error=1 exec ctest --no-tests=error --output-on-failure -L unit-threads -j2) \
        >"$3" 2>&1
    tsan=$?
    echo "unit tests: ASan + UBSan $([ $asan = 0 ] && echo passed || echo FAILED), TSan $([ $tsan = 0 ] && echo passed || echo FAILED)"
    [ $asan = 0 ] && [ $tsan = 0 ]' \
    sanitizers "$logs/sanitizer-builds.built" "$logs/ctest-build-asan.log" "$logs/ctest-build-tsan.log"

# The late end-to-end tests wait for these marks: windows.mark, 0 once the
# Windows programs are built (the Wine tests, in their scripts); all.mark, 0
# once the sanitizer builds are done too (ctest's fixture e2e.late_builds); 1
# when one failed; done once both background jobs have ended.
#
# And the holds. A test that a busy machine disturbed asks for quiet before it
# tries again (rig_hold_builds): a file hold.* in RIG_LATE_BUILDS that holds
# the time until which it asks. While one asks, the background builds are
# stopped (SIGSTOP to their process groups) and the file "held" says so; they
# go on (SIGCONT) once none asks, a hold whose time has passed (its test died
# holding) no longer counting. Tests run in PID namespaces of their own, so
# this, outside them, sends the signals.
export RIG_LATE_BUILDS="$PWD/$logs/late"
mkdir -p "$RIG_LATE_BUILDS"
# Each end-to-end test's processor time, a line each (tools/rig.sh; listed at the end).
export RIG_CPU_LOG="$PWD/$logs/processor-times.log"
rm -f "$RIG_CPU_LOG"
mark() { echo "$2" >"$RIG_LATE_BUILDS/$1.tmp" && mv "$RIG_LATE_BUILDS/$1.tmp" "$RIG_LATE_BUILDS/$1.mark"; }
( windows="" stopped=no
  signal() { local group; for group in "${background[@]}"; do kill -"$1" -- -"$group" 2>/dev/null || true; done; }
  resume() { [ $stopped = no ] || signal CONT; stopped=no; rm -f "$RIG_LATE_BUILDS/held"; }
  trap resume EXIT
  for _ in $(seq 7200); do
      if [ -z "$windows" ] && { [ -f "$logs/windows-programs.built" ] || [ -f "$logs/windows.status" ]; }; then
          windows=1
          [ -f "$logs/windows-programs.built" ] && windows=0
          mark windows $windows
          # From here the sanitizer builds and their unit tests are the
          # longest chain (the late test and the run's end wait for them):
          # they go on at the tests' priority, the holds still quieting them.
          renice -n 0 -g "${background[@]}" >/dev/null 2>&1 || true
      fi
      if [ -n "$windows" ] && [ ! -f "$RIG_LATE_BUILDS/all.mark" ] &&
          { [ -f "$logs/sanitizer-builds.built" ] || [ -f "$logs/sanitizers.status" ]; }; then
          all=1
          [ "$windows" = 0 ] && [ -f "$logs/sanitizer-builds.built" ] && all=0
          mark all $all
      fi
      [ -f "$logs/windows.status" ] && [ -f "$logs/sanitizers.status" ] && break
      holding=no
      for hold in "$RIG_LATE_BUILDS"/hold.*; do
          [ -f "$hold" ] && [ "$(cat "$hold" 2>/dev/null || echo 0)" -gt "$EPOCHSECONDS" ] 2>/dev/null && holding=yes
      done
      if [ $holding = yes ] && [ $stopped = no ]; then
          signal STOP
          stopped=yes
          touch "$RIG_LATE_BUILDS/held"
          echo "$(date +%T) held for $(basename -a "$RIG_LATE_BUILDS"/hold.* | tr '\n' ' ')" >>"$logs/holds.log"
      elif [ $holding = no ] && [ $stopped = yes ]; then
          resume
          echo "$(date +%T) going on" >>"$logs/holds.log"
      fi
      sleep 0.5
  done
  [ -f "$RIG_LATE_BUILDS/windows.mark" ] || mark windows 1
  [ -f "$RIG_LATE_BUILDS/all.mark" ] || mark all 1
  touch "$RIG_LATE_BUILDS/done" ) &
watcher=$!
# The Wine tests (label "wine") in a ctest of their own, started once the
# Windows programs are built (or failed: the tests then say so): waiting
# inside the main ctest, two of them held four of its six slots for the
# Windows build's five to ten minutes on a fresh machine, and the other tests
# queued behind them. They take turns (a lock of theirs). The watcher marks
# windows within its hour, so this wait is bounded.
( until [ -f "$RIG_LATE_BUILDS/windows.mark" ]; do sleep 1; done
  start=$SECONDS
  if run_ctest build -L wine -j4 --output-junit "$PWD/$logs/ctest-build-wine.xml" >"$logs/ctest-build-wine.log" 2>&1; then result=0; else result=1; fi
  echo "$result $((SECONDS - start))" >"$logs/wine.status" ) &
wine_tests=$!
trap 'stop_background; kill $watcher $wine_tests 2>/dev/null || true' EXIT
stage "end-to-end tests but Wine's, and the monitor's harness, side by side; the late ones once the background builds are done" \
    run_ctest_noting build -L '^(e2e|harness)$' -LE wine -j"$e2e_jobs" --output-junit "$PWD/$logs/ctest-build.xml"

echo "== the Wine tests, once the Windows programs were built"
wine_start=$SECONDS
wait $wine_tests
cat "$logs/ctest-build-wine.log"
mapfile -t -O "${#skipped[@]}" skipped < <(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*/\1/p' "$logs/ctest-build-wine.log")
read -r wine_result wine_seconds <"$logs/wine.status" 2>/dev/null || wine_result=1 wine_seconds="?"
wine_name="the Wine tests (background, once the Windows programs were built)"
[ "$wine_result" = 0 ] || { status=1; wine_name="$wine_name (FAILED)"; }
times+=("$(printf '%5s s  %s' "$wine_seconds" "$wine_name")")
times+=("$(printf '%5d s  %s' $((SECONDS - wine_start)) "waiting for the Wine tests after the others")")

echo "== the background builds: the Windows programs and check, the sanitizer builds"
wait_start=$SECONDS
finish_background windows
finish_background sanitizers
times+=("$(printf '%5d s  %s' $((SECONDS - wait_start)) "waiting for the background builds after the end-to-end tests")")

# The sanitized unit tests ran with the sanitizer builds: their output, and
# any that ended as skipped.
for log in "$logs/ctest-build-asan.log" "$logs/ctest-build-tsan.log"; do
    echo "== $(basename "$log" .log)"
    cat "$log" 2>/dev/null || echo "(none: the sanitizer builds failed)"
    mapfile -t -O "${#skipped[@]}" skipped < <(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*/\1/p' "$log" 2>/dev/null)
done

# Where the end-to-end tests' processor time went: each test's processes that
# were waited for (tools/rig.sh prints it), user and system, the largest ten.
echo "== processor time of the end-to-end tests (user + system), the largest"
awk '{ split($2, u, /[ms]/); split($3, k, /[ms]/); user = u[1] * 60 + u[2]; all = user + k[1] * 60 + k[2]
       total += all; printf "%7.1f s  %s (user %.1f s)\n", all, $1, user }
     END { printf "%7.1f s  in all\n", total }' "$RIG_CPU_LOG" 2>/dev/null | sort -rn | head -11
echo "== times"
printf '%s\n' "${times[@]}"
printf '%5d s  in all\n' $((SECONDS - begin))
if [ ${#skipped[@]} -gt 0 ]; then
    # Every test's own output, a skipped one's reason among it, is in ctest's
    # JUnit files: its text logs show a test's output only when it failed, and
    # the two ctests in build/ share (and overwrite) Testing/Temporary/LastTest.log.
    echo "== skipped (passed as far as they ran; their reasons are in build-logs/ctest-*.xml)"
    printf '   %s\n' "${skipped[@]}"
else
    echo "== skipped: none"
fi
exit $status
}

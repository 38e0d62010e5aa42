#!/usr/bin/env bash
# Which source files each of loopcheck's modes runs code in: loopcheck built
# with gcov's counters, one run of each mode through loopsim on a private
# JACK server, and the files of loopcheck/, analysis/ and writers/ with an
# executed line. docs/layout.md's table of the modes' flows comes from it:
# per run, the sources and headers of those three folders, and the sources of
# loopcheck/ and analysis/ alone (the measure of a mode's flow).
#
#   tools/mode_flow.sh [BUILD_DIR]     (default build-flow; prints a table)
#   FLOW_KEEP=DIR keeps each run's output there.
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
flow="${1:-build-flow}"
BUILD_DIR="$root/$flow"
. "$root/tools/rig.sh"
rig_test_begin
cmake -S . -B "$flow" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=--coverage -DBUILD_UNIT_TESTS=OFF \
    -DBUILD_BENCHMARKS=OFF -DLOOPCABLE_BATCHES=OFF >"$work/configure.log" 2>&1 || fail "configure: $(tail -5 "$work/configure.log")"
cmake --build "$flow" -j"${JOBS:-2}" --target loopcheck loopsim >"$work/build.log" 2>&1 || fail "build: $(tail -5 "$work/build.log")"
loopcheck=$(find "$flow" -type f -perm -u+x -name loopcheck | head -1)
rig_jack_start "mode-flow-$$" 256 48000 || fail "no JACK server"

# files MODE OPTIONS...: the files that one run of loopcheck with OPTIONS ran code in.
files() {
    local mode="$1"
    shift
    find "$flow" -name '*.gcda' -delete
    rig_loopsim_start --delay 300 --gain 0.5 --cable loopcheck || fail "no loopsim"
    timeout 120 "$loopcheck" "$@" >"$work/$mode.out" 2>&1
    rig_stop "$RIG_LOOPSIM_PID"
    (cd "$work" && find "$root/$flow" -name '*.gcda' -print0 | xargs -0 gcov -n 2>/dev/null) |
        awk -v root="$root/" '
            /^File / { file = $2; gsub(/\x27/, "", file); sub(root, "", file); sub(/^(\.\.\/)+/, "", file); next }
            /^Lines executed:/ { if ($2 !~ /^executed:0\.00%/ && file ~ /^(loopcheck|analysis|writers)\//) print file }' |
        sort -u >"$work/$mode.files"
    [ -n "${FLOW_KEEP:-}" ] && cp "$work/$mode.out" "$FLOW_KEEP/$mode.out"
    printf '%s\t%d\t%d\t%d\n' "$mode" "$(grep -c '\.cpp$' "$work/$mode.files")" "$(grep -c '\.hpp$' "$work/$mode.files")" \
        "$(grep -c -E '^(loopcheck|analysis)/.*\.cpp$' "$work/$mode.files")"
}
echo -e "mode\tsources\theaders\tloopcheck+analysis sources"
files latency --json
files quality --json --quality
files monitor --json --monitor 3s
files buffers --json --buffers 256,512 --soak 2
files report --report "$work/report.html"
[ -n "${FLOW_LIST:-}" ] && for m in latency quality monitor buffers report; do echo "== $m"; cat "$work/$m.files"; done
exit 0

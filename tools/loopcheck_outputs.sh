#!/usr/bin/env bash
# What loopcheck prints for a set of cases through loopsim on a private JACK
# server (dummy backend, 48000 Hz, period 256): for each case its standard
# output, standard error and exit status, into a folder, so that two builds'
# outputs can be compared (tools/loopcheck_outputs_compare.py). The cases
# that tests/e2e/loopcheck_outputs_test.sh holds to the outputs kept in
# tests/e2e/loopcheck_outputs/ are the main ones (CASES=main, the default:
# a latency, --quality, --monitor 3s and --buffers 256,512, each as JSON and
# as text); CASES=all adds the others (failures, several loops, files, -q);
# CASES=NAME,NAME... runs those alone.
#
#   tools/loopcheck_outputs.sh OUT_DIR      (BUILD_DIR: the build, default build/)
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(cd "$1" && pwd)" || { echo "usage: loopcheck_outputs.sh OUT_DIR" >&2; exit 2; }
export SOURCE_DIR="$root" BUILD_DIR="${BUILD_DIR:-$root/build}"
. "$root/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
rig_jack_start "loopcheck-outputs-$$" 256 48000 || fail "no JACK server"
echo '{"thd_n_db": {"max": -200}, "gain_db": {"min": -7, "max": -5}}' >"$work/limits.json"

#  name             | loopsim options                      | loopcheck options
main=$(cat <<'CASES'
latency-json        |--delay 300 --gain 0.5                |--json
quality-json        |--delay 300 --gain 0.5 --poly 0,0.001 |--json --quality
monitor-json        |--delay 300 --gain 0.5                |--json --monitor 3s
buffers-json        |--delay 300 --gain 0.5                |--json --buffers 256,512
latency-text        |--delay 300 --gain 0.5                |
quality-text        |--delay 300 --gain 0.5 --poly 0,0.001 |--quality
monitor-text        |--delay 300 --gain 0.5                |--monitor 3s
buffers-text        |--delay 300 --gain 0.5                |--buffers 256,512 --soak 2
CASES
)
more=$(cat <<'CASES'
latency-quiet       |--delay 300 --gain 0.5                |-q
monitor-quiet       |--delay 300 --gain 0.5                |-q --monitor 3s
buffers-quiet       |--delay 300 --gain 0.5                |-q --buffers 256,512 --soak 2
expect-json         |--delay 300 --gain 0.5                |--json --repeat 3 --expect 3000
expect-text         |--delay 300 --gain 0.5                |--repeat 3 --expect 3000
expect-quiet        |--delay 300 --gain 0.5                |-q --expect 3000
limits-json         |--delay 300 --gain 0.5                |--json --limits LIMITS
limits-text         |--delay 300 --gain 0.5                |--limits LIMITS
limits-quiet        |--delay 300 --gain 0.5                |-q --limits LIMITS
loops-json          |--delay 300 --gain 0.5 --channels 2   |--json --out 1,2 --in 1,2
loops-text          |--delay 300 --gain 0.5 --channels 2   |--out 1,2 --in 1,2 --quality
files-json          |--delay 300 --gain 0.5                |--json --response r.frd --ir ir.csv --report page.html
files-text          |--delay 300 --gain 0.5                |--response r.csv --ir ir.wav
noloop-json         |--delay 300 --gain 0                  |--json --quality --monitor 3s
noloop-text         |--delay 300 --gain 0                  |--quality --monitor 3s
weak-monitor-json   |--delay 300 --gain 0.0000501          |--json --monitor 3s
weak-monitor-text   |--delay 300 --gain 0.0000501          |--monitor 3s
monitor-after-json  |--delay 300 --gain 0.5                |--json --expect 100 --monitor 3s
monitor-after-text  |--delay 300 --gain 0.5                |--expect 100 --quality --monitor 3s
monitor-glitch-json |--delay 300 --gain 0.5 --glitch drop,2,48 |--json --monitor 4s --max-glitches 0
gate-json           |--delay 300 --gain 0.5                |--json --buffers 256 --soak 2 --max-latency-ms 5
gate-text           |--delay 300 --gain 0.5                |--buffers 256 --soak 2 --max-latency-ms 5
CASES
)
case "${CASES:-main}" in
main) cases="$main" ;;
all) cases="$main"$'\n'"$more" ;;
*) cases=$(grep -E "^(${CASES//,/|}) " <<<"$main"$'\n'"$more") ;;
esac

while IFS='|' read -r name sim options; do
    name=${name// /}
    [ -n "$name" ] || continue
    options=${options//LIMITS/$work/limits.json}
    # shellcheck disable=SC2086
    rig_loopsim_start $sim --cable loopcheck || fail "$name: no loopsim"
    mkdir -p "$work/run" && rm -rf "$work/run"/*
    # shellcheck disable=SC2086
    (cd "$work/run" && timeout 120 "$loopcheck" $options >"$out/$name.out" 2>"$out/$name.err")
    echo $? >"$out/$name.status"
    rig_stop "$RIG_LOOPSIM_PID"
    for f in "$work/run"/*; do [ -f "$f" ] && cp "$f" "$out/$name.file.$(basename "$f")"; done
    disturbed=$(grep -c -e XRun -e "was not finished" "$RIG_JACK_LOG")
    echo "$((disturbed - ${last:-0}))" >"$out/$name.disturbed"
    last=$disturbed
    echo "$name: exit $(cat "$out/$name.status"), the server disturbed $(cat "$out/$name.disturbed") times"
done <<<"$cases"
exit 0

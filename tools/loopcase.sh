#!/usr/bin/env bash
# One measurement through loopsim, the simulated interface: a private Xvfb and
# a private JACK server (dummy backend, 48000 Hz, period PERIOD or 256), loopsim
# with the given options between the program's output 1 and its input 1, and
# screenshots of the program's window at the given times after the loop closes.
# Leaves in OUTDIR: shot-T.ppm per time T, truth-ir.txt (the path's first 4096
# taps), truth-response.txt (|H| in dB at bins 0 .. 1023), truth-model.txt (the
# same for the taps a 2048-tap model can hold), skipped.txt ("T N" per shot: N
# JACK cycles so far in which a client had not finished in time, so that the
# loop skipped), and with --iodelay also iodelay.txt (jack_iodelay's reading of
# the same path, taken before the program starts). The end-to-end accuracy tests and
# tools/accuracy.sh run several of these at once.
#
#   tools/loopcase.sh karvel|tessaly|orbisca|morvane OUTDIR T1,T2,... [--iodelay] -- LOOPSIM_OPTIONS...
#
# Exit status 0 when every step worked and the program ended on Escape with
# status 0, printing nothing; otherwise the reason is on standard output.
set -u
# A JACK server keeps its clients' metadata under /dev/shm/jack_db-UID, a
# folder named after the user alone, and removes it when it stops: one case's
# server stopping beside another case pulls it from under the other's clients
# as they open ("__db.001: No such file or directory", "Cannot open DB
# environment" on their standard error). So a case runs with a /dev/shm of its
# own where mount namespaces are allowed (root, or inside the end-to-end tests'
# own namespace); elsewhere it shares the machine's, as before.
if [ -z "${LOOPCASE_OWN_SHM:-}" ] && unshare --mount --propagation private true 2>/dev/null; then
    LOOPCASE_OWN_SHM=1 exec unshare --mount --propagation private bash -c \
        'mount -t tmpfs -o mode=1777,size=256m loopcase-shm /dev/shm 2>/dev/null; exec bash "$0" "$@"' "$0" "$@"
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
. "$root/tools/rig.sh"
trap rig_cleanup EXIT
program="$1" out="$2" times="$3"
shift 3
iodelay=0
[ "${1:-}" = "--iodelay" ] && { iodelay=1; shift; }
[ "${1:-}" = "--" ] && shift
mkdir -p "$out"
fail() { echo "loopcase $program $*: FAIL: $1"; exit 1; }
case "$program" in
    karvel) binary="$build/latency/karvel" ;;
    tessaly | orbisca) binary="$build/rtresponse/$program" ;;
    morvane) binary="$build/response/morvane" ;;
    *) fail "no such program" ;;
esac
loopsim="$build/tools/loopsim/loopsim"
"$loopsim" "$@" --print-ir 4096 >"$out/truth-ir.txt" || fail "loopsim refuses the options $*"
"$loopsim" "$@" --print-response >"$out/truth-response.txt"
# A 2048-tap model of the loop holds the path's first 2048 - (PERIOD + 1) taps:
# the server's round trip and PortAudio's extra frame come first.
"$loopsim" "$@" --print-ir-response $((2048 - ${PERIOD:-256} - 1)) >"$out/truth-model.txt"

rig_xvfb_start || fail "no X server"
# Where cases share one /dev/shm, two clients of one name opening at the same
# moment on two servers spoil each other's start (the server logs "Cannot
# connect to client name = loopsim": the socket it calls back on is named after
# the client, not after the server); and beside each other the cases' starts
# are slow. So the cases that run at once take turns until their loop is closed.
# The lock is machine-wide, so it lives where lock files do, not in /tmp.
lock_dir=/run/lock
[ -w "$lock_dir" ] || lock_dir="${TMPDIR:-/tmp}"
exec 9>"$lock_dir/loopcase-jack-open.lock"
flock -w 120 9 || fail "waited two minutes for the other cases to open their clients"
# JACK runs at most eight servers on a machine; when they are all taken, wait
# for one to end.
for try in $(seq 24); do
    rig_jack_start "loopcase-$program-$$" "${PERIOD:-256}" 2>/dev/null && break
    grep -q "Too many servers" "$RIG_JACK_LOG" || fail "no JACK server"
    [ "$try" = 24 ] && fail "no free JACK server slot for two minutes"
    sleep 5
done
"$loopsim" "$@" >"$out/loopsim.out" 2>&1 &
rig_wait_port loopsim:in 10 || fail "loopsim has no ports ($(cat "$out/loopsim.out"))"

if [ $iodelay = 1 ]; then
    timeout 10 stdbuf -o0 jack_iodelay >"$out/iodelay.raw" 2>&1 &
    pid=$!
    rig_wait_port jack_delay:out 5 || fail "jack_iodelay has no ports"
    jack_connect jack_delay:out loopsim:in && jack_connect loopsim:out jack_delay:in || fail "no jack_iodelay loop"
    sleep 4
    kill $pid 2>/dev/null
    wait $pid 2>/dev/null
    tr '\r' '\n' <"$out/iodelay.raw" | grep "total roundtrip" | tail -1 >"$out/iodelay.txt"
fi

"$binary" -b256 >"$out/program.out" 2>&1 &
pid=$!
# Beside the builds and the sanitized unit tests a program's start (PortAudio's
# device scan, its window) has taken over 15 s: bounded, but generously.
rig_wait_port "$program:in_0" 45 || fail "$program has no ports within 45 s"
jack_connect "$program:out_0" loopsim:in && jack_connect loopsim:out "$program:in_0" || fail "no loop"
start=$(date +%s.%N)
flock -u 9
title=$(rig_title "$program")
id=$(rig_wait_window "$title" 45) || fail "no window within 45 s"
for t in ${times//,/ }; do
    # Sleep until T seconds after the loop closed, whatever the last shot cost.
    sleep "$(awk -v s="$start" -v t="$t" -v now="$(date +%s.%N)" 'BEGIN { d = s + t - now; print (d > 0 ? d : 0) }')"
    rig_shot "$id" "$out/shot-$t.png" && convert "$out/shot-$t.png" "$out/shot-$t.ppm" || fail "no screenshot at $t s"
    rm -f "$out/shot-$t.png"
    # Cycles in which a client had not finished: the loop lost its continuity there.
    echo "$t $(grep -c "was not finished" "$RIG_JACK_LOG")" >>"$out/skipped.txt"
done
rig_escape_ends "$id" $pid "after Escape" "$out/program.out"
exit 0

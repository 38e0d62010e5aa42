#!/usr/bin/env bash
# The measurement frame on a private JACK server: a full-duplex two-channel
# stream at 48000 Hz with one frame per callback; Escape, SIGINT, SIGTERM and
# SIGHUP end it cleanly with status 0; the start-up failures (a -d that names no
# device, a device without outputs, a server at 44100 Hz, no device at all) show
# their "!!! " line, write one line with PortAudio's reason on standard error,
# pause at most three seconds (a key cuts it short) and end with status 1.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
probe="$BUILD_DIR/tests/frame_probe"

rig_xvfb_start || fail "no X server"
rig_jack_start "e2e-frame-$$" 256 || fail "no JACK server"

# Starts the probe with the given options; sets pid and id.
start_probe() {
    "$probe" "$@" >"$work/out" 2>"$work/err" &
    pid=$!
    id=$(rig_wait_window "Probe.exe" 120) ||
        fail "no window for probe $*; $(kill -0 $pid 2>/dev/null && echo running || echo ended)
standard output: $(tail -c 2000 "$work/out")
standard error: $(tail -c 3000 "$work/err")"
}

# The numbers of the probe's last printed line, as shell variables.
read_counts() {
    eval "$(tail -1 "$work/out" | tr ' ' '\n' | grep -E '^(rate|frames|largest|span)=')"
}

# --- the stream ---------------------------------------------------------------
start_probe
for port in probe:in_0 probe:in_1 probe:out_0 probe:out_1; do
    rig_wait_port "$port" 10 || fail "no port $port"
done
jack_lsp | grep -q '^probe:in_2$' && fail "more than two input channels"
# Callbacks per second of stream time, within 3 %, while 44100 Hz would be
# 8 % off. On a loaded machine the server skips the cycles in which the probe
# was late (its log says "was not finished", 256 frames each): they are counted
# back in. A window spoiled beyond that only reads too few, never too many, so
# the best of up to five windows of three seconds counts.
sleep 1
read_counts; f1=$frames; s1=$span; k1=$(rig_jack_skipped)
windows=""
for window in 1 2 3 4 5; do
    sleep 3
    read_counts; f2=$frames; s2=$span; k2=$(rig_jack_skipped)
    rate_seen=$(awk -v f="$((f2 - f1 + 256 * (k2 - k1)))" -v s="$s2" -v t="$s1" 'BEGIN { printf "%.0f", f / (s - t) }')
    windows+=" $rate_seen/s ($((k2 - k1)) cycles skipped)"
    [ "$rate_seen" -gt 46560 ] && [ "$rate_seen" -lt 49440 ] && break
    [ $window = 5 ] && fail "callbacks per second of stream time in five windows:$windows"
    f1=$f2 s1=$s2 k1=$k2
done
[ "$window" -gt 1 ] && echo "callback rate: retried, windows:$windows"
[ "$rate" = "48000" ] || fail "sample rate $rate"
[ "$largest" = "1" ] || fail "a callback handled $largest frames"
grep -q "name=system" "$work/out" || fail "device name: $(tail -1 "$work/out")"

xdotool key --window "$id" Escape
rig_wait_exit $pid 5
[ "$RIG_STATUS" = "0" ] || fail "Escape: exit status $RIG_STATUS"
jack_lsp | grep -q '^probe:' && fail "the JACK client outlived the program"
[ -s "$work/err" ] && fail "standard error: $(cat "$work/err")"

# --- signals end it through the same clean path ---------------------------------
for signal in INT TERM HUP; do
    start_probe
    rig_wait_port probe:out_0 10 || fail "no port"
    sleep 1.5
    kill -"$signal" $pid
    rig_wait_exit $pid 5
    [ "$RIG_STATUS" = "0" ] || fail "SIG$signal: exit status $RIG_STATUS"
    jack_lsp | grep -q '^probe:' && fail "SIG$signal: the JACK client outlived the program"
done

# --- start-up failures ------------------------------------------------------------
# Shows message for its pause; checks the screen, the time, the status and
# that standard error holds exactly one line, which matches line (an extended
# regular expression).
#
# The time: the pause begins when the message is drawn, which lies after the
# start of the last screenshot that did not show it (or after the program's
# start), so the pause cannot end before that instant plus 3 s. A key must end
# the program 200 ms or more before that earliest natural end. Where the
# screenshots were too slow to tell (a busy machine), the case runs again,
# three times at most; without a key the program must pause at least 2.9 s
# after its start.
check_failure() {
    local attempt
    for attempt in 1 2 3; do
        [ "$attempt" = 1 ] || rig_hold_builds 60  # the next attempt without the builds beside it
        check_failure_once "$@" && return 0
        echo "${*:4}: attempt $attempt: the screenshots came too slowly to time the key; again"
    done
    fail "${*:4}: the key's effect could not be timed in three attempts"
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
check_failure_once() {
    local message="$1" press="$2" line="$3"
    shift 3
    local start earliest
    start=$(now_ms)
    start_probe "$@"
    # The message appears once PortAudio has answered: look until it does.
    "$BUILD_DIR/tools/fbrender" 320 80 "$work/expected.ppm" "$message"
    local shown=no tries="" t0 differ
    earliest=$start
    for _ in $(seq 20); do
        kill -0 $pid 2>/dev/null || break
        t0=$(now_ms)
        differ=$(rig_shot "$id" "$work/shot.png" 2>&1 &&
            compare -metric AE "$work/shot.png" "$work/expected.ppm" null: 2>&1)
        [ "$differ" = "0" ] && { shown=yes; break; }
        earliest=$t0
        tries="$tries $(( $(now_ms) - t0 ))ms:${differ:0:80}"
        sleep 0.1
    done
    [ $shown = yes ] || fail "$*: the window does not show exactly \"$message\"" \
        "(screenshot time:differing pixels,$tries)"
    [ "$press" = key ] && xdotool key --window "$id" x
    rig_wait_exit $pid 6
    local ended
    ended=$(now_ms)
    [ "$RIG_STATUS" = "1" ] || fail "$*: exit status $RIG_STATUS; standard error: $(head -c 3000 "$work/err")"
    if [ "$press" = key ]; then
        # Too late to tell: the key came after the pause's earliest natural end.
        [ $((ended - earliest)) -lt 2800 ] || return 1
    else
        [ $((ended - start)) -ge 2900 ] || fail "$*: paused only $((ended - start)) ms"
    fi
    [ "$(wc -l <"$work/err")" = 1 ] && grep -Eqx "$line" "$work/err" ||
        fail "$*: standard error is not one line like $line: $(head -c 3000 "$work/err")"
    return 0
}

no_device='probe: PortAudio stream setting error: Invalid device \(device [0-9]+: no such device\)'
check_failure "!!! PortAudio stream setting error" wait \
    'probe: PortAudio stream setting error: Invalid device \(device 99: no such device\)' -d99
check_failure "!!! PortAudio stream setting error" key "$no_device" -d-1
check_failure "!!! PortAudio stream setting error" key "$no_device" -d2147483648
JACK_DEFAULT_SERVER="e2e-none-$$" check_failure "!!! no ASIO device" wait 'probe: no ASIO device'
JACK_DEFAULT_SERVER="e2e-none-$$" check_failure "!!! no ASIO device" key 'probe: no ASIO device'

# A device without outputs: a JACK client with one output port (a device
# input) and none in. (PipeWire's test has one without either.)
jack_metro -n e2e_metro -b 60 >/dev/null 2>&1 &
metro_pid=$!
RIG_PIDS+=($metro_pid)
rig_wait_port e2e_metro:60_bpm 10 || fail "no jack_metro port"
"$BUILD_DIR/tests/pa_devices" 2>/dev/null >"$work/devices"
metro=$(awk -F'\t' '$3 == "e2e_metro" { print $1 }' "$work/devices")
[ -n "$metro" ] || fail "PortAudio lists no device e2e_metro: $(cat "$work/devices")"
check_failure "!!! PortAudio stream setting error" key \
    "probe: PortAudio stream setting error: Invalid number of channels \\(device $metro, \"e2e_metro\": 1 input, 0 outputs\\)" \
    -d"$metro"
rig_stop $metro_pid  # before its server, which would otherwise wait for it

# A JACK server at 44100 Hz: no stream at 48000 Hz.
rig_jack_stop
rig_jack_start "e2e-frame-44k-$$" 256 44100 || fail "no JACK server at 44100 Hz"
check_failure "!!! PortAudio stream setting error" key \
    'probe: PortAudio stream setting error: Invalid sample rate \(device [0-9]+, "system": 2 inputs, 2 outputs\)'
rig_jack_stop

# The same failures under AddressSanitizer, when that build exists.
asan_probe="$SOURCE_DIR/build-asan/tests/frame_probe"
if [ -x "$asan_probe" ]; then
    probe="$asan_probe"
    # Memory errors only: the leaks reported at exit are those of system
    # libraries the window service loads (D-Bus through SDL), some from modules
    # already unloaded and so beyond suppression by name. Our own code's leaks
    # are checked by the unit tests under the same sanitizer.
    export ASAN_OPTIONS=detect_leaks=0
    check_failure "!!! PortAudio stream setting error" key "$no_device" -d4294967295
    JACK_DEFAULT_SERVER="e2e-none-$$" check_failure "!!! no ASIO device" key 'probe: no ASIO device'
fi

echo "PASS"

#!/usr/bin/env bash
# The programs on a private headless PipeWire session through PipeWire's ALSA
# plugin, with no JACK server: the plugin's devices "pipewire" and "default"
# lead dravik's list; at quantum 64 every program opens its stream on
# "default" (the session's duplex loop node, played and captured), karvel
# finds the loop's delay, tessaly and orbisca draw the flat line of a pure
# delay, morvane's model learns. A stream whose suggested latency is below
# the quantum receives no frames (karvel and morvane with -b8 at quantum 256):
# the window says so on its top line instead of showing a result, and Escape
# still ends it within two seconds with status 0 (as when a JACK server goes).
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin

rig_xvfb_start || fail "no X server"
rig_pipewire_start 64 || fail "no PipeWire session"
# No JACK server answers: the programs open PortAudio's default host API, ALSA.
export JACK_DEFAULT_SERVER="e2e-pipewire-alsa-none-$$"

# ---- dravik: the plugin's two devices first -----------------------------------------
"$BUILD_DIR/bufsizes/dravik" </dev/null >"$work/dravik" 2>"$work/err" &
rig_wait_exit $! 20
[ "$RIG_STATUS" = "0" ] || fail "dravik: exit status $RIG_STATUS"
[ -s "$work/err" ] && fail "dravik: stderr: $(cat "$work/err")"
sed -n 4,5p "$work/dravik" | awk '{ print $1, $2 }' | paste -sd, | grep -qx "0 pipewire,1 default" ||
    fail "dravik does not list pipewire and default as devices 0 and 1: $(cat "$work/dravik")"
index=$(awk '$2 == "default" && NF == 3 { print $1 }' "$work/dravik")

# Starts PROGRAM (its path under the build) with OPTIONS; sets pid, id and start_ns.
start() {
    local path="$1" name title
    shift
    name=${path##*/}
    title=$(rig_title "$name")
    "$BUILD_DIR/$path" "$@" >"$work/out" 2>&1 &
    pid=$!
    id=$(rig_wait_window "$title" 60) || fail "$name $*: no window ($(cat "$work/out"))"
}

# Escape ends the program started last within SECONDS with status 0, and it
# printed nothing; ended_ms is the time from the key's delivery (xdotool has
# returned) to the program's end, so that a slow xdotool on a loaded machine
# does not count.
finish() {
    local seconds="$1"
    shift
    xdotool key --window "$id" Escape
    local start_ns=$(date +%s%N)
    rig_ends_clean $pid "$*" "$work/out" "$seconds"
    ended_ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))
}

# The peak of karvel's trace reaches window row 15 in one column, and the
# read-out names that column; sets delay.
karvel_found() {
    local ms
    delay=$(convert "$work/shot.png" -crop 1001x1+0+15 +repage txt:- |
        awk -v g="$RIG_GREEN" 'index($0, g) { split($1, p, /[,:]/); print p[1]; exit }')
    [ -n "$delay" ] && [ "$delay" -gt 0 ] || return 1
    ms=$(awk -v d="$delay" 'BEGIN { printf "%.1f", d / 48 }')
    rig_text_shows "$work/shot.png" 1001 201 "@2,177,14=peak pos    : $delay (${ms}ms)" &&
        rig_text_shows "$work/shot.png" 1001 201 "@2,147,14=default"
}


# ---- quantum 64: every program's stream runs ----------------------------------------
start latency/karvel -d"$index" -b64
rig_shot_until "$id" "$work/shot.png" 15 karvel_found || fail "karvel -b64 at quantum 64 finds no delay"
finish 5 karvel
echo "quantum 64: karvel finds $delay frames through PipeWire's ALSA plugin"
# At quantum 64 the plugin loses frames now and then, and a refresh whose
# period holds such a gap is not flat: look for a whole one (on a busy
# machine the gaps come more often: look longer, and then again with the
# background builds held). None in 90 s twice ended warm clean-clone runs:
# that leaves the flat line unjudged, and the test ends as skipped, naming it,
# once the rest has passed.
undecided=""
start rtresponse/tessaly -d"$index"
rig_shot_until "$id" "$work/shot.png" 45 rig_row_is_green "$work/shot.png" 0 990 100 ||
    { rig_hold_builds 60 && rig_shot_until "$id" "$work/shot.png" 45 rig_row_is_green "$work/shot.png" 0 990 100; } ||
    { echo "SKIP tessaly: no refresh without the plugin's lost frames in 90 s: the machine is too busy to judge it"; undecided+=" tessaly"; }
rig_release_builds
finish 5 tessaly
start rtresponse/orbisca -d"$index"
rig_shot_until "$id" "$work/shot.png" 45 rig_row_is_green "$work/shot.png" 0 980 300 ||
    { rig_hold_builds 60 && rig_shot_until "$id" "$work/shot.png" 45 rig_row_is_green "$work/shot.png" 0 980 300; } ||
    { echo "SKIP orbisca: no refresh without the plugin's lost frames in 90 s: the machine is too busy to judge it"; undecided+=" orbisca"; }
rig_release_builds
finish 5 orbisca
start response/morvane -d"$index" -b64
rig_shot_until "$id" "$work/shot.png" 15 rig_row_partly_green "$work/shot.png" 0 990 100 || fail "morvane: the trace stays on the 0 dB line"
finish 5 morvane

# ---- a stalled stream is reported, not drawn as a result -------------------------------
stalled() {  # program width height options...
    local program="$1" width="$2" height="$3"
    local line="!!! no audio frames: try a larger -b, or a smaller PipeWire quantum"
    case $program in rtresponse/*) line="!!! no audio frames: try a PipeWire quantum of 64 frames" ;; esac
    shift 3
    start "$program" -d"$index" "$@"
    rig_shot_until "$id" "$work/shot.png" 10 rig_text_shows "$work/shot.png" "$width" "$height" "$line" ||
        fail "${program##*/} $* at quantum $quantum: no \"$line\""
    finish 3 "${program##*/} $* at quantum $quantum, stalled"
    [ "$ended_ms" -le 2000 ] || fail "${program##*/} $*, stalled: Escape took $ended_ms ms"
    echo "quantum $quantum: ${program##*/}${*:+ $*} reports the stall; Escape ended it in $ended_ms ms"
}
quantum=256
rig_pipewire_quantum $quantum || fail "quantum $quantum"
stalled latency/karvel 1001 201 -b8
stalled response/morvane 1025 301 -b8
# Further below its quantum the plugin hands out a trickle of frames now and
# then: that is a stall too.
quantum=1024
rig_pipewire_quantum $quantum || fail "quantum $quantum"
stalled latency/karvel 1001 201 -b256
stalled rtresponse/tessaly 1025 301
stalled rtresponse/orbisca 1025 601

if [ -n "$undecided" ]; then
    echo "SKIP:$undecided: the flat line at quantum 64 was not judged"
    exit 77
fi
echo "PASS"

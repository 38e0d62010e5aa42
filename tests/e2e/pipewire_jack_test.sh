#!/usr/bin/env bash
# The programs on a private headless PipeWire session, through PipeWire's JACK
# library (pw-jack), the loop closed through a null sink and its monitor.
# pw-jack dravik lists the session's nodes with the quantum as min and max, and
# marks the one whose name PortAudio cannot match; at quanta 1024, 256 and 64
# jack_iodelay reads one quantum on the sink and karvel one frame more;
# a null sink made with pw-cli in the running session loops the same way;
# undoing the forced quantum brings back PipeWire's default, 1024; tessaly,
# orbisca and morvane open their stream on the sink and draw (morvane's model
# visibly learning). Every program ends with status 0 on Escape and prints
# nothing. Karvel on the node PortAudio cannot match fails to start: status 1
# and one line on standard error that says why. The device index is taken from
# dravik's rows: ALSA's devices come first, PipeWire's plugin ("pipewire",
# "default") among them, and with libasound2-plugins installed its "jack"
# device before them.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin

rig_xvfb_start || fail "no X server"
rig_pipewire_start 256 || fail "no PipeWire session"

# dravik's table through pw-jack into $work/dravik; status 0, nothing on stderr.
dravik_table() {
    pw-jack "$BUILD_DIR/bufsizes/dravik" </dev/null >"$work/dravik" 2>"$work/err" &
    rig_wait_exit $! 20
    [ "$RIG_STATUS" = "0" ] || fail "pw-jack dravik: exit status $RIG_STATUS"
    [ -s "$work/err" ] && fail "pw-jack dravik: stderr: $(cat "$work/err")"
    return 0
}

# Dravik's row of the device NAME, from the index on; no row, no output.
dravik_row() {
    local name
    name=$(sed 's/[][().*^$+?{}|\\]/\\&/g' <<<"$1")
    grep -E "^ *%?[0-9]+ {12}$name +[0-9]+/[0-9]+" "$work/dravik"
}
device_index() { dravik_row "$1" | awk '{ sub(/^%/, "", $1); print $1 }'; }

# Starts pw-jack PROGRAM (its path under the build) with OPTIONS; sets pid and id.
start() {
    local path="$1" name title
    shift
    name=${path##*/}
    title=$(rig_title "$name")
    pw-jack "$BUILD_DIR/$path" "$@" >"$work/out" 2>&1 &
    pid=$!
    id=$(rig_wait_window "$title" 60) || fail "$name $*: no window ($(cat "$work/out"))"
    rig_wait_port "$name:in_0" 15 || fail "$name $*: no JACK ports"
}

# Escape ends the program started last with status 0, and it printed nothing.
finish() { rig_escape_ends "$id" $pid "$*" "$work/out"; }

karvel_shows() {  # delay buffer-size
    local ms
    ms=$(awk -v d="$1" 'BEGIN { printf "%.1f", d / 48 }')
    rig_text_shows "$work/shot.png" 1001 201 "@2,177,14=peak pos    : $1 (${ms}ms)" &&
        rig_text_shows "$work/shot.png" 1001 201 "@2,157,14=buffer size : $2" &&
        rig_text_shows "$work/shot.png" 1001 201 "@2,147,14=Loop sink" &&
        { [ "$1" -gt 1000 ] || [ "$(convert "$work/shot.png" -format "%[pixel:p{$1,15}]" info:)" = "$RIG_GREEN" ]; }
}

# ---- the ALSA plugin's devices come first ----------------------------------------
pw-jack "$BUILD_DIR/tests/pa_devices" 2>/dev/null >"$work/devices"
# Column 2 is PortAudio's host API type: 8 ALSA, 12 JACK.
alsa_first=$(awk -F'\t' '$2 == 12 { jack = 1 } $2 == 8 { if (jack) bad = 1; if ($3 == "pipewire" || $3 == "default") n++ }
                         END { print (bad || n != 2) ? "no" : "yes" }' "$work/devices")
[ "$alsa_first" = yes ] ||
    fail "PortAudio's ALSA devices, the plugin's pipewire and default among them, do not come first: $(cat "$work/devices")"

# ---- dravik and karvel at three quanta -----------------------------------------------
for quantum in 1024 256 64; do
    rig_pipewire_quantum "$quantum" || fail "quantum $quantum"
    dravik_table
    for name in "Loop sink" "Loop duplex"; do
        dravik_row "$name" | grep -qE " $quantum/$quantum\$" ||
            fail "quantum $quantum: no row \"$name ... $quantum/$quantum\": $(cat "$work/dravik")"
    done
    dravik_row "Stack loop (null sink)" | grep -qE " $quantum/$quantum  \(needs 2 in, 2 out; has 0 in, 0 out\)\$" ||
        fail "quantum $quantum: the unmatched name is not marked: $(cat "$work/dravik")"
    index=$(device_index "Loop sink")
    [ "${index:-0}" -ge 2 ] || fail "quantum $quantum: Loop sink at index ${index:-none}"

    reference=$(rig_iodelay_frames "Loop sink:playback_FL" "Loop sink:monitor_FL")
    # The sink hands what it was given in one graph cycle to its monitor.
    [ "$reference" = "$quantum" ] || fail "quantum $quantum: jack_iodelay measured ${reference:-nothing} on the sink"
    delay=$((reference + 1))
    buffer=$((quantum < 256 ? quantum : 256))
    start latency/karvel -d"$index" -b"$buffer"
    rig_shot_until "$id" "$work/shot.png" 15 karvel_shows "$delay" "$buffer" ||
        fail "quantum $quantum: jack_iodelay $reference frames; karvel does not show $delay frames"
    finish "karvel at quantum $quantum"
    echo "quantum $quantum: Loop sink is device $index; jack_iodelay $reference frames, karvel $delay frames"
done
echo "dravik: $(dravik_row "Stack loop (null sink)")"

# ---- a device without inputs: the node whose name PortAudio cannot match ---------------
stack=$(device_index "Stack loop (null sink)")
pw-jack "$BUILD_DIR/latency/karvel" -d"$stack" >"$work/out" 2>"$work/err" &
pid=$!
id=$(rig_wait_window "Karvel.exe" 60) || fail "karvel -d$stack: no window"
xdotool key --window "$id" x
rig_wait_exit $pid 10
[ "$RIG_STATUS" = "1" ] || fail "karvel on Stack loop: exit status $RIG_STATUS"
expected="karvel: PortAudio stream setting error: Invalid number of channels (device $stack, \"Stack loop (null sink)\": 0 inputs, 0 outputs)"
[ "$(cat "$work/err")" = "$expected" ] || fail "karvel on Stack loop: standard error: $(cat "$work/err")"
[ -s "$work/out" ] && fail "karvel on Stack loop printed: $(cat "$work/out")"
echo "stack loop: $(cat "$work/err")"

# ---- a loop made in the running session, as docs/pipewire.md shows it -------------
timeout 5 pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=my_loop node.description="My loop" media.class=Audio/Sink audio.position=[FL FR] object.linger=true }' >/dev/null ||
    fail "pw-cli create-node failed"
rig_wait_port "My loop:monitor_FL" 5 || fail "the node made with pw-cli has no monitor port"
reference=$(rig_iodelay_frames "My loop:playback_FL" "My loop:monitor_FL")
[ "$reference" = "$quantum" ] || fail "jack_iodelay measured ${reference:-nothing} on the node made with pw-cli"

# ---- undoing the forced quantum brings back PipeWire's default, 1024 -------------------
timeout 5 pw-metadata -n settings 0 clock.force-quantum 0 >/dev/null || fail "cannot undo the quantum"
dravik_table
dravik_row "Loop sink" | grep -qE " 1024/1024\$" || fail "quantum not back to 1024: $(cat "$work/dravik")"

# ---- the response programs draw on the same loop ------------------------------------
rig_pipewire_quantum 256 || fail "quantum 256"
start rtresponse/tessaly -d"$index"
rig_shot_until "$id" "$work/shot.png" 10 rig_row_is_green "$work/shot.png" 0 990 100 ||
    fail "tessaly: the trace is not flat on the 0 dB line"
finish tessaly
start rtresponse/orbisca -d"$index"
rig_shot_until "$id" "$work/shot.png" 10 rig_row_is_green "$work/shot.png" 0 980 300 ||
    fail "orbisca: the trace is not flat on the 0 dB line"
finish orbisca
# Morvane's model starts empty, which draws the flat 0 dB line, and needs half
# a minute to settle flat again: while it learns the loop the trace leaves the line.
start response/morvane -d"$index" -b256
rig_shot_until "$id" "$work/shot.png" 15 rig_row_partly_green "$work/shot.png" 0 990 100 || fail "morvane: the trace stays on the 0 dB line"
finish morvane

# ---- a card as a PipeWire desktop shows it: a sink and a separate source ---------------
# The rig's stand-ins "Card sink" and "Card source", with loopsim as the cable
# (100 frames) from the sink's monitor into the source. pw-jack karvel on the
# sink hears the sink's own monitor (quantum + 1, not the cable); linked as the
# recipe of docs/pipewire.md links a card's source, its input hears the cable.
rig_loopsim_start --delay 100 || fail "no loopsim"
{ jack_connect "Card sink:monitor_FL" loopsim:in && jack_connect loopsim:out "Card source:input_FL"; } ||
    fail "no stand-in cable"
dravik_table
index=$(device_index "Card sink")
card_shows() {
    rig_text_shows "$work/shot.png" 1001 201 "@2,177,14=peak pos    : $1" &&
        rig_text_shows "$work/shot.png" 1001 201 "@2,147,14=Card sink"
}
start latency/karvel -d"$index" -b256
rig_shot_until "$id" "$work/shot.png" 15 card_shows "257 (5.4ms)" || fail "karvel on the card's sink: not its monitor's 257 frames"
{ timeout 5 pw-link -d card_sink:monitor_FL karvel:in_0 && timeout 5 pw-link card_source:capture_FL karvel:in_0; } ||
    fail "pw-link: the card's source to karvel:in_0"
rig_shot_until "$id" "$work/shot.png" 20 card_shows "357 (7.4ms)" ||
    fail "karvel linked to the card's source: not the monitor's 257 frames + the cable's 100"
finish "karvel on the card's sink and source"
echo "card: karvel on the sink reads its monitor, 257 frames; linked to the source, 357 (the cable's 100 more)"

echo "PASS"

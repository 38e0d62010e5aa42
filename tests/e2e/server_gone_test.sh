#!/usr/bin/env bash
# The JACK server stops under each windowed program while it measures a loop:
# the window says so in its top row, Escape (or Ctrl-C, SIGTERM or SIGHUP) then ends
# the program with status 0 within two seconds (PortAudio's shutdown cannot finish on a dead server, and
# is not waited for), nothing is printed, and no entry of the program's JACK
# client is left in /dev/shm.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
message="!!! no audio frames: JACK server stopped? restart it, then this program"
rig_xvfb_start || fail "no X server"

# program, folder, window size, how it is ended
while read -r program folder width height end; do
    server="e2e-gone-$program-$$"
    rig_jack_start "$server" 256 || fail "no JACK server"
    "$BUILD_DIR/$folder/$program" >"$work/out" 2>&1 &
    pid=$!
    rig_wait_port "$program:in_0" 15 || fail "$program has no ports"
    jack_connect "$program:out_0" "$program:in_0"
    title=$(rig_title "$program")
    id=$(rig_wait_window "$title" 60) || fail "no $title window"
    sleep 2
    rig_jack_stop

    # The line appears about two seconds after the last frame; a loaded
    # machine may take longer to draw it, so look for up to 15 s.
    rig_shot_until "$id" "$work/shot.png" 15 rig_text_shows "$work/shot.png" "$width" "$height" "$message" ||
        fail "$program: no stall line after the server stopped"

    # Timed from the key's delivery or the signal, so that a slow xdotool on a
    # loaded machine does not count.
    case $end in
    Escape) xdotool key --window "$id" Escape ;;
    *) kill -"$end" $pid ;;
    esac
    start=$(date +%s%N)
    rig_wait_exit $pid 10
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    [ "$RIG_STATUS" = "0" ] || fail "$program: exit status $RIG_STATUS after $end"
    [ $ms -lt 2000 ] || fail "$program: $end took $ms ms to end it"
    [ -s "$work/out" ] && fail "$program printed: $(cat "$work/out")"
    left=$(ls /dev/shm | grep -F "_${server}_")
    [ -z "$left" ] || fail "$program: left in /dev/shm: $left"
    echo "$program: stall shown, ended $ms ms after $end"
done <<'PROGRAMS'
karvel latency 1001 201 Escape
tessaly rtresponse 1025 301 INT
orbisca rtresponse 1025 601 Escape
morvane response 1025 301 TERM
karvel latency 1001 201 HUP
PROGRAMS
echo "PASS"

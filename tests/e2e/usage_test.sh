#!/usr/bin/env bash
# PROGRAM -h in a real window, for each windowed program: size, title, the
# usage text on screen exactly as the framebuffer renders it, a key ends it
# with status 0, and no audio server is touched. Without any display karvel
# says so and exits 1.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin

rig_xvfb_start || fail "no X server"
rig_jack_start "e2e-usage-$$" 256 || fail "no JACK server"

analyser_options=("  -b : set buffer size (8/16/32/64/128/256/512/1024/2048)" "  -t : internal (software) loopback test")
# program|folder|width|height|heading
while IFS='|' read -r program folder width height heading; do
    title=$(rig_title "$program")
    if [ "$program" = karvel ]; then
        options=("  -b : set buffer size (8/16/32/64/128/256)" "  -o : overwrite mode (hit 'e' or 'r' key to erase/refresh)")
        example="  >karvel -d3 -b128 -o"
    else
        options=("${analyser_options[@]}")
        example="  >$program -d3 -b128"
    fi
    "$BUILD_DIR/$folder/$program" -h >"$work/out" 2>&1 &
    pid=$!
    id=$(rig_wait_window "$title" 60) || fail "$program: no window"
    [ "$(xdotool getwindowname "$id")" = "$title  (C) 2026 Loopcable Test Suite" ] ||
        fail "$program: title $(xdotool getwindowname "$id")"
    xdotool getwindowgeometry "$id" | grep -q "Geometry: ${width}x$height" ||
        fail "$program: size $(xdotool getwindowgeometry "$id")"

    "$BUILD_DIR/tools/fbrender" "$width" "$height" "$work/expected.ppm" \
        "$heading(C) 2026 Loopcable Test Suite" "" "option" "  -d : set device index of PortAudio" "${options[@]}" \
        "" "example" "$example" "" "hit any key to exit" || fail "fbrender"
    # The usage text appears right after the window opens: look until it shows.
    rig_shot_until "$id" "$work/shot.png" 3 rig_same_pixels "$work/shot.png" "$work/expected.ppm" ||
        fail "$program: screenshot differs from the rendering in $(rig_pixels_differ "$work/shot.png" "$work/expected.ppm") pixels"
    jack_lsp | grep -q "^$program:" && fail "$program -h opened a JACK client"

    kill -0 $pid 2>/dev/null || fail "$program ended before a key"
    xdotool key --window "$id" space
    rig_wait_exit $pid 10
    [ "$RIG_STATUS" = "0" ] || fail "$program: exit status $RIG_STATUS after a key"
    [ -s "$work/out" ] && fail "$program printed: $(cat "$work/out")"
done <<'PROGRAMS'
karvel|latency|1001|201|ASIO latency check program, 
tessaly|rtresponse|1025|301|ASIO realtime frequency response measurement program, 
orbisca|rtresponse|1025|601|ASIO realtime frequency response measurement program, 
morvane|response|1025|301|ASIO frequency response measurement program, 
PROGRAMS

DISPLAY= "$BUILD_DIR/latency/karvel" -h >"$work/out" 2>"$work/err" </dev/null &
rig_wait_exit $! 10
[ "$RIG_STATUS" = "1" ] || fail "without a display: exit status $RIG_STATUS"
[ "$(wc -l <"$work/err")" = "1" ] || fail "without a display: $(cat "$work/err")"
grep -q "cannot open the window" "$work/err" || fail "without a display: $(cat "$work/err")"
echo "PASS"

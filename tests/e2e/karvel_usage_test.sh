#!/usr/bin/env bash
# karvel -h in a real window: size, title, the usage text on screen exactly as
# the framebuffer renders it, a key ends it with status 0, and no audio server
# is touched. Without any display it says so and exits 1.
set -u
. "$SOURCE_DIR/tools/rig.sh"
trap rig_cleanup EXIT
work=$(mktemp -d)
fail() { echo "FAIL: $*"; exit 1; }

rig_xvfb_start || fail "no X server"
rig_jack_start "e2e-usage-$$" 256 || fail "no JACK server"

"$BUILD_DIR/latency/karvel" -h >"$work/out" 2>&1 &
pid=$!
id=$(rig_wait_window "Karvel.exe" 15) || fail "no window"
[ "$(xdotool getwindowname "$id")" = "Karvel.exe  (C) 2026 Loopcable Test Suite" ] || fail "title: $(xdotool getwindowname "$id")"
xdotool getwindowgeometry "$id" | grep -q "Geometry: 1001x201" || fail "size: $(xdotool getwindowgeometry "$id")"

"$BUILD_DIR/tools/fbrender" 1001 201 "$work/expected.ppm" \
    "ASIO latency check program, (C) 2026 Loopcable Test Suite" "" "option" \
    "  -d : set device index of PortAudio" \
    "  -b : set buffer size (8/16/32/64/128/256)" \
    "  -o : overwrite mode (hit 'e' or 'r' key to erase/refresh)" \
    "" "example" "  >karvel -d3 -b128 -o" "" "hit any key to exit" || fail "fbrender"
# The usage text appears right after the window opens: look until it shows.
differing=unknown
for _ in $(seq 30); do
    rig_shot "$id" "$work/shot.png" 2>/dev/null &&
        differing=$(compare -metric AE "$work/shot.png" "$work/expected.ppm" null: 2>&1)
    [ "$differing" = "0" ] && break
    sleep 0.1
done
[ "$differing" = "0" ] || fail "screenshot differs from the rendering in $differing pixels"
jack_lsp | grep -q '^karvel:' && fail "karvel -h opened a JACK client"

kill -0 $pid 2>/dev/null || fail "karvel ended before a key"
xdotool key --window "$id" space
rig_wait_exit $pid 10
[ "$RIG_STATUS" = "0" ] || fail "exit status $RIG_STATUS after a key"
[ -s "$work/out" ] && fail "karvel printed: $(cat "$work/out")"

DISPLAY= "$BUILD_DIR/latency/karvel" -h >"$work/out" 2>"$work/err" </dev/null &
rig_wait_exit $! 10
[ "$RIG_STATUS" = "1" ] || fail "without a display: exit status $RIG_STATUS"
[ "$(wc -l <"$work/err")" = "1" ] || fail "without a display: $(cat "$work/err")"
grep -q "cannot open the window" "$work/err" || fail "without a display: $(cat "$work/err")"

rm -rf "$work"
echo "PASS"

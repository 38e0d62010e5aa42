#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs Karvel on a loop.
#
# With a display and an audio interface (or a running JACK server) Karvel runs
# as a user would run it: cable output 1 to input 1 and press Escape to end.
# Without a display it uses a private Xvfb; without a sound card and JACK
# server it starts a JACK server with the dummy backend and connects the loop
# cable karvel:out_0 -> karvel:in_0 itself. Headless, it leaves a screenshot.
#
#   tools/demo.sh [SECONDS] [karvel options...]    (SECONDS: headless run time, default 10)
#
# It installs and builds only what it runs: the programs, JACK's tools, and
# without a display Xvfb, xdotool and ImageMagick (tools/test.sh installs the rest).
set -eu
cd "$(dirname "$0")/.."
. tools/packaged.sh
headless=0
[ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && headless=1
if [ $headless = 1 ]; then tools/setup.sh build demo headless; else tools/setup.sh build demo; fi
tools/build.sh programs
. tools/rig.sh
trap rig_cleanup EXIT

# SECONDS is the first argument only when it is a number: `tools/demo.sh -b256`
# passes -b256 to Karvel and measures for the default ten seconds.
seconds=10
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
    seconds="$1"
    shift
fi
mkdir -p out
if [ $headless = 1 ]; then
    rig_xvfb_start
    echo "demo: no display: started Xvfb on $DISPLAY"
fi
jack_running=0
JACK_NO_START_SERVER=1 timeout 5 jack_lsp >/dev/null 2>&1 && jack_running=1
sound_cards=0
grep -q '^ *[0-9]' /proc/asound/cards 2>/dev/null && sound_cards=1
started_jack=0
if [ $jack_running = 0 ] && [ $sound_cards = 0 ]; then
    rig_jack_start "demo-$$" 256
    started_jack=1
    echo "demo: no sound card and no JACK server: started jackd -n demo-$$ -d dummy -r 48000 -p 256"
fi

build/latency/karvel "$@" &
pid=$!
if [ $started_jack = 1 ]; then
    rig_wait_port karvel:out_0 15 && rig_wait_port karvel:in_0 5
    jack_connect karvel:out_0 karvel:in_0
    echo "demo: loop cable karvel:out_0 -> karvel:in_0 connected"
fi
if [ $headless = 1 ]; then
    id=$(rig_wait_window "Karvel.exe" 15)
    sleep "$seconds"
    rig_shot "$id" out/karvel.png
    echo "demo: screenshot of the Karvel window: $(pwd)/out/karvel.png"
    xdotool key --window "$id" Escape
    rig_wait_exit $pid 10
    echo "demo: karvel ended with status $RIG_STATUS"
else
    echo "demo: Karvel is running; press Escape in its window to end it"
    wait $pid
fi
[ $started_jack = 1 ] && echo "demo: stopping the JACK server demo-$$"
exit 0

#!/usr/bin/env bash
# The screenshots of loopcheck's HTML report in docs/reports.md, made again:
# three runs through loopsim on a private JACK server (dummy backend,
# 48000 Hz, period 1024), each page opened in headless Chromium
# (tools/browser_check.py) 948 px wide (the plots unscaled), a part of it
# cropped and written as a PNG of 64 colours:
#   docs/report-latency.png   one run on loopsim's converters path: the top of the page
#   docs/report-quality.png   --quality on a path with distortion and noise:
#                             the section's key figures and the first two spectra
#   docs/report-monitor.png   --monitor 30s with three glitches injected: the section
# A section is found by its first plot's frame (a line of 822 px of #555555
# whose left end goes on down) and cropped from a fixed height above it.
#
#   cmake --build build -j2 --target loopcheck loopsim
#   BUILD_DIR=$PWD/build SOURCE_DIR=$PWD bash tools/rig.sh run tools/report_shots.sh
#
# OUT_DIR (default docs/) is where the PNGs go; KEEP_PAGES=DIR keeps the pages too.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
out="${OUT_DIR:-$SOURCE_DIR/docs}"
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR" "$out"
rig_jack_start "loopcheck-shots-$$" 1024 48000 || fail "no JACK server"

# top PNG PLOT: the row of the frame of plot number PLOT (from 0; negative
# from the end) in the screenshot.
top() {
    python3 - "$1" "$2" "$SOURCE_DIR/tools" <<'PY'
import sys
sys.path.insert(0, sys.argv[3])
from pixel_check import Picture
pic, tops = Picture(sys.argv[1]), []
line = b"\x55" * (3 * 822)
for y in range(pic.height - 1):
    row = pic.rgb[3 * y * pic.width:3 * (y + 1) * pic.width]
    x = row.find(line)
    while x >= 0 and x % 3:
        x = row.find(line, x + 1)
    if x >= 0 and pic.has(x // 3, y + 1, (0x55, 0x55, 0x55), 0):
        tops.append(y)
print(tops[int(sys.argv[2])])
PY
}

# shot NAME HEIGHT PLOT ABOVE CROP LOOPSIM_OPTIONS -- LOOPCHECK_OPTIONS: the
# page of one run in a window HEIGHT px high, cropped to CROP px from ABOVE px
# over the frame of plot PLOT (or from the top of the page, PLOT "-").
shot() {
    local name="$1" height="$2" plot="$3" above="$4" crop="$5" sim=() from=0
    shift 5
    while [ "$1" != "--" ]; do sim+=("$1"); shift; done
    shift
    rig_loopsim_start "${sim[@]}" --cable loopcheck || fail "$name: no loopsim"
    timeout 120 "$loopcheck" --report "$work/$name.html" "$@" >"$work/$name.out" 2>&1 </dev/null
    rig_stop "$RIG_LOOPSIM_PID"
    [ -s "$work/$name.html" ] || fail "$name: no page: $(cat "$work/$name.out")"
    python3 "$SOURCE_DIR/tools/browser_check.py" "$work/$name.html" --shot "$work/$name.png" --size "948x$height" ||
        fail "$name: the browser check failed"
    [ "$plot" = - ] || from=$(($(top "$work/$name.png" "$plot") - above)) || fail "$name: no plot $plot"
    convert "$work/$name.png" -crop "948x$crop+0+$from" +repage -colors 64 "PNG8:$out/report-$name.png" ||
        fail "$name: convert"
    [ -n "${KEEP_PAGES:-}" ] && cp "$work/$name.html" "$KEEP_PAGES/"
    echo "report-$name.png: $(stat -c %s "$out/report-$name.png") bytes"
}

shot latency 2200 - 0 1750 --delay 300 --aa 20000,127 --highpass 3 --gain 0.5 --
shot quality 5000 -4 610 1270 --delay 300 --poly 0.000224,0.0001 --noise -110 -- --quality
shot monitor 3600 -2 330 1000 --delay 3000 --glitch drop,4,480 --glitch zero,5.5,1000 --glitch insert,17,256 -- \
    --monitor 30s

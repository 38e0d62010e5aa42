#!/usr/bin/env bash
# The README's screenshots of loopcheck's HTML report, made again: three runs
# through loopsim on a private JACK server (dummy backend, 48000 Hz, period
# 1024), each page opened in headless Chromium (tools/browser_check.py), its
# top cropped and written as a small PNG:
#   docs/report-latency.png   one run, a path with an echo
#   docs/report-quality.png   --quality, two loops with distortion and crosstalk
#   docs/report-monitor.png   --monitor 30s, three glitches injected
# The pages themselves are kept in OUT_DIR (default: docs/) only as PNGs; with
# KEEP_PAGES=DIR the HTML files are copied there too.
#
#   cmake --build build -j2 --target loopcheck loopsim
#   BUILD_DIR=$PWD/build SOURCE_DIR=$PWD bash tools/rig.sh run tools/report_shots.sh
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
out="${OUT_DIR:-$SOURCE_DIR/docs}"
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR" "$out"
rig_jack_start "loopcheck-shots-$$" 1024 48000 || fail "no JACK server"

# shot NAME HEIGHT CROP LOOPSIM_OPTIONS -- LOOPCHECK_OPTIONS: the page of one
# run, its screenshot cropped to 948 x CROP from the top (the page at its
# widest: the plots unscaled), as 8-bit palette PNG.
shot() {
    local name="$1" height="$2" crop="$3" sim=()
    shift 3
    while [ "$1" != "--" ]; do sim+=("$1"); shift; done
    shift
    rig_loopsim_start "${sim[@]}" --cable loopcheck || fail "$name: no loopsim"
    timeout 120 "$loopcheck" --report "$work/$name.html" "$@" >"$work/$name.out" 2>&1 </dev/null
    rig_stop "$RIG_LOOPSIM_PID"
    [ -s "$work/$name.html" ] || fail "$name: no page: $(cat "$work/$name.out")"
    python3 "$SOURCE_DIR/tools/browser_check.py" "$work/$name.html" --shot "$work/$name.png" --size "948x$height" ||
        fail "$name: the browser check failed"
    convert "$work/$name.png" -crop "948x$crop+0+0" +repage -colors 64 "PNG8:$out/report-$name.png" ||
        fail "$name: convert"
    [ -n "${KEEP_PAGES:-}" ] && cp "$work/$name.html" "$KEEP_PAGES/"
    echo "report-$name.png: $(stat -c %s "$out/report-$name.png") bytes"
}

shot latency 1700 1300 --delay 300 --peak 3000,1,2 --gain 0.5 --
shot quality 5200 "${QUALITY_CROP:-1500}" --delay 300 --poly 0.000224,0.0001 --noise -120 --crosstalk -90,capacitive -- \
    --out 1,2 --in 1,2 --quality
shot monitor 1700 "${MONITOR_CROP:-1300}" --delay 3000 --glitch drop,8,480 --glitch zero,16,1000 --glitch insert,22,256 -- \
    --monitor 30s

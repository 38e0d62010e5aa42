#!/usr/bin/env bash
# The Windows programs (build-windows/*.exe) under Wine, in a private prefix,
# on a private Xvfb and JACK server: each windowed program's usage screen has
# exactly the pixels of the Linux build's, under the specified title; dravik.exe
# lists the devices of the host API the programs choose, and the no-device hint
# where there are none; Escape and Ctrl-C end each windowed program with status
# 0 while its stream runs. Skipped when build-windows/ has no .exe.
#
# A build with ASIO (the default where the SDK's files are) chooses ASIO: with
# no ASIO driver Dravik gives the hint; with WineASIO registered it lists its
# one device, the server's period as its buffer sizes, and the windowed
# programs run on it, where Tessaly and Orbisca draw the digital loop flat on
# the 0 dB line, and they and Morvane draw loopsim's shaped path as loopsim
# prints its response, as on Linux. A build without ASIO runs on Wine's
# WASAPI: Dravik lists its one-way devices, each with the pair -dN opens.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
# Under tools/test.sh the Windows programs are built beside the first tests.
rig_wait_builds windows || fail "the Windows programs were not built (tools/test.sh: build-logs/windows.log)"

for program in dravik karvel tessaly orbisca morvane; do
    rig_wine_exe $program >/dev/null 2>&1 ||
        { echo "SKIP: no $program.exe in $RIG_WINE_BUILD (tools/windows_build.sh builds the Windows programs)"; exit 0; }
done
rig_xvfb_start || fail "no X server"
rig_jack_start "e2e-wine-$$" 256 || fail "no JACK server"
rig_wine_start || fail "no Wine prefix"

# ---- dravik.exe: the chosen host API's devices, or the hint ------------------------
# Runs dravik.exe with standard input from /dev/null (its end is the key),
# bounded, up to TRIES times (1) until it ends with STATUS, as it must; its
# table in $work/table and its standard error in $work/errors, without the
# console's carriage returns and without the jack plugin's own warnings.
run_dravik() {  # status [tries]
    local try
    for try in $(seq "${2:-1}"); do
        rig_wine "$(rig_wine_exe dravik)" </dev/null >"$work/out" 2>"$work/err" &
        rig_wait_exit $! 30
        [ "$RIG_STATUS" = "$1" ] && break
        [ "$try" -lt "${2:-1}" ] &&
            echo "note dravik.exe: exit status $RIG_STATUS, not $1 ($(tr -d '\r' <"$work/err" | head -3 | tr '\n' ' ')); again"
    done
    [ "$RIG_STATUS" = "$1" ] ||
        fail "dravik.exe: exit status $RIG_STATUS, not $1: $(tr -d '\r' <"$work/err" | head -5 | tr '\n' ' ')"
    # WineASIO's own line as it loads libjack is not dravik's.
    tr -d '\r' <"$work/out" | grep -v '^\[wineasio\]' >"$work/table" || true
    # ALSA's own lines, not dravik's: the jack plugin's warning at open, and
    # the library's note when Wine's stream recovers an underrun while dravik
    # probes a device on a busy machine; and libjack's, inside that plugin,
    # when its client's semaphore is not yet there (twice in fresh runs).
    tr -d '\r' <"$work/err" |
        grep -v -e "^snd_pcm_jack_open: WARNING" -e "^ALSA lib pcm.c:[0-9]*:(snd_pcm_recover) underrun occurred$" -e '^\[wineasio\]' \
            -e "^Connect: can't connect named futex name = jack_sem\." >"$work/errors" || true
}
rule=$(printf '%68s' '' | tr ' ' '-')
header() {
    printf 'PortAudio%48sbuffer size\n' ''
    printf 'device index  name%39smin/max\n' ''
    echo "$rule"
}
closing() { printf 'hit any key to exit%20s(C) 2026 Loopcable Test Suite\n' ''; }
no_devices() {
    { header; echo "$rule"
      echo "no devices: check the sound devices in Windows' Sound settings, or install the interface's ASIO driver"
      closing; } >"$work/expected"
    diff "$work/expected" "$work/table" >"$work/diff"
}
if rig_wine_has_asio; then
    # ASIO, with no ASIO driver in the prefix (Wine's WASAPI devices are not
    # ASIO's): no device, the hint, status 0. The prefix's first program, at
    # the suite's busiest moment, once ended with status 1 within seconds:
    # it is given a second start, which says so.
    run_dravik 0 2
    [ -s "$work/errors" ] && fail "dravik.exe without an ASIO driver: stderr: $(cat "$work/errors")"
    no_devices || fail "dravik.exe without an ASIO driver: $(cat "$work/diff")"
    echo "dravik.exe: no ASIO driver, the hint"
else
    # Wine's WASAPI lists ALSA's default device once each way, as devices 8 and 9
    # (after WMME's four and DirectSound's four), in either order from one start to
    # the next; each is opened with the other.
    run_dravik 0
    [ -s "$work/errors" ] && fail "dravik.exe: stderr: $(cat "$work/errors")"
    input=$(sed -n 's/^ \([0-9]\) *In: default .*/\1/p' "$work/table")
    output=$((17 - ${input:-0}))
    { header
      for index in 8 9; do
          name="Out: default"
          [ "$index" = "$input" ] && name="In: default"
          printf ' %s            %-43s0/0  (-d%s: in %s, out %s)\n' $index "$name" $index "$input" $output
      done
      echo "$rule"; closing; } >"$work/expected"
    diff "$work/expected" "$work/table" >"$work/diff" || fail "dravik.exe with Wine's ALSA device: $(cat "$work/diff")"
    echo "dravik.exe: Wine's two WASAPI devices, each with its pair"

    # Without Wine's audio drivers PortAudio does not start: the failure line on
    # standard error, status 1, and the Windows hint under the empty table.
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winealsa.drv,winepulse.drv,wineoss.drv=" run_dravik 1
    [ "$(cat "$work/errors")" = "dravik: PortAudio initialize error: Internal PortAudio error" ] ||
        fail "dravik.exe without audio drivers: stderr: $(cat "$work/errors")"
    no_devices || fail "dravik.exe without audio drivers: $(cat "$work/diff")"
    echo "dravik.exe: no devices, the hint"
fi

# ---- the usage screens: the same pixels as the Linux build's ----------------------
# program|folder
while IFS='|' read -r program folder; do
    title=$(rig_title "$program")
    "$BUILD_DIR/$folder/$program" -h >/dev/null 2>&1 &
    pid=$!
    # As long as the Wine windows get: the tests beside it load the machine.
    # The Linux program's own window, by its process: the Wine and Linux
    # windows share their titles, and X hands a new client the ids of one gone.
    id=""
    for _ in $(seq 300); do
        id=$(timeout 2 xdotool search --all --pid "$pid" --name "$title" 2>/dev/null | head -1)
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || fail "$program: no Linux window ($(kill -0 $pid 2>/dev/null && echo still running || echo exited))"
    sleep 0.5
    rig_shot "$id" "$work/linux.png" || fail "$program: no Linux screenshot"
    xdotool key --window "$id" space
    rig_wait_exit $pid 10

    rig_wine "$(rig_wine_exe $program)" -h >"$work/out" 2>&1 &
    pid=$!
    # Wine's start stalls when starved: a program still starting after two
    # minutes is started again once, with the background builds held (a warm
    # clean-clone run once saw no Tessaly.exe window in 120 s); one that exited
    # says so.
    id=$(rig_wait_window "$title" 120) || {
        kill -0 $pid 2>/dev/null || fail "$program.exe: no window, and it exited: $(head -c 500 "$work/out")"
        echo "note $program.exe: no window within 120 s on the busy machine; again with the builds held"
        rig_stop $pid
        rig_hold_builds 180
        rig_wine "$(rig_wine_exe $program)" -h >"$work/out" 2>&1 &
        pid=$!
        id=$(rig_wait_window "$title" 120)
    } || fail "$program.exe: no window"
    rig_release_builds
    [ "$(xdotool getwindowname "$id")" = "$title  (C) 2026 Loopcable Test Suite" ] ||
        fail "$program.exe: title $(xdotool getwindowname "$id")"
    rig_shot_until "$id" "$work/wine.png" 6 rig_same_pixels "$work/wine.png" "$work/linux.png" ||
        fail "$program.exe: the usage screen differs from Linux's in $(rig_pixels_differ "$work/wine.png" "$work/linux.png") pixels"
    xdotool key --window "$id" space
    rig_wait_exit $pid 10
    [ "$RIG_STATUS" = "0" ] || fail "$program.exe -h: exit status $RIG_STATUS after a key"
    echo "$program.exe -h: the Linux build's pixels"
done <<'PROGRAMS'
karvel|latency
tessaly|rtresponse
orbisca|rtresponse
morvane|response
PROGRAMS

# ---- loopcheck.exe, where it is built: its help on the console -------------------
if loopcheck=$(rig_wine_exe loopcheck 2>/dev/null); then
    rig_wine "$loopcheck" --help </dev/null >"$work/out" 2>"$work/err" &
    rig_wait_exit $! 30
    [ "$RIG_STATUS" = "0" ] || fail "loopcheck.exe --help: exit status $RIG_STATUS"
    grep -q '^usage: loopcheck \[' "$work/out" || fail "loopcheck.exe --help: $(head -3 "$work/out")"
    echo "loopcheck.exe --help: its usage, status 0"
fi

# ---- ASIO: WineASIO's device in Dravik's list ------------------------------------
if rig_wine_has_asio; then
    rig_wine_asio_start || fail "WineASIO not registered"
    run_dravik 0
    [ -s "$work/errors" ] && fail "dravik.exe on WineASIO: stderr: $(cat "$work/errors")"
    { header; printf ' 0            %-43s256/256\n' "WineASIO Driver"; echo "$rule"; closing; } >"$work/expected"
    diff "$work/expected" "$work/table" >"$work/diff" || fail "dravik.exe on WineASIO: $(cat "$work/diff")"
    echo "dravik.exe: WineASIO's device, 256/256"
fi

# ---- Escape and Ctrl-C end each program while its stream runs ----------------------
# On ASIO each run is also looked at before its key, as the Linux tests look:
#   flat   the loop cabled straight (digital, one period): Tessaly's and
#          Orbisca's traces on the 0 dB line (silence draws it too: the runs
#          through loopsim below show that the loop is there);
#   truth  through loopsim's shaped path: every column of Tessaly or Orbisca
#          on the row that loopsim's own printed response draws;
#   model  the same for Morvane's model, within 1 dB (its first 20 s).
# On WASAPI the path's length changes as Wine's buffers slip, so only the key
# is checked. Beside a build, Wine's stream start now and then hangs in the
# ALSA jack plugin (no stream on JACK within 20 s): that start is ended by
# force and made again, once.
shot_check="$BUILD_DIR/tools/shot_check"
eq_path="--delay 300 --aa 22000 --highpass 3 --peak 1000,2,0.5 --gain 0.7"
shelf_path="--delay 40 --aa 20000 --highpass 5 --low-shelf 300,0.7071,-10 --gain 1.5 --invert"
flat_tessaly() { rig_row_is_green "$work/shot.png" 0 990 100; }
flat_orbisca() { rig_row_is_green "$work/shot.png" 0 980 300; }
shows() { # MODE [DB]: the shot's trace against $work/truth.txt
    convert "$work/shot.png" "$work/shot.ppm" &&
        result=$("$shot_check" trace "$1" "$work/shot.ppm" "$work/truth.txt" "${@:2}")
}
# program key look seconds loopsim-options
while read -r program key look within path; do
    title=$(rig_title "$program")
    rig_wine_has_asio || look=-
    loopsim=""
    if [ "$look" = truth ] || [ "$look" = model ]; then
        # shellcheck disable=SC2086
        if [ $look = truth ]; then
            "$BUILD_DIR/tools/loopsim/loopsim" ${!path} --print-response >"$work/truth.txt"
        else
            # A model of 2048 taps holds the path's first 2048 - 256: ASIO's round trip comes first.
            "$BUILD_DIR/tools/loopsim/loopsim" ${!path} --print-ir-response 1792 >"$work/truth.txt"
        fi
        # shellcheck disable=SC2086
        rig_loopsim_start ${!path} --cable rigwine:out_1:in_1 || fail "no loopsim"
        loopsim=$RIG_LOOPSIM_PID
    fi
    for start in 1 2; do
        rig_wine "$(rig_wine_exe $program)" >/dev/null 2>"$work/err" &
        pid=$!
        id=$(rig_wait_window "$title" 120) || fail "$program.exe: no window"
        if [ -n "$loopsim" ]; then rig_wine_stream 20 >/dev/null; else rig_wine_loop 20; fi && break
        [ $start = 2 ] && fail "$program.exe: no stream, twice"
        echo "$program.exe: no stream on JACK within 20 s: started again"
        rig_wine_kill $pid
    done
    started=$SECONDS result=""
    case $look in
    flat) rig_shot_until "$id" "$work/shot.png" "$within" flat_$program ||
              fail "$program.exe on ASIO, the loop cabled straight: the trace not flat on the 0 dB line" ;;
    truth) rig_shot_until "$id" "$work/shot.png" "$within" shows "$program" exact ||
               fail "$program.exe on ASIO through loopsim ($path): not the true rows after $within s: $result" ;;
    model) rig_shot_until "$id" "$work/shot.png" "$within" shows tessaly within 1.0 ||
               fail "$program.exe on ASIO through loopsim ($path): not within 1 dB of the model's truth after $within s: $result" ;;
    *) sleep 1 ;;
    esac
    [ "$look" = - ] || echo "$program.exe on ASIO: $look${path:+ through loopsim, $path} after $((SECONDS - started)) s${result:+: $result}"
    kill -0 $pid 2>/dev/null || fail "$program.exe ended before $key"
    rig_wine_key "$id" "$key"
    rig_wait_exit $pid 10
    [ "$RIG_STATUS" = "0" ] || fail "$program.exe: exit status $RIG_STATUS after $key"
    jack_lsp | grep -q '^rigwine' && fail "$program.exe: its stream outlived it"
    [ -n "$loopsim" ] && rig_stop "$loopsim"
    echo "$program.exe: $key ends it with status 0"
done <<'KEYS'
karvel Escape - 0
karvel ctrl+c - 0
tessaly Escape truth 20 eq_path
tessaly ctrl+c flat 10
orbisca ctrl+c truth 20 shelf_path
orbisca Escape flat 10
morvane Escape model 60 eq_path
morvane ctrl+c - 0
KEYS

echo "PASS"

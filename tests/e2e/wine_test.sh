#!/usr/bin/env bash
# The Windows programs (build-windows/*.exe) under Wine, in a private prefix,
# on a private Xvfb and JACK server: each windowed program's usage screen has
# exactly the pixels of the Linux build's, under the specified title; dravik.exe
# lists the devices Wine offers, with the devices that -dN opens for the one-way
# ones, and the no-device hint where there are none; Escape and Ctrl-C end each
# windowed program with status 0 while its stream runs. Skipped when
# build-windows/ has no .exe.
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

# ---- dravik.exe: Wine's WASAPI devices, each one way, and the pair -dN opens ------
# Runs dravik.exe with standard input from /dev/null (its end is the key),
# bounded; it must end with STATUS; its table in $work/table and its standard
# error in $work/errors, without the console's carriage returns and without
# the jack plugin's own warnings.
run_dravik() {  # status
    rig_wine "$(rig_wine_exe dravik)" </dev/null >"$work/out" 2>"$work/err" &
    rig_wait_exit $! 30
    [ "$RIG_STATUS" = "$1" ] || fail "dravik.exe: exit status $RIG_STATUS"
    tr -d '\r' <"$work/out" >"$work/table"
    # ALSA's own lines, not dravik's: the jack plugin's warning at open, and
    # the library's note when Wine's stream recovers an underrun while dravik
    # probes a device on a busy machine.
    tr -d '\r' <"$work/err" |
        grep -v -e "^snd_pcm_jack_open: WARNING" -e "^ALSA lib pcm.c:[0-9]*:(snd_pcm_recover) underrun occurred$" \
            >"$work/errors" || true
}
rule=$(printf '%68s' '' | tr ' ' '-')
header() {
    printf 'PortAudio%48sbuffer size\n' ''
    printf 'device index  name%39smin/max\n' ''
    echo "$rule"
}
closing() { printf 'hit any key to exit%20s(C) 2026 Loopcable Test Suite\n' ''; }
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
{ header; echo "$rule"
  echo "no devices: check the sound devices in Windows' Sound settings, or install the interface's ASIO driver"
  closing; } >"$work/expected"
diff "$work/expected" "$work/table" >"$work/diff" || fail "dravik.exe without audio drivers: $(cat "$work/diff")"
echo "dravik.exe: no devices, the hint"

# ---- the usage screens: the same pixels as the Linux build's ----------------------
# program|folder
while IFS='|' read -r program folder; do
    title=$(rig_title "$program")
    "$BUILD_DIR/$folder/$program" -h >/dev/null 2>&1 &
    pid=$!
    # As long as the Wine windows get: the tests beside it load the machine.
    id=$(rig_wait_window "$title" 30) ||
        fail "$program: no Linux window ($(kill -0 $pid 2>/dev/null && echo still running || echo exited))"
    sleep 0.5
    rig_shot "$id" "$work/linux.png" || fail "$program: no Linux screenshot"
    xdotool key --window "$id" space
    rig_wait_exit $pid 10

    rig_wine "$(rig_wine_exe $program)" -h >"$work/out" 2>&1 &
    pid=$!
    id=$(rig_wait_window "$title" 30) || fail "$program.exe: no window"
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

# ---- Escape and Ctrl-C end each program while its stream runs ----------------------
# Beside a build, Wine's stream start now and then hangs in the ALSA jack
# plugin (no stream on JACK within 20 s): that start is ended by force and
# made again, once.
# program key
while read -r program key; do
    title=$(rig_title "$program")
    for start in 1 2; do
        rig_wine "$(rig_wine_exe $program)" >/dev/null 2>"$work/err" &
        pid=$!
        id=$(rig_wait_window "$title" 30) || fail "$program.exe: no window"
        rig_wine_loop 20 && break
        [ $start = 2 ] && fail "$program.exe: no stream, twice"
        echo "$program.exe: no stream on JACK within 20 s: started again"
        rig_wine_kill $pid
    done
    sleep 1
    kill -0 $pid 2>/dev/null || fail "$program.exe ended before $key"
    rig_wine_key "$id" "$key"
    rig_wait_exit $pid 10
    [ "$RIG_STATUS" = "0" ] || fail "$program.exe: exit status $RIG_STATUS after $key"
    jack_lsp | grep -q '^rigwine' && fail "$program.exe: its stream outlived it"
    echo "$program.exe: $key ends it with status 0"
done <<'KEYS'
karvel Escape
karvel ctrl+c
tessaly Escape
orbisca ctrl+c
morvane Escape
morvane ctrl+c
KEYS

echo "PASS"

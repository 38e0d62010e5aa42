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

for program in dravik karvel tessaly orbisca morvane; do
    rig_wine_exe $program >/dev/null 2>&1 ||
        { echo "SKIP: no $program.exe in $RIG_WINE_BUILD (tools/windows_build.sh builds the Windows programs)"; exit 0; }
done
rig_xvfb_start || fail "no X server"
rig_jack_start "e2e-wine-$$" 256 || fail "no JACK server"
rig_wine_start || fail "no Wine prefix"

# ---- the usage screens: the same pixels as the Linux build's ----------------------
# program|folder
while IFS='|' read -r program folder; do
    title=$(rig_title "$program")
    "$BUILD_DIR/$folder/$program" -h >/dev/null 2>&1 &
    pid=$!
    id=$(rig_wait_window "$title" 15) || fail "$program: no Linux window"
    sleep 0.5
    rig_shot "$id" "$work/linux.png" || fail "$program: no Linux screenshot"
    xdotool key --window "$id" space
    rig_wait_exit $pid 10

    rig_wine "$(rig_wine_exe $program)" -h >"$work/out" 2>&1 &
    pid=$!
    id=$(rig_wait_window "$title" 30) || fail "$program.exe: no window"
    [ "$(xdotool getwindowname "$id")" = "$title  (C) 2026 Loopcable Test Suite" ] ||
        fail "$program.exe: title $(xdotool getwindowname "$id")"
    differing=unknown
    for _ in $(seq 30); do
        rig_shot "$id" "$work/wine.png" 2>/dev/null &&
            differing=$(compare -metric AE "$work/wine.png" "$work/linux.png" null: 2>&1)
        [ "$differing" = "0" ] && break
        sleep 0.2
    done
    [ "$differing" = "0" ] || fail "$program.exe: the usage screen differs from Linux's in $differing pixels"
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

echo "PASS"

#!/usr/bin/env bash
# The Windows programs on ASIO, under Wine: WineASIO (an ASIO driver that
# plays and records through JACK, built from ../shared/third_party) in a
# private prefix, on a private JACK dummy server. Its out_1 is cabled to its
# in_1 through loopsim's path of 300 frames, so the truth of every loop here
# is the server's period (WineASIO's one buffer each way, as JACK's own round
# trip) plus 300 frames.
#
#   - with no JACK server, ASIO lists no device: karvel.exe without -d says
#     "!!! no ASIO device" and ends with status 1;
#   - dravik.exe lists WineASIO's device with the period as its buffer sizes,
#     at periods 256 and 64;
#   - loopcheck.exe on ASIO reads the loop exactly, the period plus 300, within
#     0.01 frame, its -b the ASIO buffer asked;
#   - loopcheck.exe --buffers 128,512 on ASIO (WineASIO setting the server's
#     period to the size asked): each size's round trip the size plus 300;
#   - loopcheck.exe's JSON names the ASIO driver: the name, CLSID and DLL
#     that Wine's reg tool reads, and the DLL's version, or "no version
#     resource" where the DLL has no resource section;
#   - karvel.exe on ASIO finds the loop: its peak position is the truth within
#     a frame, its buffer size the period, at period 64 (wine_loop_test runs
#     it at 256, through a longer path, several times in a row).
#
# Skipped (77, named in the suite's summary) when the Windows build has no
# ASIO: built without the SDK's files in ../shared/third_party/asiosdk.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
rig_wait_builds windows || fail "the Windows programs were not built (tools/test.sh: build-logs/windows.log)"
dravik=$(rig_wine_exe dravik 2>/dev/null) ||
    { echo "SKIP: no dravik.exe in $RIG_WINE_BUILD (tools/windows_build.sh builds the Windows programs)"; exit 77; }
rig_wine_has_asio ||
    { echo "SKIP: the Windows build has no ASIO (built without the SDK's files in ../shared/third_party/asiosdk, or with --no-asio)"; exit 77; }
karvel=$(rig_wine_exe karvel) || fail "no karvel.exe"
loopcheck=$(rig_wine_exe loopcheck) || fail "no loopcheck.exe"
path=300
# A console program in the prefix, bounded.
wine_run() { WINEPREFIX="$RIG_WINE_PREFIX" timeout 60 "$RIG_WINE64" "$@"; }

rig_xvfb_start || fail "no X server"
rig_wine_start || fail "no Wine prefix"
rig_wine_asio_start || fail "WineASIO not registered"

# No JACK server: WineASIO has nothing to play on, and ASIO lists no device.
wine_run "$karvel" >"$work/nojack.out" 2>"$work/nojack.err"
status=$?
[ "$status" = 1 ] || fail "karvel.exe without a JACK server: status $status, not 1: $(cat "$work/nojack.err")"
grep -q "no ASIO device" "$work/nojack.err" || fail "karvel.exe without a JACK server said: $(cat "$work/nojack.err")"
echo "no server: karvel.exe: $(grep -m1 "no ASIO device" "$work/nojack.err")"
wineserver -w || true

converged() { rig_karvel_converged "$work/shot.png"; }

# The driver in loopcheck.exe's environment, against what Wine's own reg tool
# reads from the registry (HKLM\Software\ASIO\WineASIO's CLSID and
# description, the class's InprocServer32) and what the DLL holds: its
# version where it has a resource section, else "no version resource".
check_driver() {
    rig_json_check "$work/lc.json" || fail "loopcheck.exe's JSON breaks docs/loopcheck.schema.json"
    local clsid dll description
    clsid=$(wine_run reg query 'HKLM\Software\ASIO\WineASIO' /v CLSID 2>/dev/null |
        grep -Eio '\{[0-9a-f-]{36}\}' | tr a-f A-F | head -1)
    description=$(wine_run reg query 'HKLM\Software\ASIO\WineASIO' /v Description 2>/dev/null |
        sed -n 's/.*REG_SZ[[:space:]]*//p' | tr -d '\r' | head -1)
    dll=$(wine_run reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve 2>/dev/null |
        sed -n 's/.*REG_[A-Z_]*SZ[[:space:]]*//p' | tr -d '\r' | head -1)
    [ -n "$clsid" ] && [ -n "$dll" ] || fail "Wine's reg tool read no WineASIO class ('$clsid', '$dll')"
    jq -e --arg c "$clsid" --arg d "$dll" --arg n "${description:-WineASIO}" '.environment.driver |
        .api == "ASIO" and .name == $n and .clsid == $c and .path == $d' "$work/lc.json" >/dev/null ||
        fail "loopcheck.exe's driver: $(jq -c .environment.driver "$work/lc.json"), the registry: $description, $clsid, $dll"
    if x86_64-w64-mingw32-objdump -h "$RIG_WINE_PREFIX/drive_c/windows/system32/wineasio64.dll" | grep -q '\.rsrc'; then
        jq -e '.environment.driver | .version != null and .reason == null' "$work/lc.json" >/dev/null ||
            fail "wineasio64.dll has resources, loopcheck.exe read no version: $(jq -c .environment.driver "$work/lc.json")"
    else
        jq -e '.environment.driver | .version == null and .reason == "no version resource"' "$work/lc.json" >/dev/null ||
            fail "wineasio64.dll has no resources, loopcheck.exe read: $(jq -c .environment.driver "$work/lc.json")"
    fi
    echo "driver: loopcheck.exe: $(jq -c .environment.driver "$work/lc.json") (the registry: $description, $clsid, $dll)"
}

for period in 256 64; do
    rig_jack_start "e2e-asio-$period-$$" $period 48000 || fail "no JACK server at period $period"
    truth=$((period + path))

    # Dravik: the ASIO device, the period as its smallest and largest buffer.
    wine_run "$dravik" >"$work/dravik.out" 2>"$work/dravik.err" || fail "dravik.exe: $(cat "$work/dravik.err")"
    line=$(grep "WineASIO" "$work/dravik.out" | head -1)
    [ -n "$line" ] || fail "period $period: dravik.exe lists no WineASIO device: $(cat "$work/dravik.out")"
    grep -Eq "\\<$period/$period\\>" <<<"$line" || fail "period $period: dravik.exe: $line"
    echo "period $period: dravik.exe: $(tr -s ' ' <<<"$line")"

    # loopcheck.exe through loopsim: WineASIO's client, named here, with its
    # ports out_1 and in_1 (from 1, where PortAudio's JACK ports count from 0).
    rig_loopsim_start --delay $path --cable asio-loopcheck:out_1:in_1 || fail "no loopsim"
    WINEASIO_CLIENT_NAME=asio-loopcheck wine_run "$loopcheck" -d WineASIO -b $period --json >"$work/lc.out" 2>"$work/lc.err"
    status=$?
    rig_stop "$RIG_LOOPSIM_PID"
    # WineASIO itself prints a line on standard output as it loads libjack: the report is the JSON line.
    grep '^{' "$work/lc.out" >"$work/lc.json" || true
    [ "$status" = 0 ] || fail "period $period: loopcheck.exe: status $status: $(cat "$work/lc.err") $(jq -c .message "$work/lc.json" 2>/dev/null)"
    jq -e --argjson t $truth --argjson b $period '(.summary.mean_frames - $t | fabs) <= 0.01 and .host_api == "ASIO" and .buffer.granted == $b' "$work/lc.json" >/dev/null ||
        fail "period $period: loopcheck.exe read $(head -c 600 "$work/lc.json"), truth $truth"
    echo "period $period: loopcheck.exe: $(jq -c '{host_api, latency: .summary.mean_frames, uncertainty: .summary.latency_uncertainty_frames, buffer}' "$work/lc.json") (truth $truth)"
    [ "$period" = 256 ] && check_driver

    # Karvel on ASIO through the same path: its peak at the truth within a
    # frame, its buffer the period (the filter converges in about 3 s).
    [ $period = 64 ] || { rig_jack_stop; continue; }
    rig_loopsim_start --delay $path --cable asio-karvel:out_1:in_1 || fail "no loopsim"
    WINEASIO_CLIENT_NAME=asio-karvel rig_wine "$karvel" -b$period >/dev/null 2>&1 &
    pid=$!
    id=$(rig_wait_window "Karvel.exe" 120) || fail "period $period: no karvel.exe window"
    rig_shot_until "$id" "$work/shot.png" 20 converged || fail "period $period: karvel.exe: the peak value under 0.5 after 20 s"
    position=$(rig_karvel_position "$work/shot.png") || fail "period $period: karvel.exe: no peak position in the read-out"
    rig_karvel_shows "$work/shot.png" 157 "buffer size : $period" || fail "period $period: karvel.exe: the buffer size read-out"
    rig_wine_key "$id" Escape
    rig_wait_exit $pid 10
    [ "$RIG_STATUS" = "0" ] || fail "period $period: karvel.exe: exit status $RIG_STATUS after Escape"
    rig_stop "$RIG_LOOPSIM_PID"
    [ $((position - truth)) -ge -1 ] && [ $((position - truth)) -le 1 ] ||
        fail "period $period: karvel.exe: peak pos $position, truth $truth"
    echo "period $period: karvel.exe: peak pos $position, buffer size $period (truth $truth)"
    rig_jack_stop
done

# The buffer sweep on ASIO: each size asked of the driver as the stream's
# buffer. WineASIO, told not to hold the server's period
# (WINEASIO_FIXED_BUFFERSIZE=off), offers 16 to 8192 frames and sets the JACK
# server's period to the size asked: each size's round trip is the size plus
# 300, the size granted as asked. (The server keeps the last size: WineASIO
# sets it, not loopcheck, and on ASIO the size is the stream's own.)
rig_jack_start "e2e-asio-sweep-$$" 256 48000 || fail "no JACK server for the sweep"
rig_loopsim_start --delay $path --cable asio-loopcheck:out_1:in_1 || fail "no loopsim"
WINEASIO_FIXED_BUFFERSIZE=off WINEASIO_CLIENT_NAME=asio-loopcheck wine_run "$loopcheck" -d WineASIO \
    --buffers 128,512 --soak 2 --json >"$work/lc.out" 2>"$work/lc.err"
status=$?
rig_stop "$RIG_LOOPSIM_PID"
grep '^{' "$work/lc.out" >"$work/lc.json" || true
[ "$status" = 0 ] || fail "loopcheck.exe --buffers: status $status: $(cat "$work/lc.err" "$work/lc.json")"
rig_json_check "$work/lc.json" || fail "loopcheck.exe --buffers: its JSON breaks docs/loopcheck.schema.json"
jq -e --argjson p $path '.host_api == "ASIO" and (.buffers | length == 2) and .buffer_sweep.server == null and
    ([.buffers[] | .granted == .requested and ((.latency_frames - .requested - $p) | fabs) < 0.01] | all)' \
    "$work/lc.json" >/dev/null || fail "loopcheck.exe --buffers read $(jq -c .buffers "$work/lc.json")"
echo "sweep: loopcheck.exe --buffers 128,512 on ASIO: $(jq -c '[.buffers[] | {requested, granted, latency_frames, glitches, xruns}]' "$work/lc.json")"
echo "PASS"

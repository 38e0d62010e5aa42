# Test rig, sourced by the end-to-end tests and the demo: a private X server
# (Xvfb) and a private JACK server with the dummy backend, both stopped by
# rig_cleanup. Every wait is bounded; the helpers also work under set -e.
#
#   rig_xvfb_start                 sets DISPLAY to a free display
#   rig_jack_start NAME PERIOD [RATE]  starts jackd -n NAME at RATE Hz (48000), sets
#                                  JACK_DEFAULT_SERVER; its log in RIG_JACK_LOG (in rig_log_dir)
#   rig_log_dir                    sets RIG_LOG_DIR, where the servers' logs go: the test's
#                                  work folder, else a folder of the rig's own; nothing of the
#                                  rig stays in /tmp after rig_cleanup
#   rig_jack_stop                  stops the JACK server started last
#   rig_wait_port PORT [SECONDS]   waits until a JACK port exists
#   rig_program_binary BUILD PROGRAM  prints the path of PROGRAM built in BUILD
#   rig_loop_start BINARY [OPTIONS]  starts a program on the JACK server started last
#                                  with its loop cable PROGRAM:out_0 -> PROGRAM:in_0
#                                  connected; its process id in RIG_LOOP_PID
#   rig_loopsim_start [OPTIONS]    starts loopsim (the simulated interface) on the JACK server
#                                  started last (or the PipeWire session), its output in
#                                  $work/loopsim.out; its process id in RIG_LOOPSIM_PID
#                                  once its ports exist
#   rig_proc_status PID FIELD      prints a field of /proc/PID/status (kB for sizes)
#   rig_hold_builds SECONDS        under tools/test.sh, its background builds stopped for
#                                  SECONDS at most, for an attempt after a disturbed one;
#                                  rig_release_builds (or the test's end) lets them go on
#   rig_wait_window TITLE [SECONDS] prints the X window id of the titled window
#   rig_shot WINDOW FILE           screenshot of one window as PNG
#   rig_shot_until WINDOW FILE SECONDS CHECK...
#                                  screenshots until the command CHECK succeeds on them
#   rig_wait_exit PID [SECONDS]    waits for a child process; its exit status in RIG_STATUS
#                                  (124 after the time-out, when it is killed)
#   rig_test_begin                 a work folder in $work and the EXIT trap that cleans up
#   fail MESSAGE                   says FAIL: MESSAGE and ends the test
#   rig_json_check FILE...         holds loopcheck's JSON in each file (one object, or JSON
#                                  Lines) to docs/loopcheck.schema.json (tools/json_check.py);
#                                  fails, each problem's line and path on standard output,
#                                  when one is not valid (or the file is empty)
#   rig_cleanup                    stops the programs the test left running, then what
#                                  the rig started
#
# A private headless PipeWire session, for the programs as PipeWire's users run them:
#   rig_pipewire_start QUANTUM     D-Bus, pipewire with the loop nodes below, wireplumber, at
#                                  48000 Hz and QUANTUM frames; PipeWire's ALSA plugin is the
#                                  default ALSA device of the programs started from the test
#   rig_pipewire_quantum QUANTUM   forces another quantum on the running session
# The session's loop nodes, as PipeWire's JACK library names them:
#   "Loop sink"                    a null sink: playback_FL/FR, heard back on monitor_FL/FR
#   "Loop duplex"                  a null node of class Audio/Duplex, the default sink and
#                                  source: whatever plays on it is captured from it
#   "Stack loop (null sink)"       a null sink whose name PortAudio's JACK host API cannot
#                                  match, so that it lists the device without channels
#   "Card sink", "Card source"     a stand-in for a real card as PipeWire splits it: a null
#                                  sink, and apart from it a virtual source (class
#                                  Audio/Source/Virtual) that plays out on capture_FL/FR
#                                  what reaches its input_FL/FR
# While the session runs, the JACK helpers (jack_lsp, jack_connect, rig_wait_port,
# rig_iodelay_frames) go through pw-jack.
#
# The Windows programs under Wine (tools/windows_build.sh builds them into build-windows/):
#   rig_wine_exe PROGRAM           prints the path of PROGRAM.exe, or says it is missing and fails
#   rig_wine_has_asio              the build has ASIO: its programs choose it first
#   rig_wine_start                 a private Wine prefix in $work/wine, a copy of the machine's
#                                  template (booted once, rig_wine_template); Wine's sound goes
#                                  to ALSA, and ALSA's default device (a private ~/.asoundrc)
#                                  to the JACK server started last through ALSA's jack plugin
#   rig_wine_asio_start            WineASIO built (tools/wineasio_build.sh) and registered in that
#                                  prefix: ASIO on the JACK server, two ports each way, unconnected,
#                                  its client "rigwine"; Wine's own audio driver off
#   rig_wine_stop                  stops the prefix's wineserver (rig_cleanup does it too)
#   rig_karvel_shows, rig_karvel_position, rig_karvel_converged   Karvel's read-out in a screenshot
#   rig_wine PROGRAM.exe [ARGS]    runs a Windows program in the prefix
#   rig_wine_stream [SECONDS]      waits for a Windows program's stream on JACK; prints "OUT IN",
#                                  its output 1 and input 1
#   rig_wine_loop [SECONDS]        once a Windows program's stream runs, connects its output 1
#                                  to its input 1 (the clients "rigwine": the ALSA jack plugin's
#                                  ports out_000/in_000, WineASIO's out_1/in_1)
#   rig_wine_kill PID              ends every process of the prefix by force (a hung start)
#   rig_wine_key WINDOW KEY        focuses the Wine window and types KEY (Wine ignores keys
#                                  sent to a window that has no focus)
#
# Checks on screenshots:
#   rig_text_shows SHOT W H X Y COLOUR TEXT   the shot shows TEXT at X,Y as fbrender draws it
#   rig_pixels_differ SHOT EXPECTED           prints how many pixels of the two images differ
#   rig_same_pixels SHOT EXPECTED             succeeds when none do
#   rig_row_is_green SHOT FIRST LAST ROW      columns FIRST..LAST of ROW are all trace green
#   rig_trace_within SHOT FIRST LAST LOW HIGH every column FIRST..LAST of a 1025 x 301 window
#                                             holds trace green, all of it within rows LOW..HIGH
#   rig_green_pixels SHOT FIRST LAST          its trace-green pixels there, as "x y" lines
#   rig_row_partly_green SHOT FIRST LAST ROW  some, not all, of them are
#   rig_iodelay_frames                        round-trip frames jack_iodelay measures on the
#                                             loop jack_delay:out -> RIG_LOOP_OUT ... RIG_LOOP_IN
#                                             -> jack_delay:in (default: a cable out to in)

RIG_PIDS=()
RIG_DIRS=()
RIG_JACK_RUN=""
RIG_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The packages' tools first on PATH; packaged_command for those kept off it.
. "$RIG_ROOT/tools/packaged.sh"

# The tools the tests call, each bounded in time: a stuck server or display
# fails the command instead of hanging the test.
jack_lsp() { timeout 10 $RIG_JACK_RUN jack_lsp "$@"; }
jack_connect() { timeout 10 $RIG_JACK_RUN jack_connect "$@"; }
xdotool() { timeout 10 xdotool "$@"; }
import() { timeout 20 import "$@"; }
compare() { timeout 20 compare "$@"; }
convert() { timeout 20 convert "$@"; }

# The start of every end-to-end test: the C locale, a work folder in $work,
# removed on exit after rig_cleanup, and fail MESSAGE, which says FAIL and ends
# the test.
rig_test_begin() {
    export LC_ALL=C
    work=$(mktemp -d)
    trap 'rig_cleanup; rm -rf "$work"' EXIT
}

# Not in a subshell: the folder it makes is removed by rig_cleanup.
rig_log_dir() {
    [ -n "${RIG_LOG_DIR:-}" ] && [ -d "$RIG_LOG_DIR" ] && return 0
    if [ -n "${work:-}" ] && [ -d "$work" ]; then
        RIG_LOG_DIR="$work"
    else
        RIG_LOG_DIR=$(mktemp -d)
        RIG_DIRS+=("$RIG_LOG_DIR")
    fi
}
fail() { echo "FAIL: $*"; exit 1; }

rig_json_check() {
    local problems
    problems=$(timeout 60 python3 "$RIG_ROOT/tools/json_check.py" --quiet "$@" 2>&1) && return 0
    printf '%s\n' "$problems" | sed 's/^/    /'
    return 1
}

rig_cleanup() {
    rig_release_builds
    # The programs a failed test left running go first: a JACK server that
    # still has clients may outlast its grace period, and one killed outright
    # stays listed in JACK's table of servers, which has room for only eight.
    local programs=() pid
    for pid in $(pgrep -P $$); do
        [[ " ${RIG_PIDS[*]} " == *" $pid "* ]] || programs+=("$pid")
    done
    rig_stop "${programs[@]}"
    rig_stop "${RIG_PIDS[@]}"
    RIG_PIDS=()
    [ ${#RIG_DIRS[@]} -gt 0 ] && rm -rf "${RIG_DIRS[@]}"
    RIG_DIRS=()
    rig_wine_stop
    [ -d "${RIG_LOG_DIR:-}" ] || RIG_LOG_DIR=""
    # The environment the PipeWire session replaced.
    if [ -n "${RIG_PIPEWIRE_RESTORE:-}" ]; then
        eval "$RIG_PIPEWIRE_RESTORE"
        RIG_PIPEWIRE_RESTORE=""
        RIG_JACK_RUN=""
    fi
    return 0
}

# Ends the given processes: a polite signal, five seconds' grace, then a kill.
rig_stop() {
    local pid
    for pid in "$@"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "$@"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
}

# Stops the JACK server that rig_jack_start started last.
# The cycles the dummy server has skipped because a client was late (a busy
# machine): "was not finished" in its log. Nothing in a client sees them.
rig_jack_skipped() { grep -c "was not finished" "$RIG_JACK_LOG"; }

rig_jack_stop() {
    [ -n "${RIG_JACK_PID:-}" ] || return 0
    kill "$RIG_JACK_PID" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$RIG_JACK_PID" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$RIG_JACK_PID" 2>/dev/null || true
    RIG_JACK_PID=""
    return 0
}

rig_xvfb_start() {
    # Xvfb picks a free display number itself and writes it to the pipe.
    # -noreset: by default the server resets whenever its last client leaves,
    # and a program connecting during that reset is refused, so a test that
    # starts one program after another would fail now and then.
    local numfile
    numfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$numfile" >/dev/null 2>&1 &
    RIG_PIDS+=($!)
    for _ in $(seq 100); do
        if [ -s "$numfile" ]; then
            export DISPLAY=":$(head -1 "$numfile")"
            rm -f "$numfile"
            timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
            echo "rig: Xvfb $DISPLAY does not answer" >&2
            return 1
        fi
        sleep 0.1
    done
    rm -f "$numfile"
    echo "rig: Xvfb did not start" >&2
    return 1
}

rig_jack_start() {
    local name="$1" period="$2" rate="${3:-48000}"
    export JACK_NO_START_SERVER=1
    rig_log_dir
    RIG_JACK_LOG="$RIG_LOG_DIR/jackd-$name.log"
    # The server and its clients' process threads at real-time priority, as
    # on a musician's machine, so that the builds and the other tests beside
    # it cannot make it skip cycles, which loopcheck rightly reports; where
    # the right to it is missing, or with RIG_JACK_REALTIME=0, without (-r).
    local scheduling=(-r)
    if [ "${RIG_JACK_REALTIME:-1}" = 1 ] && chrt -f 1 true 2>/dev/null; then
        scheduling=(-R -P 60)
    fi
    jackd "${scheduling[@]}" -n "$name" -d dummy -r "$rate" -p "$period" >"$RIG_JACK_LOG" 2>&1 &
    RIG_JACK_PID=$!
    RIG_PIDS+=($!)
    export JACK_DEFAULT_SERVER="$name"
    for _ in $(seq 100); do
        timeout 2 jack_lsp >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "rig: jackd -n $name did not start" >&2
    return 1
}

# A JACK server on jackd's ALSA backend, on the rig's timed loop device
# (tools/loopdev: playback captured DELAY frames later, without a sound card;
# the dummy backend takes no -I/-O): rig_jack_alsa_start NAME PERIOD DELAY
# [jackd's ALSA options, e.g. -I 150 -O 151]. The device is declared in a
# private ALSA configuration ($RIG_LOG_DIR/loopdev.conf, given to jackd alone
# through ALSA_CONFIG_PATH), its log in $RIG_LOOPDEV_LOG; -n 2 periods.
rig_jack_alsa_start() {
    local name="$1" period="$2" delay="$3"
    shift 3
    export JACK_NO_START_SERVER=1
    rig_log_dir
    RIG_JACK_LOG="$RIG_LOG_DIR/jackd-$name.log"
    RIG_LOOPDEV_LOG="$RIG_LOG_DIR/loopdev-$name.log"
    local conf="$RIG_LOG_DIR/loopdev-$name.conf"
    printf 'pcm_type.loopdev { lib "%s" }\npcm.loopdev { type loopdev delay %s channels 2 rate 48000 log "%s" }\n' \
        "$BUILD_DIR/tools/loopdev/libasound_module_pcm_loopdev.so" "$delay" "$RIG_LOOPDEV_LOG" >"$conf"
    local scheduling=(-r)
    if [ "${RIG_JACK_REALTIME:-1}" = 1 ] && chrt -f 1 true 2>/dev/null; then
        scheduling=(-R -P 60)
    fi
    ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$conf" jackd "${scheduling[@]}" -n "$name" \
        -d alsa -P loopdev -C loopdev -r 48000 -p "$period" -n 2 "$@" >"$RIG_JACK_LOG" 2>&1 &
    RIG_JACK_PID=$!
    RIG_PIDS+=($!)
    export JACK_DEFAULT_SERVER="$name"
    for _ in $(seq 100); do
        timeout 2 jack_lsp 2>/dev/null | grep -q '^system:capture_1$' && return 0
        kill -0 "$RIG_JACK_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "rig: jackd -n $name -d alsa on loopdev did not start: $(grep -av 'control open\|CTL' "$RIG_JACK_LOG" | tail -3)" >&2
    rig_jack_stop
    return 1
}

rig_wait_port() {
    local port="$1" seconds="${2:-10}"
    for _ in $(seq $((seconds * 10))); do
        timeout 2 $RIG_JACK_RUN jack_lsp 2>/dev/null | grep -qx "$port" && return 0
        sleep 0.1
    done
    echo "rig: no JACK port $port after ${seconds}s" >&2
    return 1
}

rig_program_binary() {
    local build="$1" program="$2" binary
    binary=$(find "$build" -mindepth 2 -maxdepth 2 -type f -perm -u+x -name "$program" 2>/dev/null | head -1)
    [ -n "$binary" ] || { echo "rig: no program $program in $build" >&2; return 1; }
    echo "$binary"
}

rig_loop_start() {
    local binary="$1" program
    shift
    program=$(basename "$binary")
    "$binary" "$@" &
    RIG_LOOP_PID=$!
    rig_wait_port "$program:in_0" 15 || return 1
    jack_connect "$program:out_0" "$program:in_0"
}

rig_loopsim_start() {
    $RIG_JACK_RUN "$BUILD_DIR/tools/loopsim/loopsim" "$@" >"$work/loopsim.out" 2>&1 &
    RIG_LOOPSIM_PID=$!
    rig_wait_port loopsim:in 10 && return 0
    echo "rig: loopsim $* has no ports: $(cat "$work/loopsim.out")" >&2
    return 1
}

# Sets round_trip to the server's own round trip in frames, jack_iodelay's
# through a 0-frame loopsim: the part of a loop's latency that loopsim's
# --delay adds to. Fails the test when it cannot be read.
rig_server_round_trip() {
    rig_loopsim_start --delay 0 || fail "no loopsim"
    round_trip=$(rig_iodelay_frames loopsim:in loopsim:out)
    rig_stop "$RIG_LOOPSIM_PID"
    [ -n "$round_trip" ] || fail "jack_iodelay read nothing"
}

rig_proc_status() {
    awk -v field="$2:" '$1 == field { print $2 }' "/proc/$1/status" 2>/dev/null
}

rig_wait_window() {
    local title="$1" seconds="${2:-10}" id end
    # By the clock, not by a count of tries: on a loaded machine each search
    # itself may take a second.
    end=$((SECONDS + seconds))
    while [ $SECONDS -lt $end ]; do
        id=$(timeout 2 xdotool search --name "$title" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "rig: no window titled $title after ${seconds}s" >&2
    return 1
}

rig_shot() {
    import -window "$1" "$2"
}

rig_shot_until() {
    local window="$1" file="$2" seconds="$3"
    shift 3
    local end=$((SECONDS + seconds))
    while :; do
        rig_shot "$window" "$file" 2>/dev/null && "$@" && return 0
        [ $SECONDS -lt $end ] || return 1
        sleep 0.5
    done
}

# A program's window title: its name capitalised, then ".exe".
rig_title() { echo "$(tr '[:lower:]' '[:upper:]' <<<"${1:0:1}")${1:1}.exe"; }

# rig_ends_clean PID LABEL OUTPUT [SECONDS]: the program ends within SECONDS
# (default 5) with status 0 and left its OUTPUT file empty; else fail.
rig_ends_clean() {
    local pid="$1" label="$2" output="$3" seconds="${4:-5}"
    rig_wait_exit "$pid" "$seconds"
    [ "$RIG_STATUS" = "0" ] || fail "$label: exit status $RIG_STATUS"
    [ -s "$output" ] && fail "$label printed: $(cat "$output")"
    return 0
}

# rig_escape_ends WINDOW PID LABEL OUTPUT [SECONDS]: Escape in WINDOW, then
# rig_ends_clean.
rig_escape_ends() {
    xdotool key --window "$1" Escape
    shift
    rig_ends_clean "$@"
}

# rig_measure BINARY CABLE SECONDS SHOT [OPTIONS...]: runs the windowed program
# with OPTIONS on the JACK server, its output in $work/out; with CABLE "cable"
# connects its output 1 to its input 1; takes the screenshot SHOT after SECONDS
# and ends the program with Escape (rig_escape_ends).
rig_measure() {
    local seconds="$3" shot="$4"
    rig_measure_start "$1" "$2" "${@:5}"
    sleep "$seconds"
    rig_shot "$RIG_MEASURE_ID" "$shot" || fail "no screenshot"
    rig_escape_ends "$RIG_MEASURE_ID" $RIG_MEASURE_PID "$(basename "$1") ${*:5}" "$work/out"
}

# rig_measure_until BINARY CABLE SECONDS SHOT CHECK [OPTIONS...]: the same, but
# takes screenshots until CHECK (a command and its words, split at blanks)
# succeeds on SHOT, for at most SECONDS
# (rig_shot_until); the last one stays in SHOT either way.
rig_measure_until() {
    local seconds="$3" shot="$4" check="$5"
    rig_measure_start "$1" "$2" "${@:6}"
    rig_shot_until "$RIG_MEASURE_ID" "$shot" "$seconds" $check || rig_shot "$RIG_MEASURE_ID" "$shot" || fail "no screenshot"
    rig_escape_ends "$RIG_MEASURE_ID" $RIG_MEASURE_PID "$(basename "$1") ${*:6}" "$work/out"
}

# Starts BINARY with OPTIONS, cabled or not: RIG_MEASURE_PID and its window RIG_MEASURE_ID.
rig_measure_start() {
    local binary="$1" cable="$2" program
    shift 2
    program=$(basename "$binary")
    "$binary" "$@" >"$work/out" 2>&1 &
    RIG_MEASURE_PID=$!
    rig_wait_port "$program:in_0" 15 || fail "$program has no ports"
    [ "$cable" = cable ] && jack_connect "$program:out_0" "$program:in_0"
    RIG_MEASURE_ID=$(rig_wait_window "$(rig_title "$program")" 15) || fail "no $program window"
}

rig_wait_exit() {
    local pid="$1" seconds="${2:-10}"
    for _ in $(seq $((seconds * 10))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            RIG_STATUS=0
            wait "$pid" || RIG_STATUS=$?
            return 0
        fi
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    RIG_STATUS=124
}

# ---- PipeWire ---------------------------------------------------------------------

# PipeWire's ALSA plugin, unpacked here by tools/setup.sh: installed as a package
# it would make PipeWire every program's default ALSA device, system-wide.
RIG_PIPEWIRE_ALSA="$RIG_ROOT/build/pipewire-alsa"

# The loop nodes, a configuration fragment that pipewire reads at start-up.
rig_pipewire_nodes() {
    local node name description class priority
    cat <<'CONF'
context.properties = {
    default.clock.rate          = 48000
    default.clock.allowed-rates = [ 48000 ]
}
context.objects = [
CONF
    # name, description, class, priority (the highest becomes the default device)
    for node in "loop_sink|Loop sink|Audio/Sink|1000" "loop_duplex|Loop duplex|Audio/Duplex|3000" \
                "stack_loop|Stack loop (null sink)|Audio/Sink|100" "card_sink|Card sink|Audio/Sink|50" \
                "card_source|Card source|Audio/Source/Virtual|50"; do
        IFS='|' read -r name description class priority <<<"$node"
        cat <<CONF
    { factory = adapter
        args = {
            factory.name     = support.null-audio-sink
            node.name        = "$name"
            node.description = "$description"
            media.class      = $class
            audio.position   = [ FL FR ]
            priority.session = $priority
            object.linger    = true
        }
    }
CONF
    done
    echo "]"
}

# PipeWire's ALSA devices "pipewire" and "default" for the programs started with
# this HOME, as pipewire-alsa's own configuration defines them.
rig_pipewire_asoundrc() {
    local lib="$RIG_PIPEWIRE_ALSA/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/alsa-lib"
    local conf="$RIG_PIPEWIRE_ALSA/usr/share/alsa/alsa.conf.d"
    if [ ! -f "$lib/libasound_module_pcm_pipewire.so" ]; then
        echo "rig: no PipeWire ALSA plugin in $RIG_PIPEWIRE_ALSA: the PipeWire tests need tools/setup.sh to have run" >&2
        return 1
    fi
    cat <<CONF
pcm_type.pipewire { lib "$lib/libasound_module_pcm_pipewire.so" }
ctl_type.pipewire { lib "$lib/libasound_module_ctl_pipewire.so" }
<$conf/50-pipewire.conf>
<$conf/99-pipewire-default.conf>
CONF
}

rig_pipewire_start() {
    local quantum="$1" dir command
    # tools/setup.sh installs PipeWire for the tests; the demo and a plain build do not.
    for command in pipewire wireplumber pw-jack pw-cli pw-metadata dbus-daemon; do
        command -v "$command" >/dev/null ||
            { echo "rig: no $command: the PipeWire tests need tools/setup.sh to have run" >&2; return 1; }
    done
    dir=$(mktemp -d "${TMPDIR:-/tmp}/rig-pipewire.XXXXXX") || return 1
    RIG_DIRS+=("$dir")
    mkdir -m 0700 "$dir/run"
    mkdir -p "$dir/home" "$dir/config/pipewire/pipewire.conf.d" "$dir/config/wireplumber/main.lua.d" \
             "$dir/config/wireplumber/bluetooth.lua.d"
    local variable
    RIG_PIPEWIRE_RESTORE=""
    for variable in XDG_RUNTIME_DIR HOME XDG_CONFIG_HOME DBUS_SESSION_BUS_ADDRESS JACK_DEFAULT_SERVER \
                    PIPEWIRE_REMOTE PIPEWIRE_QUANTUM; do
        if [ -n "${!variable+set}" ]; then
            RIG_PIPEWIRE_RESTORE+="export $variable=$(printf '%q' "${!variable}"); "
        else
            RIG_PIPEWIRE_RESTORE+="unset $variable; "
        fi
    done
    export XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home" XDG_CONFIG_HOME="$dir/config"
    unset JACK_DEFAULT_SERVER PIPEWIRE_REMOTE PIPEWIRE_QUANTUM
    rig_pipewire_nodes >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/rig-loop.conf"
    # A test's own nodes beside them (RIG_PIPEWIRE_CONF, a pipewire.conf.d file).
    [ -z "${RIG_PIPEWIRE_CONF:-}" ] || cp "$RIG_PIPEWIRE_CONF" "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/rig-test.conf"
    # The session's own nodes only: the machine's sound cards, cameras and
    # Bluetooth devices stay with whoever uses them.
    printf '%s\n' "alsa_monitor.enabled = false" "v4l2_monitor.enabled = false" \
        "libcamera_monitor.enabled = false" >"$XDG_CONFIG_HOME/wireplumber/main.lua.d/51-rig-no-devices.lua"
    echo "bluez_monitor.enabled = false" >"$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/51-rig-no-devices.lua"
    rig_pipewire_asoundrc >"$HOME/.asoundrc" || return 1

    dbus-daemon --session --nofork --print-address=3 3>"$dir/bus" >"$dir/dbus.log" 2>&1 &
    RIG_PIDS+=($!)
    for _ in $(seq 50); do [ -s "$dir/bus" ] && break; sleep 0.1; done
    [ -s "$dir/bus" ] || { echo "rig: no session D-Bus" >&2; return 1; }
    export DBUS_SESSION_BUS_ADDRESS="$(head -1 "$dir/bus")"

    # Without DISPLAY: pipewire would ring the X bell through its x11 module.
    # RIG_PIPEWIRE_ALSA_CONFIG: an ALSA configuration for pipewire alone (its
    # ALSA nodes on the rig's loopdev), as rig_jack_alsa_start gives jackd one.
    env DISPLAY= ${RIG_PIPEWIRE_ALSA_CONFIG:+ALSA_CONFIG_PATH="$RIG_PIPEWIRE_ALSA_CONFIG"} pipewire >"$dir/pipewire.log" 2>&1 &
    RIG_PIDS+=($!)
    local up=no
    for _ in $(seq 100); do timeout 2 pw-cli info 0 >/dev/null 2>&1 && { up=yes; break; }; sleep 0.1; done
    [ $up = yes ] || { echo "rig: pipewire did not start: $(tail -5 "$dir/pipewire.log")" >&2; return 1; }

    DISPLAY= wireplumber >"$dir/wireplumber.log" 2>&1 &
    RIG_PIDS+=($!)
    # The session manager is ready once it has chosen the default sink.
    up=no
    for _ in $(seq 100); do
        timeout 2 pw-metadata -n default 0 default.audio.sink 2>/dev/null | grep -q loop_duplex && { up=yes; break; }
        sleep 0.1
    done
    [ $up = yes ] || { echo "rig: wireplumber did not start: $(tail -5 "$dir/wireplumber.log")" >&2; return 1; }
    RIG_JACK_RUN=pw-jack
    rig_pipewire_quantum "$quantum"
}

rig_pipewire_quantum() {
    timeout 5 pw-metadata -n settings 0 clock.force-rate 48000 >/dev/null &&
        timeout 5 pw-metadata -n settings 0 clock.force-quantum "$1" >/dev/null && return 0
    echo "rig: cannot force quantum $1" >&2
    return 1
}

# ---- Wine -------------------------------------------------------------------------

RIG_WINE_BUILD="${WINDOWS_BUILD_DIR:-$RIG_ROOT/build-windows}"
RIG_WINE_PREFIX=""

# rig_hold_builds SECONDS: under tools/test.sh, asks it to stop its
# background builds for SECONDS at most (until rig_release_builds, or the
# test's end): for the attempt after one that a busy machine disturbed. Waits
# (10 s at most) until they are stopped, or have ended. Without
# RIG_LATE_BUILDS, or once the builds are done, at once.
rig_hold_builds() {
    [ -n "${RIG_LATE_BUILDS:-}" ] && [ -d "$RIG_LATE_BUILDS" ] && [ ! -f "$RIG_LATE_BUILDS/done" ] || return 0
    [ -n "${RIG_HOLD:-}" ] || RIG_HOLD=$(mktemp "$RIG_LATE_BUILDS/hold.XXXXXX") || return 0
    echo $((EPOCHSECONDS + $1)) >"$RIG_HOLD"
    local end=$((SECONDS + 10))
    while [ $SECONDS -lt $end ]; do
        [ -f "$RIG_LATE_BUILDS/held" ] || [ -f "$RIG_LATE_BUILDS/done" ] &&
            { echo "rig: the background builds stopped for this attempt" >&2; return 0; }
        sleep 0.2
    done
    echo "rig: the background builds did not stop within 10 s" >&2
}
rig_release_builds() {
    [ -n "${RIG_HOLD:-}" ] && rm -f "$RIG_HOLD"
    RIG_HOLD=""
}

# rig_wait_builds MARK: under tools/test.sh, which builds beside the tests and
# names a folder in RIG_LATE_BUILDS, waits (half an hour at most) for its mark
# MARK.mark: windows (the Windows programs built) or all (the sanitizer builds
# too); returns the status it holds. Without RIG_LATE_BUILDS, at once.
rig_wait_builds() {
    [ -n "${RIG_LATE_BUILDS:-}" ] || return 0
    local mark="$RIG_LATE_BUILDS/${1:-all}.mark"
    for _ in $(seq 1800); do
        [ -s "$mark" ] && return "$(cat "$mark")"
        sleep 1
    done
    echo "rig: the late builds did not end within half an hour" >&2
    return 1
}

# The Windows build has PortAudio's ASIO host API (tools/windows_build.sh found the SDK).
rig_wine_has_asio() { grep -q '^PORTAUDIO_HAS_ASIO:BOOL=ON' "$RIG_WINE_BUILD/CMakeCache.txt" 2>/dev/null; }

rig_wine_exe() {
    local exe
    exe=$(find "$RIG_WINE_BUILD" -mindepth 1 -maxdepth 2 -type f -name "$1.exe" 2>/dev/null | head -1)
    [ -n "$exe" ] || { echo "rig: no $1.exe in $RIG_WINE_BUILD (tools/windows_build.sh builds it)" >&2; return 1; }
    echo "$exe"
}

# Wine's own tools, bounded: a prefix that hangs fails the test instead.
# Debian's wine64 package keeps its loader and server off PATH: they are
# taken from its file list, never from whatever else a machine has.
RIG_WINE64=$(packaged_command wine64 wine64 2>/dev/null || echo "no-wine64-installed")
RIG_WINESERVER=$(packaged_command wine64 wineserver64 2>/dev/null || echo "no-wineserver64-installed")
rig_wine() { WINEPREFIX="$RIG_WINE_PREFIX" "$RIG_WINE64" "$@"; }
# The builds' cache, as the user's: rig_wine_start gives the test a HOME of its own.
RIG_CACHE_HOME="${XDG_CACHE_HOME:-$HOME/.cache}"
wineserver() { WINEPREFIX="$RIG_WINE_PREFIX" timeout 20 "$RIG_WINESERVER" "$@"; }

# rig_wine_start: a private prefix in the test's folder, a copy of the
# machine's prefix template (rig_wine_template), with ALSA's default device
# the private JACK server's.
rig_wine_start() {
    local template
    RIG_WINE_PREFIX="$work/wine"
    mkdir -p "$work/home"
    # No debug channels; no Mono or Gecko installer dialog; no audio device of
    # the machine: ALSA's default device is the private JACK server's.
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME="$work/home"
    cat >"$HOME/.asoundrc" <<'CONF'
pcm.!default { type plug slave.pcm "rigjack" }
pcm.rigjack {
    type jack
    name "rigwine"
    playback_ports { 0 system:playback_1 1 system:playback_2 }
    capture_ports { 0 system:capture_1 1 system:capture_2 }
}
CONF
    template=$(rig_wine_template) || return 1
    cp -a "$template/prefix" "$RIG_WINE_PREFIX" || { echo "rig: cannot copy the prefix template" >&2; return 1; }
}

# rig_wine_template: prints the folder whose prefix/ is a fresh Wine prefix
# with Wine's ALSA driver chosen, made once per machine and Wine version (its
# wineboot takes 8 to 15 s; a copy, a fraction of a second). Kept in the
# builds' cache, keyed by Wine's version and this function's text; a lock keeps
# two tests from making it at once, and only a finished one is marked built.
rig_wine_template() {
    local key folder
    key=$({ "$RIG_WINE64" --version; declare -f rig_wine_template; } 2>/dev/null | sha256sum | cut -c1-12)
    folder="$RIG_CACHE_HOME/loopcable-windows/wine-prefix-$key"
    mkdir -p "$(dirname "$folder")" || return 1
    (
        flock 9
        [ -f "$folder/built" ] && exit 0
        rm -rf "$folder"
        mkdir -p "$folder/home" || exit 1
        # The shell folders (Desktop and the like) link to the HOME it is made with: its own.
        HOME="$folder/home" WINEPREFIX="$folder/prefix" timeout 120 "$RIG_WINE64" wineboot --init >/dev/null 2>&1 &&
            HOME="$folder/home" WINEPREFIX="$folder/prefix" timeout 30 "$RIG_WINE64" \
                reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >/dev/null 2>&1 &&
            WINEPREFIX="$folder/prefix" timeout 20 "$RIG_WINESERVER" -w ||
            { echo "rig: wineboot did not finish" >&2; rm -rf "$folder"; exit 1; }
        touch "$folder/built"
    ) 9>"$folder.lock" || return 1
    echo "$folder"
}

# rig_wine_asio_start: ASIO in the prefix (after rig_wine_start): WineASIO,
# built from ../shared/third_party (tools/wineasio_build.sh), copied into the
# prefix's system32 and registered there, WINEDLLPATH on its build folder for
# the Unix side. It plays and records through the running JACK server, as a
# client named after the program, with ports in_N and out_N left unconnected
# (the test cables them); two of each. Its client is named rigwine, as the
# jack plugin's (rig_wine_loop), unless a run names it. Nothing is written
# outside the prefix.
rig_wine_asio_start() {
    local folder
    folder=$(XDG_CACHE_HOME="$RIG_CACHE_HOME" timeout 300 "$SOURCE_DIR/tools/wineasio_build.sh") ||
        { echo "rig: WineASIO did not build" >&2; return 1; }
    cp "$folder/wineasio64.dll" "$RIG_WINE_PREFIX/drive_c/windows/system32/" || return 1
    export WINEDLLPATH="$folder" WINEASIO_NUMBER_INPUTS=2 WINEASIO_NUMBER_OUTPUTS=2 WINEASIO_CONNECT_TO_HARDWARE=off \
        WINEASIO_CLIENT_NAME=rigwine
    WINEPREFIX="$RIG_WINE_PREFIX" timeout 60 "$RIG_WINE64" regsvr32 wineasio64.dll >/dev/null 2>&1 ||
        { echo "rig: regsvr32 wineasio64.dll failed" >&2; return 1; }
    # ASIO the only way to the server: with Wine's ALSA driver on ALSA's jack
    # plugin as well, PortAudio's start opens the plugin's JACK client and
    # WineASIO's in one process, and the program ends at once ("stack
    # smashing detected", in libjack). No Wine audio driver: no WMME or WASAPI devices.
    WINEPREFIX="$RIG_WINE_PREFIX" timeout 30 "$RIG_WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f \
        >/dev/null 2>&1 || { echo "rig: cannot turn Wine's audio driver off" >&2; return 1; }
    wineserver -w || true
}

# Karvel's read-out in a screenshot of its window (1001 x 201), yellow text from column 2:
#   rig_karvel_shows SHOT ROW TEXT   the line at window row ROW shows TEXT
#   rig_karvel_position SHOT         prints the peak position of "peak pos    : N (...)"
#   rig_karvel_converged SHOT        the peak value reads 0.5 or more
rig_karvel_shows() { rig_text_shows "$1" 1001 201 "@2,$2,14=$3"; }
rig_karvel_position() {
    local cell=14 digit found position=""
    while :; do
        found=""
        for digit in 0 1 2 3 4 5 6 7 8 9; do
            rig_text_shows "$1" 1001 201 "@$((2 + 8 * cell)),177,14=$digit" && { found=$digit; break; }
        done
        [ -n "$found" ] || break
        position+=$found
        cell=$((cell + 1))
    done
    [ -n "$position" ] && rig_karvel_shows "$1" 177 "peak pos    : $position (" && echo "$position"
}
rig_karvel_converged() {
    local tenths
    rig_karvel_shows "$1" 167 "peak val    : 1.0" && return 0
    for tenths in 9 8 7 6 5; do rig_karvel_shows "$1" 167 "peak val    : 0.$tenths" && return 0; done
    return 1
}

rig_wine_stream() {
    local seconds="${1:-20}" out="" in="" previous=""
    # PortAudio opens and closes every device while it starts: the stream's
    # ports are those still there, unchanged, half a second later.
    for _ in $(seq $((seconds * 2))); do
        out=$(jack_lsp 2>/dev/null | grep -E '^rigwine(-[0-9]+)?:out_(000|1)$' | head -1)
        in=$(jack_lsp 2>/dev/null | grep -E '^rigwine(-[0-9]+)?:in_(000|1)$' | head -1)
        [ -n "$out" ] && [ -n "$in" ] && [ "$out $in" = "$previous" ] && { echo "$out $in"; return 0; }
        previous="$out $in"
        sleep 0.5
    done
    echo "rig: no stream of a Windows program on JACK after ${seconds}s" >&2
    return 1
}
rig_wine_loop() {
    local ports
    ports=$(rig_wine_stream "$@") || return 1
    # shellcheck disable=SC2086
    jack_connect $ports
}

# rig_wine_kill PID: ends by force every process in the prefix (a hung program
# among them: killing the launcher PID alone may leave it running, its window
# and its stream with it) and waits for them and the server to end.
rig_wine_kill() {
    wineserver -k >/dev/null 2>&1 || true
    rig_wait_exit "$1" 10
    wineserver -w >/dev/null 2>&1 || true
}

rig_wine_key() {
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key --clearmodifiers "$2"
}

rig_wine_stop() {
    [ -n "$RIG_WINE_PREFIX" ] || return 0
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    RIG_WINE_PREFIX=""
}

# ---- checks on screenshots ----------------------------------------------------------

RIG_GREEN="srgb(85,255,85)"  # the trace colour as ImageMagick names it

rig_text_shows() {
    local shot="$1" width="$2" height="$3" line="$4" x=0 y=0 text="$4" tmp differing
    if [[ $line =~ ^@([0-9]+),([0-9]+),[0-9]+=(.*)$ ]]; then
        x=${BASH_REMATCH[1]} y=${BASH_REMATCH[2]} text=${BASH_REMATCH[3]}
    fi
    local crop="$((8 * ${#text}))x8+$x+$y"
    tmp=$(mktemp -d)
    "$BUILD_DIR/tools/fbrender" "$width" "$height" "$tmp/want.ppm" "$line" &&
        convert "$shot" -crop "$crop" +repage "$tmp/got.png" &&
        convert "$tmp/want.ppm" -crop "$crop" +repage "$tmp/want.png" &&
        differing=$(compare -metric AE "$tmp/got.png" "$tmp/want.png" null: 2>&1)
    rm -rf "$tmp"
    [ "${differing:-}" = "0" ]
}

rig_pixels_differ() { compare -metric AE "$1" "$2" null: 2>&1; }
rig_same_pixels() { [ "$(rig_pixels_differ "$1" "$2")" = "0" ]; }

rig_green_pixels() {
    local shot="$1" first="$2" last="$3"
    convert "$shot" -crop "$((last - first + 1))x301+$first+0" +repage txt:- |
        awk -v g="$RIG_GREEN" -v x0="$first" 'index($0, g) { split($1, p, /[,:]/); print p[1] + x0, p[2] }'
}
# Says, when it fails, how many pixels lie outside and how many columns are bare.
rig_trace_within() {
    local shot="$1" first="$2" last="$3" low="$4" high="$5"
    rig_green_pixels "$shot" "$first" "$last" | awk -v a="$first" -v b="$last" -v lo="$low" -v hi="$high" '
        { seen[$1] = 1; if ($2 < lo || $2 > hi) { bad++; if (!where) where = $1 "," $2 } }
        END { for (x = a; x <= b; x++) if (!seen[x]) missing++
              if (bad || missing) { printf "%d pixels outside rows %d..%d (first at %s), %d columns without trace\n", bad, lo, hi, where, missing; exit 1 } }'
}

rig_row_is_green() {
    local shot="$1" first="$2" last="$3" row="$4" colours
    colours=$(convert "$shot" -crop "$((last - first + 1))x1+$first+$row" +repage -format '%c' histogram:info:)
    [ "$(grep -c . <<<"$colours")" = "1" ] && grep -q '#55FF55' <<<"$colours"
}

# Some but not all of columns FIRST..LAST of ROW are trace green: a trace that
# is drawn and leaves the line (Morvane's model while it learns the loop).
rig_row_partly_green() {
    local shot="$1" first="$2" last="$3" row="$4" on
    on=$(convert "$shot" -crop "$((last - first + 1))x1+$first+$row" +repage txt:- | grep -c "$RIG_GREEN")
    [ "$on" -gt 0 ] && [ "$on" -lt $((last - first + 1)) ]
}

rig_iodelay_frames() {
    local playback="${1:-}" capture="${2:-}" log pid
    log=$(mktemp)
    timeout 8 stdbuf -o0 $RIG_JACK_RUN jack_iodelay >"$log" 2>&1 &
    pid=$!
    if rig_wait_port jack_delay:out 5; then
        if [ -n "$playback" ]; then
            jack_connect jack_delay:out "$playback" && jack_connect "$capture" jack_delay:in
        else
            jack_connect jack_delay:out jack_delay:in
        fi
        sleep 3
    fi
    kill $pid 2>/dev/null
    wait $pid 2>/dev/null
    # jack_iodelay's figure is fractional and wanders by a few thousandths
    # around the whole frame (63.998 is 64): round it, never cut it.
    tr '\r' '\n' <"$log" | sed -n 's/^ *\([0-9]*\.[0-9]*\) frames .*total roundtrip latency.*/\1/p' | tail -1 |
        awk '{ printf "%.0f\n", $1 }'
    rm -f "$log"
}

# ---- one end-to-end test in a world of its own ---------------------------------------
#
#   bash tools/rig.sh run SCRIPT   how ctest starts every end-to-end test
#
# JACK keeps what its servers share in /dev/shm, machine-wide: the table of
# servers (room for eight, whoever started them), their semaphores, and each
# client's socket, which is named after the client alone, not its server. Two
# tests that open "karvel" (or jack_iodelay's "jack_delay", or loopsim) on
# their own servers at the same moment take each other's socket, and a third
# test's servers may find the table full. So each test runs in a mount
# namespace with a /dev/shm of its own, and in a process namespace whose every
# process dies with the test, a time-out's kill included. Where namespaces are
# not allowed (no root, no user namespaces) the tests take turns on one
# machine-wide lock instead, and say so.
rig_run() {
    local script="$1" lock_dir isolate=(--mount --propagation private --pid --fork --kill-child --mount-proc)
    if [ -z "${RIG_ISOLATED:-}" ]; then
        if unshare "${isolate[@]}" true 2>/dev/null; then
            RIG_ISOLATED=1 exec unshare "${isolate[@]}" bash "${BASH_SOURCE[0]}" run "$script"
        elif unshare --user --map-root-user "${isolate[@]}" true 2>/dev/null; then
            RIG_ISOLATED=1 exec unshare --user --map-root-user "${isolate[@]}" bash "${BASH_SOURCE[0]}" run "$script"
        fi
        lock_dir=/run/lock
        [ -w "$lock_dir" ] || lock_dir="${TMPDIR:-/tmp}"
        echo "rig: no namespaces here (unshare refused): the end-to-end tests take turns"
        exec 8>"$lock_dir/loopcable-e2e-$(id -u).lock"
        flock -w 1800 8 || { echo "FAIL: waited half an hour for the other end-to-end tests" >&2; exit 1; }
        exec bash "$script"
    fi
    mount -t tmpfs -o mode=1777,size=512m rig-shm /dev/shm || { echo "FAIL: no private /dev/shm" >&2; exit 1; }
    # Process 1 of the namespace: the test runs as its child, so that a test
    # that ends (or a process it leaves behind) is reaped as anywhere else.
    local status
    bash "$script"
    status=$?
    # The processor time (user, system) of every process of the test that was
    # waited for, its servers and programs among them: where a run's time
    # goes. In the test's output, and a line in RIG_CPU_LOG where it is set
    # (tools/test.sh). (times in this shell itself: in a pipe or $(...) it
    # would count a subshell's children, none.)
    if times >/dev/shm/rig-times 2>/dev/null; then
        echo "rig: processor time $(tail -1 /dev/shm/rig-times)"
        [ -n "${RIG_CPU_LOG:-}" ] && echo "$(basename "$script" .sh) $(tail -1 /dev/shm/rig-times)" >>"$RIG_CPU_LOG"
    fi
    return $status
}

# Bash reads a script as it runs it: the whole block is read before it runs,
# and it exits before reading on, so that editing this file while tests run
# cannot change what a running one does next.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
    run) [ -f "${2:-}" ] || { echo "rig: run SCRIPT: no script ${2:-}" >&2; exit 2; }
         rig_run "$2"
         exit $? ;;
    # The late end-to-end tests' fixture: rig_wait_builds all.
    wait-builds)
        rig_wait_builds "${2:-all}"
        status=$?
        [ -n "${RIG_LATE_BUILDS:-}" ] && echo "rig: the late builds ended with status $status"
        exit $status ;;
    *) echo "usage: bash tools/rig.sh run SCRIPT | wait-builds [windows|all] (or source it from a test)" >&2; exit 2 ;;
    esac
fi

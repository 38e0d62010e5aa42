# Test rig, sourced by the end-to-end tests and the demo: a private X server
# (Xvfb) and a private JACK server with the dummy backend, both stopped by
# rig_cleanup. Every wait is bounded; the helpers also work under set -e.
#
#   rig_xvfb_start                 sets DISPLAY to a free display
#   rig_jack_start NAME PERIOD     starts jackd -n NAME at 48000 Hz, sets JACK_DEFAULT_SERVER
#   rig_jack_stop                  stops the JACK server started last
#   rig_wait_port PORT [SECONDS]   waits until a JACK port exists
#   rig_program_binary BUILD PROGRAM  prints the path of PROGRAM built in BUILD
#   rig_loop_start BINARY [OPTIONS]  starts a program on the JACK server started last
#                                  with its loop cable PROGRAM:out_0 -> PROGRAM:in_0
#                                  connected; its process id in RIG_LOOP_PID
#   rig_proc_status PID FIELD      prints a field of /proc/PID/status (kB for sizes)
#   rig_wait_window TITLE [SECONDS] prints the X window id of the titled window
#   rig_shot WINDOW FILE           screenshot of one window as PNG
#   rig_wait_exit PID [SECONDS]    waits for a child process; its exit status in RIG_STATUS
#                                  (124 after the time-out, when it is killed)
#   rig_row_is_green SHOT FIRST LAST ROW  columns FIRST..LAST of pixel row ROW are all
#                                  trace green (palette 10)
#   rig_cleanup                    stops the programs the test left running, then what
#                                  the rig started

RIG_PIDS=()

# The tools the tests call, each bounded in time: a stuck server or display
# fails the command instead of hanging the test.
jack_lsp() { timeout 10 jack_lsp "$@"; }
jack_connect() { timeout 10 jack_connect "$@"; }
xdotool() { timeout 10 xdotool "$@"; }
import() { timeout 20 import "$@"; }
compare() { timeout 20 compare "$@"; }
convert() { timeout 20 convert "$@"; }

rig_cleanup() {
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
    local name="$1" period="$2"
    export JACK_NO_START_SERVER=1
    jackd -r -n "$name" -d dummy -r 48000 -p "$period" >"/tmp/rig-jackd-$name.log" 2>&1 &
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

rig_wait_port() {
    local port="$1" seconds="${2:-10}"
    for _ in $(seq $((seconds * 10))); do
        timeout 2 jack_lsp 2>/dev/null | grep -qx "$port" && return 0
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

rig_proc_status() {
    awk -v field="$2:" '$1 == field { print $2 }' "/proc/$1/status" 2>/dev/null
}

rig_wait_window() {
    local title="$1" seconds="${2:-10}" id
    for _ in $(seq $((seconds * 10))); do
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

rig_row_is_green() {
    local shot="$1" first="$2" last="$3" row="$4" hist
    hist=$(convert "$shot" -crop "$((last - first + 1))x1+$first+$row" +repage -format '%c' histogram:info:)
    [ "$(grep -c . <<<"$hist")" = "1" ] && grep -q '#55FF55' <<<"$hist"
}

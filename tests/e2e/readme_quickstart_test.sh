#!/usr/bin/env bash
# The README's "Try it with no hardware", run as written: the first ```sh
# block under that heading, as a person pastes it, in one clean shell (env -i,
# PATH and a HOME of its own) whose folder holds build -> $BUILD_DIR, so that
# the commands' build/... paths are this build's programs. The block waits for
# what it starts itself; loopcheck, its last command, must end with status 0,
# print its latency lines, and read the latency the README's output shows.
# What the block left running ends with its session, after each attempt and on
# exit, whatever happens.
#
# The rig runs the test in a /dev/shm and a process namespace of its own
# (tools/rig.sh rig_run), so the README's plain jackd, on JACK's default
# server name, meets no other test's server.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
heading="## Try it with no hardware"
readme="$SOURCE_DIR/README.md"

# What the block left running (the server and loopsim, in the background):
# every process of the session it ran in, ended within 5 s.
stop_started() {
    local session i
    [ -s "$work/session" ] || return 0
    session=$(cat "$work/session")
    pkill -TERM -s "$session" 2>/dev/null
    for i in $(seq 50); do pgrep -s "$session" >/dev/null || break; sleep 0.1; done
    pkill -KILL -s "$session" 2>/dev/null
    rm -f "$work/session"
}
trap 'stop_started; rig_cleanup; rm -rf "$work"' EXIT

# The block, and the latency the README's output shows (its "run 1" line).
awk -v h="$heading" '
    /^## / { inside = ($0 == h) }
    inside && !block && /^```sh *$/ { block = 1; next }
    block && /^```/ { exit }
    block { print }' "$readme" >"$work/commands"
[ -s "$work/commands" ] || fail "README.md has no \`\`\`sh block under \"$heading\""
shown=$(awk -v h="$heading" '/^## / { inside = ($0 == h) } inside && /^run 1: latency / { print $4; exit }' "$readme")
[ -n "$shown" ] || fail "README.md shows no \"run 1: latency\" line under \"$heading\""

# The script the clean shell runs: the block as pasted, in the clone's folder,
# in a session of its own so that what it left running ends with it.
{
    echo 'echo $$ >"$2/session"'
    echo 'cd "$1" || exit 1'
    cat "$work/commands"
} >"$work/run.sh"

mkdir -p "$work/here" "$work/home"
ln -s "$BUILD_DIR" "$work/here/build"
echo "README.md's commands:"
sed 's/^/    /' "$work/commands"
# A run the server disturbed (jackd without real-time priority, as the README
# starts it, skips a client late on a loaded machine) that loopcheck rightly
# judged unstable (4) is run again, from a new server; when every attempt was
# disturbed the test is skipped, never passed.
for attempt in 1 2 3; do
    [ "$attempt" = 1 ] || rig_hold_builds 130  # the next attempt without the builds beside it
    timeout 120 env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" \
        setsid --wait bash "$work/run.sh" "$work/here" "$work" >"$work/output" 2>&1
    status=$?
    stop_started
    echo "what they printed (attempt $attempt):"
    sed 's/^/    /' "$work/output"
    [ $status = 4 ] || break
    [ $attempt = 3 ] && { echo "SKIP: loopcheck judged every attempt unstable: the machine is too busy to judge"; exit 77; }
    echo "note: loopcheck judged the run unstable (the server skipped it on a busy machine); run again"
done
[ $status = 0 ] || fail "the block ended with loopcheck's status $status (124: not within 120 s)"
grep -qx "server is available" "$work/output" || fail "jack_wait did not find the server up"
grep -qE '^run 1: latency [0-9.]+ ± [0-9.]+ frames \([0-9.]+ ms\) at 48000 Hz' "$work/output" ||
    fail "no \"run 1: latency\" line"
grep -qE '^summary: 1 run · latency [0-9.]+ ± ' "$work/output" || fail "no \"summary: 1 run · latency\" line"
measured=$(awk '/^run 1: latency / { print $4; exit }' "$work/output")
[ "$measured" = "$shown" ] || fail "loopcheck read $measured frames; the README shows $shown"
# No page sends a user to a device by a fixed index 0: on a machine with a
# JACK server that is ALSA's "jack" plugin, not the server's own device.
fixed=$(grep -nE -- '-d ?0([^0-9.]|$)' "$readme" "$SOURCE_DIR"/man/*.scd | grep -vE 'never|not|fixed' || true)
[ -z "$fixed" ] || fail "a page gives a device by index 0: $fixed"
echo "PASS: the README's $(grep -c . "$work/commands") commands as written: latency $measured frames, as the README shows"

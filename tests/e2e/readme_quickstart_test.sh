#!/usr/bin/env bash
# The README's "Try it with no hardware", run as written: the first ```sh
# block under that heading, line by line, in a clean shell (env -i, PATH and
# a HOME of its own) whose folder holds build -> $BUILD_DIR, so that the
# commands' build/... paths are this build's programs. Between the lines the
# waits a person makes without a thought, each bounded: after a line that
# starts jackd in the background, until the server answers; after one that
# starts loopsim, until its ports exist. A line the test knows no wait for
# fails it, so that a new command in the block comes with its wait. Every
# command run in the foreground must end with status 0, the output must
# hold loopcheck's latency lines, and the latency must be the one the
# README's output shows. What the commands started in the background is
# ended after each attempt and on exit, by its process id, whatever happens.
#
# The rig runs the test in a /dev/shm and a process namespace of its own
# (tools/rig.sh rig_run), so the README's plain jackd, on JACK's default
# server name, meets no other test's server.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
heading="## Try it with no hardware"
readme="$SOURCE_DIR/README.md"

# The processes the commands started in the background, one after the
# other, the last first: loopsim leaves the server before the server stops.
stop_started() {
    local pid
    [ -s "$work/pids" ] || return 0
    for pid in $(tac "$work/pids"); do rig_stop "$pid"; done
    rm -f "$work/pids"
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

# The script the clean shell runs: each command as written, then its wait or
# its status.
emit() { printf '%s\n' "$@" >>"$work/run.sh"; }
emit 'cd "$1" || exit 1'
n=0
while IFS= read -r line; do
    n=$((n + 1))
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    emit "$line"
    if [[ $line =~ \&[[:space:]]*(#.*)?$ ]]; then
        emit 'echo $! >>"$2/pids"'
        read -r program _ <<<"$line"
        case "$(basename "$program")" in
        jackd) ready='JACK_NO_START_SERVER=1 timeout 2 jack_lsp >/dev/null 2>&1' what="no JACK server" ;;
        loopsim) ready='JACK_NO_START_SERVER=1 timeout 2 jack_lsp 2>/dev/null | grep -qx loopsim:in' what="no port loopsim:in" ;;
        *) fail "README.md's block, line $n: the test knows no wait for what \"$line\" starts" ;;
        esac
        emit "for i in \$(seq 100); do $ready && break; sleep 0.1; done" \
             "$ready || { echo \"quickstart: line $n: $what after 10 s\"; exit 90; }"
    else
        emit "status=\$?; echo \"line $n: status \$status\" >>\"\$2/statuses\""
    fi
done <"$work/commands"

mkdir -p "$work/here" "$work/home"
ln -s "$BUILD_DIR" "$work/here/build"
echo "README.md's commands:"
sed 's/^/    /' "$work/commands"
# A run the server disturbed (jackd, without real-time priority as the README
# starts it, logs an XRun when a client was late on a loaded machine) that
# loopcheck rightly judged unstable, or that failed otherwise, is run again,
# from a new server; when every attempt was disturbed the test is skipped,
# never passed.
for attempt in 1 2 3; do
    rm -f "$work/statuses"
    timeout 120 env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" \
        bash "$work/run.sh" "$work/here" "$work" >"$work/output" 2>&1
    status=$?
    stop_started
    echo "what they printed (attempt $attempt):"
    sed 's/^/    /' "$work/output"
    bad=$(grep -sv ': status 0$' "$work/statuses")
    [ $status = 0 ] && [ -s "$work/statuses" ] && [ -z "$bad" ] && break
    grep -q XRun "$work/output" || break
    [ $attempt = 3 ] && { echo "SKIP: the server logged an xrun in every attempt, each of which failed: the machine is too busy to judge"; exit 77; }
    echo "note: a command failed while the server logged an xrun; run again"
done
[ $status = 0 ] || fail "the commands ended with status $status (124: not within 120 s)"
[ -s "$work/statuses" ] || fail "no command ran in the foreground"
[ -z "$bad" ] || fail "a command failed: $bad"
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

#!/usr/bin/env bash
# dravik end to end, without any display: the exact table for private JACK
# servers at periods 64 and 256 (device index as PortAudio numbers its
# devices, period as minimum and maximum), the table with no JACK server,
# ALSA period ranges, arguments that change nothing, nothing on stderr, and
# exit status 0 only after one key (a byte on a pipe, a key on a terminal).
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
trap 'exec 3>&- 2>/dev/null; rig_cleanup; rm -rf "$work"' EXIT  # and the key pipe's writer

dravik="$BUILD_DIR/bufsizes/dravik"
[ -x "$dravik" ] || fail "no $dravik"
# Neither the probe nor dravik may start a JACK server of their own.
export JACK_NO_START_SERVER=1
unset DISPLAY

# What PortAudio itself lists: global index, host API type id, name.
probe() { "$BUILD_DIR/tests/pa_devices" 2>/dev/null >"$work/devices" || fail "probe: PortAudio does not start"; }
readonly type_alsa=8 type_jack=12

rule=$(printf '%68s' '' | tr ' ' '-')
header() {
    printf 'PortAudio%48sbuffer size\n' ''
    printf 'device index  name%39smin/max\n' ''
    echo "$rule"
}
closing() {
    echo "$rule"
    printf 'hit any key to exit%20s(C) 2026 Loopcable Test Suite\n' ''
}
row() {  # index name min max
    local field pad=$((43 - ${#2}))
    if [ ${#1} -le 2 ]; then field=$(printf '%2s' "$1"); else field="%$1"; fi
    [ $pad -lt 0 ] && pad=0
    printf '%s%12s%s%*s%s/%s\n' "$field" '' "$2" $pad '' "$3" "$4"
}
row_pattern='^( [0-9]|[0-9][0-9]|%[0-9]{3,}) {12}.*[0-9]+/[0-9]+(  \(needs 2 in, 2 out; has [0-9]+ in, [0-9]+ out\)|  \(-d[0-9]+: in [0-9]+, out [0-9]+\))?$'

# Runs dravik with its arguments and stdin from /dev/null (end of input is
# its key), bounded; it must end with status 0 and say nothing on stderr.
run_dravik() {
    "$dravik" "$@" </dev/null >"$work/out" 2>"$work/err" &
    rig_wait_exit $! 20
    [ "$RIG_STATUS" = "0" ] || fail "dravik $*: exit status $RIG_STATUS"
    [ -s "$work/err" ] && fail "dravik $*: stderr: $(cat "$work/err")"
    return 0
}

# The table of dravik's output matches the expected file, with and without
# arguments on the command line.
expect_table() {  # what
    run_dravik
    diff "$work/expected" "$work/out" >"$work/diff" || fail "$1: $(cat "$work/diff")"
    run_dravik -d 3 -b 64 -o -t -h -? /? extra
    diff "$work/expected" "$work/out" >"$work/diff" || fail "$1, with arguments: $(cat "$work/diff")"
}

# The table's frame is exact and every line between the rules is a row.
expect_shape() {  # what
    local lines
    lines=$(wc -l <"$work/out")
    [ "$lines" -ge 5 ] || fail "$1: $(cat "$work/out")"
    header | diff - <(head -3 "$work/out") >/dev/null || fail "$1: header: $(head -3 "$work/out")"
    closing | diff - <(tail -2 "$work/out") >/dev/null || fail "$1: closing: $(tail -2 "$work/out")"
    if [ "$lines" -gt 5 ]; then
        sed -n "4,$((lines - 2))p" "$work/out" | grep -Ev "$row_pattern" && fail "$1: not a row"
    fi
    return 0
}

# ---- JACK, periods 64 and 256: one row per JACK device, period/period ----
for period in 64 256; do
    rig_jack_start "e2e-dravik-$$-$period" "$period" || fail "no JACK server at period $period"
    probe
    awk -F'\t' -v t=$type_jack '$2 == t' "$work/devices" >"$work/jack"
    grep -q $'\tsystem$' "$work/jack" || fail "PortAudio lists no JACK device system: $(cat "$work/devices")"
    { header
      while IFS=$'\t' read -r index type name; do row "$index" "$name" "$period" "$period"; done <"$work/jack"
      closing; } >"$work/expected"
    expect_table "JACK at period $period"
    grep -q "system *$period/$period\$" "$work/out" || fail "no system row at $period"
    rig_cleanup
done

# ---- no JACK server: the default host API's devices, none without a card ----
export JACK_DEFAULT_SERVER="e2e-dravik-$$-nobody"
probe
run_dravik
if [ ! -s "$work/devices" ] && ! grep -qE '^ *[0-9]+ \[' /proc/asound/cards 2>/dev/null; then
    { header; echo "$rule"
      echo "no devices: start a JACK or PipeWire server, or check ALSA's cards (aplay -l)"
      closing | tail -1; } >"$work/expected"
    expect_table "no JACK server, no sound card"
else
    expect_shape "no JACK server"
    rows=$(($(wc -l <"$work/out") - 5))
    [ "$rows" -le "$(wc -l <"$work/devices")" ] || fail "more rows than PortAudio has devices"
fi

# ---- an extra ALSA device listed before JACK's: global index, ALSA range ----
alsa_conf=$(pkg-config --variable=prefix alsa 2>/dev/null)/share/alsa/alsa.conf
[ -f "$alsa_conf" ] || alsa_conf=/usr/share/alsa/alsa.conf
if [ -f "$alsa_conf" ]; then
    cat >"$work/extra.conf" <<'CONF'
pcm.dravik_e2e_null {
    type null
    hint { show on description "Test device without hardware" }
}
CONF
    export ALSA_CONFIG_PATH="$alsa_conf:$work/extra.conf"

    # Without JACK: the device's row shows its period-size range.
    probe
    index=$(awk -F'\t' -v t=$type_alsa '$2 == t && $3 == "dravik_e2e_null" { print $1 }' "$work/devices")
    [ -n "$index" ] || fail "PortAudio does not list the extra ALSA device: $(cat "$work/devices")"
    run_dravik
    expect_shape "ALSA"
    line=$(grep -E "^ *%?$index {12}dravik_e2e_null {28}[0-9]+/[0-9]+\$" "$work/out") || fail "no row for ALSA device $index: $(cat "$work/out")"
    sizes=${line##* }
    min=${sizes%/*} max=${sizes#*/}
    [ "$min" -ge 1 ] && [ "$max" -ge "$min" ] || fail "ALSA range $sizes"

    # With JACK: JACK's devices keep their global numbers, after ALSA's.
    rig_jack_start "e2e-dravik-$$-alsa" 128 || fail "no JACK server at period 128"
    probe
    awk -F'\t' -v t=$type_jack '$2 == t' "$work/devices" >"$work/jack"
    system_index=$(awk -F'\t' '$3 == "system" { print $1 }' "$work/jack")
    [ "${system_index:-0}" -ge 1 ] || fail "JACK's system is not behind the ALSA devices: $(cat "$work/devices")"
    { header
      while IFS=$'\t' read -r index type name; do row "$index" "$name" 128 128; done <"$work/jack"
      closing; } >"$work/expected"
    expect_table "JACK behind ALSA devices"
    rig_cleanup
    unset ALSA_CONFIG_PATH
else
    echo "note: no alsa.conf found, ALSA device cases skipped"
fi

# ---- the wait: the whole table first, then nothing until one key ----
# key_case LABEL KEY COMMAND...: runs COMMAND with keys from a pipe, waits for
# the closing line, checks that it waits for a key, sends KEY and expects
# status 0 and an empty stderr.
key_case() {
    local label=$1 key=$2
    shift 2
    rm -f "$work/keys"
    mkfifo "$work/keys"
    "$@" <"$work/keys" >"$work/out" 2>"$work/err" &
    pid=$!
    exec 3>"$work/keys"
    for _ in $(seq 100); do grep -q '^hit any key' "$work/out" && break; sleep 0.1; done
    grep -q '^hit any key' "$work/out" || fail "$label: no closing line while waiting"
    sleep 0.5
    kill -0 $pid 2>/dev/null || fail "$label: dravik ended without a key"
    printf '%s' "$key" >&3
    rig_wait_exit $pid 10
    exec 3>&-
    [ "$RIG_STATUS" = "0" ] || fail "$label: exit status $RIG_STATUS after one key"
    [ -s "$work/err" ] && fail "$label: stderr: $(cat "$work/err")"
    return 0
}
key_case pipe x "$dravik"

# On a terminal a single key, without Enter, ends it, and is not echoed.
if command -v script >/dev/null; then
    key_case terminal q script -qefc "$dravik" /dev/null
    tr -d '\r' <"$work/out" | tail -1 | grep -qx "hit any key to exit *(C) 2026 Loopcable Test Suite" ||
        fail "terminal: key echoed or more output: $(tail -2 "$work/out" | od -c | head)"
else
    echo "note: no script(1), terminal case skipped"
fi

echo "PASS"

#!/usr/bin/env bash
# --compensation's PipeWire rule applied and measured again, through
# PipeWire's JACK face. The rig's private session gets two ALSA nodes on the
# rig's timed loop device (tools/loopdev, delay D, a position a frame at a
# time: step 1), the sink alsa_output.loopdev and the source
# alsa_input.loopdev, on one clock: the same clock.name, so that PipeWire
# does not resample the source (a follower) to the sink's clock, and one
# node.group. Both are kept running, linked to the session's null nodes, so
# that the device is not closed between loopcheck's runs: each open of the
# device starts its two directions apart, and the round trip changes with
# that (as a USB interface's does from start to start), but not within one.
#
# loopcheck (--out-device/--in-device, PortAudio's JACK host API) measures;
# the rule it prints (latency.internal.rate for the input and the output
# node) is applied as WirePlumber would at the nodes' creation, here at run
# time (pw-cli set-param NODE ProcessLatency, the rig's session has no ALSA
# monitor for the rule to match); loopcheck measures again. Truth from the
# server and closed forms, never from loopcheck: JACK's ports (jack_lsp -l)
# read Q each before (the quantum) and Q + the printed rate after; the round
# trip lies between D + Q and D + 3Q and is the same both times within 0.01
# frame; after, it equals what JACK's ports report within 0.01 frame (the
# excess 0), and the summary's excess says so. An attempt that PipeWire or
# the device disturbed (a resync in PipeWire's log, an xrun in the device's,
# loopcheck's retries) is run again; disturbed in every attempt it ends as
# skipped (77).
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
[ -f "$BUILD_DIR/tools/loopdev/libasound_module_pcm_loopdev.so" ] || fail "no loopdev plugin in $BUILD_DIR/tools/loopdev"
d=1000 q=1024

# The session's two ALSA nodes on loopdev: node SINK|SOURCE NAME DESCRIPTION CLASS PRIORITY.
node() {
    cat <<CONF
    { factory = adapter
        args = {
            factory.name = api.alsa.pcm.$1
            node.name = "$2"
            node.description = "$3"
            media.class = "$4"
            api.alsa.path = "loopdev"
            audio.rate = 48000
            audio.channels = 2
            audio.position = [ FL FR ]
            priority.driver = $5
            clock.name = "api.alsa.loopdev"
            node.group = "loopdev"
        }
    }
CONF
}

# JACK's capture latency of the source's port and playback latency of the sink's: "C P".
ports() {
    jack_lsp -l 2>/dev/null | awk '
        /^Loopdev in:capture_FL$/ { port = "c"; next } /^Loopdev out:playback_FL$/ { port = "p"; next } /^[^ \t]/ { port = "" }
        port == "c" && /capture latency/ { gsub(/[][]/, ""); c = $(NF - 1) }
        port == "p" && /playback latency/ { gsub(/[][]/, ""); p = $(NF - 1) }
        END { print c, p }'
}

# measure NAME: loopcheck --compensation --json through PipeWire's JACK face into $work/NAME.json.
measure() {
    timeout 60 pw-jack "$loopcheck" --out-device "Loopdev out" --in-device "Loopdev in" --compensation --json \
        >"$work/$1.json" 2>"$work/$1.err" || { echo "$1: loopcheck's status $?: $(head -c 300 "$work/$1.err")"; return; }
    rig_json_check "$work/$1.json" >/dev/null || echo "$1: the report does not hold to the schema"
}

# node_id NAME: PipeWire's id of the node named NAME.
node_id() { timeout 5 pw-cli ls Node | awk -v n="node.name = \"$1\"" '/^\tid/ { id = $2; sub(",", "", id) } index($0, n) { print id }'; }

# One attempt: "" on success, else why.
attempt() {
    local log="$work/loopdev-$1.log"
    printf 'pcm_type.loopdev { lib "%s" }\npcm.loopdev { type loopdev delay %s channels 2 rate 48000 step 1 log "%s" }\n' \
        "$BUILD_DIR/tools/loopdev/libasound_module_pcm_loopdev.so" "$d" "$log" >"$work/loopdev.conf"
    { echo "context.objects = ["
      node sink alsa_output.loopdev "Loopdev out" Audio/Sink 5000
      node source alsa_input.loopdev "Loopdev in" Audio/Source 4000
      echo "]"; } >"$work/nodes.conf"
    RIG_PIPEWIRE_CONF="$work/nodes.conf" RIG_PIPEWIRE_ALSA_CONFIG="/usr/share/alsa/alsa.conf:$work/loopdev.conf" \
        rig_pipewire_start $q || { echo "no PipeWire session"; return; }
    local up=no
    for _ in $(seq 100); do
        [ "$(jack_lsp 2>/dev/null | grep -c '^Loopdev in:capture_F[LR]$\|^Loopdev out:playback_F[LR]$')" = 4 ] && { up=yes; break; }
        sleep 0.1
    done
    [ $up = yes ] || { echo "no Loopdev ports in JACK: $(jack_lsp 2>&1 | tr '\n' ' ')"; return; }
    local c
    for c in FL FR; do
        timeout 5 pw-link "card_source:capture_$c" "alsa_output.loopdev:playback_$c" >/dev/null &&
            timeout 5 pw-link "alsa_input.loopdev:capture_$c" "stack_loop:playback_$c" >/dev/null ||
            { echo "cannot keep the nodes running (pw-link): $(timeout 5 pw-link -io 2>&1 | tr "\n" " ")"; return; }
    done
    local before why
    before=$(ports)
    why=$(measure first)
    [ -z "$why" ] || { echo "$why"; return; }
    local in_rate out_rate
    in_rate=$(jq -r '.compensation.pipewire.input_rate_frames' "$work/first.json")
    out_rate=$(jq -r '.compensation.pipewire.output_rate_frames' "$work/first.json")
    [[ "$in_rate" =~ ^[0-9]+$ && "$out_rate" =~ ^[0-9]+$ ]] ||
        { echo "no PipeWire rule printed: $(jq -c .compensation "$work/first.json")"; return; }
    jq -r '.compensation.lines[]' "$work/first.json" | grep -q "latency.internal.rate = $in_rate .*latency.internal.rate = $out_rate " ||
        { echo "the printed rule is not latency.internal.rate $in_rate, $out_rate: $(jq -c .compensation.lines "$work/first.json")"; return; }
    # The rule applied, as update-props would at the nodes' creation.
    timeout 5 pw-cli set-param "$(node_id alsa_input.loopdev)" ProcessLatency "{ rate = $in_rate }" >/dev/null &&
        timeout 5 pw-cli set-param "$(node_id alsa_output.loopdev)" ProcessLatency "{ rate = $out_rate }" >/dev/null ||
        { echo "pw-cli set-param ProcessLatency failed"; return; }
    local after=""
    for _ in $(seq 100); do
        after=$(ports)
        [ "$after" = "$((q + in_rate)) $((q + out_rate))" ] && break
        sleep 0.1
    done
    why=$(measure again)
    [ -z "$why" ] || { echo "$why"; return; }
    ! grep -q '^xrun' "$log" || { echo "the device ran out (xrun in its log)"; return; }
    local first again first_excess again_excess
    first=$(jq -r .summary.mean_frames "$work/first.json") again=$(jq -r .summary.mean_frames "$work/again.json")
    first_excess=$(jq -r .summary.excess_frames "$work/first.json")
    again_excess=$(jq -r .summary.excess_frames "$work/again.json")
    awk -v f="$first" -v a="$again" -v d=$d -v q=$q -v before="$before" -v after="$after" -v i="$in_rate" -v o="$out_rate" \
        -v fe="$first_excess" -v ae="$again_excess" '
        function off(x, y) { return x - y > 0.01 || y - x > 0.01 }
        BEGIN {
            split(before, b, " "); split(after, c, " ")
            if (b[1] != q || b[2] != q) { printf "JACK reported %s before, not %d %d\n", before, q, q; exit 1 }
            if (c[1] != q + i || c[2] != q + o) { printf "JACK reports %s after the rule, not %d %d\n", after, q + i, q + o; exit 1 }
            if (f < d + q || f > d + 3 * q) { printf "round trip %s, not within %d + [%d, %d]\n", f, d, q, 3 * q; exit 1 }
            if (off(a, f)) { printf "round trip %s again, %s before\n", a, f; exit 1 }
            if (off(fe, f - 2 * q)) { printf "summary excess %s before, not %s - 2 x %d\n", fe, f, q; exit 1 }
            if (off(a - c[1] - c[2], 0)) { printf "excess again %.3f (round trip %s, JACK reports %s)\n", a - c[1] - c[2], a, after; exit 1 }
            if (off(ae, 0)) { printf "summary excess %s again, not 0\n", ae; exit 1 }
        }' || return
    echo "ok: round trip $first, ports $before, printed latency.internal.rate $in_rate (input) $out_rate (output);" \
        "again $again, ports $after: excess $again_excess"
}

for n in 1 2 3; do
    result=$(attempt $n)
    case "$result" in ok*) echo "$result"; echo PASS; exit 0 ;; esac
    disturbed=no
    grep -q '^xrun' "$work/loopdev-$n.log" 2>/dev/null && disturbed=yes
    for dir in "${RIG_DIRS[@]}"; do grep -aq 'resync' "$dir/pipewire.log" 2>/dev/null && disturbed=yes; done
    for report in "$work"/first.json "$work"/again.json; do
        [ -s "$report" ] && jq -e '.status != "ok" or ([.runs[]?.attempts] | max // 1) > 1' "$report" >/dev/null 2>&1 &&
            disturbed=yes
    done
    rm -f "$work"/first.* "$work"/again.*
    [ $disturbed = yes ] || fail "$result"
    echo "note: attempt $n: $result while PipeWire or the device was disturbed; again"
    rig_cleanup
done
echo "SKIP: disturbed in every attempt"
exit 77

#!/usr/bin/env bash
# docs/loopcheck.schema.json and tools/json_check.py on hand-written samples,
# no audio: each good one (a report of each shape, every event the monitor
# writes) holds, each bad one is refused on the line and at the path where it
# is broken. python3-jsonschema comes with tools/setup.sh's test list: without
# it the validator ends with status 2 and this test fails.
set -u
cd "$(dirname "$0")" || exit 1
check=../../tools/json_check.py
schema=../../docs/loopcheck.schema.json
failed=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Each sample, and what json_check.py must say of it on standard error (fixed
# text); nothing for a good one. One run of the validator takes them all (its
# start, python3-jsonschema's import, is most of its time).
#  sample                           | what standard error must say
cases=$(cat <<'CASES'
good/report.json                   |
good/report_no_loop.json           |
good/report_two_loops_no_loop.json |
good/report_monitor_input.json     |
good/report_quality.json           |
good/report_idle.json              |
good/monitor.jsonl                 |
bad/status_word.json               | bad/status_word.json:1: report: $.status: 'okay' is not one of
bad/missing_key.json               | bad/missing_key.json:1: report: $: 'flags' is a required property
bad/string_number.json             | bad/string_number.json:1: report: $.runs[0].latency_frames: '619.0' is not of type 'number'
bad/status_exit.json               | bad/status_exit.json:1: report: $: this object matches none of its forms (The status and its exit status
bad/extra_key.json                 | bad/extra_key.json:1: report: $: Additional properties are not allowed ('latency' was unexpected)
bad/not_run_mode.json              | bad/not_run_mode.json:1: report: $.not_run[0].mode: 'latency' is not one of ['quality', 'idle', 'monitor']
bad/reason_missing.json            | bad/reason_missing.json:1: report: $.quality.channels[1].thd_n[0]: 'thd_db_reason' is a required property
bad/glitch_no_delay.jsonl          | bad/glitch_no_delay.jsonl:3: glitch: $: 'delay_change_frames' is a required property
bad/glitch_side_word.jsonl         | bad/glitch_side_word.jsonl:1: glitch: $.side: 'output' is not one of ['capture', 'playback', None]
bad/found_no_length.jsonl          | bad/found_no_length.jsonl:1: found: $: 'lost_frames' is a required property
bad/change_rate_gains.jsonl        | bad/change_rate_gains.jsonl:1: change: $: {'event': 'change'
bad/event_unknown.jsonl            | bad/event_unknown.jsonl:2: stop: $.event: 'stop' is not an event of loopcheck's
bad/duplicate_key.json             | bad/duplicate_key.json:1: line: $: not as nlohmann-json writes: key 'status' appears twice
bad/nan.json                       | bad/nan.json:1: line: $: not as nlohmann-json writes: NaN is not JSON
bad/empty.json                     | bad/empty.json: no JSON object (the input is empty)
CASES
)
samples=() goods=()
while IFS='|' read -r sample says; do
    sample=${sample// /}
    [ -n "$sample" ] || continue
    samples+=("$sample")
    [ -n "${says# }" ] || goods+=("$sample")
done <<<"$cases"

# The good ones alone: valid, and nothing said.
timeout 60 python3 "$check" --quiet "${goods[@]}" >"$tmp/out" 2>"$tmp/err"
status=$?
if [ $status != 0 ] || [ -s "$tmp/err" ] || [ -s "$tmp/out" ]; then
    echo "FAIL the good samples: exit status $status, not 0; json_check.py said:"
    sed 's/^/    /' "$tmp/err" "$tmp/out"
    failed=1
fi
# All of them: status 1, each bad one refused as the table says, no good one named.
timeout 60 python3 "$check" --quiet "${samples[@]}" >"$tmp/out" 2>"$tmp/err"
status=$?
[ $status = 1 ] || { echo "FAIL every sample: exit status $status, not 1"; failed=1; }
while IFS='|' read -r sample says; do
    sample=${sample// /} says=${says# }
    [ -n "$sample" ] || continue
    if [ -z "$says" ] && grep -qF -- "$sample:" "$tmp/err"; then
        echo "FAIL $sample: refused: $(grep -F -- "$sample:" "$tmp/err")"
        failed=1
    elif [ -n "$says" ] && ! grep -qF -- "$says" "$tmp/err"; then
        echo "FAIL $sample: no line says: $says; json_check.py said: $(grep -F -- "$sample" "$tmp/err")"
        failed=1
    else
        echo "ok   $sample"
    fi
done <<<"$cases"
listed=" ${samples[*]} "

# Every sample is in the table, and every event the schema knows has a good one.
for sample in good/* bad/*; do
    [[ "$listed" == *" $sample "* ]] || { echo "FAIL $sample: not in the table"; failed=1; }
done
# shellcheck disable=SC2016
events=$(python3 -c 'import json, sys; print(" ".join(sorted(k[6:] for k in json.load(open(sys.argv[1]))["$defs"] if k.startswith("event_"))))' "$schema")
seen=$(python3 -c 'import json, sys; print(" ".join(sorted({json.loads(l)["event"] for l in open(sys.argv[1]) if l.strip()})))' good/monitor.jsonl)
if [ -z "$events" ] || [ "$events" != "$seen" ]; then
    echo "FAIL good/monitor.jsonl has the events '$seen', the schema '$events'"
    failed=1
fi

# Every figure the schema declares carries its unit and which way is better
# (lower, higher, closer, none; "as figure" where a key holds any figure's
# value, as a limit's verdict does): each key whose value is a number, or an
# array or a choice of them, and each key named with a unit (_db, _dbfs, _hz,
# _frames, _ppm, _ms, _s, _percent). Counts and indices (integers named
# without a unit) are not figures. The same check on a schema broken on
# purpose (noise.dbfs without its unit, dynamic_range_db_a without its
# direction, a new bare number) must name exactly those three.
# shellcheck disable=SC2016
figures='
import json, re, sys
def types(v):
    t = v.get("type", [])
    return t if isinstance(t, list) else [t]
def numeric(v):
    if not isinstance(v, dict):
        return False
    if "number" in types(v):
        return True
    subs = [v.get("items")] + list(v.get("prefixItems") or []) + list(v.get("oneOf") or []) + list(v.get("anyOf") or [])
    return any(numeric(s) for s in subs)
def walk(o, path):
    if isinstance(o, dict):
        for k, v in (o.get("properties") or {}).items():
            if not isinstance(v, dict) or "/if" in path or "references" in path:
                continue
            if (re.search(r"_(db|dbfs|hz|frames|ppm|ms|s|percent)$", k) and "type" in v) or numeric(v):
                if v.get("better") not in ("lower", "higher", "closer", "none", "as figure") or not v.get("unit"):
                    print(path + "/" + k)
        for k, v in o.items():
            walk(v, path + "/" + k)
    elif isinstance(o, list):
        for v in o:
            walk(v, path)
walk(json.load(open(sys.argv[1])), "")'
bare=$(python3 -c "$figures" "$schema")
if [ -n "$bare" ] || ! python3 -c "$figures" "$schema" >/dev/null; then
    echo "FAIL figures without a unit or a direction: $bare"
    failed=1
fi
python3 - "$schema" "$tmp/broken.json" <<'BREAK'
import json, sys
s = json.load(open(sys.argv[1]))
d = s["$defs"]
del d["noise"]["properties"]["dbfs"]["unit"]
del d["quality_channel"]["properties"]["dynamic_range_db_a"]["better"]
d["event_summary"]["properties"]["seconds_late"] = {"type": ["number", "null"]}
json.dump(s, open(sys.argv[2], "w"))
BREAK
broken=$(python3 -c "$figures" "$tmp/broken.json" | tr '\n' ' ')
if [ "$broken" != '/$defs/noise/dbfs /$defs/quality_channel/dynamic_range_db_a /$defs/event_summary/seconds_late ' ]; then
    echo "FAIL the schema broken on purpose: the check named '$broken'"
    failed=1
fi

# Standard input; a file that is not there (status 2, not 1).
timeout 60 python3 "$check" --quiet <good/monitor.jsonl || { echo "FAIL standard input"; failed=1; }
timeout 60 python3 "$check" --quiet no-such-file.json 2>"$tmp/err"
status=$?
if [ $status != 2 ] || ! grep -qF "json_check: no-such-file.json:" "$tmp/err"; then
    echo "FAIL a missing file: exit status $status, not 2: $(cat "$tmp/err")"
    failed=1
fi

[ $failed = 0 ] || { echo "FAIL: some samples"; exit 1; }
echo "PASS"

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

#  sample                     | exit | what standard error must say (fixed text; empty: nothing)
cases=$(cat <<'CASES'
good/report.json              | 0 |
good/report_no_loop.json      | 0 |
good/report_two_loops_no_loop.json | 0 |
good/report_monitor_input.json| 0 |
good/report_quality.json      | 0 |
good/monitor.jsonl            | 0 |
bad/status_word.json          | 1 | bad/status_word.json:1: report: $.status: 'okay' is not one of
bad/missing_key.json          | 1 | bad/missing_key.json:1: report: $: 'flags' is a required property
bad/string_number.json        | 1 | bad/string_number.json:1: report: $.runs[0].latency_frames: '619.0' is not of type 'number'
bad/status_exit.json          | 1 | bad/status_exit.json:1: report: $: this object matches none of its forms (The status and its exit status
bad/extra_key.json            | 1 | bad/extra_key.json:1: report: $: Additional properties are not allowed ('latency' was unexpected)
bad/not_run_mode.json         | 1 | bad/not_run_mode.json:1: report: $.not_run[0].mode: 'latency' is not one of ['quality', 'monitor']
bad/reason_missing.json       | 1 | bad/reason_missing.json:1: report: $.quality.channels[1].thd_n[0]: 'thd_db_reason' is a required property
bad/glitch_no_delay.jsonl     | 1 | bad/glitch_no_delay.jsonl:3: glitch: $: 'delay_change_frames' is a required property
bad/event_unknown.jsonl       | 1 | bad/event_unknown.jsonl:2: stop: $.event: 'stop' is not an event of loopcheck's
bad/duplicate_key.json        | 1 | bad/duplicate_key.json:1: line: $: not as nlohmann-json writes: key 'status' appears twice
bad/nan.json                  | 1 | bad/nan.json:1: line: $: not as nlohmann-json writes: NaN is not JSON
bad/empty.json                | 1 | bad/empty.json: no JSON object (the input is empty)
no-such-file.json             | 2 | json_check: no-such-file.json:
CASES
)

listed=""
while IFS='|' read -r sample want says; do
    sample=${sample// /} want=${want// /} says=${says# }
    [ -n "$sample" ] || continue
    listed+=" $sample"
    timeout 60 python3 "$check" --quiet "$sample" >"$tmp/out" 2>"$tmp/err"
    status=$?
    verdict=ok
    if [ "$status" != "$want" ]; then
        verdict="exit status $status, not $want"
    elif [ -z "$says" ] && [ -s "$tmp/err" ]; then
        verdict="it said something"
    elif [ -n "$says" ] && ! grep -qF -- "$says" "$tmp/err"; then
        verdict="no line says: $says"
    elif [ -s "$tmp/out" ]; then
        verdict="--quiet printed on standard output"
    fi
    if [ "$verdict" = ok ]; then
        echo "ok   $sample"
    else
        echo "FAIL $sample: $verdict; json_check.py said:"
        sed 's/^/    /' "$tmp/err" "$tmp/out"
        failed=1
    fi
done <<<"$cases"

# Every sample is in the table, and every event the schema knows has a good one.
for sample in good/* bad/*; do
    [[ " $listed " == *" $sample "* ]] || { echo "FAIL $sample: not in the table"; failed=1; }
done
# shellcheck disable=SC2016
events=$(python3 -c 'import json, sys; print(" ".join(sorted(k[6:] for k in json.load(open(sys.argv[1]))["$defs"] if k.startswith("event_"))))' "$schema")
seen=$(python3 -c 'import json, sys; print(" ".join(sorted({json.loads(l)["event"] for l in open(sys.argv[1]) if l.strip()})))' good/monitor.jsonl)
if [ -z "$events" ] || [ "$events" != "$seen" ]; then
    echo "FAIL good/monitor.jsonl has the events '$seen', the schema '$events'"
    failed=1
fi

# Standard input, and several files at once: one bad among good ones fails them all.
timeout 60 python3 "$check" --quiet <good/monitor.jsonl || { echo "FAIL standard input"; failed=1; }
timeout 60 python3 "$check" --quiet good/report.json bad/missing_key.json good/monitor.jsonl 2>/dev/null &&
    { echo "FAIL a bad file among good ones passed"; failed=1; }

[ $failed = 0 ] || { echo "FAIL: some samples"; exit 1; }
echo "PASS"

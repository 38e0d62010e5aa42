#!/usr/bin/env bash
# --trend over a lab's collected results: 1000 result files of 10 interfaces,
# made by this test from a real run's JSON (tests/json/good/report_quality.json,
# two loops and the battery) with response rows 1/24 octave apart added, each
# interface's results a day apart. Planted in interface 3's last result:
# THD+N of loop 1 3 dB worse, latency 1 frame more, and loop 1's response 0.5
# dB lower from 10 kHz. Interface 7's last result has THD+N 0.5 dB worse
# (inside its 1 dB) and its response 0.1 dB lower (inside 0.2 dB): nothing.
#   --json       1000 results, 10 interfaces, and the points regressed exactly
#                the planted ones (the figures named, in interface 3 alone)
#   --report     the page in headless Chromium (tools/browser_check.py): no
#                console line, no request; interface 3's section lists the
#                regressions (the file and figure of each) and its plots mark
#                them with red points and red bands; no other section does
# The time it takes is bench/trend_bench's (no timed test here).
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
check="$SOURCE_DIR/tools/browser_check.py"
[ -x /usr/bin/chromium ] || fail "no /usr/bin/chromium (Debian package chromium)"
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"

python3 - "$SOURCE_DIR/tests/json/good/report_quality.json" "$work/lab" <<'PY' || fail "the results were not made"
import copy, json, os, sys
template = json.load(open(sys.argv[1]))
def rows(lower_from_10k):
    out = []
    for n in range(-135, 104):
        hz = 1000 * 2 ** (n / 24)
        out.append({"hz": hz, "level_db": -lower_from_10k if hz >= 10000 else 0.0, "uncertainty_db": 0.001})
    return out
for i in range(1000):
    unit, day = i % 10, i // 10
    last = day == 99
    r = copy.deepcopy(template)
    r["schema_version"] = "1.2"
    r["environment"] = {"key": f"usb:08bb:2902:UNIT{unit}", "time": f"2026-{1 + day // 28:02d}-{1 + day % 28:02d}T03:00:00Z"}
    thd_n = r["quality"]["channels"][0]["thd_n"][0]
    if last and unit == 3:
        thd_n["thd_n_db"] += 3.0
        r["summary"]["mean_frames"] += 1.0
    if last and unit == 7:
        thd_n["thd_n_db"] += 0.5
    for k, c in enumerate(r["quality"]["channels"]):
        c["response"]["rows"] = rows(0.5 if last and unit == 3 and k == 0 else 0.1 if last and unit == 7 and k == 0 else 0.0)
    folder = os.path.join(sys.argv[2], f"bench-{unit}")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"run-{day:03d}.json"), "w") as f:
        json.dump(r, f)
with open(os.path.join(sys.argv[2], "notes.json"), "w") as f:
    f.write('{"program": "sox"}\n')
PY
echo "1000 results made: $(find "$work/lab" -name 'run-*.json' | wc -l) files"

timeout 60 "$loopcheck" --trend "$work/lab" --json >"$work/trend.json" 2>"$work/trend.err" ||
    fail "--trend --json: exit status $?: $(cat "$work/trend.err")"
regressed=$(jq -c '[.trend[] | .key as $k | .figures[] | .name as $n | .points[] | select(.regressed) |
    "\($k | sub("usb:08bb:2902:"; "")) \($n) \(.file | sub(".*/"; ""))"] | sort' "$work/trend.json")
want='["UNIT3 latency_frames run-099.json","UNIT3 response 10-12.5 kHz run-099.json","UNIT3 response 12.5-16 kHz run-099.json","UNIT3 response 16-20 kHz run-099.json","UNIT3 thd_n_db run-099.json"]'
[ "$regressed" = "$want" ] || fail "--trend --json: regressed $regressed, not $want"
[ "$(jq '[.results, .unread, (.trend | length)]' -c "$work/trend.json")" = "[1000,1,10]" ] ||
    fail "--trend --json: $(jq -c '[.results, .unread, (.trend | length)]' "$work/trend.json"), not 1000 results, 1 unread, 10 interfaces"
echo "ok   --json: 1000 results of 10 interfaces, regressed: $regressed"

timeout 60 "$loopcheck" --trend "$work/lab" --report "$work/trend.html" >"$work/report.out" 2>&1 ||
    fail "--trend --report: exit status $?: $(cat "$work/report.out")"
python3 "$check" "$work/trend.html" --shot "$work/trend.png" --size 1100x1200 --dom "$work/trend.dom" >"$work/check" 2>&1 ||
    fail "the browser check failed: $(cat "$work/check")"
[ -z "$(ls -A "$TMPDIR")" ] || fail "browser_check left $(ls "$TMPDIR") behind"
# Each interface's section in the DOM the browser built: the regressions' rows and the red marks in interface 3's alone.
python3 - "$work/trend.dom" <<'PY' || fail "the page does not mark the regressions where they are"
import re, sys
dom = open(sys.argv[1]).read()
sections = re.split(r"<h2>", dom)[1:]
bad, seen = [], {}
for s in sections:
    key = s[:s.index("</h2>")]
    rows = re.findall(r"<tr><td>[^<]*</td><td>[^<]*(run-\d+\.json)</td><td>([^<]+)</td>", s)
    dots = len(re.findall(r'<circle [^>]*fill="#d62728"', s))
    bars = len(re.findall(r'<rect [^>]*fill="#d62728"', s))
    seen[key] = (sorted(rows), dots, bars)
for key, (rows, dots, bars) in sorted(seen.items()):
    if key.endswith("UNIT3"):
        want = sorted([("run-099.json", f) for f in ("latency_frames", "thd_n_db", "response 10-12.5 kHz",
                                                     "response 12.5-16 kHz", "response 16-20 kHz")])
        if rows != want or dots != 2 or bars != 3:
            bad.append(f"{key}: rows {rows}, {dots} red points, {bars} red bars")
    elif rows or dots or bars:
        bad.append(f"{key}: rows {rows}, {dots} red points, {bars} red bars, none expected")
if len(seen) != 10:
    bad.append(f"{len(seen)} sections, not 10")
print("\n".join(bad) if bad else "ok   the page: interface 3's regressions listed and marked (2 red points, 3 red bands), no other")
sys.exit(1 if bad else 0)
PY
echo "PASS"

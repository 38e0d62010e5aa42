#!/usr/bin/env bash
# A report page in headless Chromium (tools/browser_check.py): the sample page
# of report_sample loads without a console message or a network request, its
# text is escaped, and its plot's pixels are where the mapping puts them; pages
# that load an image or a script from the network (http or https) are caught,
# with a Content-Security-Policy (the browser blocks and logs) or without one
# (the proxy sees the request).
#
# The plot's truth, from its closed form (report_sample's header): an 800 x 400
# plot has its area at left 64, top 36, 720 x 316 pixels; the red line is
# y = -6 + 4 log10(f / 20) dB over 20 Hz .. 20 kHz, so at area column c (its
# centre c + 0.5) y = -6 + 12 (c + 0.5) / 720 and the row is
# 316 (10 - y) / 20. The page places the plot where the layout puts it: the
# test finds the frame (a run of #555555 as wide as the area) and counts from there.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
check="$SOURCE_DIR/tools/browser_check.py"
pixels="$SOURCE_DIR/tools/pixel_check.py"
sample="$BUILD_DIR/tests/report_sample"
[ -x "$sample" ] || fail "no $sample (libsndfile missing?)"
[ -x /usr/bin/chromium ] || fail "no /usr/bin/chromium (Debian package chromium)"
# The checker's profile folders go here, so that the test sees them removed.
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"

"$sample" "$work/sample.html" || fail "report_sample"
python3 "$check" "$work/sample.html" --shot "$work/shot.png" --size 900x700 --dom "$work/dom.html" >"$work/out" 2>&1
status=$?
[ $status -eq 0 ] || fail "the sample page: status $status: $(cat "$work/out")"
[ -z "$(ls -A "$TMPDIR")" ] || fail "browser_check left $(ls "$TMPDIR") behind"

# Text: escaped as text, present in the DOM the browser built.
grep -q '<h1>Sample report &lt;&amp;&gt;</h1>' "$work/dom.html" || fail "heading not in the DOM"
grep -q 'Response &lt;sample&gt; &amp; "quotes"' "$work/dom.html" || fail "plot title not in the DOM"
grep -q '<td>300.25 frames</td>' "$work/dom.html" || fail "table not in the DOM"
grep -qi '<script' "$work/dom.html" && fail "the page has a script"

# Pixels: the frame's top-left corner, then the curve and the marker line.
convert "$work/shot.png" "$work/shot.ppm" || fail "convert"
read -r frame_x frame_y < <(python3 "$pixels" "$work/shot.ppm" run '#555555' 722) || fail "no plot frame in the shot"
left=$((frame_x + 1)) top=$((frame_y + 1))
echo "plot area at $left,$top"
for c in 5 100 250 333 480 640; do
    row=$(awk -v c=$c 'BEGIN { y = -6 + 12 * (c + 0.5) / 720; printf "%d", 316 * (10 - y) / 20 }')
    python3 "$pixels" "$work/shot.ppm" at $((left + c)) $((top + row)) '#d62728' --radius 1 ||
        fail "red curve not at area column $c row $row: rows $(python3 "$pixels" "$work/shot.ppm" column $((left + c)) '#d62728')"
done
# 100 Hz: column floor(720 log10(5) / 3) = 167 of the area, all the way down.
marker=$(awk 'BEGIN { printf "%d", 720 * log(5) / log(10) / 3 }')
rows=$(python3 "$pixels" "$work/shot.ppm" column $((left + marker)) '#9467bd' $top $((top + 315)))
[ "$rows" = "$top-$((top + 315))" ] || fail "marker column $marker has the marker's colour at rows $rows"
python3 "$pixels" "$work/shot.ppm" column $((left + marker + 1)) '#9467bd' $((top + 40)) $((top + 315)) >/dev/null &&
    fail "the marker is wider than its column"

# Pages that reach out: caught with and without a Content-Security-Policy.
csp="<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; img-src data:\">"
#  name          | head  | body                                           | what the check must say
while IFS='|' read -r name head body want; do
    name=${name// /}
    [ -n "$name" ] || continue
    head=${head// /}
    [ "$head" = csp ] && head=$csp || head=""
    printf '<!DOCTYPE html><html><head><meta charset="utf-8">%s<title>t</title></head><body><p>x</p>%s</body></html>\n' \
        "$head" "$body" >"$work/$name.html"
    python3 "$check" "$work/$name.html" --shot "$work/$name.png" --size 400x300 >"$work/$name.out" 2>&1
    status=$?
    [ $status -eq 1 ] || fail "$name: status $status, not 1: $(cat "$work/$name.out")"
    grep -qE "$want" "$work/$name.out" || fail "$name: no '$want' in: $(cat "$work/$name.out")"
    echo "$name: caught"
done <<'CASES'
image         |     |<img src="http://example.invalid/x.png">        |network request: GET http://example.invalid/x.png
script-https  |     |<script src="https://example.invalid/a.js"></script>|network request: CONNECT example.invalid:443
image-csp     |csp  |<img src="http://example.invalid/x.png">        |console: .*example.invalid/x.png.*Content Security Policy
CASES
[ -z "$(ls -A "$TMPDIR")" ] || fail "browser_check left $(ls "$TMPDIR") behind"
echo "PASS"

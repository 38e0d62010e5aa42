#!/usr/bin/env bash
# loopcheck --quality through loopsim on a private JACK server (dummy backend,
# 48000 Hz, period 1024: the battery plays for 5.4 s, 8.0 s with two loops, and on a loaded machine a
# dummy server without real-time priority skips a late client more often the
# shorter its period; loopcheck rightly plays a spoiled segment again, and
# gives up, exit 4, after three). One table of paths, each with every figure
# held to a truth that loopcheck's code has no part in:
# - harmonics, THD and both IMDs: loopsim's own --print-distortion, the
#   closed form of its polynomial for the tones as played;
# - noise: white noise of RMS N over the whole band reads N + 3.01 dB
#   (AES17's dBFS) + 10 log10 of the band's share of the bins, and its
#   A-weighted level the mean of IEC 61672's |A|^2 over those bins (awk, below);
#   a hum's sines read their peaks, each weighted at its frequency;
# - THD+N with noise: the noise over the tone; dynamic range: minus the A noise;
# - crosstalk: --print-crosstalk-at at the driving loop's own tones (AES17's
#   997.56 Hz, and the all-driven tones the JSON names, each on an odd bin
#   3 (mod 6) within 17 Hz of its octave centre); for --crosstalk DB,cubic,
#   DB - 2 dB at AES17's -1 dBFS (g x^3: 2 dB less for every dB lower), and
#   the all-driven tones at -19 dBFS 11 dB and more lower; channel match:
#   --gain2-db and the phase of --delay2 frames at the tone, -360 f d / rate;
# - the bounds: on docs/loopcheck.md's example loop (--poly 0.000224,0.0001
#   --noise -110) every harmonic of the -60 dBFS tone, whose truth is -139 dB
#   and below, is a bound and THD noise-limited, while H2 at -1 dBFS reads
#   -80.02 dB as a measurement; a harmonic loopsim does not make is a bound;
# - two loops whose clocks differ (--ppm2 0.05, 0.3): every pair at -110 dB
#   within 1 dB, or empty with its reason.
# The tones' frequencies follow the documented rules, computed here: the odd
# bin of a 32768-frame block nearest the nominal one; CCIF's upper tone the
# even number of bins nearest 990 Hz above the lower.
# Tolerances: 0.1 dB for harmonics, THD and IMD (a digital loop: float32
# rounding sits 60 dB and more below the products asked for); 0.3 dB for
# THD+N and noise of random noise (13640 bins: the estimate's own spread is
# 0.04 dB, A-weighted below 0.1 dB); 0.02 dB for gain, match and crosstalk of
# a linear path; 0.05 degrees of phase; 1 dB for crosstalk through two clocks.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin
loopsim="$BUILD_DIR/tools/loopsim/loopsim"
loopcheck="$BUILD_DIR/loopcheck/loopcheck"
rate=48000 block=32768

echo '{"thd_n_db": {"max": -55}, "response_deviation_db": {"max": 1}, "gain_db": {"min": -0.5, "max": 0.5}}' >"$work/sof.json"
echo '{"thd_n_db": {"max": -90}, "gain_db": {"min": -0.5, "max": 0.5}}' >"$work/tight.json"

# Bad limits end with status 2 before any device is touched (no server needed),
# the first line on standard error naming the file and why, as a user types
# the command in the file's folder: the figure meant and every figure; the
# line and column where the JSON broke; the system's reason.
echo '{"thd_n_db": {"max": -90}, "thdn_db": {"max": 1}}' >"$work/unknown.json"
echo '{"thd_n_db": {"max": -90}, "wow_db": {"max": 1}}' >"$work/far.json"
echo '{"thd_n_db": {"max": -90' >"$work/broken.json"
mkdir -p "$work/folder.json"
while IFS='|' read -r file words; do
    (cd "$work" && JACK_DEFAULT_SERVER=none timeout 10 "$loopcheck" --limits "$file" >out 2>err)
    status=$?
    [ $status = 2 ] || fail "--limits $file: exit status $status, not 2"
    head -1 "$work/err" | grep -qF -- "loopcheck: --limits $file: $words" ||
        fail "--limits $file: not \"$words\": $(cat "$work/err")"
done <<'LIMITS'
unknown.json|unknown figure "thdn_db" (did you mean "thd_n_db"?); the figures are thd_n_db, thd_db, noise_dbfs,
far.json|unknown figure "wow_db"; the figures are thd_n_db, thd_db, noise_dbfs,
broken.json|not valid JSON at line 1, column 25: syntax error while parsing object - unexpected end of input; expected '}'
missing.json|cannot read: No such file or directory
folder.json|cannot read: Is a directory
LIMITS
echo "ok   bad limits files: exit status 2"
# Loops that are not pairs of channels: exit status 2 too, before any device.
for bad in "--out 1,2 --in 1" "--out 1,1 --in 1,2" "--out 1.5" "--out nan" "--out 1, --in 1,2" "--out 0"; do
    # shellcheck disable=SC2086
    JACK_DEFAULT_SERVER=none timeout 10 "$loopcheck" $bad >/dev/null 2>"$work/err"
    status=$?
    [ $status = 2 ] || fail "$bad: exit status $status, not 2"
done
echo "ok   bad loops: exit status 2"

# The frequency of the odd bin nearest hz.
coherent() { awk -v f="$1" -v n=$block -v r=$rate 'BEGIN { b = 2 * int((f * n / r - 1) / 2 + 0.5) + 1; printf "%.6f", b * r / n }'; }
# CCIF's upper tone: the even number of bins nearest 990 Hz above the lower.
above() { awk -v f="$1" -v d=990 -v n=$block -v r=$rate 'BEGIN { printf "%.6f", f + 2 * int(d * n / r / 2 + 0.5) * r / n }'; }
tone=$(coherent 997) lo=$(coherent 60) hi=$(coherent 7000) c1=$(coherent 19000)
c2=$(above "$c1")

# The value after --NAME in the options, or the default.
option() { sed -n "s/.*--$1 \([^ ]*\).*/\1/p" <<<"$2" | grep . || echo "$3"; }

# Noise and hum in the band, unweighted and A-weighted, as dBFS: "dbfs dbfs_a".
noise_truth() {
    local opts="$1"
    awk -v noise="$(option noise "$opts" -400)" -v hum="$(option hum "$opts" "0,-400,1")" -v n=$block -v r=$rate '
        function ra(f) { f2 = f * f
            return 12194^2 * f2 * f2 / ((f2 + 20.6^2) * sqrt((f2 + 107.7^2) * (f2 + 737.9^2)) * (f2 + 12194^2)) }
        function db(p) { return p > 0 ? 10 * log(p) / log(10) : -300 }
        BEGIN {
            a1k = ra(1000); bins = 0; wa = 0
            for (k = 1; k < n / 2; k++) { f = k * r / n; if (f >= 20 && f <= 20000) { bins++; wa += (ra(f) / a1k)^2 } }
            # White noise of RMS s over the whole band: s^2 / (n/2) a bin; AES17 counts 2 s^2.
            s2 = 10^(noise / 10); p = 2 * s2 * bins / (n / 2); pa = 2 * s2 * wa / (n / 2)
            split(hum, h, ","); count = (3 in h) ? h[3] : 5
            for (k = 1; k <= count && h[1] > 0; k++) { a = 10^(h[2] / 20) / k; p += a * a; pa += (a * ra(k * h[1]) / a1k)^2 }
            printf "%.4f %.4f", db(p), db(pa)
        }'
}

# loopsim's products for the tones, at the output, in dBFS peak: "HZ DBFS P Q" lines.
products() { "$loopsim" --rate $rate $1 --print-distortion "$2"; }
level_at() { awk -v f="$1" '($1 - f)^2 < 1e-6 { print $2; exit }'; }

# The distortion figures of the path: "h2 .. h10 thd smpte ccif", dB (null where none).
distortion_truth() {
    local opts="$1"
    {
        products "$opts" "$tone,-1" | awk -v f="$tone" '
            $4 == 0 && $3 == 1 { fund = $2 } $4 == 0 && $3 >= 2 && $3 <= 10 { h[$3] = $2 }
            END { for (k = 2; k <= 10; k++) { if (k in h && k * f <= 20000) { d = h[k] - fund; s += 10^(d / 10); printf "%.4f ", d } else printf "null " }
                  printf "%.4f ", (s > 0 ? 10 * log(s) / log(10) : -300) }'
        products "$opts" "$lo,-2.938200,$hi,-14.979400" | awk -v a="$lo" -v b="$hi" '
            function near(x, y) { return (x - y)^2 < 1e-6 }
            $3 == 0 && $4 == 1 { f2 = $2 }
            near($1, b - a) || near($1, b + a) || near($1, b - 2 * a) || near($1, b + 2 * a) { if ($4 != 0) s += 10^($2 / 10) }
            END { printf "%.4f ", (s > 0 ? 10 * log(s) / log(10) - f2 : -300) }'
        products "$opts" "$c1,-7.020600,$c2,-7.020600" | awk -v a="$c1" -v b="$c2" '
            function near(x, y) { return (x - y)^2 < 1e-6 }
            $3 == 1 && $4 == 0 { t += 10^($2 / 10) } $3 == 0 && $4 == 1 { t += 10^($2 / 10) }
            ($3 == -1 && $4 == 1) || ($3 == 1 && $4 == -1) || ($3 == 2 && $4 == -1) || ($3 == -2 && $4 == 1) { s += 10^($2 / 10) }
            END { printf "%.4f", (s > 0 ? 10 * log(s / t) / log(10) : -300) }'
    }
}

# Every truth of a path as one JSON object for jq's $t.
truth() {
    local opts="$1" noise d gain2 delay2
    read -r -a noise <<<"$(noise_truth "$opts")"
    read -r -a d <<<"$(distortion_truth "$opts")"
    gain=$(echo "$tone" | "$loopsim" --rate $rate $opts --print-response-at | awk '{ print $2 }')
    gain2=$(option gain2-db "$opts" 0) delay2=$(option delay2 "$opts" 0)
    cat <<JSON
{"noise": ${noise[0]}, "noise_a": ${noise[1]}, "harmonics": [${d[0]},${d[1]},${d[2]},${d[3]},${d[4]},${d[5]},${d[6]},${d[7]},${d[8]}],
 "thd": ${d[9]}, "smpte": ${d[10]}, "ccif": ${d[11]}, "gain": $gain,
 "match_gain": $gain2, "match_phase": $(awk -v f="$tone" -v d="$delay2" -v r=$rate 'BEGIN { p = -360 * f * d / r; print p - 360 * int(p / 360 - (p < 0 ? 0.5 : -0.5)) }')}
JSON
}

# The crosstalk's truth at the frequencies each pair of the run names (AES17's
# tone, then the all-driven pair's octave tones): loopsim's own, a JSON array
# of arrays in the pairs' order ([] without any).
crosstalk_truth() {
    local opts="$1" out="$2" line
    printf '['
    local first=1
    while read -r line; do
        [ -n "$line" ] || continue
        [ $first = 1 ] || printf ','
        first=0
        printf '[%s]' "$(tr , '\n' <<<"$line" | "$loopsim" --rate $rate --channels 2 $opts --print-crosstalk-at 2>/dev/null |
            awk '{ print $2 }' | paste -sd,)"
    done < <(jq -r '.quality.crosstalk // [] | .[] | ([.hz] + .octave_hz) | map(tostring) | join(",")' "$out" 2>/dev/null)
    printf ']'
}

# jq helpers: near within a tolerance; the first loop's figures; every harmonic
# loopsim makes within 0.1 dB, and those it does not make a bound (below its
# noise) or below -150 dB (the float32 floor); the noise unweighted and
# A-weighted within 0.3 dB; every crosstalk pair against $x within a
# tolerance at 1 kHz and each octave (AES17's and the all-driven ones), or,
# through two clocks, empty with its reason; the all-driven tones on odd bins
# 3 (mod 6) within 17.1 Hz of their octave centres.
defs='def near(x; y; t): x != null and y != null and ((x - y) | fabs) <= t;
def c: .quality.channels[0];
def tone(l): c.thd_n[] | select(.level_dbfs == l);
def harmonics_hold: [range(9) as $k | (tone(-1).harmonics_db[$k]) as $m | $t.harmonics[$k] as $h
    | if $h == null then $m == null or tone(-1).harmonics_floor[$k].bound or $m < -150 else near($m; $h; 0.1) end] | all;
def pairs_hold(t): (.quality.crosstalk | length) == ($x | length) and ([.quality.crosstalk, $x] | transpose
    | map(.[0] as $p | .[1] as $v | near($p.db_1khz; $v[0]; t) and ($p.floor_1khz.bound | not)
        and ([$p.by_octave_db, $v[1:]] | transpose | map(near(.[0]; .[1]; t)) | all)) | all);
def pairs_or_reasons(t): ([.quality.crosstalk, $x] | transpose
    | map(.[0] as $p | .[1] as $v | ($p.db_1khz == null and $p.reason != null) or near($p.db_1khz; $v[0]; t))
    | all) and ([.quality.crosstalk, $x] | transpose | map(.[0] as $p | .[1] as $v
        | [$p.by_octave_db, $v[1:]] | transpose | map(.[0] == null or near(.[0]; .[1]; t)) | all) | all);
def grid_holds: [.quality.crosstalk[] | select(.method == "all-driven") | .octave_hz | to_entries[]
    | (.value * 32768 / 48000) as $b | ($b | round) as $k
    | ($b - $k | fabs) < 1e-6 and $k % 6 == 3 and ((.value - [125, 250, 500, 1000, 2000, 4000, 8000, 16000][.key]) | fabs) <= 17.1]
    | all;
def method(m): [.quality.crosstalk[] | select(.method == m)];
def noise_holds: near(c.noise.dbfs; $t.noise; 0.3) and near(c.noise.dbfs_a; $t.noise_a; 0.3);
def error(m; t): if m == null or t == null or t < -290 then null else (m - t) * 1000 | round / 1000 end;
def errors: {h2: error(tone(-1).harmonics_db[0]; $t.harmonics[0]), h3: error(tone(-1).harmonics_db[1]; $t.harmonics[1]),
    thd: error(tone(-1).thd_db; $t.thd), smpte: error(c.imd.smpte_db; $t.smpte), ccif: error(c.imd.ccif_db; $t.ccif),
    noise: error(c.noise.dbfs; $t.noise), noise_a: error(c.noise.dbfs_a; $t.noise_a),
    thd_n_1: error(tone(-1).thd_n_db; if $t.noise > -290 then $t.noise + 1 else $t.thd end),
    crosstalk: error(.quality.crosstalk[0]?.db_1khz; $x[0]?[0]), gain: error(c.gain_db; $t.gain),
    match_gain: error(.quality.channel_match?.gain_db; $t.match_gain),
    match_phase: error(.quality.channel_match?.phase_deg; $t.match_phase)} | with_entries(select(.value != null));
def floor(f): if f == null or f.db == null then null else (f.db * 10 | round / 10) end;
def floors: {h2: floor(tone(-1).harmonics_floor[0]), thd: floor(tone(-1).thd_floor), thd_n_1: floor(tone(-1).thd_n_floor),
    smpte: floor(c.imd.smpte_floor), ccif: floor(c.imd.ccif_floor), d2: floor(c.imd.ccif_d2_floor),
    crosstalk: [.quality.crosstalk[]? | floor(.floor_1khz)]} | with_entries(select(.value != null and .value != []));'

#    name     | loopsim options                                  | loopcheck options                         | exit | check
cases=$(cat <<'CASES'
clean        |--delay 300                                       |--json --limits @WORK@/sof.json             |0|c.valid and (tone(-1).thd_n_db < -140) and (tone(-60).thd_n_db < -140) and c.noise.dbfs < -140 and near(c.gain_db; $t.gain; 0.02) and near(c.response.deviation_db[0]; 0; 0.02) and near(c.response.deviation_db[1]; 0; 0.02) and .quality.crosstalk == null and (.quality.crosstalk_reason | length > 0) and .quality.channel_match == null and (.limits | length) == 3 and (.limits | map(.pass) | all)
poly-80      |--delay 300 --poly 0.000224,0.0001                |--json --limits @WORK@/tight.json           |5|harmonics_hold and near(tone(-1).thd_db; $t.thd; 0.1) and near(tone(-1).thd_n_db; $t.thd; 0.3) and near(c.imd.smpte_db; $t.smpte; 0.1) and near(c.imd.ccif_db; $t.ccif; 0.1) and .status == "outside limits" and (.message | test("thd_n_db")) and ([.limits[] | select(.pass | not) | .figure] == ["thd_n_db"])
poly-110     |--delay 300 --poly 0.0000071,0.000003             |--json                                      |0|harmonics_hold and near(tone(-1).thd_db; $t.thd; 0.1) and near(tone(-1).thd_n_db; $t.thd; 0.3) and near(c.imd.smpte_db; $t.smpte; 0.1) and near(c.imd.ccif_db; $t.ccif; 0.1) and .limits == null
white-noise  |--delay 300 --noise -100                          |--json                                      |0|noise_holds and near(tone(-1).thd_n_db; $t.noise + 1; 0.3) and near(tone(-20).thd_n_db; $t.noise + 20; 0.3) and near(tone(-60).thd_n_db; $t.noise + 60; 0.3) and near(tone(-60).thd_n_a_db; $t.noise_a + 60; 0.3) and near(c.dynamic_range_db_a; -$t.noise_a; 0.3)
hum          |--delay 300 --hum 50,-80                          |--json                                      |0|noise_holds and (c.noise.dbfs - c.noise.dbfs_a > 10)
crosstalk    |--delay 300 --crosstalk -90,capacitive            |--json --out 1,2 --in 1,2                  |0|(.quality.crosstalk | length) == 4 and pairs_hold(0.02) and grid_holds and near(method("aes17")[0].db_1khz; method("all-driven")[0].db_1khz; 0.5) and near(.quality.channels[1].gain_db; $t.gain; 0.02) and .quality.channels[1].crosstalk_method == "aes17"
cubic        |--delay 300 --crosstalk -40,cubic                 |--json --out 1,2 --in 1,2                  |0|([method("aes17")[] | near(.db_1khz; $x[0][0] - 2; 0.1)] | all) and ([range(2) as $i | method("aes17")[$i].db_1khz - method("all-driven")[$i].db_1khz > 11] | all)
clocks-0.05  |--delay 300 --crosstalk -110 --ppm2 0.05          |--json --out 1,2 --in 1,2                  |0|pairs_or_reasons(1) and ([.quality.crosstalk[] | .db_1khz != null] | all)
clocks-0.3   |--delay 300 --crosstalk -110 --ppm2 0.3           |--json --out 1,2 --in 1,2                  |0|pairs_or_reasons(1) and ([.quality.crosstalk[] | .db_1khz != null] | all) and near(.quality.crosstalk[2].to_offset_ppm; -0.3; 0.01)
docs-loop    |--delay 300 --poly 0.000224,0.0001 --noise -110   |--json                                      |0|(tone(-60) | (.harmonics_floor | map(.bound) | all) and .thd_floor.bound and .thd_floor.noise_limited) and (tone(-1) | near(.harmonics_db[0]; -80.02; 0.1) and (.harmonics_floor[0].bound | not) and (.thd_floor.bound | not))
mismatch     |--delay 300 --gain2-db -0.5 --delay2 3            |--json --out 1,2 --in 1,2                  |0|near(.quality.channel_match.gain_db; $t.match_gain; 0.02) and near(.quality.channel_match.phase_deg; $t.match_phase; 0.05) and near(.loops[1].summary.mean_frames - .loops[0].summary.mean_frames; 3; 0.01) and .channels.output == [1,2]
clipped      |--delay 300 --gain 1.2                            |--json                                      |0|(tone(-1) | .valid == false and .clipped and .thd_n_db == null and (.thd_n_db_reason | test("clipped"))) and tone(-20).valid and near(c.gain_db; $t.gain; 0.02) and (c.valid | not)
no-loop      |--delay 300 --cable nobody                        |--json                                      |3|.status == "no loop" and .quality == null
CASES
)

# One case: loopsim and loopcheck --quality; sets verdict (ok or why not).
# JSON that breaks its schema fails the test at once: no load explains it.
run_case() {
    rig_loopsim_start "$@" || fail "$name: no loopsim"
    # shellcheck disable=SC2086
    timeout 90 "$loopcheck" --quality ${check_options//@WORK@/$work} </dev/null >"$work/out" 2>"$work/err"
    status=$?
    rig_stop $RIG_LOOPSIM_PID
    rig_json_check "$work/out" || fail "$name: the JSON breaks docs/loopcheck.schema.json"
    x=$(crosstalk_truth "$(sed 's/--cable [^ ]*//' <<<"$sim_options")" "$work/out" </dev/null)
    verdict=ok
    if [ "$status" != "$want" ]; then
        verdict="exit status $status, not $want"
    elif ! jq -e --argjson t "$t" --argjson x "$x" "$defs $check" "$work/out" >/dev/null 2>"$work/jq.err"; then
        verdict="the JSON fails: $check $(cat "$work/jq.err")"
    fi
}

# The cases in two lanes side by side, each on a JACK server of its own: the
# battery plays some 10 s of tones in real time whatever the machine, so two
# lanes halve the test's time (it holds two processors and the accuracy lock,
# which keeps the windowed programs' accuracy test from beside it). The two
# servers start one after the other, before the lanes: started at once, one
# lane's loopsim once found no server. A lane writes what it found into its
# folder; its lines are printed after it, in the cases' order within it.
lane() { # cases folder server log
    local lane_dir="$2"
    work="$lane_dir"
    export JACK_DEFAULT_SERVER="$3"
    RIG_JACK_LOG="$4"
    RIG_PIDS=() RIG_HOLD=""
    trap 'rig_release_builds; rig_stop "${RIG_PIDS[@]}"' EXIT
    while IFS='|' read -r name sim_options check_options want check; do
        name=${name// /}
        [ -n "$name" ] || continue
        # shellcheck disable=SC2086
        set -- $sim_options
        [[ " $* " == *" --cable "* ]] || set -- "$@" --cable loopcheck
        began=$SECONDS
        t=$(truth "$(sed 's/--cable [^ ]*//' <<<"$sim_options")" </dev/null)
        # A failure in a run whose loopsim the server skipped is run again, up to
        # three times: the path then drops a period that loopcheck cannot see, and
        # the noise and distortion figures rightly rise.
        for attempt in 1 2 3; do
            [ "$attempt" = 1 ] || rig_hold_builds 90  # the next attempt without the builds beside it
            before=$(rig_jack_skipped)
            run_case "$@"
            disturbed=$(($(rig_jack_skipped) - before))
            [ "$verdict" = ok ] || [ $disturbed = 0 ] && break
            echo "note $name: attempt $attempt failed, the server skipped $disturbed late cycles of loopsim: run again"
        done
        if [ "$verdict" = ok ]; then
            echo "ok   $name ($((SECONDS - began)) s): $(jq -r '"\(.quality.played_s * 100 | round / 100) s played, \(.quality.replayed | length) replayed"' "$work/out" 2>/dev/null)"
            # What the accuracy table in the documentation is made of: measured minus truth, dB (degrees for
            # phase); the figures' floors; each crosstalk pair and its truth.
            echo "     $(jq -c --argjson t "$t" --argjson x "$x" "$defs errors" "$work/out" 2>/dev/null)"
            echo "     floors $(jq -c --argjson t "$t" --argjson x "$x" "$defs floors" "$work/out" 2>/dev/null)"
            echo "     crosstalk $(jq -c '[.quality.crosstalk[]? | {method, from, to, db: (.db_1khz * 100 | round / 100),
                octaves: [.by_octave_db[] | values | . * 100 | round / 100]}]' "$work/out" 2>/dev/null) truth $x"
        elif [ $disturbed -gt 0 ]; then
            echo "SKIP $name: disturbed by the server in all three attempts ($verdict)"
            echo "$name" >>"$lane_dir/undecided"
        else
            echo "FAIL $name: $verdict; truth $t, crosstalk $x; loopcheck printed:"
            sed 's/^/    /' "$work/out" "$work/err"
            echo failed >>"$lane_dir/failed"
        fi
    done <<<"$1"
}
failed=0 undecided=""
lanes=("$work/lane0" "$work/lane1")
mkdir -p "${lanes[@]}"
cp "$work"/*.json "$work/lane0/" 2>/dev/null
cp "$work"/*.json "$work/lane1/" 2>/dev/null
servers=() logs=()
for k in 0 1; do
    rig_jack_start "loopcheck-quality-$$-$k" 1024 $rate || fail "no JACK server"
    servers+=("$JACK_DEFAULT_SERVER") logs+=("$RIG_JACK_LOG")
done
# Alternate cases to each lane: the table's neighbours are alike in length.
lane "$(awk 'NF && NR % 2 == 1' <<<"$cases")" "${lanes[0]}" "${servers[0]}" "${logs[0]}" >"${lanes[0]}.log" 2>&1 &
lane_pids=($!)
lane "$(awk 'NF && NR % 2 == 0' <<<"$cases")" "${lanes[1]}" "${servers[1]}" "${logs[1]}" >"${lanes[1]}.log" 2>&1 &
lane_pids+=($!)
for pid in "${lane_pids[@]}"; do wait "$pid" || failed=1; done
for dir in "${lanes[@]}"; do
    cat "$dir.log"
    [ -s "$dir/failed" ] && failed=1
    [ -s "$dir/undecided" ] && undecided+=" $(tr '\n' ' ' <"$dir/undecided")"
done
# The text run on the first lane's server.
export JACK_DEFAULT_SERVER="${servers[0]}"
RIG_JACK_LOG="${logs[0]}"
# In text, the battery says how long it plays before it starts, from the
# plan it then plays: the summary's "s played" is the same figure. A segment
# played again after a dropout (a busy machine's: the text warns of it) adds
# its length to what was played, so such a run is run again, with the builds
# held; when all three replayed, the test ends as skipped, naming it.
for attempt in 1 2 3; do
    [ "$attempt" = 1 ] || rig_hold_builds 40
    rig_loopsim_start --delay 300 --cable loopcheck || fail "no loopsim"
    timeout 90 "$loopcheck" --quality </dev/null >"$work/out" 2>"$work/err"
    rig_stop $RIG_LOOPSIM_PID
    grep -q '^warning: played again after a dropout: ' "$work/err" "$work/out" || break
    echo "text: attempt $attempt replayed a segment: $(grep -h '^warning: played again' "$work/err" "$work/out" | tr '\n' ';')"
done
announced=$(sed -n 's/^loopcheck: the quality battery: \([0-9.]*\) s of tones and sweeps on 1 loop at 48000 Hz$/\1/p' "$work/err")
played=$(sed -n 's/^quality battery: .* · \([0-9.]*\) s played$/\1/p' "$work/out")
if grep -q '^warning: played again after a dropout: ' "$work/err" "$work/out"; then
    echo "SKIP text: every attempt replayed a segment (announced $announced s, played $played s)"
    undecided+=" text"
elif [ -n "$announced" ] && [ "$announced" = "$played" ]; then
    echo "text: the battery announced $announced s before it played, and played $played s"
else
    fail "the battery announced \"$announced\" s and played \"$played\" s: $(cat "$work/err" "$work/out")"
fi
[ $failed = 0 ] || fail "some cases failed"
if [ -n "$undecided" ]; then
    echo "SKIP:$undecided: the server skipped loopsim in every attempt: the machine is too busy to judge them"
    exit 77
fi
echo "PASS"

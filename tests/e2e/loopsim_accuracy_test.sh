#!/usr/bin/env bash
# The programs measure realistic loops right: each case puts loopsim (the
# simulated interface) into the loop on a private JACK server (dummy backend,
# period 256) and checks the window against the path's true response, which
# loopsim prints from the same arithmetic it runs (checked against a direct DFT
# by the unit tests). Cases run four at a time through tools/loopcase.sh.
#
# Karvel (read-outs after 20 s): the position is the true delay plus the JACK
# round trip (256) plus PortAudio's one frame; the value is within 0.02 of the
# largest true tap: the filter's shortfall h e^(-t/tau) is at most 0.009 h at
# t >= 19 s, tau <= 4 s, the read-out rounds by 0.005, and noise 40 dB below
# moves a tap by about sqrt(mu / 2N) * 0.01 = 2e-5. jack_iodelay reads the same
# path within 0.05 frames of the round trip plus the true delay. Half a frame
# of delay makes two equal largest taps; which of the two the read-out shows
# depends on the noise left in their estimates, so either is right. A delay
# beyond the filter's 2000 taps leaves only that noise, about sqrt(mu / 2N) =
# 0.0017 per tap for a unity loop: the largest of 2000 reads 0.01 at most.
#
# Tessaly and Orbisca (no IIR tail left after 4 s, no noise): every column
# shows the row the true level draws. Float capture, FFT and mean move a level
# by about 1e-4 dB (0.01 row on Tessaly), so only columns next to a bin whose
# true row lies within 0.05 rows of a rounding boundary may differ. The labels
# hide the same pixels in both, and bins far down the anti-aliasing edge or at
# DC lie outside the window in both. A JACK cycle skipped under load disturbs
# one captured period, so one of three refreshes must match.
#
# Morvane: its model's transform against the transform of the 2048 - 257 true
# taps it can hold. The in-process settling test bounds the mid-band wobble to
# 0.5 dB at 20 s and 0.1 dB at 45 s; over all visible columns (the worst of
# about a thousand, where the path's edges lower |H| by up to 2 dB) and with
# up to ten skipped JACK cycles (below) we allow twice that.
#
# A dropout (3 s of zeros from 7 s to 10 s after the loop closes): Karvel keeps
# the position, its value sags towards 0 with the filter's time constant and
# grows back after; Tessaly shows the silent period as a flat line on the 0 dB
# row, which is NOT the path's response, and the true rows again once a whole
# period after the dropout has been captured.
set -u
. "$SOURCE_DIR/tools/rig.sh"
work=$(mktemp -d)
trap 'rig_cleanup; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; failed=1; }
failed=0
check="$BUILD_DIR/tools/shot_check"

# A refused option, as a user types it (no server needed): status 2, one line
# that names it and the option meant, one that points to --help, no usage.
"$BUILD_DIR/tools/loopsim/loopsim" --dealy 300 >"$work/refused.out" 2>"$work/refused.err"
status=$?
refused=$(printf 'loopsim: unknown option --dealy: did you mean --delay?\nRun "loopsim --help" for the options.')
if [ $status != 2 ] || [ -s "$work/refused.out" ] || [ "$(cat "$work/refused.err")" != "$refused" ]; then
    fail "loopsim --dealy 300: status $status, standard error: $(cat "$work/refused.err")"
fi
if ! "$BUILD_DIR/tools/loopsim/loopsim" --help >"$work/help.out" 2>&1 || ! grep -q -- "^  --delay N " "$work/help.out"; then
    fail "loopsim --help: $(head -3 "$work/help.out")"
fi
eq_path="--delay 300 --aa 22000 --highpass 3 --peak 1000,2,0.5 --gain 0.7"

#   name        program  seconds    loopsim options
# The longest first (Morvane's 45.5 s), so that the other nine, about 150 s
# of runs, share the three slots beside it: the whole in about 50 s, not 80.
cases="
eq-model      morvane  5,20,20.5,45,45.5 $eq_path
aa-gain       karvel   12,20,20.5    --delay 300 --aa 20000 --gain 0.5
inverted      karvel   12,20,20.5    --delay 300 --invert
noise         karvel   12,20,20.5    --delay 300 --noise -58.75
half-frame    karvel   12,20,20.5    --delay 300 --fraction 0.5
beyond        karvel   12,20,20.5    --delay 2500
eq-peak       tessaly  4,5,6      $eq_path
shelf         orbisca  4,5,6      --delay 40 --aa 20000 --highpass 5 --low-shelf 300,0.7071,-10 --gain 1.5 --invert
dropout-k     karvel   6,9.5,16   --delay 300 --dropout 3000,10
dropout-t     tessaly  4,5,9,12,13 $eq_path --dropout 3000,10"

declare -A case_line
case_names=()
while read -r name line; do
    [ -n "$name" ] || continue
    case_line[$name]=$line
    case_names+=("$name")
done <<<"$cases"

# Runs the named cases of the table through tools/loopcase.sh, four at a time;
# ends the test when one of them failed.
run_cases() {
    local name program seconds options extra running=0
    for name in "$@"; do
        read -r program seconds options <<<"${case_line[$name]}"
        extra=""
        [ "$program" = karvel ] && [ "${name#dropout}" = "$name" ] && extra=--iodelay
        rm -rf "${work:?}/$name"
        # shellcheck disable=SC2086
        timeout 150 env BUILD_DIR="$BUILD_DIR" "$SOURCE_DIR/tools/loopcase.sh" "$program" "$work/$name" "$seconds" \
            $extra -- $options >"$work/$name.log" 2>&1 &
        running=$((running + 1))
        [ $running -ge 4 ] && { wait -n; running=$((running - 1)); }
    done
    wait
    for name in "$@"; do
        [ -s "$work/$name.log" ] && fail "$(cat "$work/$name.log")"
    done
    [ $failed = 0 ] || exit 1
}

# The JACK cycles that case NAME's loop skipped between the shots at FROM and TO s.
skipped() { awk -v a="$2" -v b="$3" '$1 == a { s = $2 } $1 == b { print $2 - s }' "$work/$1/skipped.txt"; }

# A skipped cycle feeds a filter a period that does not belong to its
# stimulus, and the filter remembers it for a few time constants. The readings
# that it disturbs (Karvel's value after 20 s, Morvane's settling) count when
# their loop skipped at most ten cycles before them; a case that skipped more
# is run once more, all of them at once.
calm_windows="aa-gain 12 20
inverted 12 20
noise 12 20
half-frame 12 20
eq-model 5 45"
calm() { [ "$(skipped "$1" "$2" "$3")" -le 10 ]; }

run_cases "${case_names[@]}"
again=()
while read -r name from to; do
    calm "$name" "$from" "$to" && continue
    echo "$name: the loop skipped $(skipped "$name" "$from" "$to") cycles; once more"
    again+=("$name")
done <<<"$calm_windows"
[ ${#again[@]} = 0 ] || run_cases "${again[@]}"

text() { "$check" text "$work/$1/shot-$2.ppm" 2 "$3" 26 | sed 's/ *$//'; }
pixel() { convert "$work/$1/shot-$2.ppm" -format "%[pixel:p{$3,$4}]" info:; }

# The largest true tap: "index value"; two equal largest taps give two lines.
largest_taps() {
    awk '{ m = $2 < 0 ? -$2 : $2; if (m > best + 1e-12) { best = m; n = 0 } if (m > best - 1e-12) line[n++] = $0 }
         END { for (i = 0; i < n; i++) print line[i] }' "$work/$1/truth-ir.txt"
}

karvel_case() {
    local name="$1" first value taps want_val got_pos got_val iodelay centre
    taps=$(largest_taps "$name")
    first=$(head -1 <<<"$taps" | cut -d' ' -f1)
    value=$(head -1 <<<"$taps" | cut -d' ' -f2)
    got_pos=$(text "$name" 20 177)
    got_val=$(text "$name" 20 167 | sed 's/.*: //')
    iodelay=$(awk '{ print $1 }' "$work/$name/iodelay.txt")
    centre=$(awk '{ s += $1 } END { print s / NR }' <<<"$taps")
    awk -v r="$iodelay" -v c="$centre" 'BEGIN { exit !(r - 256 - c < 0.05 && c + 256 - r < 0.05) }' ||
        fail "$name: jack_iodelay reads $iodelay frames, the path's delay is 256 + $centre"
    if [ "$first" -gt 1999 ]; then
        # Beyond the filter's reach: nothing but the taps' own noise, 0.01 at most.
        case "$got_val" in 0.00 | 0.01) ;; *) fail "$name: a peak of $got_val where none can be" ;; esac
        echo "$name: true delay $first frames, karvel $got_val ($got_pos), jack_iodelay $iodelay"
        return
    fi
    local ok=0 index
    for index in $(cut -d' ' -f1 <<<"$taps"); do
        local pos=$((index + 257))
        [ "$got_pos" = "peak pos    : $pos ($(awk -v d=$pos 'BEGIN { printf "%.1f", d / 48 }')ms)" ] && ok=1
    done
    [ $ok = 1 ] || fail "$name: \"$got_pos\", true largest tap(s) at $(cut -d' ' -f1 <<<"$taps" | tr '\n' ' ')+ 257"
    # About 0.15 % of the tap per cycle skipped in the last 8 s (2.3 time
    # constants) comes on top of the 0.02 above: up to ten skips, 0.015. (The
    # bound holds a read-out exactly on it, which a difference of decimals
    # misses by its last bit.)
    local skips
    skips=$(skipped "$name" 12 20)
    if ! calm "$name" 12 20; then
        echo "$name: peak value NOT CHECKED: the loop skipped $skips cycles in the second run too"
    else
        awk -v g="$got_val" -v v="$value" -v s="$skips" \
            'BEGIN { v = v < 0 ? -v : v; d = g - v; d = d < 0 ? -d : d; exit !(d <= 0.02 + 0.0015 * s + 1e-9) }' ||
            fail "$name: peak value $got_val, the largest true tap is $value ($skips cycles skipped from 12 to 20 s)"
    fi
    # The trace peaks in the column of the read-out: 85 rows above the zero line, or below when inverted.
    pos=$(sed 's/peak pos    : \([0-9]*\).*/\1/' <<<"$got_pos")
    local row=15
    awk -v v="$value" 'BEGIN { exit !(v < 0) }' && row=185
    # Karvel draws its read-outs 30 ms before the trace, so one screenshot in
    # thirty or so falls between them; the next refresh has the trace.
    [ "$(pixel "$name" 20 "$pos" $row)" = "srgb(85,255,85)" ] || [ "$(pixel "$name" 20.5 "$pos" $row)" = "srgb(85,255,85)" ] ||
        fail "$name: no trace peak at column $pos row $row"
    echo "$name: true largest tap $value at $first, karvel \"$got_val\" \"$got_pos\", jack_iodelay $iodelay"
}

for name in aa-gain inverted noise half-frame beyond; do karvel_case $name; done

# Succeeds when one of the refreshes at the given seconds shows every true row;
# the comparison's verdict in $result.
shows_truth() {
    local name="$1" program="$2" t
    shift 2
    for t in "$@"; do
        result="at $t s: $("$check" trace "$program" "$work/$name/shot-$t.ppm" "$work/$name/truth-response.txt" exact)" &&
            return 0
    done
    return 1
}

shows_truth eq-peak tessaly 4 5 6 || fail "eq-peak: no refresh of tessaly shows the true rows: $result"
echo "eq-peak (tessaly $result)"
shows_truth shelf orbisca 4 5 6 || fail "shelf: no refresh of orbisca shows the true rows: $result"
echo "shelf (orbisca $result)"

# Morvane's model remembers a skipped JACK cycle for tens of seconds: each skip
# feeds it 256 frames that do not belong to its stimulus: 256 steps of
# mu / sqrt(N) each (mu = 0.004, N = 2048) in random directions, a kick of
# about 16 mu / sqrt(N) = 0.15 % of its taps. Skips during the start-up (the
# first 5 s) are forgotten to e^-1.5 by 20 s; ten after it add about 0.5 %,
# 0.05 dB, up to twice that at the worst column. A run with more is run once more;
# when that one skips as much, the settling is reported as not checked rather
# than passed (on a busy machine 200 skips cost 0.1 to 0.3 dB at 45 s).
if calm eq-model 5 45; then
    # Two screenshots half a second apart, in case one catches a refresh half drawn.
    for limit in 20:1.0 45:0.2; do
        t=${limit%:*}
        result=$("$check" trace tessaly "$work/eq-model/shot-$t.ppm" "$work/eq-model/truth-model.txt" within "${limit#*:}") ||
            result=$("$check" trace tessaly "$work/eq-model/shot-$t.5.ppm" "$work/eq-model/truth-model.txt" within "${limit#*:}") ||
            fail "eq-model (morvane): at $t s not within ${limit#*:} dB: $result"
        echo "eq-model (morvane at ${limit%:*} s, $(skipped eq-model 5 45) cycles skipped after 5 s): $result"
    done
else
    echo "eq-model: NOT CHECKED: the loop skipped $(skipped eq-model 5 45) cycles in the second run too"
fi

# Dropout, Karvel: same position before, during and after; the value sags and recovers.
value_at() { text dropout-k "$1" 167 | sed 's/.*: //'; }
for t in 6 9.5 16; do
    [ "$(text dropout-k $t 177)" = "peak pos    : 557 (11.6ms)" ] || fail "dropout-k: at $t s \"$(text dropout-k $t 177)\""
done
before=$(value_at 6) during=$(value_at 9.5) after=$(value_at 16)
awk -v b="$before" -v d="$during" -v a="$after" 'BEGIN { exit !(d < b - 0.1 && a > d + 0.1) }' ||
    fail "dropout-k: peak value $before, $during in the dropout, $after after it"
echo "dropout-k: peak value $before before the dropout, $during in it, $after after it; position held"

# Dropout, Tessaly: the truth before; silence draws the flat 0 dB line, not the
# truth; the truth again after.
shows_truth dropout-t tessaly 4 5 || fail "dropout-t: no true rows before the dropout: $result"
shows_truth dropout-t tessaly 9 && fail "dropout-t: the refresh in the dropout shows the true rows"
rig_row_is_green "$work/dropout-t/shot-9.ppm" 0 990 100 ||
    fail "dropout-t: the refresh in the dropout is not the flat line of silence"
shows_truth dropout-t tessaly 12 13 || fail "dropout-t: no true rows 2 to 3 s after the dropout: $result"
echo "dropout-t: the true rows before the dropout, the flat line of silence in it, the true rows after it"

[ $failed = 0 ] || exit 1
echo "PASS"

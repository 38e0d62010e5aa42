#!/usr/bin/env bash
# The Debian package and the man pages: the package CPack makes of this build,
# unpacked into a scratch root (dpkg-deb -x), holds every program with its man
# page; its dependencies were computed from the binaries; each man page renders
# at 80 columns without a warning, with its sections and the project's version;
# the unpacked karvel measures the rig's JACK loop (257 frames at period 256:
# the server's 256 and PortAudio's one) and the unpacked man opens its page.
# What a lab needs is in it: every relative link and anchor of the installed
# README and docs resolves inside the installed tree (tools/doc_links.py run
# on it, which finds a doc taken out of a copy); the recipes; the unpacked
# loopsim, measured by the unpacked loopcheck (the truth: the server's round
# trip, jack_iodelay's, plus loopsim's 300), and the JSON that loopcheck
# writes passes the schema's checker run from the installed tree, with the
# installed schema, which refuses the same JSON with a key too many.
set -u
. "$SOURCE_DIR/tools/rig.sh"
rig_test_begin

(cd "$BUILD_DIR" && timeout 240 cpack -G DEB -B "$work/package" >"$work/cpack.out" 2>&1) ||
    fail "cpack: $(tail -3 "$work/cpack.out")"
deb=$(ls "$work"/package/loopcable_*_amd64.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no loopcable_<version>_amd64.deb"
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "loopcable_${version}_amd64.deb" ] || fail "package file name $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libportaudio2 libsdl2-2.0-0 libopenblas0 libjack libasound2 libstdc++6; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
for file in README.md LICENSE copyright changelog.gz; do
    [ -f "$root/usr/share/doc/loopcable/$file" ] || fail "no /usr/share/doc/loopcable/$file"
done
for file in doc/loopcable/docs/loopcheck.md doc/loopcable/docs/loopcheck.schema.json loopcable/loopcheck.schema.json \
    doc/loopcable/docs/recipes/README.md doc/loopcable/docs/recipes/gitlab-ci.yml doc/loopcable/docs/recipes/lava-loopcheck.yaml \
    doc/loopcable/docs/recipes/test_loopcheck.py doc/loopcable/docs/recipes/benchmark.yml; do
    [ -f "$root/usr/share/$file" ] || fail "no /usr/share/$file"
done
[ -x "$root/usr/share/loopcable/json_check.py" ] || fail "no executable /usr/share/loopcable/json_check.py"
[[ $depends == *python3* ]] || fail "Depends lacks python3 (the schema's checker): $depends"
docs="$root/usr/share/doc/loopcable"
links=$(timeout 60 python3 "$SOURCE_DIR/tools/doc_links.py" "$docs" 2>&1) ||
    fail "the installed README's and docs' links: $(head -5 <<<"$links")"
# The check sees a broken link: a copy of the tree without docs/loopsim.md, which the README links to.
cp -a "$docs" "$work/docs-copy" && rm "$work/docs-copy/docs/loopsim.md"
timeout 60 python3 "$SOURCE_DIR/tools/doc_links.py" "$work/docs-copy" 2>&1 | grep -q "README.md:.*docs/loopsim.md" ||
    fail "tools/doc_links.py does not find README.md's link to a missing docs/loopsim.md"

programs=$(ls "$root/usr/bin")
[ -n "$programs" ] || fail "no programs in /usr/bin"
for program in $programs karvel tessaly orbisca morvane dravik; do
    page="$root/usr/share/man/man1/$program.1.gz"
    [ -f "$page" ] || fail "$program has no man page"
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $program warns: $warnings"
    text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES "SEE ALSO"; do
        grep -qx "$section" <<<"$text" || fail "man $program has no $section"
    done
    grep -q "loopcable $version" <<<"$text" || fail "man $program does not show version $version"
done
[ -x "$root/usr/bin/loopcheck" ] && { [ "$("$root/usr/bin/loopcheck" --version)" = "loopcheck $version" ] ||
    fail "loopcheck --version is not \"loopcheck $version\""; }

# The unpacked man finds the page by name in the unpacked tree.
MANPATH="$root/usr/share/man" MANWIDTH=80 man karvel 2>/dev/null | grep -q "karvel - round-trip latency" ||
    fail "man karvel from the package's tree"

rig_xvfb_start || fail "no X server"
rig_jack_start "e2e-package-$$" 256 || fail "no JACK server"
reads_257() { rig_text_shows "$work/shot.png" 1001 201 "@2,177,14=peak pos    : 257 (5.4ms)"; }
rig_measure_until "$root/usr/bin/karvel" cable 40 "$work/shot.png" reads_257 -b256
reads_257 ||
    fail "the unpacked karvel does not read \"peak pos    : 257 (5.4ms)\""

# The bench's self-test from the package alone: its loopsim measured by its loopcheck, the JSON checked by its checker.
rig_jack_start "e2e-package-sim-$$" 256 48000 || fail "no JACK server for loopsim"
"$root/usr/bin/loopsim" --delay 0 >"$work/loopsim0.out" 2>&1 &
loopsim=$!
rig_wait_port loopsim:in 10 || fail "the unpacked loopsim has no ports: $(cat "$work/loopsim0.out")"
round_trip=$(rig_iodelay_frames loopsim:in loopsim:out)
rig_stop $loopsim
[ -n "$round_trip" ] || fail "jack_iodelay read nothing"
"$root/usr/bin/loopsim" --delay 300 --cable loopcheck >"$work/loopsim.out" 2>&1 &
loopsim=$!
rig_wait_port loopsim:in 10 || fail "the unpacked loopsim has no ports: $(cat "$work/loopsim.out")"
timeout 60 "$root/usr/bin/loopcheck" --json >"$work/result.json" 2>"$work/result.err"
status=$?
rig_stop $loopsim
latency=$(jq '.summary.mean_frames' "$work/result.json")
[ "$status" = 0 ] || fail "the unpacked loopcheck on the unpacked loopsim: exit status $status, $(cat "$work/result.err")"
awk -v v="$latency" -v t="$((round_trip + 300))" 'BEGIN { exit !((v - t)^2 <= 0.25) }' ||
    fail "the unpacked loopcheck reads $latency frames, the truth $((round_trip + 300)) (the server's $round_trip and loopsim's 300)"
checker="$root/usr/share/loopcable/json_check.py"
timeout 60 "$checker" "$work/result.json" >"$work/check.out" 2>&1 ||
    fail "the installed checker refuses the unpacked loopcheck's JSON: $(head -3 "$work/check.out")"
jq -c '. + {"unknown_key": 1}' "$work/result.json" >"$work/extra.json"
timeout 60 "$checker" "$work/extra.json" >"$work/extra.out" 2>&1
[ $? = 1 ] && grep -q unknown_key "$work/extra.out" ||
    fail "the installed checker does not refuse a key too many: $(head -3 "$work/extra.out")"
echo "PASS: $(basename "$deb"), $(wc -w <<<"$programs") programs, their man pages; the docs' links; loopsim read $latency frames (truth $((round_trip + 300))), its JSON checked from the package"

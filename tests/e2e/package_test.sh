#!/usr/bin/env bash
# The Debian package and the man pages: the package CPack makes of this build,
# unpacked into a scratch root (dpkg-deb -x), holds every program with its man
# page; its dependencies were computed from the binaries; each man page renders
# at 80 columns without a warning, with its sections and the project's version;
# the unpacked karvel measures the rig's JACK loop (257 frames at period 256:
# the server's 256 and PortAudio's one) and the unpacked man opens its page.
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
echo "PASS: $(basename "$deb"), $(wc -w <<<"$programs") programs, their man pages"

#!/usr/bin/env bash
# Installs the Debian packages of the lists named (default: build, test and
# package, everything tools/test.sh needs); only those missing, so a second run
# does nothing. Needs root, or sudo without a password (it never prompts).
#
#   tools/setup.sh [build] [demo] [headless] [test] [package] [font]
#   tools/setup.sh --check    every command the scripts call, and every Python
#                             module they import, from a package of these lists
#                             (tools/setup_check.py); installs nothing
#
# PipeWire's ALSA plugin (pipewire-alsa), part of the test list, is not
# installed but unpacked into build/pipewire-alsa: installed, its files in
# /etc/alsa/conf.d would make PipeWire the default ALSA device of every program
# on the machine. The test rig points a private ~/.asoundrc at the unpacked copy.
set -eu
cd "$(dirname "$0")/.."
. tools/packaged.sh

# The programs and their man pages (`cmake -S . -B build && cmake --build build`);
# ccache, so that a second build of the same sources compiles nothing again.
build=(build-essential cmake pkg-config scdoc ccache git
       libsdl2-dev portaudio19-dev libopenblas-dev libasound2-dev libjack-jackd2-dev
       libcli11-dev nlohmann-json3-dev libeigen3-dev libsndfile1-dev)
# What tools/demo.sh runs: JACK's tools (jack_lsp, jack_connect) and its dummy server.
demo=(jackd2 procps)
# The demo without a display: a private X server, its keys, the screenshot.
headless=(xvfb xdotool imagemagick)
# The unit tests, the benches and the end-to-end rig: Xvfb and private JACK
# servers and PipeWire sessions, the Windows build and Wine with ALSA's jack
# plugin for its programs' sound (Ninja builds its libraries: see
# tools/windows_build.sh), man for the man pages, headless Chromium for the
# report pages (tools/browser_check.py), cyclictest for tools/soak.sh's
# wake-up probe; clang-format for tools/format.sh --check; python3-jsonschema
# for tools/json_check.py, which holds loopcheck's JSON to its schema;
# libxml2-utils for xmllint, which holds loopcheck's --junit to junit-10.xsd;
# wine64-tools and libwine-dev for WineASIO, the JACK-backed ASIO driver the
# Windows programs' ASIO tests run on (tools/wineasio_build.sh); python3 for
# the scripts in Python, python3-numpy for the independent check of the twin
# tone's d2 and d3; shfmt, with which tools/setup.sh --check reads the
# scripts' commands.
test=(googletest libgtest-dev libbenchmark-dev jq clang-format python3 python3-jsonschema python3-numpy shfmt
      libxml2-utils python3-yaml python3-pytest
      jackd2 xvfb xdotool imagemagick procps
      g++-mingw-w64-x86-64 ninja-build wine64 libasound2-plugins wine64-tools libwine-dev
      pipewire pipewire-bin wireplumber pipewire-jack dbus-daemon
      man-db chromium rt-tests)
# tools/package.sh and its end-to-end test: dpkg-shlibdeps, dpkg-buildflags, lintian.
package=(dpkg-dev lintian)
# tools/make_font.py, which regenerates display/font_cp437.inc from its fonts.
font=(console-setup-linux)

check=no
[ "${1:-}" = --check ] && { check=yes; shift; }
lists=("$@")
[ ${#lists[@]} -gt 0 ] || lists=(build test package)
[ $check = yes ] && [ $# = 0 ] && lists=(build demo headless test package)
packages=()
pipewire_alsa=no
for list in "${lists[@]}"; do
    case "$list" in
        build|demo|headless|test|package|font) ;;
        *) echo "setup: no package list $list (build demo headless test package font)" >&2; exit 2 ;;
    esac
    declare -n chosen="$list"
    packages+=("${chosen[@]}")
    [ "$list" = test ] && pipewire_alsa=yes
done

if [ $check = yes ]; then
    command -v python3 >/dev/null && command -v shfmt >/dev/null ||
        { echo "setup: --check needs python3 and shfmt: run tools/setup.sh first" >&2; exit 1; }
    exec python3 tools/setup_check.py "$PWD" $(printf '%s\n' "${packages[@]}" | sort -u)
fi

plugin_dir=build/pipewire-alsa
missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The unpacked plugin must be of the installed PipeWire's version (it records
# it): after an upgrade of PipeWire it is unpacked anew.
plugin_missing=no
if [ $pipewire_alsa = yes ]; then
    installed=$(dpkg-query -W -f='${Version}' libpipewire-0.3-0 2>/dev/null || true)
    [ -n "$(find "$plugin_dir" -name libasound_module_pcm_pipewire.so 2>/dev/null)" ] &&
        [ -n "$installed" ] && [ "$(cat "$plugin_dir/version" 2>/dev/null)" = "$installed" ] || plugin_missing=yes
fi
[ ${#missing[@]} -eq 0 ] && [ $plugin_missing = no ] && exit 0

# Root, or sudo without a password: never a prompt, which would hang a CI run.
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! sudo -n true 2>/dev/null; then
        echo "setup: installing needs root: run tools/setup.sh as root, or allow sudo without a password" \
             "(sudo -n refused)${missing[*]:+; missing: ${missing[*]}}" >&2
        exit 1
    fi
    sudo=(sudo -n)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ $plugin_missing = yes ]; then
    # The archive keeps only its newest PipeWire: the plugin is the archive's
    # candidate, and PipeWire's installed packages are first brought up to that
    # same candidate (installing an installed package upgrades it), so that the
    # plugin and the library it loads match.
    candidate=$(apt-cache policy pipewire-alsa | sed -n 's/^ *Candidate: //p')
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
        echo "setup: the archive offers no pipewire-alsa (apt-cache policy pipewire-alsa)" >&2
        exit 1
    fi
    upgrade=()
    for p in libpipewire-0.3-0 libpipewire-0.3-modules libspa-0.2-modules pipewire pipewire-bin pipewire-jack; do
        version=$(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || true)
        [ -n "$version" ] && [ "$version" != "$candidate" ] && upgrade+=("$p")
    done
    if [ ${#upgrade[@]} -gt 0 ]; then
        echo "setup: bringing ${upgrade[*]} up to the archive's $candidate"
        "${sudo[@]}" apt-get install -y -q --no-install-recommends "${upgrade[@]}"
    fi
    installed=$(dpkg-query -W -f='${Version}' libpipewire-0.3-0)
    if [ "$installed" != "$candidate" ]; then
        echo "setup: libpipewire-0.3-0 is $installed, the archive's pipewire-alsa $candidate: they must match" >&2
        exit 1
    fi
    echo "setup: unpacking pipewire-alsa $candidate into $plugin_dir"
    download=$(mktemp -d)
    chmod 0777 "$download"  # apt's download user writes there
    (cd "$download" && apt-get download -q pipewire-alsa >/dev/null)
    rm -rf "$plugin_dir"
    mkdir -p "$plugin_dir"
    dpkg-deb -x "$download"/pipewire-alsa_*.deb "$plugin_dir"
    dpkg-deb -f "$download"/pipewire-alsa_*.deb Version >"$plugin_dir/version"
    rm -rf "$download"
fi

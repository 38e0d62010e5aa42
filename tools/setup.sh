#!/usr/bin/env bash
# Installs the Debian packages of the lists named (default: build, test and
# package, everything tools/test.sh needs); only those missing, so a second run
# does nothing. Needs root (or sudo).
#
#   tools/setup.sh [build] [demo] [headless] [test] [package] [font]
#
# PipeWire's ALSA plugin (pipewire-alsa), part of the test list, is not
# installed but unpacked into build/pipewire-alsa: installed, its files in
# /etc/alsa/conf.d would make PipeWire the default ALSA device of every program
# on the machine. The test rig points a private ~/.asoundrc at the unpacked copy.
set -eu
cd "$(dirname "$0")/.."

# The programs and their man pages (`cmake -S . -B build && cmake --build build`).
build=(build-essential cmake pkg-config scdoc
       libsdl2-dev portaudio19-dev libopenblas-dev libasound2-dev libjack-jackd2-dev
       libcli11-dev nlohmann-json3-dev libeigen3-dev libsndfile1-dev)
# What tools/demo.sh runs: JACK's tools (jack_lsp, jack_connect) and its dummy server.
demo=(jackd2 procps)
# The demo without a display: a private X server, its keys, the screenshot.
headless=(xvfb xdotool imagemagick)
# The unit tests, the benches and the end-to-end rig: Xvfb and private JACK
# servers and PipeWire sessions, the Windows build and Wine with ALSA's jack
# plugin for its programs' sound, man for the man pages, headless Chromium for
# the report pages (tools/browser_check.py).
test=(googletest libgtest-dev libbenchmark-dev jq
      jackd2 xvfb xdotool imagemagick procps
      g++-mingw-w64-x86-64 wine64 libasound2-plugins
      pipewire pipewire-bin wireplumber pipewire-jack dbus-daemon
      man-db chromium)
# tools/package.sh and its end-to-end test: dpkg-shlibdeps, dpkg-buildflags, lintian.
package=(dpkg-dev lintian)
# tools/make_font.py, which regenerates display/font_cp437.inc from its fonts.
font=(console-setup-linux)

lists=("$@")
[ ${#lists[@]} -gt 0 ] || lists=(build test package)
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

plugin_dir=build/pipewire-alsa
missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
plugin_missing=no
if [ $pipewire_alsa = yes ]; then
    [ -n "$(find "$plugin_dir" -name libasound_module_pcm_pipewire.so 2>/dev/null)" ] || plugin_missing=yes
fi
[ ${#missing[@]} -eq 0 ] && [ $plugin_missing = no ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ $plugin_missing = yes ]; then
    # The plugin of the same version as the installed PipeWire library.
    version=$(dpkg-query -W -f='${Version}' libpipewire-0.3-0)
    echo "setup: unpacking pipewire-alsa $version into $plugin_dir"
    download=$(mktemp -d)
    chmod 0777 "$download"  # apt's download user writes there
    (cd "$download" && apt-get download -q "pipewire-alsa=$version" >/dev/null)
    rm -rf "$plugin_dir"
    mkdir -p "$plugin_dir"
    dpkg-deb -x "$download"/pipewire-alsa_*.deb "$plugin_dir"
    rm -rf "$download"
fi

#!/usr/bin/env bash
# Installs the Debian packages the suite needs to build, test and run; only
# those missing, so a second run does nothing. Needs root (or sudo).
#
# PipeWire's ALSA plugin (pipewire-alsa) is not installed but unpacked into
# build/pipewire-alsa: installed, its files in /etc/alsa/conf.d would make
# PipeWire the default ALSA device of every program on the machine. The test
# rig points a private ~/.asoundrc at the unpacked copy instead.
set -eu
cd "$(dirname "$0")/.."
packages=(build-essential cmake pkg-config
          libsdl2-dev portaudio19-dev libopenblas-dev libasound2-dev libjack-jackd2-dev
          googletest libgtest-dev libbenchmark-dev
          jackd2 xvfb xdotool imagemagick console-setup-linux procps
          g++-mingw-w64-x86-64 wine64 libasound2-plugins
          pipewire pipewire-bin wireplumber pipewire-jack dbus-daemon)
plugin_dir=build/pipewire-alsa
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
plugin_missing=no
[ -n "$(find "$plugin_dir" -name libasound_module_pcm_pipewire.so 2>/dev/null)" ] || plugin_missing=yes
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

#!/usr/bin/env bash
# Installs the Debian packages the suite needs to build, test and run; only
# those missing, so a second run does nothing. Needs root (or sudo).
set -eu
packages=(build-essential cmake pkg-config
          libsdl2-dev portaudio19-dev libopenblas-dev libasound2-dev libjack-jackd2-dev
          googletest libgtest-dev libbenchmark-dev
          jackd2 xvfb xdotool imagemagick console-setup-linux procps
          g++-mingw-w64-x86-64)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

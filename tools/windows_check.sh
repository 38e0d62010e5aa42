#!/usr/bin/env bash
# Compiles, for Windows with Debian's mingw-w64, syntax only, the translation
# units that PortAudio's ASIO extension changes (those that name
# PORTAUDIO_HAS_ASIO or pa_asio.h), with ASIO included: the linked build of
# tools/windows_build.sh has it only with Steinberg's SDK. Every other unit is
# compiled, warnings as errors under tools/test.sh, by that build itself. Keeps
# the Windows side, ASIO's code paths included, from rotting unseen.
#
#   tools/windows_check.sh        (after tools/setup.sh)
set -eu
cd "$(dirname "$0")/.."
compiler=x86_64-w64-mingw32-g++-posix  # the POSIX thread model has std::thread
asio_header=../shared/third_party/portaudio/pa_asio.h
if [ ! -f "$asio_header" ]; then
    # CI has the third-party folder: there its absence is a failure, not a skip.
    if [ -n "${CI:-}" ]; then
        echo "windows check: FAILED: no $asio_header beside the repository (CI must provide ../shared/third_party)" >&2
        exit 1
    fi
    echo "windows check: no $asio_header beside the repository; skipped"
    exit 0
fi

# The libraries' headers in a folder of their own, so that no Linux system
# header comes along: PortAudio's and ASIO's, OpenBLAS's CBLAS, and SDL2's with
# a configuration for Windows in place of Debian's Linux one.
headers=$(mktemp -d)
trap 'rm -rf "$headers"' EXIT
# PortAudio's headers from its release tarball (the Windows host APIs' own
# headers among them), ASIO's from beside it.
tar -xzf ../shared/third_party/portaudio-19.7.0.tar.gz -C "$headers" --strip-components=2 --wildcards 'portaudio*/include/*.h'
cp "$asio_header" "$headers/"
cp /usr/include/x86_64-linux-gnu/cblas.h "$headers/"
sed 's/^#define OPENBLAS_OS_LINUX .*/#define OPENBLAS_OS_WINNT 1/' \
    /usr/include/x86_64-linux-gnu/openblas_config.h >"$headers/openblas_config.h"
mkdir "$headers/SDL2"
cp /usr/include/SDL2/*.h "$headers/SDL2/"
cat >"$headers/SDL2/SDL_config.h" <<'CONFIG'
#ifndef SDL_config_h_
#define SDL_config_h_
#include "SDL_platform.h"
#define HAVE_LIBC 1
#define HAVE_STDARG_H 1
#define HAVE_STDDEF_H 1
#define HAVE_STDINT_H 1
#define HAVE_STDIO_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define HAVE_MATH_H 1
#define HAVE_FLOAT_H 1
#define SDL_VIDEO_DRIVER_WINDOWS 1
#endif
CONFIG
# The header-only libraries (CLI11, nlohmann-json, Eigen) as symlinks, so that
# /usr/include itself stays off the include path.
for name in CLI nlohmann eigen3; do
    [ -e /usr/include/$name ] && ln -s /usr/include/$name "$headers/$name"
done

# The project's version, as CMake's project() gives it to the programs.
version=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
shopt -s nullglob  # loopcheck/ may not exist yet
folders=(charset display dsp frame latency rtresponse response bufsizes analysis writers loopcheck loopcheck/*/)
all_headers=() all_units=()
for folder in "${folders[@]}"; do
    all_headers+=("$folder"/*.hpp)
    all_units+=("$folder"/*.cpp)
done
asio_pattern='PORTAUDIO_HAS_ASIO|pa_asio\.h'
# A header that names it reaches every unit that includes it: then all of them.
if grep -qE "$asio_pattern" "${all_headers[@]}" /dev/null; then
    candidates=("${all_units[@]}")
else
    mapfile -t candidates < <(grep -lE "$asio_pattern" "${all_units[@]}" /dev/null)
fi
sources=()
for source in "${candidates[@]}"; do
    case "$source" in *_posix.cpp) continue ;; esac
    sources+=("$source")
done
[ ${#sources[@]} -gt 0 ] || { echo "windows check: no translation unit names PORTAUDIO_HAS_ASIO"; exit 1; }
# Two compilers at a time (JOBS to change it): the machines are shared.
check_one() {
    "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -ffp-contract=off -DSDL_MAIN_HANDLED -DPORTAUDIO_HAS_ASIO=1 -DLOOPCABLE_VERSION=\"$version\" \
        -I. -I"$headers" -I"$headers/SDL2" -I"$headers/eigen3" "$1" || { echo "windows check: $1 does not compile"; return 1; }
}
export -f check_one
export compiler version headers
if printf '%s\0' "${sources[@]}" | xargs -0 -n1 -P "${JOBS:-2}" bash -c 'check_one "$1"' check_one; then
    echo "windows check: the ${#sources[@]} translation unit(s) with ASIO's code paths compile for Windows: ${sources[*]}"
else
    exit 1
fi

#!/usr/bin/env bash
# Builds the programs for 64-bit Windows with Debian's mingw-w64: first
# PortAudio, SDL2 and OpenBLAS from their release tarballs (static libraries),
# then every program as a static .exe in build-windows/ (or WINDOWS_BUILD_DIR).
#
#   tools/windows_build.sh                    (after tools/setup.sh) with ASIO when the
#                                             SDK's host files are in THIRD_PARTY/asiosdk
#   tools/windows_build.sh --asio SDK_FOLDER  with ASIO, the SDK's host files there
#   tools/windows_build.sh --no-asio          PortAudio without ASIO
#   tools/windows_build.sh --libraries        the three libraries only
#   tools/windows_build.sh --sdl2-checks      SDL2's configure in full, its
#                                             answers written to tools/sdl2_mingw_checks.cmake
#
# The tarballs are read from ../shared/third_party (THIRD_PARTY to change it).
# WINDOWS_WERROR=ON (tools/test.sh sets it) makes the programs' warnings
# errors: another mingw-w64 may warn where Debian's does not, so not by default.
# Each library is built once into a cache outside the work tree,
# ${XDG_CACHE_HOME:-~/.cache}/loopcable-windows/NAME-SHA256-COMPILER/, keyed by
# its tarball's checksum and the compiler (and for PortAudio the checksum of
# the ASIO SDK's files), so a later run builds only the programs.
#
# ASIO: PortAudio's ASIO host API compiles the host side of Steinberg's ASIO
# SDK. With its files found (or named by --asio), the build has ASIO, and the
# programs choose it first. Since SDK 2.3.4 the SDK is licensed under
# Steinberg's licence or the GPL version 3: a build with it is, as a whole, a
# GPLv3 work (docs/windows.md). --no-asio builds without it, as a build does
# where the SDK's files are missing.
set -eu
cd "$(dirname "$0")/.."
source_dir=$PWD
third_party=${THIRD_PARTY:-$source_dir/../shared/third_party}
asio_sdk=""
[ -f "$third_party/asiosdk/common/asio.h" ] && asio_sdk=$(cd "$third_party/asiosdk" && pwd)
libraries_only=no
sdl2_checks=read
while [ $# -gt 0 ]; do
    case "$1" in
    --asio) asio_sdk=$(cd "$2" && pwd); shift 2 ;;
    --no-asio) asio_sdk=""; shift ;;
    --libraries) libraries_only=yes; shift ;;
    --sdl2-checks) sdl2_checks=write; shift ;;
    *) echo "windows build: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ -n "$asio_sdk" ] && [ ! -f "$asio_sdk/common/asio.h" ]; then
    echo "windows build: $asio_sdk is not Steinberg's ASIO SDK (no common/asio.h)" >&2
    exit 2
fi
jobs=2  # the build machines are shared: never more
cc=x86_64-w64-mingw32-gcc-posix
command -v "$cc" >/dev/null || { echo "windows build: no $cc (tools/setup.sh installs it)" >&2; exit 1; }
command -v ninja >/dev/null || { echo "windows build: no ninja (tools/setup.sh installs it)" >&2; exit 1; }
# The compiler's identity: its version and the checksum of its binary, which
# changes with every Debian update of the package.
compiler=$("$cc" -dumpversion)-$(sha256sum "$(readlink -f "$(command -v "$cc")")" | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/loopcable-windows
mkdir -p "$cache"
toolchain=$source_dir/tools/mingw-w64.cmake
# -O2, as Debian builds and as build/ compiles the Linux programs, not CMake's
# Release default -O3: the code does what it did (neither reassociates floating
# point), and the libraries and programs compile in less time (SDL2 in 137
# processor seconds instead of 164).
release=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG")

# The cache folder of a tarball's build: NAME-SHA256-COMPILER-RECIPE[-EXTRA],
# RECIPE the checksum of its builder's text, so that a changed option builds
# the library again.
library_folder() { # tarball builder [extra key]
    local tarball=$third_party/$1
    [ -f "$tarball" ] || { echo "windows build: no $tarball" >&2; exit 1; }
    local sum recipe
    sum=$(sha256sum "$tarball" | cut -d' ' -f1)
    recipe=$({ declare -f "$2" "${2%_build}_configure" 2>/dev/null; declare -p release; } | sha256sum | cut -c1-8)
    echo "$cache/${1%.tar.gz}-$sum-$compiler-$recipe${3:+-$3}"
}

# Builds one library into its cache folder unless it is there: unpacks the
# tarball into a scratch folder and runs the builder there, with the cache
# folder as its install prefix (the libraries' pkg-config files name it). The
# folder counts as built only once its "built" mark is there, so an interrupted
# build is simply built again. A lock keeps two builds of the same library from
# running at once.
library_build() { # tarball folder builder
    local tarball=$third_party/$1 folder=$2 builder=$3
    exec 9>"$folder.lock"
    flock 9
    if [ ! -f "$folder/built" ]; then
        echo "windows build: building $1 into $folder"
        local start=$SECONDS scratch
        scratch=$(mktemp -d "$cache/scratch.XXXXXX")
        tar -xzf "$tarball" -C "$scratch"
        rm -rf "$folder"
        (cd "$scratch"/*/ && "$builder" "$folder") >"$scratch/log" 2>&1 || {
            tail -n 40 "$scratch/log" >&2
            echo "windows build: $1 failed (log in $scratch/log)" >&2
            exit 1
        }
        touch "$folder/built"
        rm -rf "$scratch"
        echo "windows build: $1 built in $((SECONDS - start)) s"
    fi
    exec 9>&-
}

# The libraries build with Ninja: SDL2's configure runs some 370 checks, one
# small build each, in 56 s with Ninja instead of 83 s with Makefiles, and
# compiles in 124 processor seconds instead of 146.
portaudio_build() { # prefix
    local asio=(-DPA_USE_ASIO=OFF)
    [ -n "$asio_sdk" ] && asio=(-DPA_USE_ASIO=ON -DASIOSDK_ROOT_DIR="$asio_sdk")
    cmake -G Ninja -S . -B build -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${release[@]}" \
        -DCMAKE_INSTALL_PREFIX="$1" -DPA_BUILD_SHARED=OFF -DPA_BUILD_STATIC=ON \
        -DPA_LIBNAME_ADD_SUFFIX=OFF -DPA_USE_WMME=ON -DPA_USE_WASAPI=ON -DPA_USE_DS=ON \
        -DPA_USE_WDMKS=ON "${asio[@]}"
    cmake --build build -j"$jobs"
    cmake --install build
    # PortAudio's ASIO extension header, for the buffer-size query.
    cp include/pa_asio.h "$1/include/"
}

# The window, its events and its surface only: the programs draw into their
# own framebuffer (no renderer, no OpenGL or Direct3D) and play through
# PortAudio (no audio), with no joystick, haptic, sensor or power support.
# A third of the library, and a third of its build time.
sdl2_configure() { # prefix [-C checks file]
    local off=()
    for option in AUDIO RENDER JOYSTICK HAPTIC HIDAPI POWER SENSOR OPENGL OPENGLES VULKAN RENDER_D3D WASAPI DISKAUDIO DUMMYAUDIO; do
        off+=("-DSDL_$option=OFF")
    done
    cmake "${@:2}" -G Ninja -S . -B build -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${release[@]}" \
        -DCMAKE_INSTALL_PREFIX="$1" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF "${off[@]}"
}
sdl2_build() { # prefix
    local seed=()
    [ "$(sdl2_checks_key)" = "$(sed -n 's/^# key: //p' "$sdl2_checks_file")" ] && seed=(-C "$sdl2_checks_file")
    sdl2_configure "$1" "${seed[@]}"
    cmake --build build -j"$jobs"
    cmake --install build
}

# SDL2's configure asks some 370 questions of the compiler and its headers,
# each a small build of its own: 75 processor seconds, a minute on two cores
# beside the other builds, for answers that are the same every time.
# tools/sdl2_mingw_checks.cmake keeps them, keyed by the tarball, the
# compiler's version and the versions of Debian's mingw-w64 packages: where
# the key is this machine's, configure reads them (2 s) and the build is the
# same (SDL_config.h and the build files alike, checked when the file is
# written); elsewhere every check runs as before. --sdl2-checks configures in
# full and writes the file anew.
sdl2_checks_file=$source_dir/tools/sdl2_mingw_checks.cmake
sdl2_checks_key() {
    echo "$(sha256sum "$third_party/SDL2-2.26.5.tar.gz" | cut -c1-16) $("$cc" -dumpversion)" \
        $(dpkg-query -W -f '${Version} ' gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev 2>/dev/null)
}
sdl2_checks_write() {
    local scratch
    scratch=$(mktemp -d)
    tar -xzf "$third_party/SDL2-2.26.5.tar.gz" -C "$scratch"
    (
        cd "$scratch"/SDL2-*/ && sdl2_configure "$scratch/prefix" >"$scratch/full.log" 2>&1 || {
            tail -20 "$scratch/full.log" >&2
            exit 1
        }
        {
            echo "# SDL2's configure answers for the Windows build (tools/windows_build.sh --sdl2-checks writes"
            echo "# this file): the cache entries its checks left, read with cmake -C where the key is the machine's."
            echo "# key: $(sdl2_checks_key)"
            grep -E '^[A-Za-z0-9_]+:INTERNAL=' build/CMakeCache.txt | grep -v -E '^(CMAKE_|_|PKG_CONFIG|SDL_CMAKE|FIND_PACKAGE_MESSAGE)|-ADVANCED:' |
                sed -E 's/^([A-Za-z0-9_]+):INTERNAL=(.*)$/set(\1 "\2" CACHE INTERNAL "")/'
        } >"$scratch/checks.cmake"
        mv build full  # both configured in build/, so that their files name the same paths
        sdl2_configure "$scratch/prefix" -C "$scratch/checks.cmake" >"$scratch/seeded.log" 2>&1 &&
            diff -r full/include-config-release build/include-config-release >&2 &&
            diff <(grep -v -E '^(//|#|CMAKE_CACHEFILE_DIR|.*_BINARY_DIR)' full/CMakeCache.txt) \
                <(grep -v -E '^(//|#|CMAKE_CACHEFILE_DIR|.*_BINARY_DIR)' build/CMakeCache.txt) >&2 &&
            diff full/build.ninja build/build.ninja >&2 ||
            { echo "windows build: SDL2 configured from the answers differs from its full configure" >&2; exit 1; }
    ) || { rm -rf "$scratch"; exit 1; }
    mv "$scratch/checks.cmake" "$sdl2_checks_file"
    rm -rf "$scratch"
    echo "windows build: SDL2's configure answers in $sdl2_checks_file ($(grep -c '^set' "$sdl2_checks_file") entries)"
}

# Only what the suite calls: the CBLAS interface and the single-precision
# kernel of cblas_sdot, _saxpy, _sasum, _snrm2, _scopy, _sscal and _isamax (a
# program that calls another fails to link, naming it: add it to routines),
# and the runtime of driver/others (openblas_set_num_threads and the like).
# Each object is compiled by OpenBLAS's own command, as "make -n libs" prints
# it (whose prebuild also writes config.h), so the code is the full build's,
# bit for bit, in seconds instead of its 400 objects' ten minutes. No threads of its
# own (the callbacks' short vectors must not be handed to a pool), and one
# fixed kernel: PRESCOTT, the SSE3 kernel that every x86-64 Windows machine
# runs and the one the Linux callbacks' tests pin (OPENBLAS_CORETYPE=Prescott), so
# the callbacks compute the same bits on both systems. DYNAMIC_ARCH would pick
# a faster kernel per machine, at the price of results that differ by machine.
openblas_build() { # prefix
    local options=(CC="$cc" HOSTCC=gcc BINARY=64 TARGET=PRESCOTT BUILD_SINGLE=1 USE_THREAD=0
                   NOFORTRAN=1 ONLY_CBLAS=1 NO_LAPACK=1 NO_LAPACKE=1 NO_SHARED=1)
    local routines="sdot saxpy sasum snrm2 scopy sscal isamax" dir command library
    make -n "${options[@]}" libs >make-n.log || return 1
    # The commands whose CNAME is cblas_ROUTINE (interface/) or ROUTINE_k
    # (kernel/), and every one in driver/others.
    awk -v routines="$routines" '
        BEGIN { n = split(routines, r, " "); for (i = 1; i <= n; i++) { want["cblas_" r[i]] = 1; want[r[i] "_k"] = 1 } }
        /Entering directory/ { dir = $NF; gsub("\047", "", dir) }
        / -c / && dir ~ /\/driver\/others$/ { print dir "\t" $0; next }
        / -c / && match($0, / -DCNAME=[^ ]+ /) { name = substr($0, RSTART + 9, RLENGTH - 10); if (name in want) print dir "\t" $0 }' \
        make-n.log >picked
    [ "$(grep -vc '/driver/others' picked)" = $((2 * $(wc -w <<<"$routines"))) ] ||
        { echo "openblas: not two commands for each of $routines"; return 1; }
    while IFS=$'\t' read -r dir command; do (cd "$dir" && eval "$command") || return 1; done <picked
    library=$(grep -oE '\<libopenblas_[^ /]*\.a\>' make-n.log | head -1)
    x86_64-w64-mingw32-ar rcs "$library" interface/cblas_*.obj kernel/*_k.obj driver/others/*.obj
    # What "make libs" leaves for Makefile.install: the configuration and its guard.
    cp config.h config_last.h
    cp Makefile.conf Makefile.conf_last
    touch lib.grd
    make "${options[@]}" PREFIX="$1" -f Makefile.install install
}

if [ $sdl2_checks = write ]; then
    sdl2_checks_write
    exit 0
fi

asio_key=""
# What goes in: the SDK's files, whatever folder holds them.
[ -n "$asio_sdk" ] &&
    asio_key=asio$(cd "$asio_sdk" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum | cut -c1-8)
portaudio=$(library_folder portaudio-19.7.0.tar.gz portaudio_build "$asio_key")
sdl2=$(library_folder SDL2-2.26.5.tar.gz sdl2_build)
openblas=$(library_folder OpenBLAS-0.3.21.tar.gz openblas_build)
library_build portaudio-19.7.0.tar.gz "$portaudio" portaudio_build
library_build SDL2-2.26.5.tar.gz "$sdl2" sdl2_build
library_build OpenBLAS-0.3.21.tar.gz "$openblas" openblas_build
[ $libraries_only = yes ] && exit 0

# Header-only libraries from Debian, one symlink each in a folder of their own,
# so that /usr/include itself never joins the Windows include path.
headers=$cache/header-only
mkdir -p "$headers/include" "$headers/share"
for name in CLI nlohmann eigen3; do
    [ -e /usr/include/$name ] && ln -sfn /usr/include/$name "$headers/include/$name"
done
for name in cmake/CLI11 cmake/nlohmann_json eigen3/cmake; do
    [ -e /usr/share/$name ] || continue
    mkdir -p "$headers/share/$(dirname $name)"
    ln -sfn /usr/share/$name "$headers/share/$name"
done

build=${WINDOWS_BUILD_DIR:-build-windows}
# GCC 12's -Wrestrict misfires on libstdc++'s string concatenation at -O3
# (GCC bug 105651): a warning still, never an error.
werror_flags=()
[ "${WINDOWS_WERROR:-OFF}" = ON ] && werror_flags=(-DCMAKE_CXX_FLAGS=-Wno-error=restrict)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${release[@]}" \
    -DCMAKE_FIND_ROOT_PATH="$portaudio;$sdl2;$openblas;$headers" \
    -DPORTAUDIO_HAS_ASIO=$([ -n "$asio_sdk" ] && echo ON || echo OFF) \
    -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF \
    -DCMAKE_COMPILE_WARNING_AS_ERROR="${WINDOWS_WERROR:-OFF}" "${werror_flags[@]}" >/dev/null
cmake --build "$build" -j"$jobs"
echo "windows build: $(cd "$build" && find . -maxdepth 2 -name '*.exe' | sort | xargs -n1 basename | tr '\n' ' ')in $build/" \
    "($([ -n "$asio_sdk" ] && echo "with ASIO" || echo "without ASIO"))"

#!/usr/bin/env bash
# Builds the suite into build/ (programs, man pages, tests, benchmarks, tools).
# With "programs": the programs only (build/<folder>/<program>), as the demo needs.
# With "e2e": build/ without the unit tests (what the end-to-end tests, the
# package and the benchmarks need), for tools/test.sh, which runs the unit
# tests under the sanitizers only.
# With "sanitize": build/ as without, then the sanitizer builds; with
# "sanitizers": those alone. They are for the unit tests: build-asan/ (AddressSanitizer + UndefinedBehaviorSanitizer) with the
# unit tests and the frame's probe, build-tsan/ (ThreadSanitizer) with the
# threaded unit tests. Nothing else runs under them, so nothing else is built.
#
# JOBS sets the compile jobs (default: the processors). Configure's own output
# is left out when all went well, but its warnings (CMake's "CMake Warning"
# blocks, and a missing optional library's notes) are always shown.
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

# cmake -S . -B DIR OPTIONS...: its warnings and notes on standard error, the
# rest only when it fails.
configure() {
    local dir="$1" log
    shift
    mkdir -p "$dir"
    log="$dir/configure.log"
    if ! cmake -S . -B "$dir" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo "build: configuring $dir failed" >&2
        return 1
    fi
    # A warning block runs from its heading to the first line that is not
    # indented or empty; the notes are the status lines that say something is
    # not found or not built.
    awk '/^CMake (Deprecation )?Warning/ { block = 1 }
         block && /^[^ ]/ && !/^CMake (Deprecation )?Warning/ { block = 0 }
         block || /^-- .*(not found|not built)/ { print }' "$log" >&2
}

case "${1:-}" in
programs)
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j"$jobs" --target programs
    ;;
e2e)
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_UNIT_TESTS=OFF
    cmake --build build -j"$jobs"
    ;;
sanitize | sanitizers)
    if [ "$1" = sanitize ]; then
        configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_UNIT_TESTS=ON
        cmake --build build -j"$jobs"
    fi
    configure build-asan -DSANITIZE=address -DBUILD_BENCHMARKS=OFF
    cmake --build build-asan -j"$jobs" --target unit_tests
    configure build-tsan -DSANITIZE=thread -DBUILD_BENCHMARKS=OFF
    cmake --build build-tsan -j"$jobs" --target threads_tests
    ;;
"")
    configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_UNIT_TESTS=ON
    cmake --build build -j"$jobs"
    ;;
*) echo "build: unknown stage $1 (programs, e2e, sanitize, sanitizers, or nothing)" >&2; exit 2 ;;
esac

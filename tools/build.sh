#!/usr/bin/env bash
# Builds the suite into build/ (programs, man pages, tests, benchmarks, tools).
# With "programs": the programs only (build/<folder>/<program>), as the demo needs.
# With "sanitize": also build-asan/ (AddressSanitizer + UndefinedBehaviorSanitizer)
# and build-tsan/ (ThreadSanitizer) for the unit tests.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ "${1:-}" = "programs" ]; then
    cmake --build build -j"$jobs" --target programs
    exit 0
fi
cmake --build build -j"$jobs"
if [ "${1:-}" = "sanitize" ]; then
    cmake -S . -B build-asan -DSANITIZE=address -DBUILD_BENCHMARKS=OFF >/dev/null
    cmake --build build-asan -j"$jobs"
    cmake -S . -B build-tsan -DSANITIZE=thread -DBUILD_BENCHMARKS=OFF >/dev/null
    cmake --build build-tsan -j"$jobs" --target threads_tests
fi

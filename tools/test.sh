#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit tests and the
# end-to-end tests (real windows under Xvfb, private JACK servers and PipeWire
# sessions, the Windows programs under Wine) in the normal build, the unit
# tests again under ASan + UBSan, a compile of every translation unit for
# Windows, and the threaded unit tests under TSan.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh
tools/build.sh sanitize
status=0
echo "== the Windows programs, built with mingw-w64 (the libraries come from the cache after the first run)"
tools/windows_build.sh || status=1
echo "== unit tests"
(cd build && ctest --output-on-failure -L unit -j2) || status=1
echo "== end-to-end tests: the programs in real windows on private JACK servers and PipeWire sessions, and under Wine, one at a time"
(cd build && ctest --output-on-failure -L e2e) || status=1
echo "== unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -L unit -j2) || status=1
echo "== every translation unit compiled for Windows (mingw-w64, syntax only)"
tools/windows_check.sh || status=1
echo "== threaded unit tests under ThreadSanitizer"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 \
    ctest --output-on-failure -L unit-threads -j2) || status=1
exit $status

#!/usr/bin/env bash
# The sources in the house style (.clang-format, with the clang-format that
# tools/setup.sh installs): with --check, lists every file that differs and
# fails; without, formats them in place.
#
#   tools/format.sh [--check]
set -eu
cd "$(dirname "$0")/.."
mode=fix
[ "${1:-}" = --check ] && mode=check
command -v clang-format >/dev/null || { echo "format: clang-format is not installed (tools/setup.sh test)" >&2; exit 1; }
# The project's own C and C++ sources; what third_party holds keeps its own style.
mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp' '*.hpp' | grep -v '^third_party/')
[ ${#files[@]} -gt 0 ] || { echo "format: no sources found (not a git checkout?)" >&2; exit 1; }
if [ $mode = fix ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
# One clang-format for all of them (a process a file took half a minute):
# each file that differs is named in its diagnostics.
result=0
said=$(clang-format --dry-run --Werror "${files[@]}" 2>&1 >/dev/null) || result=$?
mapfile -t differ < <(sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' <<<"$said" | sort -u)
if [ $result != 0 ] && [ ${#differ[@]} = 0 ]; then
    echo "format: clang-format failed: $said" >&2
    exit 1
fi
if [ ${#differ[@]} -gt 0 ]; then
    printf 'format: %s differs from .clang-format (tools/format.sh formats it)\n' "${differ[@]}" >&2
    exit 1
fi
echo "format: ${#files[@]} files in the house style ($(clang-format --version | grep -o 'version [0-9.]*'))"

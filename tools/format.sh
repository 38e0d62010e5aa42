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
differ=()
for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ ${#differ[@]} -gt 0 ]; then
    printf 'format: %s differs from .clang-format (tools/format.sh formats it)\n' "${differ[@]}" >&2
    exit 1
fi
echo "format: ${#files[@]} files in the house style ($(clang-format --version | grep -o 'version [0-9.]*'))"

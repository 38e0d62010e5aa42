#!/usr/bin/env bash
# Builds WineASIO, the ASIO driver for Wine that plays and records through
# JACK, from ../shared/third_party (its tarball and the fix for its exit
# crash), for the Windows programs' ASIO tests. No root, nothing written to
# the system's Wine folders: the driver is built into a cache outside the
# work tree and registered in each test's own Wine prefix (tools/rig.sh,
# rig_wine_asio_start).
#
#   tools/wineasio_build.sh      prints the folder holding wineasio64.dll and wineasio64.dll.so
#
# The cache folder, ${XDG_CACHE_HOME:-~/.cache}/loopcable-windows/wineasio-SUM-PATCH-RECIPE,
# is keyed by the tarball's and the patch's checksums and this script's
# recipe, so a second run only prints it (a build takes about 5 s).
# Needs wine64-tools (winegcc) and libwine-dev (tools/setup.sh test).
set -eu
cd "$(dirname "$0")/.."
. tools/packaged.sh
third_party=${THIRD_PARTY:-$PWD/../shared/third_party}
tarball=$third_party/wineasio-1.3.0.tar.gz
patch=$third_party/wineasio-exit.patch
for file in "$tarball" "$patch"; do
    [ -f "$file" ] || { echo "wineasio build: no $file" >&2; exit 1; }
done
# Debian 12's wine64-tools keeps winegcc, winebuild and the rest in
# /usr/lib/wine, off PATH: WineASIO's Makefile calls them by name, so their
# folder goes first on its PATH.
winegcc=$(packaged_command wine64-tools winegcc) || { echo "wineasio build: no winegcc" >&2; exit 1; }
export PATH="${winegcc%/*}:$PATH"
[ -d /usr/include/wine/wine/windows ] ||
    { echo "wineasio build: no Wine headers (tools/setup.sh installs libwine-dev)" >&2; exit 1; }

recipe() { # the build's commands: a change to them builds again
    patch -p1 <"$patch" >/dev/null
    make 64 CFLAGS="-I/usr/include/wine/wine/windows" >build.log 2>&1 || { tail -20 build.log >&2; return 1; }
}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/loopcable-windows
key=$(sha256sum "$tarball" | cut -c1-12)-$(sha256sum "$patch" | cut -c1-8)-$(declare -f recipe | sha256sum | cut -c1-8)
folder=$cache/wineasio-$key
if [ ! -f "$folder/wineasio64.dll.so" ]; then
    mkdir -p "$cache"
    scratch=$(mktemp -d "$cache/.wineasio-XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    tar -xzf "$tarball" -C "$scratch"
    (cd "$scratch"/wineasio-* && recipe) || { echo "wineasio build: failed" >&2; exit 1; }
    mkdir -p "$scratch/out"
    cp "$scratch"/wineasio-*/build64/wineasio64.dll "$scratch"/wineasio-*/build64/wineasio64.dll.so "$scratch/out/"
    # Another build may have finished meanwhile: either is the same.
    mv -T "$scratch/out" "$folder" 2>/dev/null || true
fi
echo "$folder"

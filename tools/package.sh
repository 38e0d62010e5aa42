#!/usr/bin/env bash
# Builds the Debian package out/loopcable_<version>_amd64.deb and checks it
# with lintian (which fails on an error).
#
# CPack's DEB generator packs what `cmake --install` installs, so the package
# and the install rules cannot drift apart, and there is no debian/ folder to
# keep in step with CMake; CPACK_DEBIAN_PACKAGE_SHLIBDEPS has dpkg-shlibdeps
# compute the dependencies from the binaries. The build, in build-package/, is
# the normal one with Debian's hardening flags (dpkg-buildflags) and without
# the tests and benches; CPack strips the programs.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh build package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
# CMake reads CFLAGS, CXXFLAGS and LDFLAGS, not CPPFLAGS.
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
rm -rf build-package
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-package -j2
(cd build-package && cpack -G DEB >/dev/null)
mkdir -p out
package=$(basename build-package/loopcable_*_amd64.deb)
mv "build-package/$package" "out/$package"
echo "package: out/$package"
dpkg-deb -f "out/$package" Depends
lintian --fail-on error "out/$package"

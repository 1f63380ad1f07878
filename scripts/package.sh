#!/usr/bin/env bash
# Builds the Debian package of Kestrin VNA: installs what building needs, makes a Release
# build of the programs (no tests) in build-package/ (or $KESTRIN_PACKAGE_DIR) with Debian's
# hardening flags, and packs it with CPack. Progress goes to standard error; the only line on
# standard output, and so the last, is the path of the .deb relative to the current folder,
# for "sudo apt install ./<path>".
set -euo pipefail
caller="$PWD"
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${KESTRIN_PACKAGE_DIR:-$here/build-package}"
# Files made during the build get the permissions a package needs, whatever the caller's umask.
umask 022

"$here/scripts/install-deps.sh" build >&2

# The flags Debian builds its packages with: fortified functions, stack protector,
# read-only relocations; paths inside the binaries relative to the source folder.
cd "$here"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRIN_BUILD_TESTS=OFF -DKESTRIN_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >&2
cmake --build "$build" -j2 >&2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >&2)
debs=("$build"/*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: CPack made no .deb" >&2; exit 1; }
realpath --relative-to="$caller" "${debs[0]}"

#!/usr/bin/env bash
# Builds the Windows program (Release, against Qt for Windows from scripts/build-qt-windows.sh,
# which it builds first when it is not there) and packs it with CPack:
#   a zip that runs from any folder: kestrin-vna.exe, kestrin-vna-sweep.exe (Qt and the
#     compiler's libraries are linked in, so no DLL or plugin is needed beside them), the
#     licence and a short read-me;
#   an NSIS installer: a Start menu entry "Kestrin VNA", an uninstaller, the GPL licence
#     page, the version and publisher in the list of installed programs; /S installs silently.
# Prints the installer's path as its last line.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
# Its own build folder: the one of scripts/test-windows.sh builds only what is below the window.
build="${KESTRIN_WINDOWS_PROGRAM_DIR:-$here/build-windows-program}"
prefix="${KESTRIN_QT_WINDOWS_PREFIX:-/opt/kestrin-qt6-mingw64}"

"$here/scripts/install-deps.sh" windows >&2
KESTRIN_QT_WINDOWS_PREFIX="$prefix" "$here/scripts/build-qt-windows.sh" >&2

mkdir -p "$build"
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
  -DKESTRIN_QT_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_BUILD_WINDOW=ON \
  -DKESTRIN_WERROR=ON >"$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j2 --target kestrin-vna kestrin-vna-sweep >&2
rm -f "$build"/kestrin-vna-*-win64.zip "$build"/kestrin-vna-*-win64.exe
(cd "$build" && cpack -G "ZIP;NSIS" >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }

zip="$(ls "$build"/kestrin-vna-*-win64.zip)"
installer="$(ls "$build"/kestrin-vna-*-win64.exe)"
# The zip holds one folder with the programs, the licence and the read-me.
unzip -Z1 "$zip" >&2
echo "zip: $zip ($(du -h "$zip" | cut -f1)); installer ($(du -h "$installer" | cut -f1)):" >&2
echo "$installer"

#!/usr/bin/env bash
# Packs the Windows program with CPack, from the very build that scripts/test-windows.sh
# tests under Wine (build-windows/, RelWithDebInfo; the packed copies are stripped of their
# debugging information). Builds it first with scripts/test-windows.sh --build-only (Qt for
# Windows too, when it is not there); where the tests have run on it, nothing is rebuilt.
#   a zip that runs from any folder: kestrin-vna.exe, kestrin-vna-sweep.exe (Qt and the
#     compiler's libraries are linked in, so no DLL or plugin is needed beside them), the
#     licence and a short read-me; no test program;
#   an NSIS installer: a Start menu entry "Kestrin VNA", an uninstaller, the GPL licence
#     page, the version and publisher in the list of installed programs, setup files
#     (.kvsetup) opened with the program; /S installs silently;
#   SHA256SUMS beside them, for a user to check a download (sha256sum -c SHA256SUMS).
# Prints the installer's path as its last line.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${KESTRIN_WINDOWS_BUILD_DIR:-$here/build-windows}"

KESTRIN_WINDOWS_BUILD_DIR="$build" "$here/scripts/test-windows.sh" --build-only >&2
rm -f "$build"/kestrin-vna-*-win64.zip "$build"/kestrin-vna-*-win64.exe "$build/SHA256SUMS"
(cd "$build" && cpack -G "ZIP;NSIS" >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }

zip="$(ls "$build"/kestrin-vna-*-win64.zip)"
installer="$(ls "$build"/kestrin-vna-*-win64.exe)"
# The zip holds one folder with the programs, the licence and the read-me, and nothing else.
contents="$(unzip -Z1 "$zip" | sed 's|^[^/]*/||' | grep -v '^$' | sort | tr '\n' ' ')"
[ "$contents" = "LICENSE.txt README.txt kestrin-vna-sweep.exe kestrin-vna.exe " ] || {
  echo "package-windows.sh: the zip holds $contents" >&2; exit 1; }
(cd "$build" && sha256sum "$(basename "$zip")" "$(basename "$installer")" >SHA256SUMS)
echo "zip: $zip ($(du -h "$zip" | cut -f1)): $contents" >&2
echo "installer: $(du -h "$installer" | cut -f1); checksums: $build/SHA256SUMS" >&2
echo "$installer"

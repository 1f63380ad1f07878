#!/usr/bin/env bash
# Cross-builds everything below the window for Windows (mingw-w64) and runs its tests under
# Wine, in a throwaway Wine prefix that needs no display: the serial tests on COM ports that
# are Linux pseudo-terminals joined by null-modem cables (kestrin-com-cable), the worker
# against the Linux build of the simulated analyser (kestrin-vna-sim), the port list on the
# registry key SERIALCOMM. Installs what is missing: mingw-w64, wine64, and GoogleTest built
# for mingw from Debian's googletest sources.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
linux_build="${KESTRIN_BUILD_DIR:-$here/build}"
windows_build="${KESTRIN_WINDOWS_BUILD_DIR:-$here/build-windows}"
mingw_prefix=/usr/local/x86_64-w64-mingw32
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
started=$(date +%s)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

# What the Linux side needs (Qt for its build folder, GoogleTest's sources, ...).
"$here/scripts/install-deps.sh" test
packages=(g++-mingw-w64-x86-64-posix wine64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# GoogleTest for mingw, built once from Debian's sources.
if [ ! -f "$mingw_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "Building GoogleTest for mingw-w64 into $mingw_prefix"
  gtest_build="$(mktemp -d)"
  cmake -S /usr/src/googletest -B "$gtest_build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$mingw_prefix" >/dev/null
  cmake --build "$gtest_build" -j2 >/dev/null
  $sudo_cmd cmake --install "$gtest_build" >/dev/null
  rm -rf "$gtest_build"
fi

# The Linux programs on the other end of the COM ports.
cmake -S "$here" -B "$linux_build" -DKESTRIN_BUILD_TESTS=ON >/dev/null
cmake --build "$linux_build" -j2 --target kestrin-vna-sim kestrin-com-cable >/dev/null

# Everything below the window, with its tests, for Windows.
cmake -S "$here" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_BUILD_WINDOW=OFF -DKESTRIN_BUILD_TESTS=ON -DKESTRIN_WERROR=ON >/dev/null
cmake --build "$windows_build" -j2 >/dev/null
built=$(date +%s)

# A throwaway prefix: no display, no prompts for Gecko or Mono, no Wine messages.
WINEPREFIX="$(mktemp -d /tmp/kestrin-wine.XXXXXX)"
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
logs="$WINEPREFIX/logs"
mkdir -p "$logs"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  timeout 20 "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# One server for the whole run: the registry key HARDWARE is volatile and lives only as
# long as the server does. Wine's own services inherit the log, not this script's output.
"$wineserver" -p >"$logs/wineserver.log" 2>&1
timeout 120 "$wine" wineboot -i >"$logs/wineboot.log" 2>&1

# COM100..COM147: 24 null-modem cables (near end, far end); COM99: the simulated analyser.
cables=24
"$linux_build/tests/support/kestrin-com-cable" "$WINEPREFIX/dosdevices" 100 $cables >"$logs/cables.log" 2>&1 &
pids+=($!)
"$linux_build/sim/kestrin-vna-sim" --fast --link "$WINEPREFIX/dosdevices/com99" >"$logs/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  grep -q ready "$logs/cables.log" 2>/dev/null && [ -L "$WINEPREFIX/dosdevices/com99" ] && break
  sleep 0.1
done
grep -q ready "$logs/cables.log" || { cat "$logs/cables.log"; echo "the null-modem cables are not there" >&2; exit 1; }
[ -L "$WINEPREFIX/dosdevices/com99" ] || { cat "$logs/sim.log"; echo "the simulated analyser is not there" >&2; exit 1; }

# The ports as Windows lists them: the simulated analyser as an FTDI (VCP) port.
{
  echo 'Windows Registry Editor Version 5.00'
  echo
  echo '[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]'
  echo '"\\Device\\VCP0"="COM99"'
  for i in $(seq 0 $((cables - 1))); do echo "\"\\\\Device\\\\Serial$((100 + i))\"=\"COM$((100 + 2 * i))\""; done
} >"$WINEPREFIX/ports.reg"
timeout 60 "$wine" reg import "$(printf 'Z:%s' "$WINEPREFIX/ports.reg" | tr / '\\')" >"$logs/reg.log" 2>&1

KESTRIN_COM_CABLES=""
for i in $(seq 0 $((cables - 1))); do
  KESTRIN_COM_CABLES="$KESTRIN_COM_CABLES${KESTRIN_COM_CABLES:+,}$((100 + 2 * i)):$((101 + 2 * i))"
done
export KESTRIN_COM_CABLES KESTRIN_SIM_COM=99

# One test program at a time: they take the cables in turn. ctest runs each under Wine,
# once: a failure fails the run.
cd "$windows_build"
status=0
timeout 900 ctest --output-on-failure --timeout 300 || status=$?
if [ $status -ne 0 ]; then
  echo "== the helpers' logs (each cable cut, with its cause; the simulated analyser)"
  cat "$logs/cables.log" "$logs/sim.log"
fi
echo "scripts/test-windows.sh: $(($(date +%s) - started)) s in all, $(($(date +%s) - built)) s under Wine"
exit $status

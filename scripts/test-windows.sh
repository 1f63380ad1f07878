#!/usr/bin/env bash
# Cross-builds the whole program with its tests for Windows (mingw-w64, against Qt for
# Windows from scripts/build-qt-windows.sh, which it builds first when it is not there) and
# runs the tests under Wine, in a throwaway Wine prefix that needs no display: the serial
# tests on COM ports that are Linux pseudo-terminals joined by null-modem cables
# (kestrin-com-cable), the worker against the Linux build of the simulated analyser
# (kestrin-vna-sim), the port list on a registry key of its own, the window's tests on Qt's
# offscreen platform; then kestrin-vna-sweep.exe against the simulated analyser on a COM
# port, whose CSV must be the Linux build's to the byte, also from a setup and into a file
# in a folder named in German and Cyrillic letters, written and written over; and each
# .exe's manifest. Installs what is missing (install-deps.sh test and windows), and
# GoogleTest built for mingw from Debian's googletest sources. The Wine prefix is
# scripts/wine-prefix.sh's. scripts/package-windows.sh packs the programs of this build.
# Linux only, so not built here: the simulated analyser's own tests (it serves a
# pseudo-terminal) and the sweep tool's (a child process run with POSIX signals and
# terminals).
# --build-only: installs and builds all that, runs nothing.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build_only=0
case "${1:-}" in
  "") ;;
  --build-only) build_only=1 ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac
linux_build="${KESTRIN_BUILD_DIR:-$here/build}"
windows_build="${KESTRIN_WINDOWS_BUILD_DIR:-$here/build-windows}"
mingw_prefix=/usr/local/x86_64-w64-mingw32
qt_prefix="${KESTRIN_QT_WINDOWS_PREFIX:-/opt/kestrin-qt6-mingw64}"
started=$(date +%s)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

# What the Linux side needs (Qt for its build folder, GoogleTest's sources, ...), and what
# the Windows side needs (mingw-w64, Wine, ...).
"$here/scripts/install-deps.sh" test
"$here/scripts/install-deps.sh" windows

# Qt for Windows, built once per machine.
KESTRIN_QT_WINDOWS_PREFIX="$qt_prefix" "$here/scripts/build-qt-windows.sh"

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

# The Linux programs on the other end of the COM ports, and the Linux sweep tool.
cmake -S "$here" -B "$linux_build" -DKESTRIN_BUILD_TESTS=ON >/dev/null
cmake --build "$linux_build" -j2 --target kestrin-vna-sim kestrin-com-cable kestrin-vna-sweep >/dev/null

# The whole program, with its tests, for Windows.
cmake -S "$here" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
  -DKESTRIN_QT_WINDOWS_PREFIX="$qt_prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_BUILD_WINDOW=ON \
  -DKESTRIN_BUILD_TESTS=ON -DKESTRIN_WERROR=ON >/dev/null
cmake --build "$windows_build" -j2 >/dev/null
built=$(date +%s)
if [ $build_only -eq 1 ]; then
  echo "scripts/test-windows.sh: built in $((built - started)) s"
  exit 0
fi

# A throwaway prefix (scripts/wine-prefix.sh) with no display: one server for the whole
# run, as the registry key HARDWARE is volatile and lives only as long as the server does.
unset DISPLAY WAYLAND_DISPLAY
# shellcheck source=scripts/wine-prefix.sh
source "$here/scripts/wine-prefix.sh"
trap kestrin_wine_cleanup EXIT
kestrin_wine_start
logs="$kestrin_wine_logs"
# Wine's desktop process, up for the whole run: started by a window test, it would keep that
# test's output open, and ctest waiting, until it ends on its own.
"$wine" "$windows_build/tests/support/kestrin-wine-desktop.exe" >"$logs/desktop.log" 2>&1 &
kestrin_wine_pids+=($!)
for _ in $(seq 600); do grep -q ready "$logs/desktop.log" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$logs/desktop.log" || { cat "$logs/desktop.log"; echo "Wine's desktop did not start" >&2; exit 1; }

# COM100..COM147: 24 null-modem cables (near end, far end); COM99: the simulated analyser.
cables=24
"$linux_build/tests/support/kestrin-com-cable" "$WINEPREFIX/dosdevices" 100 $cables >"$logs/cables.log" 2>&1 &
kestrin_wine_pids+=($!)
"$linux_build/sim/kestrin-vna-sim" --fast --link "$WINEPREFIX/dosdevices/com99" >"$logs/sim.log" 2>&1 &
kestrin_wine_pids+=($!)
for _ in $(seq 100); do
  grep -q ready "$logs/cables.log" 2>/dev/null && [ -L "$WINEPREFIX/dosdevices/com99" ] && break
  sleep 0.1
done
grep -q ready "$logs/cables.log" || { cat "$logs/cables.log"; echo "the null-modem cables are not there" >&2; exit 1; }
[ -L "$WINEPREFIX/dosdevices/com99" ] || { cat "$logs/sim.log"; echo "the simulated analyser is not there" >&2; exit 1; }

# The ports as Windows lists them: the simulated analyser as an FTDI (VCP) port.
{
  echo '[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]'
  echo '"\\Device\\VCP0"="COM99"'
  for i in $(seq 0 $((cables - 1))); do echo "\"\\\\Device\\\\Serial$((100 + i))\"=\"COM$((100 + 2 * i))\""; done
} | kestrin_wine_reg ports

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

# The sweep tool as a Windows user runs it, on the COM port named as Windows names it: its
# CSV is the Linux tool's on the in-process simulated analyser, byte for byte.
band=(--start 14 --end 14.35 --steps 40)
"$linux_build/app/kestrin-vna-sweep" --port simulator "${band[@]}" --output "$logs/linux.csv"
tool_status=0
timeout 120 "$wine" "$windows_build/app/kestrin-vna-sweep.exe" --port COM99 "${band[@]}" \
  --output "$(printf 'Z:%s' "$logs/windows.csv" | tr / '\\')" >"$logs/sweep.log" 2>&1 || tool_status=$?
if [ $tool_status -eq 0 ] && cmp -s "$logs/linux.csv" "$logs/windows.csv"; then
  echo "kestrin-vna-sweep.exe on COM99: the Linux tool's CSV ($(wc -l <"$logs/windows.csv") lines)"
else
  echo "kestrin-vna-sweep.exe on COM99 failed (status $tool_status) or wrote another CSV:" >&2
  cat "$logs/sweep.log" >&2
  diff "$logs/linux.csv" "$logs/windows.csv" | head -n 10 >&2 || true
  status=1
fi
# A setup and an output in a folder named in German and Cyrillic letters, as the command line
# of a Windows user gives them (UTF-16, which no ANSI code page holds whole), the output
# written once and then over: each time the Linux tool's file from the same setup.
folder="$WINEPREFIX/drive_c/users/Jürgen Антенна"
mkdir -p "$folder"
printf 'Kestrin VNA setup 1\nstart_mhz = 7\nend_mhz = 7.3\nsteps = 30\n' >"$folder/40 m Диполь.kvsetup"
for steps in 30 20; do
  "$linux_build/app/kestrin-vna-sweep" --port simulator --setup "$folder/40 m Диполь.kvsetup" --steps "$steps" \
    --output "$logs/linux-setup.csv"
  tool_status=0
  LC_ALL=C.UTF-8 timeout 120 "$wine" "$windows_build/app/kestrin-vna-sweep.exe" --port COM99 \
    --setup "$(kestrin_wine_path "$folder/40 m Диполь.kvsetup")" --steps "$steps" \
    --output "$(kestrin_wine_path "$folder")\\Grüße.csv" >"$logs/sweep-setup.log" 2>&1 || tool_status=$?
  if [ $tool_status -ne 0 ] || ! cmp -s "$logs/linux-setup.csv" "$folder/Grüße.csv"; then
    echo "kestrin-vna-sweep.exe with --setup and --output in '$folder' ($steps steps) failed" \
      "(status $tool_status) or wrote another CSV:" >&2
    cat "$logs/sweep-setup.log" >&2
    status=1
  fi
done
leftover="$(ls -A "$folder" | grep -v -x -e '40 m Диполь.kvsetup' -e 'Grüße.csv' || true)"
[ -z "$leftover" ] || { echo "kestrin-vna-sweep.exe left $leftover in $folder" >&2; status=1; }
[ $status -ne 0 ] || echo "kestrin-vna-sweep.exe: a setup and a CSV in '${folder##*/}', written and written over"

# On Windows the interrupt is Ctrl+C or Ctrl+Break; each program has its own manifest alone.
LC_ALL=C.UTF-8 timeout 60 "$wine" "$windows_build/app/kestrin-vna-sweep.exe" --help >"$logs/help.txt" 2>&1 || true
grep -q 'Ctrl+Break' "$logs/help.txt" && ! grep -q SIGTERM "$logs/help.txt" ||
  { echo "kestrin-vna-sweep.exe --help does not speak of Ctrl+C and Ctrl+Break" >&2; status=1; }
for exe in kestrin-vna kestrin-vna-sweep; do
  python3 - "$windows_build/app/$exe.exe" <<'PY' || status=1
import sys
data = open(sys.argv[1], "rb").read()
wanted = [b"<activeCodePage", b">UTF-8</activeCodePage>", b">true</longPathAware>",
          b">PerMonitorV2</dpiAwareness>", b"<supportedOS Id="]
missing = [w.decode() for w in wanted if w not in data]
if data.count(b"<assembly ") != 1 or missing:
    sys.exit(f"{sys.argv[1]}: {data.count(b'<assembly ')} manifests; missing {missing}")
PY
done
echo "scripts/test-windows.sh: $(($(date +%s) - started)) s in all, $(($(date +%s) - built)) s under Wine"
exit $status

#!/usr/bin/env bash
# Tries the Windows program as a user would, under Wine on a virtual display:
#   installs the installer silently (/S) into a throwaway Wine prefix and checks the Start
#   menu entry and the entry in the list of installed programs;
#   makes COM9 lead to a pseudo-terminal where kestrin-vna-sim answers, listed under
#   SERIALCOMM as an FTDI port is (\Device\VCP0), beside Wine's COM1;
#   opens a setup in a folder named in German and Cyrillic letters as a double-click does
#   (the command the installer registered for .kvsetup), presses Start, and checks that the
#   request lines on the wire are exactly those the Linux build sends for that setup and that
#   the window shows traces;
#   starts it with an unknown argument, which a message box reports before status 2;
#   uninstalls it silently.
# Usage: try-windows.sh [INSTALLER]   (none given: scripts/package-windows.sh makes one)
# KESTRIN_TRY_SCREENSHOT=FILE keeps the screenshot of the sweeping window.
# KESTRIN_TRY_DPI=N sets the prefix's screen to N dots per inch, as Windows' display
# settings do (144: 150 %, 192: 200 %); 96 (100 %) when not given.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
linux_build="${KESTRIN_BUILD_DIR:-$here/build}"
started=$(date +%s)

"$here/scripts/install-deps.sh" windows >/dev/null
installer="${1:-}"
[ -n "$installer" ] || installer="$("$here/scripts/package-windows.sh" | tail -n 1)"
[ -f "$installer" ] || { echo "try-windows.sh: no installer at '$installer'" >&2; exit 1; }

# The Linux programs: the simulated analyser, and the sweep tool whose request is compared.
cmake -S "$here" -B "$linux_build" >/dev/null
cmake --build "$linux_build" -j2 --target kestrin-vna-sim kestrin-vna-sweep >/dev/null

# shellcheck source=scripts/wine-prefix.sh
source "$here/scripts/wine-prefix.sh"
xvfb_pid=""
cleanup() {
  kestrin_wine_cleanup
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
[ -z "${KESTRIN_TRY_KEEP:-}" ] || trap - EXIT
fail() { echo "try-windows.sh: $*" >&2; exit 1; }
dpi="${KESTRIN_TRY_DPI:-}"
[ -z "$dpi" ] || { [[ "$dpi" =~ ^[0-9]+$ ]] && [ "$dpi" -ge 96 ] && [ "$dpi" -le 480 ]; } ||
  fail "KESTRIN_TRY_DPI is dots per inch from 96 to 480, not '$dpi'"

# A display of its own, the size of a common Windows screen.
display=""
for n in $(seq 71 99); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
[ -n "$display" ] || fail "no free X display number"
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start on $display"

kestrin_wine_start
logs="$kestrin_wine_logs"
# The scale, where the user's setting and the machine's both hold it, before any program starts.
if [ -n "$dpi" ]; then
  kestrin_wine_reg dpi <<REG
[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:$(printf '%08x' "$dpi")

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts]
"LogPixels"=dword:$(printf '%08x' "$dpi")
REG
fi

# Installed silently, as an administrator's script would.
timeout 300 "$wine" "$(kestrin_wine_path "$installer")" /S >"$logs/install.log" 2>&1 \
  || fail "the installer failed (log: $(cat "$logs/install.log"))"
folder="$WINEPREFIX/drive_c/Program Files/Kestrin VNA"
for f in kestrin-vna.exe kestrin-vna-sweep.exe Uninstall.exe LICENSE.txt README.txt; do
  [ -f "$folder/$f" ] || fail "the installer did not install $f into $folder"
done
# The Start menu of all users, or of the user where the installer was not allowed that.
menu="$(find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Kestrin VNA/Kestrin VNA.lnk' | head -n 1)"
[ -n "$menu" ] || fail "no Start menu entry 'Kestrin VNA'"
echo "Start menu entry: ${menu#"$WINEPREFIX/"}"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrin VNA'
timeout 60 "$wine" reg query "$key" >"$logs/uninstall-key.txt" 2>&1 || fail "no entry in the installed programs"
tr -d '\r' <"$logs/uninstall-key.txt" | grep -E 'DisplayName|DisplayVersion|Publisher|UninstallString' | sed 's/^ */  /'
version="$(sed -n 's/^project(KestrinVNA VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")"
grep -q "DisplayVersion.*$version" "$logs/uninstall-key.txt" || fail "the installed programs do not show version $version"
grep -q "Publisher.*Kestrin VNA" "$logs/uninstall-key.txt" || fail "the installed programs do not show the publisher"
for flag in NoModify NoRepair; do
  grep -q "$flag.*REG_DWORD.*0x1" "$logs/uninstall-key.txt" || fail "$flag is not the number 1 (REG_DWORD)"
done
grep -q $'\r$' "$folder/LICENSE.txt" || fail "LICENSE.txt has no Windows line ends"
# A double-click on a setup: the command registered for .kvsetup.
timeout 60 "$wine" reg query 'HKCR\.kvsetup' /ve >"$logs/kvsetup.txt" 2>&1 || true
class="$(tr -d '\r' <"$logs/kvsetup.txt" | sed -n 's/.*REG_SZ *//p' | head -n 1)"
[ -n "$class" ] || fail "the installer did not register .kvsetup ($(cat "$logs/kvsetup.txt"))"
timeout 60 "$wine" reg query "HKCR\\$class\\shell\\open\\command" /ve >"$logs/open.txt" 2>&1 || true
grep -q 'kestrin-vna.exe" "%1"' "$logs/open.txt" || fail "no open command for $class ($(cat "$logs/open.txt"))"
echo ".kvsetup opens with: $(tr -d '\r' <"$logs/open.txt" | sed -n 's/.*REG_SZ *//p' | head -n 1)"

# A setup in a folder named as people name theirs, and the request the Linux build sends
# for it.
setup_folder="$WINEPREFIX/drive_c/users/Jürgen Антенна"
setup="$setup_folder/40 m Диполь.kvsetup"
mkdir -p "$setup_folder"
printf 'Kestrin VNA setup 1\nstart_mhz = 7\nend_mhz = 7.3\nsteps = 300\n' >"$setup"
linux_request="$WINEPREFIX/linux-request"
"$linux_build/sim/kestrin-vna-sim" --fast --record "$linux_request" --link "$WINEPREFIX/linux-port" \
  >"$logs/linux-sim.log" 2>&1 &
kestrin_wine_pids+=($!)
for _ in $(seq 100); do [ -L "$WINEPREFIX/linux-port" ] && break; sleep 0.1; done
timeout 60 "$linux_build/app/kestrin-vna-sweep" --port "$WINEPREFIX/linux-port" --setup "$setup" --count 1 >/dev/null \
  || fail "the Linux sweep tool did not sweep"

# COM9: the analyser, as an FTDI adapter's port is listed; COM1: Wine's link to /dev/ttyS0.
wire="$WINEPREFIX/wire"
"$linux_build/sim/kestrin-vna-sim" --record "$wire" --link "$WINEPREFIX/dosdevices/com9" >"$logs/sim.log" 2>&1 &
kestrin_wine_pids+=($!)
for _ in $(seq 100); do [ -L "$WINEPREFIX/dosdevices/com9" ] && break; sleep 0.1; done
[ -L "$WINEPREFIX/dosdevices/com9" ] || fail "the simulated analyser is not there ($(cat "$logs/sim.log"))"
kestrin_wine_reg ports <<'REG'
[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]
"\\Device\\Serial0"="COM1"
"\\Device\\VCP0"="COM9"
REG

# The first visible window whose name matches $1, looked for every 0.1 s, $2 times; empty
# when none came.
visible_window() {
  local found=""
  for _ in $(seq "$2"); do
    found="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)"
    [ -n "$found" ] && break
    sleep 0.1
  done
  echo "$found"
}

# The program as a double-click on the setup starts it, in the folder the Start menu entry
# starts it in.
setup_windows="C:\\users\\Jürgen Антенна\\40 m Диполь.kvsetup"
(cd "$folder" && LC_ALL=C.UTF-8 exec "$wine" "C:\\Program Files\\Kestrin VNA\\kestrin-vna.exe" "$setup_windows" \
  >"$logs/program.log" 2>&1) &
kestrin_wine_pids+=($!)
window="$(visible_window '^Kestrin VNA' 600)"
[ -n "$window" ] || fail "the window did not appear within a minute ($(cat "$logs/program.log"))"
echo "The window: $(xdotool getwindowname "$window"), $(xdotool getwindowgeometry "$window" | tr -d '\n' | sed 's/  */ /g')"

# Start: the first control in the tab order has the focus; the space bar presses it.
sleep_until_wire() {
  for _ in $(seq "$1"); do [ -s "$wire" ] && return 0; sleep 0.1; done
  return 1
}
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" space
sleep_until_wire 300 || fail "no request reached the analyser after Start"

# The first request of each, its four lines ended by CR, byte for byte.
first_request() { python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); print(repr(b"\r".join(d.split(b"\r")[:4]) + b"\r"))' "$1"; }
for _ in $(seq 100); do [ "$(tr -cd '\r' <"$wire" | wc -c)" -ge 4 ] && break; sleep 0.1; done
expected="$(first_request "$linux_request")"
got="$(first_request "$wire")"
[ "$got" = "$expected" ] || fail "the request on the wire is $got, the Linux build's is $expected"
echo "The request on the wire, as the Linux build sends it: $got"

# The traces: the SWR trace's red (224,48,48) and the return loss's blue on the plot.
sleep 1
shot="${KESTRIN_TRY_SCREENSHOT:-$WINEPREFIX/sweeping.png}"
import -window root "$shot"
count_colour() { convert "$shot" -fill black +opaque "$1" -fill white -opaque "$1" -format '%[fx:round(mean*w*h)]' info:; }
swr=$(count_colour 'rgb(224,48,48)')
[ "$swr" -ge 200 ] || fail "the screenshot shows no SWR trace ($swr red pixels; $shot)"
echo "The screenshot shows the SWR trace: $swr pixels of its red ($shot)"

# Closed as a user closes it, then uninstalled silently.
xdotool key --window "$window" alt+F4 || true
for _ in $(seq 100); do xdotool search --name '^Kestrin VNA' >/dev/null 2>&1 || break; sleep 0.1; done

# An argument the program does not know: with no console to print to, a message box says
# so, and the exit status is 2 once it is closed.
(cd "$folder" && { "$wine" "C:\\Program Files\\Kestrin VNA\\kestrin-vna.exe" --frobnicate >"$logs/bad.log" 2>&1 &&
 echo 0 >"$logs/bad.status" || echo $? >"$logs/bad.status"; }) &
kestrin_wine_pids+=($!)
box="$(visible_window '^Kestrin VNA$' 300)"
[ -n "$box" ] || fail "no message box for an unknown argument ($(cat "$logs/bad.log"))"
# Its OK button has the focus: Return, as a person would press it.
xdotool windowfocus --sync "$box" 2>/dev/null || true
sleep 1
xdotool key Return
for _ in $(seq 100); do [ -s "$logs/bad.status" ] && break; sleep 0.1; done
[ "$(cat "$logs/bad.status" 2>/dev/null)" = 2 ] || fail "an unknown argument ended with status '$(cat "$logs/bad.status" 2>/dev/null)', not 2"
echo "An unknown argument: a message box, then exit status 2"
timeout 120 "$wine" "C:\\Program Files\\Kestrin VNA\\Uninstall.exe" /S >"$logs/uninstall.log" 2>&1 || true
for _ in $(seq 100); do [ -f "$folder/kestrin-vna.exe" ] || break; sleep 0.1; done
[ ! -f "$folder/kestrin-vna.exe" ] || fail "the uninstaller left kestrin-vna.exe behind"
echo "scripts/try-windows.sh: installed, swept and uninstalled in $(($(date +%s) - started)) s"

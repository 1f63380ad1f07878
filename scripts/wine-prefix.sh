# Sourced by the Windows scripts: a throwaway Wine prefix whose one server lives as long as
# the script (the registry key HARDWARE is volatile and lives only as long as the server
# does), with Arial mapped to Liberation Sans as a Windows machine has Arial, and the COM
# ports listed as Windows lists them. The caller sets `trap kestrin_wine_cleanup EXIT`.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
kestrin_wine_pids=()

# kestrin_wine_start: makes the prefix and boots it; its logs go to $kestrin_wine_logs.
# Without a display Wine needs none; with DISPLAY set, its windows appear there.
kestrin_wine_start() {
  WINEPREFIX="$(mktemp -d /tmp/kestrin-wine.XXXXXX)"
  export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
  kestrin_wine_logs="$WINEPREFIX/logs"
  mkdir -p "$kestrin_wine_logs"
  # Wine's own services inherit the log, not the script's output.
  "$wineserver" -p >"$kestrin_wine_logs/wineserver.log" 2>&1
  timeout 120 "$wine" wineboot -i >"$kestrin_wine_logs/wineboot.log" 2>&1
  kestrin_wine_reg fonts <<'REG'
[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Arial"="Liberation Sans"
"Arial Bold"="Liberation Sans Bold"
REG
}

# kestrin_wine_reg NAME: imports the registry lines on standard input.
kestrin_wine_reg() {
  local file="$WINEPREFIX/$1.reg"
  { echo 'Windows Registry Editor Version 5.00'; echo; cat; } >"$file"
  timeout 60 "$wine" reg import "$(kestrin_wine_path "$file")" >>"$kestrin_wine_logs/reg.log" 2>&1
}

# kestrin_wine_path PATH: the Windows name of a Linux path (the Z: drive).
kestrin_wine_path() {
  printf 'Z:%s' "$(readlink -f "$1")" | tr / '\\'
}

# kestrin_wine_cleanup: ends what the script started, the server, and removes the prefix.
kestrin_wine_cleanup() {
  local pid
  for pid in "${kestrin_wine_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "${WINEPREFIX:-}" ]; then
    timeout 20 "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
}

#!/usr/bin/env bash
# scripts/stress-tests.sh [N]: looks for tests that pass only on a quiet machine. While two
# busy processes load both cores, runs the whole test suite N times (10 by default) with
# four tests at once, then scripts/test-windows.sh N/2 times, and prints for each test
# program how often it ran and failed. Every run counts: nothing is run again.
# Exit status 0 only when no test failed.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-10}"
[[ "$runs" =~ ^[0-9]+$ ]] || { echo "usage: $0 [N]  (N: how often the suite runs, 10 by default)" >&2; exit 2; }
build="${KESTRIN_BUILD_DIR:-$here/build}"
logs="$(mktemp -d /tmp/kestrin-stress.XXXXXX)"
busy=()
stop_busy() {
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null || true; done
  busy=()
}
trap stop_busy EXIT

"$here/scripts/install-deps.sh" test
"$here/scripts/build.sh" -DKESTRIN_BUILD_TESTS=ON -DKESTRIN_WERROR=ON
# The Windows build (and Qt for Windows, the first time) before the load: the builds are not
# what is tested here.
windows_runs=$((runs / 2))
[ "$windows_runs" -eq 0 ] || "$here/scripts/test-windows.sh" --build-only

# Two processes that keep both cores busy for the whole of the runs.
for _ in 1 2; do
  (while :; do :; done) &
  busy+=($!)
done
for i in $(seq "$runs"); do
  echo "== suite, loaded, run $i of $runs"
  (cd "$build" && ctest -j4 --timeout 300 --output-on-failure) >"$logs/linux-$i.log" 2>&1 ||
    echo "stress-tests: exit status $?" >>"$logs/linux-$i.log"
  grep -E "tests passed|^\s+[0-9]+ - " "$logs/linux-$i.log" || tail -n 20 "$logs/linux-$i.log"
done

for i in $(seq "$windows_runs"); do
  echo "== Windows tests under Wine, run $i of $windows_runs"
  "$here/scripts/test-windows.sh" >"$logs/windows-$i.log" 2>&1 ||
    echo "stress-tests: exit status $?" >>"$logs/windows-$i.log"
  grep -E "tests passed|scripts/test-windows.sh:" "$logs/windows-$i.log" || tail -n 20 "$logs/windows-$i.log"
done
stop_busy

# One line per test program and platform: ctest prints "n/m Test #k: name .... Passed".
# A run that failed with no failed test (a failed build, no Wine, the whole run timed out)
# counts as a failure of "setup".
python3 - "$logs" "$runs" "$windows_runs" <<'PY'
import re, sys, pathlib
logs, runs, windows_runs = pathlib.Path(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
line = re.compile(r"Test +#\d+: (\S+) \.*\s*(?:\*\*\*)?(\S.*?)\s+[\d.]+ sec")
table = {}
for platform, count in (("linux", runs), ("windows", windows_runs)):
    for i in range(1, count + 1):
        text = (logs / f"{platform}-{i}.log").read_text(errors="replace")
        failed_tests = 0
        for name, result in line.findall(text):
            row = table.setdefault((platform, name), [0, 0])
            row[0] += 1
            row[1] += result != "Passed"
            failed_tests += result != "Passed"
        row = table.setdefault((platform, "setup"), [0, 0])
        row[0] += 1
        row[1] += "stress-tests: exit status" in text and failed_tests == 0
print(f"\n{'platform':<9} {'test program':<28} {'runs':>5} {'failures':>9}")
failures = 0
for (platform, name), (ran, failed) in sorted(table.items()):
    print(f"{platform:<9} {name:<28} {ran:>5} {failed:>9}")
    failures += failed
print(f"{failures} failures; logs in {logs}")
sys.exit(1 if failures else 0)
PY

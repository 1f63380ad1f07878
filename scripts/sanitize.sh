#!/usr/bin/env bash
# The checks CI runs beside the test suite, each build in its own folder:
# - the serial, platform and worker tests under ThreadSanitizer (build-tsan/);
# - every test under AddressSanitizer with UndefinedBehaviorSanitizer, where any finding
#   ends the test (build-asan/);
# - each fuzz target for $KESTRIN_FUZZ_SECONDS seconds, 30 by default (scripts/fuzz.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

tsan_tests=(test_serial test_platform_threads test_portlist test_acquisition_worker)
echo "== ThreadSanitizer: ${tsan_tests[*]}"
cmake -S "$here" -B "$here/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_SANITIZE=thread \
  -DKESTRIN_BUILD_TESTS=ON >/dev/null
cmake --build "$here/build-tsan" -j2 --target "${tsan_tests[@]}" >/dev/null
(cd "$here/build-tsan" && ctest --output-on-failure -j2 --timeout 300 \
  -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$")

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: every test"
KESTRIN_BUILD_DIR="$here/build-asan" "$here/scripts/build.sh" -DKESTRIN_SANITIZE=address \
  -DKESTRIN_BUILD_TESTS=ON >/dev/null
(cd "$here/build-asan" && ctest --output-on-failure -j2 --timeout 300)

echo "== Fuzzing"
"$here/scripts/fuzz.sh" "${KESTRIN_FUZZ_SECONDS:-30}"

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
# Light optimisation and line tables only: quicker to build, still readable reports, and
# the checks (assert) stay on.
flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" -DKESTRIN_BUILD_TESTS=ON)

tsan_tests=(test_serial test_platform_threads test_portlist test_acquisition_sweep test_acquisition_worker)
echo "== ThreadSanitizer: ${tsan_tests[*]}"
cmake -S "$here" -B "$here/build-tsan" "${flags[@]}" -DKESTRIN_SANITIZE=thread >/dev/null
cmake --build "$here/build-tsan" -j2 --target "${tsan_tests[@]}" >/dev/null
(cd "$here/build-tsan" && ctest --output-on-failure -j2 --timeout 300 \
  -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$")

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: every test"
cmake -S "$here" -B "$here/build-asan" "${flags[@]}" -DKESTRIN_SANITIZE=address >/dev/null
cmake --build "$here/build-asan" -j2 >/dev/null
(cd "$here/build-asan" && ctest --output-on-failure -j2 --timeout 300)

echo "== Fuzzing"
"$here/scripts/fuzz.sh" "${KESTRIN_FUZZ_SECONDS:-30}"

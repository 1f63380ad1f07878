#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (into build-fuzz/, or $KESTRIN_FUZZ_BUILD_DIR)
# and runs each for the given number of seconds, 60 by default:
#   scripts/fuzz.sh [seconds] [target ...]
# The committed corpora in tests/fuzz/corpus/ are read, never written: new inputs go to
# build-fuzz/found/<target>/, an input that breaks a property to build-fuzz/artifacts/.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${KESTRIN_FUZZ_BUILD_DIR:-$here/build-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_number_text fuzz_sweep fuzz_sim_request)

# Longest input worth trying: a pasted text; a sweep header and 4000 samples; a stream of requests.
max_len() {
  case "$1" in
    fuzz_number_text) echo 256 ;;
    fuzz_sweep) echo 16100 ;;
    *) echo 4096 ;;
  esac
}

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DKESTRIN_FUZZ=ON -DKESTRIN_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

failed=0
for t in "${targets[@]}"; do
  mkdir -p "$build/found/$t" "$build/artifacts"
  log="$build/$t.log"
  if "$build/tests/fuzz/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=30 \
      -artifact_prefix="$build/artifacts/$t-" "$build/found/$t" "$here/tests/fuzz/corpus/$t" >"$log" 2>&1; then
    echo "$t: passed, $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$log" | tail -1)"
  else
    echo "$t: FAILED (log $log)"
    grep -v '^#' "$log" | tail -40
    failed=1
  fi
done
exit $failed

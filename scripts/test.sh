#!/usr/bin/env bash
# Installs what is missing, builds Kestrin VNA with its tests and runs every test.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh" test
"$here/scripts/build.sh" -DKESTRIN_BUILD_TESTS=ON -DKESTRIN_WERROR=ON
cd "${KESTRIN_BUILD_DIR:-$here/build}"
ctest --output-on-failure -j2 --timeout 300

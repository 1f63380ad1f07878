#!/usr/bin/env bash
# Installs what is missing for building, builds Kestrin VNA and starts it.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh" build
"$here/scripts/build.sh"
exec "${KESTRIN_BUILD_DIR:-$here/build}/app/kestrin-vna"

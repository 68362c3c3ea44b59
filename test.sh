#!/usr/bin/env bash
# Builds Linkmend (installing what the build needs) and runs every test
# headless. Exits non-zero when any test fails.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen
cd "${LINKMEND_BUILD_DIR:-$here/build}"
ctest --output-on-failure -j"$(nproc)" "$@"

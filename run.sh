#!/usr/bin/env bash
# Builds Linkmend (installing what the build needs) and starts it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "Linkmend is a desktop program and needs a graphical display, but neither DISPLAY nor" >&2
  echo "WAYLAND_DISPLAY is set. Start it from a desktop session (or under Xvfb)." >&2
  exit 2
fi
exec "$here/build/Linkmend"

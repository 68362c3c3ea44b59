#!/usr/bin/env bash
# Builds Linkmend (installing what the build needs) and starts it: its
# window, or with arguments its command line.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# With a command (./run.sh check c:) Linkmend works in the terminal; what
# the build says then goes to standard error, away from the report.
if [ "$#" -gt 0 ]; then
  "$here/scripts/setup.sh" >&2
  exec "$here/build/Linkmend" "$@"
fi
"$here/scripts/setup.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "Linkmend is a desktop program and needs a graphical display, but neither DISPLAY nor" >&2
  echo "WAYLAND_DISPLAY is set. Start it from a desktop session (or under Xvfb)." >&2
  exit 2
fi
exec "$here/build/Linkmend"

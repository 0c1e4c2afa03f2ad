#!/usr/bin/env bash
# Runs a command on the current X display, or inside a new Xvfb when there is none.
set -euo pipefail
if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"

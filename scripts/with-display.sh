#!/usr/bin/env bash
# Runs a command on the current X display, or inside a new Xvfb when there is
# none (or when LU14_FORCE_XVFB=1). The command sees LU14_DISPLAY_KIND set to
# "desktop" or "headless".
set -euo pipefail
if [[ "${LU14_FORCE_XVFB:-0}" != 1 && -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  LU14_DISPLAY_KIND=desktop exec "$@"
fi
LU14_DISPLAY_KIND=headless exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"

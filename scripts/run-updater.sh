#!/usr/bin/env bash
# Builds lu14-updater.exe and starts it under Wine. With a display the program
# stays open until you close it; without one it runs inside Xvfb, and the script
# closes it once its window is up. Either way a screenshot of the window is
# saved to build/screenshots/lu14-updater.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows
cmake --preset mingw
cmake --build --preset mingw --target lu14-updater

export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine-prefix}"
mkdir -p build/screenshots
exec scripts/with-display.sh bash -c '
  set -euo pipefail
  source scripts/wine-prefix.sh
  lu14_prepare_wine_prefix "$LU14_DISPLAY_KIND"
  wine build/mingw/bin/lu14-updater.exe &
  program=$!
  if ! window=$(timeout 60 xdotool search --sync --onlyvisible --name "D1.50" | head -n 1); then
    echo "lu14-updater.exe showed no window within 60 s" >&2
    kill "$program" 2>/dev/null || true
    exit 1
  fi
  sleep 1  # the window paints just after it is mapped
  import -window "$window" build/screenshots/lu14-updater.png
  echo "Screenshot: build/screenshots/lu14-updater.png"
  if [[ $LU14_DISPLAY_KIND == headless ]]; then
    wine taskkill /IM lu14-updater.exe >/dev/null 2>&1
  fi
  status=0
  wait "$program" || status=$?
  echo "lu14-updater.exe ended with exit code $status"
  exit "$status"
'

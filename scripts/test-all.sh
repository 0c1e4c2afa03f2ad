#!/usr/bin/env bash
# Builds every preset and runs every test: the native suites, the web page in
# headless Chromium, then the Windows suites (Win32 adapters and the real
# lu14-updater.exe) under Wine inside Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --web

cmake --preset native
cmake --build --preset native
ctest --preset native

cmake --preset web
cmake --build --preset web
# puppeteer-core as the lockfile pins it; it downloads no browser (Debian's
# chromium is used).
(cd web/test && npm ci --ignore-scripts --no-audit --no-fund && npm test)

cmake --preset mingw
cmake --build --preset mingw

# The suites update simulated meters with the placeholder image, which the
# programs write to a meter only where this allows it.
export LU14_ALLOW_PLACEHOLDER_FIRMWARE=1

# A Wine prefix of this run's own, ended and removed at the end, and always a
# display of its own, so that no window of the tests lands on a desktop.
WINEPREFIX="$(mktemp -d /tmp/lu14-wine-test.XXXXXX)"
export WINEPREFIX
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
LU14_FORCE_XVFB=1 scripts/with-display.sh bash -c \
  'source scripts/wine-prefix.sh && lu14_prepare_wine_prefix "$LU14_DISPLAY_KIND" && ctest --preset mingw'

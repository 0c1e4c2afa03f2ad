#!/usr/bin/env bash
# Builds the web page (build/web/site) and serves it on localhost, which
# browsers count as a secure context (WebHID needs one), until Ctrl-C. Open
# the address it prints in Chrome, Edge or Opera; add ?simulate to try the
# page without a meter. LU14_WEB_PORT chooses another port.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --web
cmake --preset web >/dev/null
cmake --build --preset web
port="${LU14_WEB_PORT:-8014}"
echo "The updater: http://localhost:${port}/   without a meter: http://localhost:${port}/?simulate"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web/site

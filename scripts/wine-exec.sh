#!/usr/bin/env bash
# Runs a Windows program under Wine (ctest's emulator for the mingw build).
# Uses $WINEPREFIX when the caller prepared one for the run, else a prefix of
# its own that is ended and removed afterwards. Exits with the program's code.
set -uo pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
own_prefix=""
if [[ -z "${WINEPREFIX:-}" ]]; then
  own_prefix="$(mktemp -d /tmp/lu14-wine.XXXXXX)"
  export WINEPREFIX="$own_prefix"
fi
wine "$@"
status=$?
if [[ -n "$own_prefix" ]]; then
  wineserver -k >/dev/null 2>&1
  rm -rf "$own_prefix"
fi
exit "$status"

#!/usr/bin/env bash
# Builds every preset and runs every test: the native suites, the web page in
# headless Chromium, then the Windows suites (Win32 adapters and the real
# lu14-updater.exe) under Wine inside Xvfb. Each phase says when it starts,
# how long it took and what its tests found; the end gives every phase's
# time and the total.
set -euo pipefail
cd "$(dirname "$0")/.."

run_start=$SECONDS
summary=()
log="$(mktemp /tmp/lu14-test-all.XXXXXX)"
cleanup=(rm -f "$log")
trap '"${cleanup[@]}"' EXIT

print_summary() {
  echo
  echo "== test-all: where the time went"
  printf '   %s\n' "${summary[@]}"
  printf '   %-16s %5d s\n' "total" $((SECONDS - run_start))
}

# phase NAME COMMAND...: runs the command with its output shown and kept, then
# records its time and, for a test phase, what its summary line says.
phase() {
  local name="$1"
  shift
  local start=$SECONDS
  echo
  echo "== $name: started at $(date +%H:%M:%S)"
  local status=0
  "$@" 2>&1 | tee "$log" || status=$?
  local found
  found="$(phase_findings "$name")"
  summary+=("$(printf '%-16s %5d s%s' "$name" $((SECONDS - start)) "${found:+  $found}")")
  echo "== $name: $((SECONDS - start)) s${found:+, $found}"
  if ((status != 0)); then
    summary+=("$(printf '%-16s failed (exit %d)' "$name" "$status")")
    print_summary
    exit "$status"
  fi
}

# What a phase's tests found, from the summary lines ctest and node's test
# runner print; nothing for a build.
phase_findings() {
  case "$1" in
    native-tests | windows-tests)
      grep -Eo '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 |
        sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+)/\2 suites, \1 failed/'
      ;;
    web-tests)
      local tests fail
      tests="$(grep -Eo '^# tests [0-9]+' "$log" | tail -1 | grep -Eo '[0-9]+')" || true
      fail="$(grep -Eo '^# fail [0-9]+' "$log" | tail -1 | grep -Eo '[0-9]+')" || true
      [[ -n "$tests" ]] && echo "$tests tests, ${fail:-?} failed"
      ;;
  esac
  return 0
}

phase dependencies scripts/install-deps.sh --tests --windows --web

phase native-build bash -c 'cmake --preset native && cmake --build --preset native'
phase native-tests ctest --preset native

phase web-build bash -c 'cmake --preset web && cmake --build --preset web'
# puppeteer-core as the lockfile pins it; it downloads no browser (Debian's
# chromium is used).
phase web-tests bash -c 'cd web/test && npm ci --ignore-scripts --no-audit --no-fund && npm test'

phase windows-build bash -c 'cmake --preset mingw && cmake --build --preset mingw'

# The suites update simulated meters with the placeholder image, which the
# programs write to a meter only where this allows it.
export LU14_ALLOW_PLACEHOLDER_FIRMWARE=1

# A Wine prefix of this run's own, ended and removed at the end, and always a
# display of its own, so that no window of the tests lands on a desktop.
WINEPREFIX="$(mktemp -d /tmp/lu14-wine-test.XXXXXX)"
export WINEPREFIX
cleanup=(bash -c 'wineserver -k >/dev/null 2>&1; rm -rf "$1" "$2"' - "$WINEPREFIX" "$log")
phase windows-tests env LU14_FORCE_XVFB=1 scripts/with-display.sh bash -c \
  'source scripts/wine-prefix.sh && lu14_prepare_wine_prefix "$LU14_DISPLAY_KIND" && ctest --preset mingw'

print_summary

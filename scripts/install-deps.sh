#!/usr/bin/env bash
# Installs the Debian packages that the builds, the tests and the main job need;
# with --web also those of the web page (its build and its browser tests).
# Does nothing when they are all present; otherwise runs apt-get update first.
set -euo pipefail

packages=(
  g++ cmake ninja-build python3 pkg-config          # native build
  dpkg-dev man-db groff-base bsdextrautils          # lu14's Debian package and its man page
  bash-completion zsh                               # lu14's completion, run in both shells
  libudev-dev umockdev libumockdev-dev              # the Linux HID adapter and its tests
  googletest libgtest-dev libgmock-dev              # test framework (sources serve the mingw build)
  libcli11-dev nlohmann-json3-dev                   # lu14's command line and JSON (header-only)
  mingw-w64                                         # the Windows program
  wine wine64 fonts-wine                            # running it here
  xvfb xdotool imagemagick x11-utils                # a display, window waits and screenshots
)
if [[ "${1:-}" == --web ]]; then
  packages+=(
    emscripten                                      # the core in WebAssembly
    chromium nodejs                                 # the page's tests (puppeteer-core from npm)
  )
  # npm comes with Debian's npm package, or inside a nodejs from elsewhere.
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

sudo=()
[[ $EUID -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null

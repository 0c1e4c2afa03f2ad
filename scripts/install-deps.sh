#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, and only those:
#   (no option)  the main job: build lu14 and run it (scripts/run.sh)
#   --tests      the native test suites, lu14's Debian package and its shell
#                completion
#   --windows    the Windows program: its build, and running it and its
#                suites under Wine in a display of their own
#   --web        the web page: its build, its server and its browser tests
# Options add up (test-all.sh passes all three). Says what it installs and
# why, and shows apt's own progress; does nothing when all is present.
set -euo pipefail

reasons=()
lists=()
# group WHY PACKAGE...: packages installed for one reason, which is shown.
group() {
  reasons+=("$1")
  shift
  lists+=("$*")
}

group "to build and run lu14" \
  g++ cmake ninja-build pkg-config libudev-dev libcli11-dev nlohmann-json3-dev
for purpose in "$@"; do
  case "$purpose" in
    --tests)
      group "for the test suites" googletest libgtest-dev libgmock-dev
      group "for the Linux HID tests" umockdev libumockdev-dev
      group "for lu14's Debian package and man page" dpkg-dev man-db groff-base bsdextrautils
      group "for the completion tests in both shells" bash-completion zsh
      ;;
    --windows)
      group "to build the Windows program and its tests" mingw-w64 googletest
      group "to run the Windows program here" wine wine64 fonts-wine
      group "for a display, window waits and screenshots" xvfb xdotool imagemagick x11-utils
      ;;
    --web)
      group "to build and serve the web page" emscripten python3
      # npm comes with Debian's npm package, or inside a nodejs from elsewhere.
      if command -v npm >/dev/null; then
        group "for the web page's browser tests" chromium nodejs
      else
        group "for the web page's browser tests" chromium nodejs npm
      fi
      ;;
    *)
      echo "install-deps.sh: unknown option $purpose (use --tests, --windows, --web)" >&2
      exit 2
      ;;
  esac
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

missing=()
for i in "${!reasons[@]}"; do
  absent=()
  for package in ${lists[i]}; do installed "$package" || absent+=("$package"); done
  if ((${#absent[@]} > 0)); then
    echo "install-deps: ${reasons[i]}: ${absent[*]}"
    missing+=("${absent[@]}")
  fi
done
((${#missing[@]} == 0)) && exit 0

sudo=()
[[ $EUID -ne 0 ]] && sudo=(sudo)
echo "install-deps: reading Debian's package lists (apt-get update)"
"${sudo[@]}" apt-get update -q
echo "install-deps: installing ${#missing[@]} packages and what they need"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"

#!/usr/bin/env bash
# Builds lu14's Debian package from a build folder, installs it with dpkg into
# a scratch root of its own (its own dpkg database, nothing of the machine's
# touched), and runs the installed program.
# usage: InstallPackage.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lu14-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; exit 1; }
package=$(find "$scratch/out" -maxdepth 1 -name 'lu14_*.deb' | head -n 1)
[[ -n $package ]] || { echo "no package was made"; cat "$scratch/cpack.log"; exit 1; }

echo "package: $(basename "$package")"
dpkg-deb --field "$package" Package Version Depends Section
fields=$(dpkg-deb --field "$package" Depends)
[[ $fields == *libudev1* ]] || { echo "the package does not depend on libudev1"; exit 1; }

root="$scratch/root"
admin="$root/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates"
touch "$admin/status"
# The scratch database knows none of the libraries the package depends on.
dpkg --root="$root" --admindir="$admin" --force-not-root --force-depends --force-script-chrootless \
  --log=/dev/null -i "$package" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; exit 1; }
dpkg --root="$root" --admindir="$admin" -L lu14 | sort

for file in usr/bin/lu14 usr/share/man/man1/lu14.1 usr/lib/udev/rules.d/70-lu14-meter.rules \
  usr/share/bash-completion/completions/lu14 usr/share/zsh/vendor-completions/_lu14; do
  [[ -f "$root/$file" ]] || { echo "not installed: /$file"; exit 1; }
done
# The completions where bash-completion and zsh look for them, each the
# script of its own shell.
sources=$(dirname "$0")/../../resources/linux
for pair in "usr/share/bash-completion/completions/lu14 lu14.bash-completion" "usr/share/zsh/vendor-completions/_lu14 _lu14"; do
  read -r installed source <<<"$pair"
  cmp -s "$root/$installed" "$sources/$source" || { echo "/$installed is not resources/linux/$source"; exit 1; }
done
# ... and each shell takes it from there for lu14.
loaded=$(XDG_DATA_DIRS="$root/usr/share" bash -c \
  'source /usr/share/bash-completion/bash_completion; _completion_loader lu14; complete -p lu14' 2>&1 || true)
[[ $loaded == *'-F _lu14 lu14'* ]] || { echo "bash-completion does not load lu14's completion: $loaded"; exit 1; }
loaded=$(zsh -f -c 'fpath=("$1" $fpath); autoload -Uz compinit && compinit -u -D && print -r -- "$_comps[lu14]"' \
  zsh "$root/usr/share/zsh/vendor-completions" 2>&1 || true)
[[ $loaded == _lu14 ]] || { echo "zsh's compinit does not take lu14's completion: $loaded"; exit 1; }
# Only the tool: no test program, no library, no header.
extra=$(dpkg --root="$root" --admindir="$admin" -L lu14 | grep -Ev '^/(\.|usr|usr/bin|usr/bin/lu14|usr/share|usr/share/man|usr/share/man/man1|usr/share/man/man1/lu14\.1|usr/lib|usr/lib/udev|usr/lib/udev/rules\.d|usr/lib/udev/rules\.d/70-lu14-meter\.rules|usr/share/bash-completion|usr/share/bash-completion/completions|usr/share/bash-completion/completions/lu14|usr/share/zsh|usr/share/zsh/vendor-completions|usr/share/zsh/vendor-completions/_lu14|usr/share/doc.*)$' || true)
[[ -z $extra ]] || { echo "the package holds more than the tool:"; echo "$extra"; exit 1; }

lu14="$root/usr/bin/lu14"
man_page="$root/usr/share/man/man1/lu14.1"
"$lu14" --version
# The man page is well-formed: man renders it without a warning.
warnings=$(MANWIDTH=80 man --warnings -l "$man_page" 2>&1 >/dev/null || true)
[[ -z $warnings ]] || { echo "man page warnings:"; echo "$warnings"; exit 1; }

# The help and the man page agree: the same commands and the same options.
help=$(for command in "" status list update option checksum backup restore; do LC_ALL=C.UTF-8 "$lu14" $command --help; done)
manual=$(groff -man -Tascii "$man_page" 2>/dev/null | col -b)
options() { grep -oE -- '(^|[^a-z-])--[a-z][a-z-]*' | grep -oE -- '--[a-z][a-z-]*' | sort -u; }
names='status|list|update|option|checksum|backup|restore'
commands() { grep -oE "^  ($names)\\b|^ {7}($names)\\b" |
  tr -d ' ' | sort -u; }
if ! diff <(options <<<"$help") <(options <<<"$manual") >"$scratch/options.diff"; then
  echo "options in --help (<) and in the man page (>) differ:"; cat "$scratch/options.diff"; exit 1
fi
if ! diff <(commands <<<"$help") <(commands <<<"$manual") >"$scratch/commands.diff"; then
  echo "commands in --help (<) and in the man page (>) differ:"; cat "$scratch/commands.diff"; exit 1
fi
echo "installed and ran"

# Sourced by the scripts: prepares the Wine prefix in $WINEPREFIX (made when
# missing) quietly and without the Mono and Gecko download prompts.
#
# lu14_prepare_wine_prefix headless: for Xvfb, which has no window manager.
# Wine then draws the window frames itself (so screenshots show them) and does
# not wait for a window manager to withdraw each hidden window, which would
# cost two seconds every time a message box closes.
# lu14_prepare_wine_prefix desktop: windows managed by the desktop's manager.
export WINEDEBUG="${WINEDEBUG:--all}"
lu14_prepare_wine_prefix() {
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  fi
  # Wine links the profile's Documents to the Unix home, which every prefix
  # shares: give this prefix a Documents of its own, so that the backups of
  # one run never meet those of another, nor land in the user's home.
  local documents
  documents="$WINEPREFIX/drive_c/users/$(id -un)/Documents"
  if [[ -L "$documents" ]]; then
    rm "$documents"
    mkdir "$documents"
  fi
  local value=Y
  [[ "$1" == headless ]] && value=N
  for setting in Decorated Managed; do
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$setting" /d "$value" /f >/dev/null 2>&1
  done
}

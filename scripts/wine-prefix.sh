# Sourced by the scripts: prepares the Wine prefix in $WINEPREFIX (made when
# missing) quietly, without the Mono and Gecko download prompts, and with
# Wine drawing the window frames itself so that screenshots show them.
export WINEDEBUG="${WINEDEBUG:--all}"
lu14_prepare_wine_prefix() {
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  fi
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
}

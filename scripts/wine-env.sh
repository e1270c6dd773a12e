# Sourced by the scripts: the build tree's own Wine prefix, never the user's.
wine_prefix_env() {
  export WINEPREFIX="$1/wineprefix"
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No Mono or Gecko installer prompts: the program needs neither.
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  WINE=$(command -v /usr/lib/wine/wine64 || command -v wine64 || command -v wine)
  WINESERVER=$(command -v /usr/lib/wine/wineserver || command -v wineserver)
  export WINE WINESERVER
}

# Creates the prefix once, and starts the services and a persistent
# wineserver with no terminal or pipe attached (Wine's background processes
# inherit standard handles).
wine_prefix_start() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    "$WINE" wineboot --init </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w
    # A crash must end the test run's program, not wait behind a dialog.
    "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    "$WINESERVER" -w
  fi
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
  "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
}

wine_prefix_stop() {
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
}

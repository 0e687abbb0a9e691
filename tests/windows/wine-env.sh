# Sourced by tests/windows/run.sh: a fresh, headless Wine for the Windows tests, removed again by
# wine_env_down. Why each step:
#  * a new WINEPREFIX in a temporary folder: nothing from a user's ~/.wine, nothing left behind;
#  * WINEDEBUG=-all: no fixme lines on standard error (which the tests read);
#  * LC_ALL=C.UTF-8: Wine decodes the Unix command line with the Unix locale; without a UTF-8
#    locale non-ASCII arguments arrive mangled;
#  * WINEDLLOVERRIDES: a crash prints one line instead of a debugger dump; no Mono or Gecko;
#  * wineserver -p first, then wineboot with its output on /dev/null: the helper processes that
#    the first Wine program starts (services.exe, ...) inherit its standard output; were that a
#    pipe a test reads, the test would wait for them (2.5 s per run, or for ever).
wine_env_up() {
  WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/weldrix-wine.XXXXXX")"
  export WINEPREFIX WINEDEBUG=-all WINEARCH=win64 LC_ALL=C.UTF-8
  export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  wineserver -p </dev/null >/dev/null 2>&1
  if ! wineboot -i </dev/null >/dev/null 2>&1; then
    echo "wineboot failed" >&2
    return 1
  fi
}

wine_env_down() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
}

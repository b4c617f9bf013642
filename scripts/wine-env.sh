# Sourced by the scripts that run Windows programs: a Wine prefix of our own
# inside the build folder, a persistent wineserver, and an X display.
#   TAMSEL_WINE_ARCH=win64 (default; the program runs under WOW64) or win32.
# shellcheck shell=bash
TAMSEL_ROOT=${TAMSEL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
TAMSEL_BUILD=${TAMSEL_BUILD_DIR:-$TAMSEL_ROOT/build}
TAMSEL_WINE_ARCH=${TAMSEL_WINE_ARCH:-win64}
export WINEPREFIX="$TAMSEL_BUILD/wine-$TAMSEL_WINE_ARCH"
export WINEARCH=$TAMSEL_WINE_ARCH
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko prompts: the program needs neither.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"

tamsel_start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    TAMSEL_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && return 0
      sleep 0.1
    done
  done
  echo "could not start Xvfb" >&2
  return 1
}

tamsel_start_wine() {
  mkdir -p "$TAMSEL_BUILD"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "[wine] creating $TAMSEL_WINE_ARCH prefix in $WINEPREFIX" >&2
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  # A persistent server makes each later program start cheap.
  wineserver -p >/dev/null 2>&1 || true
  # Wine's own background processes (services, device drivers) start with the
  # first program and outlive it. Start them here, away from any caller's
  # output pipes, which a test runner would otherwise wait on forever.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  # Without a window manager (Xvfb), Wine waits two seconds for one on every
  # window it hides; windows it does not hand to a manager need no wait.
  if [ ! -f "$WINEPREFIX/.tamsel-unmanaged" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.tamsel-unmanaged"
  fi
}

tamsel_stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${TAMSEL_XVFB_PID:-}" ]; then kill "$TAMSEL_XVFB_PID" 2>/dev/null || true; fi
}

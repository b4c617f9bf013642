# Sourced by the scripts that run Windows programs. Every program runs in one
# of three test configurations, each with a Wine prefix of its own inside the
# build folder, a persistent wineserver, and an X display:
#   x64    64-bit programs (build/win-x64) in a 64-bit prefix, Wine's 64-bit loader
#   wow64  the 32-bit program (build/win) in a 64-bit prefix: it runs under WOW64
#   win32  the 32-bit program in a WINEARCH=win32 prefix: a 32-bit Windows
# Some kernels cannot execute 32-bit x86 code at all; there only x64 runs.
# Debian's /usr/bin/wine wrapper always picks the 32-bit loader when it is
# installed, so the loaders are named here directly.
# shellcheck shell=bash
TAMSEL_ROOT=${TAMSEL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
TAMSEL_BUILD=${TAMSEL_BUILD_DIR:-$TAMSEL_ROOT/build}
TAMSEL_ALL_CONFIGS="x64 wow64 win32"
TAMSEL_WINE32_LOADER=/usr/lib/wine/wine
TAMSEL_WINE64_LOADER=/usr/lib/wine/wine64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko prompts: the program needs neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml=;winemenubuilder.exe=d"}

# Whether this machine executes 32-bit x86 code; the reason lands in
# TAMSEL_32BIT_NOTE. The 32-bit loader's own --version is the test: on a
# kernel without 32-bit emulation it fails with "Exec format error" (126).
tamsel_can_run_32bit() {
  if [ -n "${TAMSEL_32BIT_OK:-}" ]; then [ "$TAMSEL_32BIT_OK" = 1 ]; return; fi
  local out status=0
  if [ ! -x "$TAMSEL_WINE32_LOADER" ]; then
    TAMSEL_32BIT_OK=0 TAMSEL_32BIT_NOTE="Wine's 32-bit loader $TAMSEL_WINE32_LOADER is not installed"
  else
    out=$("$TAMSEL_WINE32_LOADER" --version 2>&1) || status=$?
    if [ "$status" -eq 0 ]; then
      TAMSEL_32BIT_OK=1 TAMSEL_32BIT_NOTE="this machine executes 32-bit code ($out)"
    else
      TAMSEL_32BIT_OK=0
      TAMSEL_32BIT_NOTE="this machine's kernel cannot execute 32-bit code ($TAMSEL_WINE32_LOADER --version: exit $status${out:+, ${out##*: }})"
    fi
  fi
  export TAMSEL_32BIT_OK TAMSEL_32BIT_NOTE
  [ "$TAMSEL_32BIT_OK" = 1 ]
}

# The configurations to run, into TAMSEL_CONFIGS_RUN, with one line saying
# which run and why the others do not in TAMSEL_CONFIGS_NOTE. TAMSEL_CONFIGS
# (a list, spaces or commas) forces a choice.
tamsel_select_configs() {
  local c run=() skipped=() why
  if [ -n "${TAMSEL_CONFIGS:-}" ]; then
    for c in ${TAMSEL_CONFIGS//,/ }; do
      case " $TAMSEL_ALL_CONFIGS " in
        *" $c "*) run+=("$c") ;;
        *) echo "TAMSEL_CONFIGS: unknown configuration '$c' (known: $TAMSEL_ALL_CONFIGS)" >&2; return 2 ;;
      esac
    done
    why="chosen by TAMSEL_CONFIGS=$TAMSEL_CONFIGS"
    if [[ " ${run[*]} " =~ \ (wow64|win32)\  ]] && ! tamsel_can_run_32bit; then
      why="$why, although $TAMSEL_32BIT_NOTE"
    fi
  elif tamsel_can_run_32bit; then
    run=(x64 wow64 win32)
    why=$TAMSEL_32BIT_NOTE
  else
    run=(x64)
    why=$TAMSEL_32BIT_NOTE
  fi
  for c in $TAMSEL_ALL_CONFIGS; do
    [[ " ${run[*]} " == *" $c "* ]] || skipped+=("$c")
  done
  TAMSEL_CONFIGS_RUN="${run[*]}"
  TAMSEL_CONFIGS_NOTE="configurations run: ${run[*]}; not run: ${skipped[*]:-none}: $why"
}

# Which configuration a Windows program belongs to by default: its bitness,
# read from the PE optional header's magic (0x10b PE32, 0x20b PE32+).
tamsel_pe_bits() {
  local offset magic
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 1
  [ -n "$offset" ] || return 1
  magic=$(od -An -tx2 -j$((offset + 24)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case "$magic" in
    010b) echo 32 ;;
    020b) echo 64 ;;
    *) return 1 ;;
  esac
}

# The build tree whose programs a configuration runs.
tamsel_config_tree() {
  case "$1" in
    x64) echo "$TAMSEL_BUILD/win-x64" ;;
    *) echo "$TAMSEL_BUILD/win" ;;
  esac
}

# Points the environment at a configuration's prefix and loader.
tamsel_use_config() {
  TAMSEL_CONFIG=$1
  export TAMSEL_CONFIG
  export WINEPREFIX="$TAMSEL_BUILD/wine-$1"
  case "$1" in
    x64)
      export WINEARCH=win64
      export WINELOADER=$TAMSEL_WINE64_LOADER
      TAMSEL_WINE=$TAMSEL_WINE64_LOADER
      ;;
    wow64 | win32)
      if [ "$1" = wow64 ]; then export WINEARCH=win64; else export WINEARCH=win32; fi
      unset WINELOADER
      TAMSEL_WINE=$TAMSEL_WINE32_LOADER
      ;;
    *)
      echo "unknown configuration '$1' (known: $TAMSEL_ALL_CONFIGS)" >&2
      return 2
      ;;
  esac
}

# The configuration a script uses when nobody names one: the 32-bit program
# under WOW64 where this machine runs it, otherwise the 64-bit build.
tamsel_default_config() {
  if tamsel_can_run_32bit; then echo wow64; else echo x64; fi
}

# A Windows program of the current configuration (cmd.exe, reg.exe, ...).
tamsel_wine() { "$TAMSEL_WINE" "$@"; }

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

# Creates the current configuration's prefix on first use and keeps its
# wineserver running.
tamsel_start_wine() {
  mkdir -p "$TAMSEL_BUILD"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "[wine] creating the $TAMSEL_CONFIG prefix in $WINEPREFIX" >&2
    tamsel_wine wineboot.exe -i </dev/null >/dev/null 2>&1 || true
    wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "[wine] could not create $WINEPREFIX with $TAMSEL_WINE" >&2
      return 1
    fi
  fi
  # A persistent server makes each later program start cheap.
  wineserver -p >/dev/null 2>&1 || true
  # Wine's own background processes (services, device drivers) start with the
  # first program and outlive it. Start them here, away from any caller's
  # output pipes, which a test runner would otherwise wait on forever.
  tamsel_wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  # Without a window manager (Xvfb), Wine waits two seconds for one on every
  # window it hides; windows it does not hand to a manager need no wait.
  if [ ! -f "$WINEPREFIX/.tamsel-unmanaged" ]; then
    tamsel_wine reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.tamsel-unmanaged"
  fi
}

# Makes the current configuration's prefix trust the project's test CA, with
# the trustca tool built for that configuration.
tamsel_trust_ca() {
  local tls="$TAMSEL_BUILD/tls"
  "$TAMSEL_ROOT/scripts/make-ca.sh" "$tls" >/dev/null
  tamsel_wine "$(tamsel_config_tree "$TAMSEL_CONFIG")/tools/trustca.exe" "$tls/ca.der" </dev/null
}

tamsel_stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${TAMSEL_XVFB_PID:-}" ]; then kill "$TAMSEL_XVFB_PID" 2>/dev/null || true; fi
}

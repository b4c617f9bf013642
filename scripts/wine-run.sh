#!/usr/bin/env bash
# The one way this project starts a Windows program:
#   wine-run.sh [--config x64|wow64|win32] program.exe [args...]
# Without --config a program file picks its own: a 64-bit program runs in x64,
# a 32-bit one in wow64. A program that cannot run in the named configuration
# is refused. The prefix is created on first use and a persistent wineserver
# keeps later starts cheap. Programs with windows need DISPLAY.
set -euo pipefail
config=
if [ "${1:-}" = "--config" ]; then
  config=$2
  shift 2
fi
if [ $# -eq 0 ]; then
  echo "usage: $0 [--config x64|wow64|win32] program.exe [args...]" >&2
  exit 2
fi
# shellcheck source=wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

bits=
if [ -f "$1" ]; then
  bits=$(tamsel_pe_bits "$1") || { echo "$0: $1 is not a Windows program" >&2; exit 2; }
fi
if [ -z "$config" ]; then
  case "$bits" in
    64) config=x64 ;;
    32) config=wow64 ;;
    *) config=$(tamsel_default_config) ;;
  esac
fi
case "$config:$bits" in
  x64:32 | wow64:64 | win32:64)
    echo "$0: $1 is a $bits-bit program; it does not belong to the $config configuration" >&2
    exit 2
    ;;
esac
tamsel_use_config "$config"
tamsel_start_wine
exec "$TAMSEL_WINE" "$@"

#!/usr/bin/env bash
# Runs a command with Wine told to load the DLLs named below from a program's
# own folder first, as Windows does, instead of its built-in ones. Wine reads
# this when a process starts, from the environment it was started with; a
# variable set inside a Windows program does not reach the processes it starts.
set -euo pipefail
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=;winemenubuilder.exe=d};gdiplus,comctl32,winhttp,wininet,riched20=n,b"
exec "$@"

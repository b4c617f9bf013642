#!/usr/bin/env bash
# Runs a Windows test program beside the misbehaving event peer:
#   run-with-peer.sh TLS_DIR ADDRESS command [args...]
# The command is the wine-run.sh line that starts the program; the peer's
# address reaches the program as TAMSEL_TEST_PEER.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tls=$1 address=$2
shift 2
"$here/../../scripts/make-ca.sh" "$tls" >/dev/null
ready=$(mktemp -u)
python3 "$here/event_peer.py" "$tls" "$address" "$ready" </dev/null >/dev/null 2>&1 &
peer=$!
trap 'kill "$peer" 2>/dev/null || true; wait "$peer" 2>/dev/null || true; rm -f "$ready"' EXIT
for _ in $(seq 1 100); do
  [ -e "$ready" ] && break
  kill -0 "$peer" 2>/dev/null || { echo "the event peer did not start on $address:443" >&2; exit 1; }
  sleep 0.1
done
export TAMSEL_TEST_PEER=$address
"$@"

#!/usr/bin/env bash
# Runs a Windows test program with the download test server beside it:
#   run-with-server.sh TLS_DIR command [args...]
# The command is the wine-run.sh line that starts the program; the server's
# ports reach the program as TAMSEL_TEST_HTTP_PORT and TAMSEL_TEST_HTTPS_PORT.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tls=$1
shift
"$here/../../scripts/make-ca.sh" "$tls" >/dev/null
ports=$(mktemp)
rm -f "$ports"
python3 "$here/test_server.py" "$tls" "$ports" </dev/null >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -f "$ports"' EXIT
for _ in $(seq 1 100); do
  [ -s "$ports" ] && break
  kill -0 "$server" 2>/dev/null || { echo "the test server did not start" >&2; exit 1; }
  sleep 0.1
done
read -r TAMSEL_TEST_HTTP_PORT TAMSEL_TEST_HTTPS_PORT <"$ports"
export TAMSEL_TEST_HTTP_PORT TAMSEL_TEST_HTTPS_PORT
"$@"

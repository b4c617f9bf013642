# Sourced by the test and demo scripts: runs the project's service on
# loopback port 443 (where the wizard always connects) with the demo campaign.
# wine-env.sh's tamsel_trust_ca makes a prefix trust its certificate authority.
# Source wine-env.sh first: the files served depend on what this machine runs.
# shellcheck shell=bash
TAMSEL_ROOT=${TAMSEL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
TAMSEL_BUILD=${TAMSEL_BUILD_DIR:-$TAMSEL_ROOT/build}
TAMSEL_TLS="$TAMSEL_BUILD/tls"

# The files the service hands out: installers every configuration run on this
# machine can start (32-bit ones run in all three where 32-bit code runs).
tamsel_demo_files() {
  if [ -n "${TAMSEL_SERVICE_FILES:-}" ]; then
    echo "$TAMSEL_SERVICE_FILES"
  elif tamsel_can_run_32bit; then
    echo "$TAMSEL_BUILD/native/demo-files"
  else
    echo "$TAMSEL_BUILD/native/demo-files-x64"
  fi
}

# TAMSEL_SERVICE_DB names the event database; TAMSEL_SERVICE_READBACK=1 turns on
# POST /events, which the Windows tests read their stored events back with;
# TAMSEL_SERVICE_CAMPAIGN replaces the demo campaign (the tests' scenarios);
# TAMSEL_SERVICE_FILES_RATE paces the files (KiB/s) so downloads can be watched.
tamsel_start_service() {
  "$TAMSEL_ROOT/scripts/make-ca.sh" "$TAMSEL_TLS" >/dev/null
  mkdir -p "$TAMSEL_BUILD/service"
  local log="$TAMSEL_BUILD/service/service.log"
  local extra=()
  if [ "${TAMSEL_SERVICE_READBACK:-}" = 1 ]; then extra+=(--readback); fi
  if [ -n "${TAMSEL_SERVICE_FILES_RATE:-}" ]; then extra+=(--files-rate "$TAMSEL_SERVICE_FILES_RATE"); fi
  if [ -n "${TAMSEL_SERVICE_REPORT_TOKEN_FILE:-}" ]; then
    extra+=(--report-token-file "$TAMSEL_SERVICE_REPORT_TOKEN_FILE")
  fi
  "$TAMSEL_BUILD/native/tamsel-service" --port 443 \
    --cert "$TAMSEL_TLS/server.pem" --key "$TAMSEL_TLS/server.key" \
    --campaign "${TAMSEL_SERVICE_CAMPAIGN:-$TAMSEL_ROOT/service/demo/campaign.json}" --files "$(tamsel_demo_files)" \
    --db "${TAMSEL_SERVICE_DB:-$TAMSEL_BUILD/service/events.sqlite}" "${extra[@]}" \
    </dev/null >"$log" 2>&1 &
  TAMSEL_SERVICE_PID=$!
  local i
  for i in $(seq 1 100); do
    grep -q '^listening on' "$log" 2>/dev/null && return 0
    kill -0 "$TAMSEL_SERVICE_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the service did not start:" >&2
  cat "$log" >&2
  return 1
}

tamsel_stop_service() {
  if [ -n "${TAMSEL_SERVICE_PID:-}" ]; then
    kill "$TAMSEL_SERVICE_PID" 2>/dev/null || true
    wait "$TAMSEL_SERVICE_PID" 2>/dev/null || true
    TAMSEL_SERVICE_PID=
  fi
}

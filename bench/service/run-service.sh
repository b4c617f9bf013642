#!/usr/bin/env bash
# Events per second the service stores for concurrent TLS clients, beside
# what raw SQLite commits on the same disk, in one run. By hand:
#   bench/service/run-service.sh [CLIENTS] [SECONDS]
# TAMSEL_BUILD_DIR names the build folder (default build/); the database
# files go into $TAMSEL_BUILD_DIR/bench-service, on the disk being measured.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${TAMSEL_BUILD_DIR:-$ROOT/build}
CLIENTS=${1:-16}
SECONDS_EACH=${2:-5}

cmake -S "$ROOT/service" -B "$BUILD/native" >/dev/null
cmake --build "$BUILD/native" --target tamsel-service -j2 >/dev/null
cmake -S "$ROOT/bench/service" -B "$BUILD/bench-service" >/dev/null
cmake --build "$BUILD/bench-service" -j2 >/dev/null
"$ROOT/scripts/make-ca.sh" "$BUILD/bench-service/tls" >/dev/null
mkdir -p "$BUILD/bench-service/run"
exec "$BUILD/bench-service/service_bench" --service "$BUILD/native/tamsel-service" \
  --cert "$BUILD/bench-service/tls/server.pem" --key "$BUILD/bench-service/tls/server.key" \
  --ca "$BUILD/bench-service/tls/ca.pem" --dir "$BUILD/bench-service/run" \
  --clients "$CLIENTS" --seconds "$SECONDS_EACH"

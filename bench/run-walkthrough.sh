#!/usr/bin/env bash
# Walks the whole wizard without pauses (language, welcome, every offer
# accepted, download, finish) against the service on loopback, and prints its
# wall time beside the sum of its network waits: every request the walk made
# (the configuration and each file, as the service logged them) fetched again
# natively with curl, one after the other, at the same pace. Each
# configuration in one run:
#   bench/run-walkthrough.sh [--runs N] [--rate KIB] [--no-build] [x64|wow64|win32 ...]
# --runs      walks per configuration (default 3); medians are printed
# --rate      the service's pace for files in KiB/s (default 2048), so that
#             the product's download is a real wait
# --no-build  use the programs already built
# Needs port 443 free: it runs the service there, where the wizard connects.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RUNS=3
RATE=2048
BUILD_FIRST=1
CONFIGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) RUNS=$2; shift 2 ;;
    --rate) RATE=$2; shift 2 ;;
    --no-build) BUILD_FIRST=0; shift ;;
    -h | --help) sed -n '2,13p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) CONFIGS+=("$1"); shift ;;
  esac
done
for n in "$RUNS" "$RATE"; do
  if ! [[ "$n" =~ ^[1-9][0-9]*$ ]]; then
    echo "--runs and --rate take positive numbers" >&2
    exit 2
  fi
done

[ "$BUILD_FIRST" = 1 ] && "$ROOT/scripts/build.sh"
# shellcheck source=../scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"
# shellcheck source=../scripts/service-env.sh
source "$ROOT/scripts/service-env.sh"
if [ ${#CONFIGS[@]} -eq 0 ]; then
  tamsel_select_configs
  echo "[bench] $TAMSEL_CONFIGS_NOTE"
  read -ra CONFIGS <<<"$TAMSEL_CONFIGS_RUN"
fi
tamsel_start_display
cleanup() {
  tamsel_stop_service
  tamsel_stop_wine
}
trap cleanup EXIT
TAMSEL_SERVICE_FILES_RATE=$RATE TAMSEL_SERVICE_DB="$TAMSEL_BUILD/service/bench-events.sqlite" tamsel_start_service
log="$TAMSEL_BUILD/service/service.log"

windows_path() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }

# The requests of the log from line $1 on, fetched again natively; prints the
# sum of their times in milliseconds.
replay() {
  local from=$1 total=0 method path status rest t
  local request='{"plv":"3.2.2.1212","l":"en","a":"Harlix","i":"Harlix_DLM","s":"Harlix_3cpp","u":"","o":"6.1.7601"}'
  while read -r method path status rest; do
    [ "$status" = 200 ] || continue
    case "$method $path" in
      "POST /o")
        t=$(curl -s -o /dev/null --cacert "$TAMSEL_TLS/ca.pem" -w '%{time_total}' -X POST \
          -H 'Content-Type: application/json' --data "$request" "https://localhost/o") ;;
      "GET /f/"*)
        t=$(curl -s -o /dev/null --cacert "$TAMSEL_TLS/ca.pem" -w '%{time_total}' "https://localhost$path") ;;
      *) continue ;;
    esac
    total=$(awk -v a="$total" -v b="$t" 'BEGIN { print a + b * 1000 }')
  done < <(tail -n +"$from" "$log")
  printf '%.0f\n' "$total"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for config in "${CONFIGS[@]}"; do
  echo "== $config"
  tamsel_use_config "$config"
  tamsel_start_wine
  tamsel_trust_ca >/dev/null
  tree=$(tamsel_config_tree "$config")
  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  walks=() waits=()
  for run in $(seq 1 "$RUNS"); do
    from=$(($(wc -l <"$log") + 1))
    out=$("$ROOT/scripts/wine-run.sh" --config "$config" "$tree/bench/walkthrough_bench.exe" \
      "$(windows_path "$tree/tamsel.exe")" </dev/null | tr -d '\r')
    walk=$(sed -n 's/^walkthrough_ms //p' <<<"$out")
    if [ -z "$walk" ]; then
      echo "$out" >&2
      exit 1
    fi
    wait_ms=$(replay "$from")
    echo "  walk $run: $(sed -n 's/^offers //p' <<<"$out") offers, ${walk} ms; its requests again natively: ${wait_ms} ms"
    walks+=("$walk")
    waits+=("$wait_ms")
  done
  walk=$(printf '%s\n' "${walks[@]}" | median)
  wait_ms=$(printf '%s\n' "${waits[@]}" | median)
  echo "  median walkthrough ${walk} ms, median network waits ${wait_ms} ms (files paced at ${RATE} KiB/s)"
  echo "  walkthrough / network waits: $(awk -v a="$walk" -v b="$wait_ms" 'BEGIN { printf "%.2f", a / b }')"
  echo "  load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) (on $(nproc) CPUs)"
  wineserver -k >/dev/null 2>&1 || true
done

#!/usr/bin/env bash
# A PostgreSQL server of the tests' own, from Debian's packages:
#   postgres.sh start DIR   a fresh cluster in DIR/data (its socket and log in
#                           DIR/run), on a free loopback port with a random
#                           password; DIR/conninfo holds the connection string
#                           to its "postgres" database
#   postgres.sh stop DIR    stops it (also one a crashed run left behind)
# Without the server's programs, start says so, writes DIR/missing and ends
# with 0: the tests that need the server skip with that message.
# As root the server runs as the "postgres" user (it refuses to run as root);
# when that user cannot reach DIR (a build folder under a private home), the
# cluster goes to a folder of its own under /tmp, which DIR/base names.
set -euo pipefail
cmd=${1:?start or stop}
dir=${2:?folder}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

bindir=${TAMSEL_PG_BINDIR:-}
if [ -z "$bindir" ]; then
  for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V); do bindir=$d; done
fi
server_user=${TAMSEL_PG_USER:-postgres}

as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$server_user" -- "$@"
  else
    "$@"
  fi
}

stop() {
  local base
  base=$(cat "$dir/base" 2>/dev/null || true)
  if [ -n "$bindir" ] && [ -n "$base" ] && [ -f "$base/data/postmaster.pid" ]; then
    as_server "$bindir/pg_ctl" -D "$base/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
  fi
  if [ -n "$base" ] && [ "$base" != "$dir" ]; then rm -rf "$base"; fi
  rm -rf "$dir/base" "$dir/conninfo" "$dir/data" "$dir/run"
}

case "$cmd" in
  stop)
    stop
    ;;
  start)
    stop
    rm -rf "$dir/data" "$dir/run" "$dir/missing"
    if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ] || [ ! -x "$bindir/pg_ctl" ]; then
      echo "PostgreSQL's server programs are not installed (Debian: postgresql), so the tests on PostgreSQL are skipped" |
        tee "$dir/missing"
      exit 0
    fi
    base=$dir
    if [ "$(id -u)" -eq 0 ] && ! runuser -u "$server_user" -- test -x "$dir"; then
      base=$(mktemp -d /tmp/tamsel-postgres-XXXXXX)
      chmod 755 "$base"
    fi
    printf '%s\n' "$base" >"$dir/base"
    mkdir -p "$base/data" "$base/run"
    chmod 700 "$base/data" "$base/run"
    password=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
    umask 077
    printf '%s\n' "$password" >"$base/run/password"
    if [ "$(id -u)" -eq 0 ]; then
      chown "$server_user" "$base/data" "$base/run" "$base/run/password"
    fi
    as_server "$bindir/initdb" -D "$base/data" -U tamsel --pwfile="$base/run/password" \
      --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 -N \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    rm -f "$base/run/password"
    # A free port: ask the kernel, then let the server take it; a race with
    # another program is retried.
    for attempt in 1 2 3; do
      port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
      if as_server "$bindir/pg_ctl" -D "$base/data" -l "$base/run/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $base/run -c shared_buffers=16MB -c max_connections=60" \
        start >/dev/null; then
        printf 'host=127.0.0.1 port=%s user=tamsel password=%s dbname=postgres\n' "$port" "$password" \
          >"$dir/conninfo"
        echo "PostgreSQL on 127.0.0.1:$port (data in $base/data)"
        exit 0
      fi
    done
    cat "$base/run/server.log" >&2
    exit 1
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac

#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# A throw-away PostgreSQL server for the setting database tests.
#   pg_server.sh start STATE_FILE   initdb in a fresh temp dir, start on a Unix
#                                   socket only, create the database "rldb" with
#                                   the schema and write the connection facts
#                                   (socket dir, port, user) to STATE_FILE
#   pg_server.sh stop STATE_FILE    stop the server and remove its directory
# Runs the server as "nobody" when started by root (initdb refuses root).
# When no server can be started STATE_FILE says "unavailable" and the exit
# status is still 0, so the tests that need it skip.
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
schema="$here/../../db/schema_postgresql.sql"
action="${1:-}"
state="${2:-}"
[ -n "$action" ] && [ -n "$state" ] || { echo "usage: $0 start|stop STATE_FILE" >&2; exit 2; }

bindir="${PG_BINDIR:-}"
if [ -z "$bindir" ]; then
  for d in /usr/lib/postgresql/*/bin; do [ -x "$d/initdb" ] && bindir="$d"; done
fi

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

unavailable() {
  echo "status=unavailable" >"$state"
  echo "reason=$1" >>"$state"
  echo "PostgreSQL unavailable: $1" >&2
  exit 0
}

# The server must not hold the caller's pipes open (a test runner waits for them).
for fd in /proc/$$/fd/*; do
  n="${fd##*/}"
  [ "$n" -gt 2 ] 2>/dev/null && eval "exec $n>&-" 2>/dev/null
done

case "$action" in
start)
  [ -n "$bindir" ] || unavailable "no PostgreSQL binaries found"
  dir="$(mktemp -d /tmp/vorlan-pg.XXXXXX)" || unavailable "mktemp failed"
  chmod 755 "$dir"
  mkdir -p "$dir/data" "$dir/sock"
  [ "$(id -u)" -eq 0 ] && chown -R nobody "$dir"
  # A free port number only names the socket file; nothing listens on TCP.
  port=$(( 20000 + RANDOM % 20000 ))
  if ! as_owner "$bindir/initdb" -D "$dir/data" -U vorlan -A trust -E UTF8 --locale=C.UTF-8 \
        >"$dir/initdb.log" 2>&1; then
    unavailable "initdb failed: $(tail -n 3 "$dir/initdb.log" | tr '\n' ' ')"
  fi
  if ! as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir/sock' -p $port -c fsync=off" \
        start >/dev/null 2>&1; then
    unavailable "server did not start: $(tail -n 3 "$dir/server.log" | tr '\n' ' ')"
  fi
  psql=("$bindir/psql" -q -v ON_ERROR_STOP=1 -h "$dir/sock" -p "$port" -U vorlan)
  "${psql[@]}" -d postgres -c "CREATE DATABASE rldb" >/dev/null || unavailable "createdb failed"
  "${psql[@]}" -d rldb -f "$schema" >/dev/null || unavailable "schema failed"
  {
    echo "status=running"
    echo "dir=$dir"
    echo "socket=$dir/sock"
    echo "port=$port"
    echo "user=vorlan"
    echo "bindir=$bindir"
  } >"$state"
  ;;
stop)
  [ -f "$state" ] || exit 0
  dir="$(sed -n 's/^dir=//p' "$state")"
  if [ -n "$dir" ] && [ -d "$dir/data" ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    rm -rf "$dir"
  fi
  rm -f "$state"
  ;;
*)
  echo "usage: $0 start|stop STATE_FILE" >&2; exit 2 ;;
esac

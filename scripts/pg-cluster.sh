#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests and benchmarks.
#
#   pg-cluster.sh start STATE_DIR   initdb into a new temporary directory, start
#                                   the server on its Unix socket and a free
#                                   127.0.0.1 port, write STATE_DIR/cluster.env
#   pg-cluster.sh stop STATE_DIR    stop the server, remove the cluster and the
#                                   state (also after a failed start)
#   pg-cluster.sh halt STATE_DIR    stop the server, keep the cluster
#   pg-cluster.sh resume STATE_DIR  start a halted server again, same port
#
# cluster.env holds KEY=VALUE lines: PGHOST (the socket directory), PGPORT,
# ZELTO_PG_SERVER (127.0.0.1:PORT), ZELTO_PG_USER, ZELTO_PG_PASSWORD (a
# superuser with a fresh random password; password authentication on the
# socket and on TCP), PGDATA.
#
# The server refuses to run as root: as root, the cluster belongs to the
# `postgres` system user (Debian's postgresql package makes it) and its
# commands run through runuser. Without server binaries, `start` says so and
# writes no cluster.env (the PostgreSQL tests then skip); install them with
# scripts/install-deps.sh.
set -euo pipefail

usage() {
  sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

[ $# -eq 2 ] || usage
action=$1
state=$2
env_file=$state/cluster.env

bindir() {
  local dir
  for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    if [ -x "$dir/initdb" ] && [ -x "$dir/pg_ctl" ]; then
      echo "$dir"
      return 0
    fi
  done
  if command -v initdb >/dev/null 2>&1 && command -v pg_ctl >/dev/null 2>&1; then
    dirname "$(command -v pg_ctl)"
    return 0
  fi
  return 1
}

# Runs a server command as the cluster's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

value() { sed -n "s/^$1=//p" "$env_file" 2>/dev/null | head -n 1; }

server_start() {
  local bin=$1 data=$2 port=$3 sock=$4
  as_owner "$bin/pg_ctl" -D "$data" -l "$data/server.log" -w -t 30 \
    -o "-p $port -k $sock -c listen_addresses=127.0.0.1 -c fsync=off \
        -c synchronous_commit=off -c full_page_writes=off -c max_connections=300" \
    start >/dev/null
}

start() {
  local bin
  if ! bin=$(bindir); then
    echo "pg-cluster: no PostgreSQL server binaries (initdb, pg_ctl); the PostgreSQL" \
         "tests will skip. scripts/install-deps.sh installs postgresql-15." >&2
    mkdir -p "$state"
    rm -f "$env_file"
    return 0
  fi
  [ -f "$env_file" ] && stop_cluster
  mkdir -p "$state"
  local root
  root=$(mktemp -d "${TMPDIR:-/tmp}/zelto-pg.XXXXXX")
  echo "$root" >"$state/cluster.dir"
  chmod 755 "$root"
  local password
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  printf '%s\n' "$password" >"$root/pwfile"
  if [ "$(id -u)" -eq 0 ]; then
    id postgres >/dev/null 2>&1 || { echo "pg-cluster: no postgres system user" >&2; return 1; }
    chown postgres: "$root" "$root/pwfile"
  fi
  chmod 600 "$root/pwfile"
  if ! as_owner "$bin/initdb" -D "$root/data" -U zelto --pwfile="$root/pwfile" \
      --auth=scram-sha-256 -E UTF8 --locale=C >"$root/initdb.log" 2>&1; then
    cat "$root/initdb.log" >&2
    return 1
  fi
  rm -f "$root/pwfile"
  # A free loopback port: another server may hold the first one tried.
  local port tries
  for tries in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 30000))
    if server_start "$bin" "$root/data" "$port" "$root"; then
      {
        echo "PGHOST=$root"
        echo "PGPORT=$port"
        echo "ZELTO_PG_SERVER=127.0.0.1:$port"
        echo "ZELTO_PG_USER=zelto"
        echo "ZELTO_PG_PASSWORD=$password"
        echo "PGDATA=$root/data"
        echo "PGBIN=$bin"
      } >"$env_file"
      echo "pg-cluster: PostgreSQL on 127.0.0.1:$port and $root (state in $state)"
      return 0
    fi
  done
  echo "pg-cluster: the server did not start:" >&2
  tail -n 20 "$root/data/server.log" >&2 || true
  return 1
}

stop_cluster() {
  local root
  root=$(cat "$state/cluster.dir" 2>/dev/null || true)
  local bin
  bin=$(bindir || true)
  if [ -n "$root" ] && [ -d "$root/data" ] && [ -n "$bin" ]; then
    as_owner "$bin/pg_ctl" -D "$root/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  case "$root" in
    */zelto-pg.*) rm -rf "$root" ;;
  esac
  rm -f "$env_file" "$state/cluster.dir"
}

case "$action" in
  start) start ;;
  stop) stop_cluster ;;
  halt)
    as_owner "$(value PGBIN)/pg_ctl" -D "$(value PGDATA)" -m fast -w stop >/dev/null ;;
  resume)
    server_start "$(value PGBIN)" "$(value PGDATA)" "$(value PGPORT)" "$(value PGHOST)" ;;
  *) usage ;;
esac

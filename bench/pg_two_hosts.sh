#!/usr/bin/env bash
# Two `zelto serve` hosts against one PostgreSQL database vs one host, in the
# same run: operator polls (GetUserMsg.asp, nothing unread) under wrk, 50
# keep-alive connections in all (one host: 50; two hosts: 25 each, at the same
# time). Everything runs on 127.0.0.1 of this machine, so both hosts share its
# cores with the database server: the figure shows what the hosts add, not
# what more machines would give.
#
#   bench/pg_two_hosts.sh BUILD_DIR [DURATION]
set -euo pipefail

build_dir="$(cd "${1:-build}" && pwd)"
duration="${2:-10}"
bin="$build_dir/bin"
here="$(cd "$(dirname "$0")" && pwd)"
command -v wrk >/dev/null || { echo "pg_two_hosts: skipped, needs wrk" >&2; exit 0; }

scratch="$(mktemp -d /tmp/zelto-two-hosts.XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  bash "$here/../scripts/pg-cluster.sh" stop "$scratch/pg" >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/pg"
bash "$here/../scripts/pg-cluster.sh" start "$scratch/pg" >/dev/null
[ -f "$scratch/pg/cluster.env" ] || { echo "pg_two_hosts: skipped, no PostgreSQL" >&2; exit 0; }
# shellcheck disable=SC1091
source "$scratch/pg/cluster.env"
export ZELTO_REGISTRY="$scratch/registry"
db=(--engine postgresql --server "$ZELTO_PG_SERVER" --user "$ZELTO_PG_USER"
    --password "$ZELTO_PG_PASSWORD")

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

start_host() {  # prints "PORT SESSION" of a host with operator 5 logged in
  local port
  port="$(free_port)"
  mkdir -p "$scratch/files-$port"
  "$bin/zelto" serve "${db[@]}" --data "$scratch/files-$port" --listen "127.0.0.1:$port" \
    --access-log off >"$scratch/host-$port.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 200); do
    curl -sf -o /dev/null "http://127.0.0.1:$port/healthz" && break
    sleep 0.05
  done
  curl -s -c "$scratch/cookies-$port" -o /dev/null -d 'id=5&password=demo5' \
    "http://127.0.0.1:$port/api/login"
  local session
  session="$(awk '$6 == "ZSESSIONID" {print $7}' "$scratch/cookies-$port")"
  [ -n "$session" ] || { echo "pg_two_hosts: login failed on $port" >&2; exit 1; }
  curl -s -o /dev/null -b "ZSESSIONID=$session" \
    "http://127.0.0.1:$port/operator/GetUserMsg.asp?cid=1"  # reads what was unread
  echo "$port $session"
}

rate() {  # PORT SESSION CONNECTIONS: requests per second
  wrk -t1 -c"$3" -d"${duration}s" -H "Cookie: ZSESSIONID=$2" \
    "http://127.0.0.1:$1/operator/GetUserMsg.asp?cid=1" | awk '/^Requests\/sec:/ {print $2}'
}

read -r port_a session_a < <(start_host)
read -r port_b session_b < <(start_host)

one="$(rate "$port_a" "$session_a" 50)"
rate "$port_a" "$session_a" 25 >"$scratch/a.rps" &
wrk_a=$!
rate "$port_b" "$session_b" 25 >"$scratch/b.rps"
wait "$wrk_a"
two="$(awk '{ s += $1 } END { print s }' "$scratch/a.rps" "$scratch/b.rps")"

echo "== pg_two_hosts: operator polls on one PostgreSQL database, ${duration}s, 127.0.0.1"
awk -v one="$one" -v two="$two" 'BEGIN {
  printf "%-28s %12s\n", "hosts", "requests/s"
  printf "%-28s %12.0f\n", "one host, 50 connections", one
  printf "%-28s %12.0f\n", "two hosts, 25 + 25", two
  printf "two hosts / one host: %.2f\n", two / one
}'

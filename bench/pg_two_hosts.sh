#!/usr/bin/env bash
# Two `zelto serve` hosts against one PostgreSQL database vs one host, in the
# same run: operator polls (GetUserMsg.asp, nothing unread) under wrk, 50
# keep-alive connections in all (one host: 50; two hosts: 25 each, at the same
# time). Everything runs on 127.0.0.1 of this machine, so both hosts share its
# cores with the database server: the figure shows what the hosts add, not
# what more machines would give. The CPU each side used while the two hosts
# ran (hosts, PostgreSQL's processes, wrk) is printed beside the rates, and
# the run ends with a "RESULT|7|..." line for bench/run.sh.
#
#   bench/pg_two_hosts.sh BUILD_DIR [DURATION]
set -euo pipefail

build_dir="$(cd "${1:-build}" && pwd)"
duration="${2:-10}"
bin="$build_dir/bin"
here="$(cd "$(dirname "$0")" && pwd)"
command -v wrk >/dev/null || { echo "pg_two_hosts: skipped, needs wrk" >&2; exit 0; }

# shellcheck source=bench/serve_lib.sh
source "$here/serve_lib.sh"
bench_scratch two-hosts
start_pg_cluster
export ZELTO_REGISTRY="$scratch/registry"
db=(--engine postgresql --server "$ZELTO_PG_SERVER" --user "$ZELTO_PG_USER"
    --password "$ZELTO_PG_PASSWORD")

start_host() {  # prints "PORT SESSION PID" of a host with operator 5 logged in
  local port
  port="$(free_port)"
  mkdir -p "$scratch/files-$port"
  "$bin/zelto" serve "${db[@]}" --data "$scratch/files-$port" --demo --listen "127.0.0.1:$port" \
    --access-log off >"$scratch/host-$port.out" 2>&1 &
  local pid=$!
  wait_http "http://127.0.0.1:$port/healthz"
  curl -s -c "$scratch/cookies-$port" -o /dev/null -d 'id=5&password=demo5' \
    "http://127.0.0.1:$port/api/login"
  local session
  session="$(awk '$6 == "ZSESSIONID" {print $7}' "$scratch/cookies-$port")"
  [ -n "$session" ] || { echo "pg_two_hosts: login failed on $port" >&2; kill "$pid"; exit 1; }
  curl -s -o /dev/null -b "ZSESSIONID=$session" \
    "http://127.0.0.1:$port/operator/GetUserMsg.asp?cid=1"  # reads what was unread
  echo "$port $session $pid"
}

rate() {  # PORT SESSION CONNECTIONS: requests per second
  wrk -t1 -c"$3" -d"${duration}s" -H "Cookie: ZSESSIONID=$2" \
    "http://127.0.0.1:$1/operator/GetUserMsg.asp?cid=1" | awk '/^Requests\/sec:/ {print $2}'
}

ticks() {  # PID...: CPU time used so far (user + system, clock ticks); gone processes count 0
  local pid total=0
  for pid in "$@"; do
    [ -r "/proc/$pid/stat" ] || continue
    # Fields after the command name, which may hold spaces: utime is the 12th.
    total=$((total + $(sed 's/.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}')))
  done
  echo "$total"
}
postgres_pids() {
  local main
  main="$(head -1 "$PGDATA/postmaster.pid")"
  echo "$main" $(ps -o pid= --ppid "$main")
}

# (start_host runs in a subshell: its host is added to pids here.)
read -r port_a session_a pid_a < <(start_host)
pids+=("$pid_a")
read -r port_b session_b pid_b < <(start_host)
pids+=("$pid_b")
host_pids=("$pid_a" "$pid_b")

one="$(rate "$port_a" "$session_a" 50)"
pg_before=$(ticks $(postgres_pids))
hosts_before=$(ticks "${host_pids[@]}")
machine_before=$(awk '/^cpu / {print $2 + $3 + $4 + $7 + $8}' /proc/stat)
idle_before=$(awk '/^cpu / {print $5 + $6}' /proc/stat)
rate "$port_a" "$session_a" 25 >"$scratch/a.rps" &
wrk_a=$!
rate "$port_b" "$session_b" 25 >"$scratch/b.rps"
wait "$wrk_a"
pg_used=$(( $(ticks $(postgres_pids)) - pg_before ))
hosts_used=$(( $(ticks "${host_pids[@]}") - hosts_before ))
machine_used=$(( $(awk '/^cpu / {print $2 + $3 + $4 + $7 + $8}' /proc/stat) - machine_before ))
idle=$(( $(awk '/^cpu / {print $5 + $6}' /proc/stat) - idle_before ))
two="$(awk '{ s += $1 } END { print s }' "$scratch/a.rps" "$scratch/b.rps")"

echo "== pg_two_hosts: operator polls on one PostgreSQL database, ${duration}s, 127.0.0.1"
awk -v one="$one" -v two="$two" 'BEGIN {
  printf "%-28s %12s\n", "hosts", "requests/s"
  printf "%-28s %12.0f\n", "one host, 50 connections", one
  printf "%-28s %12.0f\n", "two hosts, 25 + 25", two
  printf "two hosts / one host: %.2f\n", two / one
}'
# Where the two cores went while both hosts ran (ticks: the whole machine's
# busy and idle time from /proc/stat, which counts every core).
awk -v pg="$pg_used" -v h="$hosts_used" -v m="$machine_used" -v i="$idle" \
    -v one="$one" -v two="$two" 'BEGIN {
  all = m + i
  if (all <= 0) all = 1
  printf "CPU while two hosts ran: hosts %.0f%%, PostgreSQL %.0f%%, everything else (wrk, other work) %.0f%%, idle %.0f%%\n",
         100 * h / all, 100 * pg / all, 100 * (m - h - pg) / all, 100 * i / all
  printf "RESULT|7|two hosts vs one on one PostgreSQL server, operator polls/s (CPU: hosts %.0f%%, PostgreSQL %.0f%%, other %.0f%%, idle %.0f%%)|%.0f/s|%.0f/s|%.2f|>=1.6\n",
         100 * h / all, 100 * pg / all, 100 * (m - h - pg) / all, 100 * i / all, two, one, two / one
}'

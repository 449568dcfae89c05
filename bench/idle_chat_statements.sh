#!/usr/bin/env bash
# Database statements for one idle open chat: both sides' chat windows open on
# a conversation where nobody writes, for DURATION seconds, with the pages'
# plain 2-second polls and then with long polls (wait=25, the next poll sent
# as soon as one is answered, as the pages do). The pages' polling is played
# by curl loops; the statements are counted by PostgreSQL itself
# (pg_stat_statements, calls on the chat and count databases) on a private
# cluster, reset before each phase. Prints both counts, the ratio, and a
# "RESULT|8|..." line for bench/run.sh.
#
#   bench/idle_chat_statements.sh BUILD_DIR [DURATION]   (default 120 s)
set -euo pipefail

build_dir="$(cd "${1:-build}" && pwd)"
duration="${2:-120}"
bin="$build_dir/bin"
here="$(cd "$(dirname "$0")" && pwd)"
command -v psql >/dev/null || { echo "idle_chat_statements: skipped, needs psql" >&2; exit 0; }

# shellcheck source=bench/serve_lib.sh
source "$here/serve_lib.sh"
bench_scratch idle-chat
start_pg_cluster
echo "shared_preload_libraries = 'pg_stat_statements'" >>"$PGDATA/postgresql.conf"
bash "$here/../scripts/pg-cluster.sh" halt "$scratch/pg" >/dev/null
bash "$here/../scripts/pg-cluster.sh" resume "$scratch/pg" >/dev/null
export PGPASSWORD="$ZELTO_PG_PASSWORD"
sql() { psql -h "$PGHOST" -p "$PGPORT" -U "$ZELTO_PG_USER" -d postgres -Atqc "$1"; }
sql "CREATE EXTENSION IF NOT EXISTS pg_stat_statements" >/dev/null

export ZELTO_REGISTRY="$scratch/registry"
port="$(free_port)"
base="http://127.0.0.1:$port"
"$bin/zelto" serve --engine postgresql --server "$ZELTO_PG_SERVER" --user "$ZELTO_PG_USER" \
  --password "$ZELTO_PG_PASSWORD" --data "$scratch/files" --demo --listen "127.0.0.1:$port" \
  --access-log off >"$scratch/host.out" 2>&1 &
pids+=($!)
wait_http "$base/healthz"

# The conversation: operator 5 logged in, a visitor with an open chat.
op="$scratch/op.cookies"
visitor="$scratch/visitor.cookies"
curl -s -c "$op" -o /dev/null -d 'id=5&password=demo5' "$base/api/login"
curl -s -c "$visitor" -b "$visitor" -o /dev/null "$base/site/index.html"
cid="$(curl -s -c "$visitor" -b "$visitor" -X POST "$base/api/visitor/chat" |
       sed -n 's/.*"cid":\([0-9]*\).*/\1/p')"
[ -n "$cid" ] || { echo "idle_chat_statements: no chat opened" >&2; cat "$scratch/host.out" >&2; exit 1; }
curl -s -b "$visitor" -o /dev/null -d "cid=$cid" "$base/api/visitor/chat-opened"
operator_poll="$base/operator/GetUserMsg.asp?cid=$cid"
visitor_poll="$base/visitor/GetClientMsg.asp?cid=$cid"
curl -s -b "$op" -o /dev/null "$operator_poll"
curl -s -b "$visitor" -o /dev/null "$visitor_poll"

statements() {
  sql "SELECT coalesce(sum(calls), 0) FROM pg_stat_statements s JOIN pg_database d
       ON d.oid = s.dbid WHERE d.datname IN ('chat', 'count')"
}

# One side's window: a poll, then the pause the page would make.
plain_side() {  # COOKIES URL
  local end=$((SECONDS + duration))
  while [ "$SECONDS" -lt "$end" ]; do
    curl -s -b "$1" -o /dev/null "$2"
    sleep 2
  done
}
long_side() {  # COOKIES URL
  local end=$((SECONDS + duration))
  while [ "$SECONDS" -lt "$end" ]; do
    curl -s -m 30 -b "$1" -o /dev/null "$2&wait=25"
  done
}

phase() {  # plain|long: statements during DURATION seconds of both windows open
  sql "SELECT pg_stat_statements_reset()" >/dev/null
  "$1_side" "$op" "$operator_poll" &
  local a=$!
  "$1_side" "$visitor" "$visitor_poll" &
  local b=$!
  wait "$a" "$b"
  statements
}

echo "idle open chat on PostgreSQL, both windows polling for ${duration}s:"
plain="$(phase plain)"
echo "  2-second polling: $plain statements"
long="$(phase long)"
echo "  long polling:     $long statements"
fewer="$(awk -v p="$plain" -v l="$long" 'BEGIN { printf "%.1f", (l > 0 ? p / l : p) }')"
share="$(awk -v p="$plain" -v l="$long" 'BEGIN { printf "%.3f", (p > 0 ? l / p : 0) }')"
echo "  ${fewer}x fewer with long polling (goal: at least 10x)"
echo "RESULT|8|statements per idle open chat in ${duration} s (pg_stat_statements): long polling vs 2-second polling|$long|$plain|$share|<=0.1"

#!/usr/bin/env bash
# Sets up a chat site and runs the chat load generator (chat_load) against it:
# a fresh database with the demo data (`zelto init-db --demo`) plus N
# operators of company 1 (ids 1001.., password "load<ID>", crypt(3) SHA-512
# hashes), HOSTS `zelto serve` hosts on 127.0.0.1 watched for CPU and
# memory, the database's statements counted (SQLite: each host's
# ZELTO_STATEMENT_COUNTER file; PostgreSQL: pg_stat_statements of a private
# cluster, whose CPU is measured too). Without generator options it runs the
# standard scenario of `make bench` (about a minute); everything stops by
# itself, and the scratch folder and processes go at the end.
#
#   bench/chat_load.sh BUILD_DIR [--engine sqlite|postgresql] [--hosts N]
#                      [--operators N] [--threads N] [-- CHAT_LOAD_OPTIONS...]
#
# The generator's report goes to standard output, its RESULT lines included;
# the exit status is the generator's (0: no errors and every message seen).
set -euo pipefail

build_dir="$(cd "${1:-build}" && pwd)"
[ $# -gt 0 ] && shift
bin="$build_dir/bin"
here="$(cd "$(dirname "$0")" && pwd)"
engine=sqlite
hosts=1
operators=5
threads=""
while [ $# -gt 0 ]; do
  case "$1" in
    --engine) engine="$2"; shift 2 ;;
    --hosts) hosts="$2"; shift 2 ;;
    --operators) operators="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --) shift; break ;;
    *) echo "chat_load.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
case "$engine" in sqlite|postgresql) ;; *) echo "chat_load.sh: --engine sqlite|postgresql" >&2; exit 2 ;; esac
[[ "$hosts" =~ ^[1-9][0-9]*$ && "$operators" =~ ^[1-9][0-9]*$ ]] ||
  { echo "chat_load.sh: --hosts and --operators take a count of at least 1" >&2; exit 2; }
if [ "$engine" = sqlite ] && [ "$hosts" -gt 1 ]; then
  echo "chat_load.sh: one host per SQLite database; use --engine postgresql for more" >&2
  exit 2
fi
for program in zelto chat_load; do
  [ -x "$bin/$program" ] || { echo "chat_load.sh: $bin/$program is not built" >&2; exit 1; }
done
if [ $# -eq 0 ]; then
  # The standard scenario: about 180 visitors, 55 chats, 45 s + 10 s drain.
  set -- --duration 45 --drain 10 --arrival-rate 4 --chat-share 0.3 --message-interval 3 \
         --chat-messages 4 --page-interval 2 --console-refresh 5 \
         --label "chat load, standard scenario, $engine, $hosts host$([ "$hosts" -gt 1 ] && echo s)"
fi

# shellcheck source=bench/serve_lib.sh
source "$here/serve_lib.sh"
bench_scratch chat-load
export ZELTO_REGISTRY="$scratch/registry"
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

# The operators: ids 1001.., each with the password load<ID>, hashed by
# crypt(3) as SHA-512 with a random salt (perl-base, always on Debian).
operators_sql() {
  perl -e '
    my @chars = ("a".."z", "A".."Z", 0..9, ".", "/");
    for my $id (@ARGV) {
      my $salt = join "", map { $chars[rand @chars] } 1..16;
      printf "INSERT INTO userinfo (ID, name, CompanyID, Popedom, Invite, conview, pwdHash) " .
             "VALUES (%d, %s, 1, 0, 1, 0, %s);\n", $id, "\x27load$id\x27",
             "\x27" . crypt("load$id", "\$6\$$salt\$") . "\x27";
    }' $(seq 1001 $((1000 + operators)))
  # No limit of running chats per operator: the scenario measures delivery,
  # not the queue.
  echo "INSERT INTO chatSetting (companyId, maxChats) VALUES (1, 100000);"
  seq 1001 $((1000 + operators)) | awk '{ print $1, "load" $1 }' >"$scratch/operators"
}

# The load comes from one address: the per-address and rate limits are lifted.
serve_options=(--access-log off --message-rate 0 --connections-per-address 1000000 --visitor-sessions-per-address 100000000)
[ -n "$threads" ] && serve_options+=(--threads "$threads")
load_options=(--operators-file "$scratch/operators")
if [ "$engine" = sqlite ]; then
  "$bin/zelto" init-db --data "$scratch/data" --demo >/dev/null
  operators_sql | sqlite3 "$scratch/data/chat.db"
  serve_options+=(--data "$scratch/data")
else
  start_pg_cluster
  echo "shared_preload_libraries = 'pg_stat_statements'" >>"$PGDATA/postgresql.conf"
  bash "$here/../scripts/pg-cluster.sh" halt "$scratch/pg" >/dev/null
  bash "$here/../scripts/pg-cluster.sh" resume "$scratch/pg" >/dev/null
  export PGPASSWORD="$ZELTO_PG_PASSWORD"
  psql -h "$PGHOST" -p "$PGPORT" -U "$ZELTO_PG_USER" -d postgres -Atqc \
    "CREATE EXTENSION IF NOT EXISTS pg_stat_statements" >/dev/null
  printf '%s\n' "$ZELTO_PG_PASSWORD" >"$scratch/pg-password"
  db=(--engine postgresql --server "$ZELTO_PG_SERVER" --user "$ZELTO_PG_USER"
      --password-file "$scratch/pg-password")
  "$bin/zelto" init-db "${db[@]}" --demo >/dev/null
  operators_sql | psql -h "$PGHOST" -p "$PGPORT" -U "$ZELTO_PG_USER" -d chat -q -v ON_ERROR_STOP=1 >/dev/null
  serve_options+=("${db[@]}" --data "$scratch/files")
  load_options+=(--pg-env "$scratch/pg/cluster.env")
fi

for ((i = 0; i < hosts; i++)); do
  port="$(free_port)"
  ZELTO_STATEMENT_COUNTER="$scratch/statements-$port" \
    "$bin/zelto" serve "${serve_options[@]}" --demo --listen "127.0.0.1:$port" \
    >"$scratch/host-$port.out" 2>&1 &
  host_pid=$!
  pids+=("$host_pid")
  wait_http "http://127.0.0.1:$port/healthz"
  load_options+=(--host "127.0.0.1:$port" --host-pid "$host_pid")
  [ "$engine" = sqlite ] && load_options+=(--statement-counter "$scratch/statements-$port")
done

status=0
"$bin/chat_load" "${load_options[@]}" "$@" || status=$?
if [ "$status" -ne 0 ]; then  # the hosts' own words on what failed
  for log in "$scratch"/host-*.out; do
    echo "-- $(basename "$log"), last lines:"
    tail -n 20 "$log"
  done
fi
exit "$status"

# Helpers for the benchmark scripts that drive `zelto serve` over HTTP;
# sourced, never run. Expects $bin (the build's bin directory) and $here (the
# bench folder); bench_scratch NAME makes $scratch and the array pids.

bench_scratch() {  # NAME: $scratch, removed at exit, and pids, processes stopped at exit
  scratch="$(mktemp -d "/tmp/zelto-$1.XXXXXX")"
  pids=()
  trap bench_cleanup EXIT
}

bench_cleanup() {  # stops pids and the private cluster, removes $scratch (unless KEEP_SCRATCH)
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -d "$scratch/pg" ]; then
    bash "$here/../scripts/pg-cluster.sh" stop "$scratch/pg" >/dev/null 2>&1 || true
  fi
  [ -n "${KEEP_SCRATCH:-}" ] || rm -rf "$scratch"
}

start_pg_cluster() {  # a private PostgreSQL cluster in $scratch/pg, its settings sourced
  mkdir -p "$scratch/pg"
  bash "$here/../scripts/pg-cluster.sh" start "$scratch/pg" >/dev/null 2>&1 || true
  if [ ! -f "$scratch/pg/cluster.env" ]; then
    echo "$(basename "$0" .sh): skipped, no PostgreSQL" >&2
    exit 0
  fi
  # shellcheck disable=SC1091
  source "$scratch/pg/cluster.env"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_http() {  # URL: waits until it answers, or fails the script
  for _ in $(seq 1 200); do
    curl -sf -o /dev/null "$1" && return 0
    sleep 0.05
  done
  echo "$(basename "$0"): nothing answers at $1" >&2
  exit 1
}

# The load comes from one address: the per-address and rate limits are lifted.
bench_limits=(--message-rate 0 --connections-per-address 1000000 --visitor-sessions-per-address 100000000)

start_zelto() {  # PORT [serve options...]: a host with the demo data in $scratch/data-PORT
  local port="$1"
  shift
  "$bin/zelto" serve --data "$scratch/data-$port" --demo --listen "127.0.0.1:$port" --access-log off \
    "${bench_limits[@]}" "$@" >"$scratch/zelto-$port.out" 2>&1 &
  pids+=($!)
  wait_http "http://127.0.0.1:$port/healthz"
}

operator_session() {  # PORT: logs operator 5 in; prints "SESSION TOKEN"
  local answer session token
  answer="$(curl -s -c "$scratch/cookies-op-$1" -d 'id=5&password=demo5' \
    "http://127.0.0.1:$1/api/login")"
  session="$(awk '$6 == "ZSESSIONID" {print $7}' "$scratch/cookies-op-$1")"
  token="$(sed -n 's/.*"token":"\([0-9a-f]*\)".*/\1/p' <<<"$answer")"
  [ -n "$session" ] || { echo "$(basename "$0"): operator login failed on $1" >&2; exit 1; }
  echo "$session $token"
}

wrk_rate() {  # wrk arguments...: requests per second (non-2xx answers said on stderr)
  local out
  out="$(wrk "$@")"
  local non2xx
  non2xx="$(awk '/Non-2xx/ {print $NF}' <<<"$out")"
  [ -z "$non2xx" ] || echo "$(basename "$0"): $non2xx non-2xx answers: $*" >&2
  awk '/^Requests\/sec:/ {print $2}' <<<"$out"
}

vm_kib() {  # PID FIELD (VmRSS, VmHWM): the value in KiB
  awk -v f="$2:" '$1 == f {print $2}' "/proc/$1/status"
}

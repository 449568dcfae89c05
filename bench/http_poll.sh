#!/usr/bin/env bash
# Poll rate of `zelto serve` under load, against two yardsticks in the same
# run: the smallest Beast keep-alive server (http_poll_minimal_server) and
# nginx serving a tiny static file. The load is wrk with 50 and then with
# 1000 keep-alive connections, DURATION seconds each, two rounds, all on
# 127.0.0.1. Ends with "RESULT|4|..." lines for bench/run.sh.
#
# The poll is an operator's GetUserMsg.asp on the demo conversation 1
# with no unread messages (the first poll reads them), through a logged-in
# session, the way the operator's chat window polls every 2 s.
#
#   bench/http_poll.sh BUILD_DIR [DURATION]
# Installs wrk and nginx (Debian) when missing and root; otherwise skips.
set -euo pipefail

build_dir="${1:-build}"
duration="${2:-10}"
bin="$build_dir/bin"

need=()
command -v wrk >/dev/null || need+=(wrk)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || need+=(nginx-light)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  else
    echo "http_poll: skipped, needs ${need[*]} (apt-get install ${need[*]})" >&2
    exit 0
  fi
fi
nginx_bin="$(command -v nginx || echo /usr/sbin/nginx)"
for program in zelto http_poll_minimal_server; do
  [ -x "$bin/$program" ] || { echo "http_poll: $bin/$program is not built" >&2; exit 1; }
done

# 1000 connections: wrk, the servers and their workers each hold one
# descriptor per connection.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
if [ "$(ulimit -n)" != unlimited ] && [ "$(ulimit -n)" -lt 2200 ]; then
  echo "http_poll: 1000 connections need ulimit -n of at least 2200 (have $(ulimit -n))" >&2
  exit 1
fi

scratch="$(mktemp -d /tmp/zelto-http-poll.XXXXXX)"
chmod 755 "$scratch"  # nginx's worker reads the file as another user
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_http() {  # URL
  for _ in $(seq 1 200); do
    curl -sf -o /dev/null "$1" && return 0
    sleep 0.05
  done
  echo "http_poll: nothing answers at $1" >&2
  exit 1
}

rate() {  # label URL [wrk args...]: prints requests per second
  local label="$1" url="$2"
  shift 2
  local out
  out="$(wrk -t2 -c"$connections" -d"${duration}s" --timeout 10s "$@" "$url")"
  local rps
  rps="$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")"
  local non2xx
  non2xx="$(awk '/Non-2xx/ {print $NF}' <<<"$out")"
  [ -z "$non2xx" ] || echo "http_poll: $label had $non2xx non-2xx answers" >&2
  echo "$rps"
}

# zelto serve with the demo data, the access log off (it is a file write per
# request; measured separately below).
export ZELTO_REGISTRY="$scratch/registry"
zelto_port="$(free_port)"
"$bin/zelto" serve --data "$scratch/data" --demo --listen "127.0.0.1:$zelto_port" --access-log off \
  >"$scratch/zelto.out" 2>&1 &
pids+=($!)
wait_http "http://127.0.0.1:$zelto_port/healthz"
curl -s -c "$scratch/cookies" -o /dev/null -d 'id=5&password=demo5' \
  "http://127.0.0.1:$zelto_port/api/login"
session="$(awk '$6 == "ZSESSIONID" {print $7}' "$scratch/cookies")"
[ -n "$session" ] || { echo "http_poll: login failed" >&2; exit 1; }
poll="http://127.0.0.1:$zelto_port/operator/GetUserMsg.asp?cid=1"
curl -s -o /dev/null -b "ZSESSIONID=$session" "$poll"   # reads what was unread
status="$(curl -s -D - -o /dev/null -b "ZSESSIONID=$session" "$poll" | tr -d '\r' |
  awk -F': ' 'tolower($1)=="x-zelto-hresult" {print $2}')"
[ "$status" = "0x00000001" ] || { echo "http_poll: the poll answered $status" >&2; exit 1; }

minimal_port="$(free_port)"
"$bin/http_poll_minimal_server" "$minimal_port" >/dev/null &
pids+=($!)
wait_http "http://127.0.0.1:$minimal_port/"

nginx_port="$(free_port)"
mkdir -p "$scratch/nginx/www"
printf 'ok\n' >"$scratch/nginx/www/poll.txt"
cat >"$scratch/nginx/nginx.conf" <<CONF
worker_processes 1;
worker_rlimit_nofile 4096;
daemon off;
pid $scratch/nginx/nginx.pid;
error_log $scratch/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $scratch/nginx;
  proxy_temp_path $scratch/nginx;
  fastcgi_temp_path $scratch/nginx;
  uwsgi_temp_path $scratch/nginx;
  scgi_temp_path $scratch/nginx;
  keepalive_requests 1000000;
  server {
    listen 127.0.0.1:$nginx_port;
    root $scratch/nginx/www;
  }
}
CONF
"$nginx_bin" -c "$scratch/nginx/nginx.conf" -p "$scratch/nginx" 2>"$scratch/nginx/start.log" &
pids+=($!)
wait_http "http://127.0.0.1:$nginx_port/poll.txt"

best() {  # the larger of two numbers
  awk -v a="$1" -v b="$2" 'BEGIN { print (a > b ? a : b) }'
}

# Two rounds, servers taking turns, best of the two for each: the machine is
# shared, and a burst of someone else's work should not decide the ratio.
for connections in 50 1000; do
  echo "== http_poll: $connections keep-alive connections, ${duration}s each, wrk -t2, 127.0.0.1, best of 2 rounds"
  zelto_rps=0 minimal_rps=0 nginx_rps=0 health_rps=0
  for round in 1 2; do
    zelto_rps="$(best "$zelto_rps" "$(rate zelto "$poll" -H "Cookie: ZSESSIONID=$session")")"
    minimal_rps="$(best "$minimal_rps" "$(rate minimal "http://127.0.0.1:$minimal_port/poll")")"
    nginx_rps="$(best "$nginx_rps" "$(rate nginx "http://127.0.0.1:$nginx_port/poll.txt")")"
    health_rps="$(best "$health_rps" "$(rate healthz "http://127.0.0.1:$zelto_port/healthz")")"
  done
  awk -v z="$zelto_rps" -v m="$minimal_rps" -v n="$nginx_rps" -v h="$health_rps" -v c="$connections" 'BEGIN {
    if (m <= 0 || n <= 0) { printf "http_poll: no rate measured at %d connections\n", c > "/dev/stderr"; exit 1 }
    printf "%-44s %12s %10s\n", "server", "requests/s", "vs minimal"
    printf "%-44s %12.0f %10.2f\n", "zelto serve: GetUserMsg.asp poll, no unread", z, z / m
    printf "%-44s %12.0f %10.2f\n", "zelto serve: /healthz (no component call)", h, h / m
    printf "%-44s %12.0f %10.2f\n", "minimal Beast handler", m, 1
    printf "%-44s %12.0f %10.2f\n", "nginx, tiny static file (1 worker)", n, n / m
    printf "RESULT|4|HTTP polls/s, %d keep-alive connections: zelto serve vs minimal Beast handler|%.0f/s|%.0f/s|%.2f|>=0.5\n", c, z, m, z / m
    printf "RESULT|4|HTTP polls/s, %d keep-alive connections: zelto serve vs nginx static file|%.0f/s|%.0f/s|%.2f|-\n", c, z, n, z / n
  }'
done

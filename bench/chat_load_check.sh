#!/usr/bin/env bash
# Proves the chat load generator can fail (run by ctest as chat_load_check):
#  1. a short load against a healthy host: exit 0, no errors, messages both
#     ways seen with latencies that are plausible on loopback, statements
#     counted, the host's CPU and memory sampled;
#  2. the host killed halfway: the run still ends on time, exit 1, with the
#     failed requests reported by kind;
#  3. the host frozen (SIGSTOP) halfway: no hang either; the requests that
#     never got an answer are reported as timeouts or cut by the end.
#   bench/chat_load_check.sh BUILD_DIR
set -euo pipefail

build_dir="$(cd "${1:-build}" && pwd)"
bin="$build_dir/bin"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/serve_lib.sh
source "$here/serve_lib.sh"
bench_scratch chat-load-check
export ZELTO_REGISTRY="$scratch/registry"
failures=0

fail() {
  echo "chat_load_check: FAILED: $*" >&2
  failures=$((failures + 1))
}

start_host() {  # prints "PORT PID"; the demo data, statements counted
  local port
  port="$(free_port)"
  ZELTO_STATEMENT_COUNTER="$scratch/statements-$port" "$bin/zelto" serve \
    --data "$scratch/data-$port" --demo --listen "127.0.0.1:$port" --access-log off \
    --message-rate 0 --connections-per-address 1000000 --visitor-sessions-per-address 100000000 \
    >"$scratch/host-$port.out" 2>&1 &
  echo "$port $!"
}

# The host is up: no limit of running chats per operator (the check
# measures delivery, not the queue).
no_chat_limit() {  # PORT
  sqlite3 "$scratch/data-$1/chat.db" "INSERT INTO chatSetting (companyId, maxChats) VALUES (1, 100000)"
}

fast=(--arrival-rate 4 --chat-share 0.6 --message-interval 0.4 --chat-messages 3
      --page-interval 0.3 --console-refresh 0.5 --pages 2)

field() {  # REPORT PATTERN: the first number after PATTERN in the report
  sed -n "s/.*$2 *\([0-9][0-9.]*\).*/\1/p" "$1" | head -1
}

# 1. A healthy host.
read -r port pid < <(start_host)
pids+=("$pid")
wait_http "http://127.0.0.1:$port/healthz"
no_chat_limit "$port"
status=0
"$bin/chat_load" --host "127.0.0.1:$port" --host-pid "$pid" \
  --statement-counter "$scratch/statements-$port" --duration 8 --drain 4 "${fast[@]}" \
  >"$scratch/healthy.txt" 2>&1 || status=$?
cat "$scratch/healthy.txt"
[ "$status" -eq 0 ] || fail "healthy host: exit $status"
grep -q '^errors: 0$' "$scratch/healthy.txt" || fail "healthy host: errors reported"
grep -q 'RESULT|9|chat load: errors|0|' "$scratch/healthy.txt" || fail "healthy host: no errors row"
for side in 'visitor -> operator' 'operator -> visitor'; do
  seen="$(sed -n "s/^messages $side: [0-9]* stored, \([0-9]*\) seen.*/\1/p" "$scratch/healthy.txt")"
  [ "${seen:-0}" -gt 0 ] || fail "healthy host: no message $side seen"
done
awk '/^  both / { if ($2 <= 0 || $4 > 2000 || $6 < 10) exit 1; found = 1 }
     END { exit found ? 0 : 1 }' "$scratch/healthy.txt" ||
  fail "healthy host: latencies implausible (median must be > 0, p99 under 2 s, 10 samples)"
statements="$(field "$scratch/healthy.txt" 'database statements:')"
[ "${statements:-0}" != 0 ] || fail "healthy host: no statements counted"
grep -q "^host pid $pid: CPU" "$scratch/healthy.txt" || fail "healthy host: host not sampled"

# 2 and 3. A host that goes away or freezes 4 s into an 8 s run.
halfway() {  # NAME SIGNAL
  local name="$1" signal="$2" port pid status=0 started
  read -r port pid < <(start_host)
  pids+=("$pid")
  wait_http "http://127.0.0.1:$port/healthz"
  no_chat_limit "$port"
  started=$SECONDS
  "$bin/chat_load" --host "127.0.0.1:$port" --host-pid "$pid" --duration 8 --drain 3 \
    "${fast[@]}" >"$scratch/$name.txt" 2>&1 &
  local load=$!
  sleep 4
  kill "-$signal" "$pid"
  wait "$load" || status=$?
  [ "$signal" = STOP ] && kill -CONT "$pid" 2>/dev/null
  kill "$pid" 2>/dev/null || true
  cat "$scratch/$name.txt"
  # Logging in and the run itself take 11 s; a hang would take far longer.
  [ $((SECONDS - started)) -le 25 ] || fail "$name: the run took $((SECONDS - started)) s"
  [ "$status" -eq 1 ] || fail "$name: exit $status, expected 1"
  local errors
  errors="$(sed -n 's/^errors: \([0-9]*\)$/\1/p' "$scratch/$name.txt")"
  [ "${errors:-0}" -gt 0 ] || fail "$name: no errors reported"
}
halfway killed KILL
grep -Eq 'Connection refused|connection refused' "$scratch/killed.txt" ||
  fail "killed: refused connections not reported"
halfway frozen STOP

if [ "$failures" -gt 0 ]; then
  echo "chat_load_check: $failures check(s) failed"
  exit 1
fi
echo "chat_load_check: 3 passed, 0 failed"

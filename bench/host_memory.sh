#!/usr/bin/env bash
# Resident memory of a `zelto serve` host holding 1000 idle keep-alive
# connections and 1000 sessions: each connection makes one visitor's first
# request (a page of the company site, which gives it a session and a
# visitor label) and then stays open and idle. VmRSS and VmHWM come from
# /proc/PID/status while the connections are held. Ends with a
# "RESULT|6|..." line for bench/run.sh.
#
#   bench/host_memory.sh BUILD_DIR [CONNECTIONS]
set -euo pipefail

build_dir="$(cd "${1:-build}" && pwd)"
connections="${2:-1000}"
bin="$build_dir/bin"
here="$(cd "$(dirname "$0")" && pwd)"
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

# shellcheck source=bench/serve_lib.sh
source "$here/serve_lib.sh"
bench_scratch memory
export ZELTO_REGISTRY="$scratch/registry"

port="$(free_port)"
start_zelto "$port"
host="${pids[-1]}"
curl -s -o /dev/null "http://127.0.0.1:$port/site/"  # the site's first page read once
started="$(vm_kib "$host" VmRSS)"

# Opens the connections, makes each one's request, reports how many got a
# session, then holds them until it is stopped.
cat >"$scratch/hold.py" <<'PY'
import signal, socket, sys
port, count = int(sys.argv[1]), int(sys.argv[2])
request = b"GET /site/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n"
held, sessions = [], 0
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(request)
    data = b""
    while b"\r\n\r\n" not in data:
        data += s.recv(65536)
    head, body = data.split(b"\r\n\r\n", 1)
    length = 0
    for line in head.split(b"\r\n"):
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
        if name.strip().lower() == b"set-cookie" and value.strip().startswith(b"ZSESSIONID="):
            sessions += 1
    while len(body) < length:
        body += s.recv(65536)
    held.append(s)
print("held", len(held), "sessions", sessions, flush=True)
signal.pause()
PY
python3 "$scratch/hold.py" "$port" "$connections" >"$scratch/holder.out" 2>&1 &
pids+=($!)
for _ in $(seq 1 600); do
  grep -q '^held' "$scratch/holder.out" 2>/dev/null && break
  sleep 0.1
done
read -r _ held _ sessions <"$scratch/holder.out" || true
[ "${held:-0}" -eq "$connections" ] || { echo "host_memory: $(cat "$scratch/holder.out")" >&2; exit 1; }
sleep 1
rss="$(vm_kib "$host" VmRSS)"
hwm="$(vm_kib "$host" VmHWM)"

echo "== host_memory: $held idle keep-alive connections, $sessions new sessions"
awk -v s="$started" -v r="$rss" -v h="$hwm" -v c="$held" -v n="$sessions" 'BEGIN {
  printf "VmRSS started %.1f MiB; holding: VmRSS %.1f MiB, VmHWM %.1f MiB\n", s / 1024, r / 1024, h / 1024
  printf "RESULT|6|resident memory of a host holding %d idle keep-alive connections and %d sessions (VmHWM; VmRSS)|%.1f MiB; %.1f MiB|%.1f MiB started|-|<64\n", c, n, h / 1024, r / 1024, s / 1024
}'

#!/usr/bin/env bash
# Posts per second through `zelto serve` while polls run beside them: a
# visitor posts into its conversation (DoClientMsg.asp, 4 keep-alive
# connections) while the operator polls that conversation (GetUserMsg.asp,
# 50 keep-alive connections), so that every poll finds and marks what was
# posted since the last one; then the same posts alone. SQLite, all on 127.0.0.1. Ends
# with a "RESULT|5|..." line for bench/run.sh.
#
#   bench/posts_with_polls.sh BUILD_DIR [DURATION]
set -euo pipefail

build_dir="$(cd "${1:-build}" && pwd)"
duration="${2:-10}"
bin="$build_dir/bin"
here="$(cd "$(dirname "$0")" && pwd)"
command -v wrk >/dev/null || { echo "posts_with_polls: skipped, needs wrk" >&2; exit 0; }

# shellcheck source=bench/serve_lib.sh
source "$here/serve_lib.sh"
bench_scratch posts
export ZELTO_REGISTRY="$scratch/registry"

port="$(free_port)"
start_zelto "$port"
base="http://127.0.0.1:$port"
read -r op_session _ < <(operator_session "$port")

# A visitor: a page of the company site gives the session its label, then a chat.
curl -s -c "$scratch/visitor" -o /dev/null "$base/site/"
cid="$(curl -s -b "$scratch/visitor" -X POST "$base/api/visitor/chat" |
  sed -n 's/.*"cid":\([0-9]*\).*/\1/p')"
visitor="$(awk '$6 == "ZSESSIONID" {print $7}' "$scratch/visitor")"
[ -n "$cid" ] && [ -n "$visitor" ] || { echo "posts_with_polls: no visitor chat" >&2; exit 1; }

post="$base/visitor/DoClientMsg.asp?cid=$cid&action=sub&msgContent=hello%20there"
poll="$base/operator/GetUserMsg.asp?cid=$cid"
hresult() {  # URL SESSION
  curl -s -D - -o /dev/null -b "ZSESSIONID=$2" "$1" | tr -d '\r' |
    awk -F': ' 'tolower($1)=="x-zelto-hresult" {print $2}'
}
[ "$(hresult "$post" "$visitor")" = "0x00000000" ] || { echo "posts_with_polls: the post failed" >&2; exit 1; }
[ "$(hresult "$poll" "$op_session")" = "0x00000000" ] || { echo "posts_with_polls: the poll found nothing" >&2; exit 1; }

posts() { wrk_rate -t1 -c4 -d"${duration}s" -H "Cookie: ZSESSIONID=$visitor" "$post"; }

# With polls first: posts made without polls would all be unread at once,
# and the first poll would mark thousands of messages, one update each.
wrk_rate -t1 -c50 -d"${duration}s" -H "Cookie: ZSESSIONID=$op_session" "$poll" >"$scratch/polls" &
polling=$!
sleep 0.2
with="$(posts)"
wait "$polling"
polls="$(cat "$scratch/polls")"
alone="$(posts)"

echo "== posts_with_polls: visitor posts (4 connections), operator polls (50 connections), ${duration}s, SQLite, 127.0.0.1"
awk -v a="$alone" -v w="$with" -v p="$polls" 'BEGIN {
  if (a <= 0) { print "posts_with_polls: no posts measured" > "/dev/stderr"; exit 1 }
  printf "posts/s alone %.0f; with polls %.0f (polls %.0f/s); with / alone %.2f\n", a, w, p, w / a
  printf "RESULT|5|posts/s with 50 connections polling the same conversation vs posts alone|%.0f/s (polls %.0f/s)|%.0f/s|%.2f|-\n", w, p, a, w / a
}'

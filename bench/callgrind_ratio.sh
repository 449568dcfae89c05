#!/usr/bin/env bash
# Instruction counts (callgrind) of the polls, repeatable on a busy machine
# where times are not, each from one run with the same fixed number of
# iterations on both sides:
#   - the operator poll's select through the database session vs raw sqlite3
#     (db_poll_bench);
#   - the operator poll through the component by ProgID vs the same statements
#     as raw prepared sqlite3 statements, nothing unread and ten unread
#     (component_poll_bench, RESULT rows 1 and 2);
#   - the operator poll with 1 million rows in msg vs 1 thousand
#     (poll_bench, RESULT row 3).
# Usage: bench/callgrind_ratio.sh BUILD_DIR [ITERATIONS]
set -euo pipefail
build_dir="${1:-build}"
iterations="${2:-200}"
command -v valgrind >/dev/null || { echo "callgrind_ratio: skipped, needs valgrind" >&2; exit 0; }
out="$(mktemp /tmp/zelto-callgrind.XXXXXX)"
registry="$(mktemp /tmp/zelto-callgrind-registry.XXXXXX)"
trap 'rm -f "$out" "$registry" "$registry.lock"' EXIT

# PROGRAM FILTER FUNCTION...: runs PROGRAM's benchmarks matching FILTER under
# callgrind, counting inside the FUNCTIONs only; leaves the profile in $out.
profile() {
  local program="$1" filter="$2"
  shift 2
  local toggles=()
  for f in "$@"; do toggles+=(--toggle-collect="*$f*"); done
  ZELTO_BENCH_ITERATIONS="$iterations" ZELTO_BENCH_ENGINES=sqlite ZELTO_REGISTRY="$registry" \
    valgrind --tool=callgrind --callgrind-out-file="$out" "${toggles[@]}" \
    "$build_dir/bin/$program" --benchmark_filter="$filter" >/dev/null 2>&1
}

# FUNCTION: its inclusive instructions per call in $out.
per_call() {
  callgrind_annotate --inclusive=yes "$out" 2>/dev/null |
    awk -v f="$1(" -v n="$iterations" 'index($0, f) && !found { gsub(",", "", $1); found = $1 }
      END { if (!found) exit 1; printf "%d\n", found / n }'
}

profile db_poll_bench 'BM_Poll' BM_PollThroughDbSession BM_PollThroughRawSqlite
session="$(per_call BM_PollThroughDbSession)"
raw="$(per_call BM_PollThroughRawSqlite)"
awk -v s="$session" -v r="$raw" 'BEGIN {
  printf "instructions per poll select: database session %d, raw sqlite3 %d, ratio %.2fx\n", s, r, s / r }'

if [ -x "$build_dir/bin/component_poll_bench" ]; then
  for unread in none ten; do
    profile component_poll_bench "^sqlite/$unread/" ComponentPollOnce RawSqlitePollOnce
    component="$(per_call ComponentPollOnce)"
    raw="$(per_call RawSqlitePollOnce)"
    awk -v c="$component" -v r="$raw" -v u="$unread" 'BEGIN {
      ten = u == "ten"
      printf "RESULT|%d|operator poll, %s, SQLite (instructions, callgrind): component by ProgID vs raw prepared statement|%d|%d|%.2f|%s\n",
             ten ? 2 : 1, ten ? "ten unread" : "nothing unread", c, r, c / r, ten ? "<=2" : "<=1.5" }'
  done
fi

if [ -x "$build_dir/bin/poll_bench" ]; then
  for benchmark in BM_PollNothingUnread BM_PollTenUnread; do
    counts=()
    for rows in 1000 1000000; do
      ZELTO_BENCH_ITERATIONS="$iterations" valgrind --tool=callgrind --instr-atstart=no \
        --callgrind-out-file="$out" --toggle-collect='*PollOnce*' \
        "$build_dir/bin/poll_bench" --benchmark_filter="^$benchmark/$rows(/|\$)" >/dev/null 2>&1
      counts+=("$(per_call PollOnce)")
    done
    awk -v small="${counts[0]}" -v large="${counts[1]}" -v b="$benchmark" 'BEGIN {
      printf "RESULT|3|operator poll, %s, SQLite (instructions, callgrind): 1 million rows in msg vs 1 thousand|%d|%d|%.2f|<=1.2\n",
             b == "BM_PollTenUnread" ? "ten unread" : "nothing unread", large, small, large / small }'
  done
fi

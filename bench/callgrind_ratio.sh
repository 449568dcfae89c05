#!/usr/bin/env bash
# Instruction counts of the operator poll through the database session and
# through raw sqlite3, from one callgrind run of db_poll_bench with the same
# fixed number of iterations for both: repeatable on a busy machine where
# times are not. Usage: bench/callgrind_ratio.sh BUILD_DIR [ITERATIONS]
set -euo pipefail
build_dir="${1:-build}"
iterations="${2:-200}"
out="$(mktemp /tmp/zelto-callgrind.XXXXXX)"
trap 'rm -f "$out"' EXIT
ZELTO_BENCH_ITERATIONS="$iterations" valgrind --tool=callgrind --callgrind-out-file="$out" \
  --toggle-collect='*BM_PollThroughDbSession*' --toggle-collect='*BM_PollThroughRawSqlite*' \
  "$build_dir/bin/db_poll_bench" --benchmark_filter='BM_Poll' >/dev/null 2>&1
callgrind_annotate --inclusive=yes "$out" 2>/dev/null | awk -v n="$iterations" '
  /BM_PollThroughDbSession\(/ && !session { gsub(",", "", $1); session = $1 }
  /BM_PollThroughRawSqlite\(/ && !raw { gsub(",", "", $1); raw = $1 }
  END {
    if (!session || !raw) { print "callgrind_ratio: no counts found" > "/dev/stderr"; exit 1 }
    printf "instructions per poll: database session %d, raw sqlite3 %d, ratio %.2fx\n",
           session / n, raw / n, session / raw
  }'

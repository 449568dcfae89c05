#!/usr/bin/env bash
# The whole benchmark suite of the build directory given as $1 (make bench):
# every *_bench program of $1/bin, the callgrind instruction counts, the HTTP
# load scripts, the two-host run and the standard chat load scenario
# (chat_load.sh), one after the other, each printing its
# own report. Every figure that has a place in the summary comes as a line
#   RESULT|row|what|figure|reference|ratio|goal
# (goal "<=X" or ">=X" on the ratio, "<X" on the figure's leading number
# when there is no ratio, "-" for none); the run ends with the table of them.
# One throwaway PostgreSQL cluster serves the programs when the machine has
# PostgreSQL (scripts/pg-cluster.sh); without it their PostgreSQL rows say why.
set -euo pipefail
build_dir="${1:-build}"
here="$(cd "$(dirname "$0")" && pwd)"
results="$(mktemp /tmp/zelto-bench-results.XXXXXX)"
cluster="$(mktemp -d /tmp/zelto-bench-pg.XXXXXX)"
cleanup() {
  bash "$here/../scripts/pg-cluster.sh" stop "$cluster" >/dev/null 2>&1 || true
  rm -rf "$cluster" "$results"
}
trap cleanup EXIT

if [ -z "${ZELTO_TEST_PG_ENV:-}" ]; then
  bash "$here/../scripts/pg-cluster.sh" start "$cluster" >/dev/null 2>&1 || true
  [ -f "$cluster/cluster.env" ] && export ZELTO_TEST_PG_ENV="$cluster/cluster.env"
fi

# Runs a benchmark, showing its report and keeping its RESULT lines.
run() {
  echo "== $*" | sed "s|$here/||; s|$build_dir/bin/||"
  "$@" 2>&1 | tee -a "$results" | grep -v '^RESULT|' || echo "($1 failed)"
}

shopt -s nullglob
found=0
for bench in "$build_dir"/bin/*_bench; do
  [ -x "$bench" ] || continue
  found=1
  run "$bench" --benchmark_color=false
done
if [ "$found" -eq 0 ]; then
  echo "run.sh: no *_bench programs in $build_dir/bin (is libbenchmark-dev installed?)" >&2
  exit 1
fi
run bash "$here/callgrind_ratio.sh" "$build_dir"
if [ -x "$build_dir/bin/http_poll_minimal_server" ]; then
  run bash "$here/http_poll.sh" "$build_dir"
fi
run bash "$here/posts_with_polls.sh" "$build_dir"
run bash "$here/host_memory.sh" "$build_dir"
run bash "$here/console_list.sh" "$build_dir"
run bash "$here/pg_two_hosts.sh" "$build_dir"
run bash "$here/idle_chat_statements.sh" "$build_dir"
run bash "$here/chat_load.sh" "$build_dir"

echo
echo "== Summary ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
bash "$here/result_table.sh" <"$results"

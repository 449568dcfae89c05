#!/usr/bin/env bash
# Runs every benchmark built in the build directory given as $1 (the programs
# in $1/bin whose names end in _bench), one after the other.
set -euo pipefail
build_dir="${1:-build}"
shopt -s nullglob
found=0
for bench in "$build_dir"/bin/*_bench; do
  [ -x "$bench" ] || continue
  found=1
  echo "== $(basename "$bench")"
  "$bench"
done
# The HTTP load benchmark of `zelto serve` (wrk, nginx).
if [ -x "$build_dir/bin/http_poll_minimal_server" ]; then
  bash "$(dirname "$0")/http_poll.sh" "$build_dir"
fi
# Two hosts against one PostgreSQL database vs one host.
bash "$(dirname "$0")/pg_two_hosts.sh" "$build_dir"
if [ "$found" -eq 0 ]; then
  echo "run.sh: no *_bench programs in $build_dir/bin (is libbenchmark-dev installed?)" >&2
  exit 1
fi

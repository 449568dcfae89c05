#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, in build-fuzz) and runs them.
#
#   scripts/fuzz.sh run      every target for FUZZ_SECONDS (default 60) on a
#                            working copy of its seed corpus (kept between runs)
#   scripts/fuzz.sh regress  every target over its seed corpus, then a short
#                            bounded run (FUZZ_SECONDS, default 10) on a
#                            throwaway copy; fails on any finding
#
# FUZZ_TARGETS narrows the targets ("markup cookie"); FUZZ_BUILD_DIR moves the
# build. A finding is kept in <build>/findings/<target>/ and the script exits
# non-zero after all targets ran.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:-}"
case "$mode" in
  run) seconds="${FUZZ_SECONDS:-60}" ;;
  regress) seconds="${FUZZ_SECONDS:-10}" ;;
  *) echo "usage: $0 run|regress  (FUZZ_SECONDS, FUZZ_TARGETS, FUZZ_BUILD_DIR)" >&2; exit 2 ;;
esac
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${JOBS:-2}"

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DZELTO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j "$jobs"

targets="${FUZZ_TARGETS:-}"
if [ -z "$targets" ]; then
  targets="$(cd "$root/fuzz" && ls ./*_fuzz.cc | sed 's|^\./||; s|_fuzz\.cc$||' | tr '\n' ' ')"
fi

# The dictionary of a target: fuzz/<target>.dict, else the one of its family
# (tsql_sqlite -> tsql.dict).
dict_of() {
  local t="$1"
  for d in "$root/fuzz/$t.dict" "$root/fuzz/${t%%_*}.dict"; do
    if [ -f "$d" ]; then echo "-dict=$d"; return; fi
  done
}

failed=()
summary=()
for t in $targets; do
  bin="$build/bin/${t}_fuzz"
  seeds="$root/fuzz/corpus/$t"
  [ -x "$bin" ] || { echo "fuzz: no target $t" >&2; exit 2; }
  findings="$build/findings/$t"
  mkdir -p "$findings"
  log="$build/findings/$t.log"
  common=(-timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1
          -artifact_prefix="$findings/" $(dict_of "$t"))
  status=0
  if [ "$mode" = regress ]; then
    # Every seed (and every earlier finding kept in the tree) must pass.
    "$bin" "${common[@]}" -runs=0 "$seeds" >"$log" 2>&1 || status=$?
    work="$(mktemp -d)"
    cp "$seeds"/* "$work"/ 2>/dev/null || true
    if [ $status -eq 0 ]; then
      "$bin" "${common[@]}" -max_total_time="$seconds" "$work" >>"$log" 2>&1 || status=$?
    fi
    rm -rf "$work"
  else
    work="$build/corpus/$t"
    mkdir -p "$work"
    cp -n "$seeds"/* "$work"/ 2>/dev/null || true
    "$bin" "${common[@]}" -max_total_time="$seconds" "$work" "$seeds" >"$log" 2>&1 || status=$?
  fi
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)"
  cov="$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)"
  line="$(printf '%-18s %s runs=%s %s' "$t" "$([ $status -eq 0 ] && echo ok || echo FAILED)" "${runs:-?}" "$cov")"
  echo "$line"
  summary+=("$line")
  if [ $status -ne 0 ]; then
    failed+=("$t")
    grep -E 'property failed|ERROR: |SUMMARY: |Test unit written' "$log" | head -5 >&2 || true
    echo "fuzz: $t failed; log in $log" >&2
  fi
done

echo "fuzz ($mode, ${seconds}s per target):"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in: ${failed[*]}" >&2
  exit 1
fi

#!/usr/bin/env bash
# Fuzzes every target in build-fuzz/ for a bounded time each (FUZZ_SECONDS,
# default 60). New inputs collect in build-fuzz/fuzz-corpus/<target>/, crash
# inputs in build-fuzz/fuzz-artifacts/; the checked-in corpus is only read.
# Copy a crash input into fuzz/corpus/<target>/ once it is fixed, so every
# build replays it. Exits non-zero when any target found something.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-60}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for source in "$root"/fuzz/*_fuzz.cpp; do
  stem="$(basename "$source" .cpp)"
  name="${stem%_fuzz}"
  exe="$build/$stem"
  if [ ! -x "$exe" ]; then
    echo "fuzz: $exe missing; run 'make fuzz' (it builds first)" >&2
    exit 1
  fi
  work="$build/fuzz-corpus/$name"
  mkdir -p "$work" "$build/fuzz-artifacts"
  echo "== $name: ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/fuzz-artifacts/$name-" "$work" "$root/fuzz/corpus/$name" \
      >"$build/fuzz-$name.log" 2>&1; then
    failed+=("$name")
    tail -n 40 "$build/fuzz-$name.log"
  fi
  grep -E "^stat::(number_of_executed_units|new_units_added)|cov: " "$build/fuzz-$name.log" \
    | tail -n 3
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in: ${failed[*]} (inputs in $build/fuzz-artifacts/)" >&2
  exit 1
fi
echo "fuzz: no findings"

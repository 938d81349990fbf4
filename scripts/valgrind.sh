#!/usr/bin/env bash
# Runs the core tests (no display, no Qt) under valgrind's memcheck, from the
# default build. Any memory error or definite leak fails the run.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
tests="$root/build/tessaly_core_tests"
log="$root/build/valgrind-core.log"
if [ ! -x "$tests" ]; then
  echo "valgrind: $tests not found; run 'make build' first" >&2
  exit 1
fi

echo "valgrind: memcheck over the core tests (log in $log)"
status=0
export TESSALY_TEST_TIME_SCALE="${TESSALY_TEST_TIME_SCALE:-20}"
valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
  --track-origins=yes --log-file="$log" \
  "$tests" --gtest_brief=1 "$@" || status=$?
grep -E "ERROR SUMMARY|definitely lost|indirectly lost" "$log" | sed 's/^==[0-9]*== /valgrind: /'
if [ "$status" -ne 0 ]; then
  echo "valgrind: failed (exit $status); see $log" >&2
  exit "$status"
fi
echo "valgrind: clean"

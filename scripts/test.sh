#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: once plain, once under
# AddressSanitizer with UndefinedBehaviorSanitizer, once under
# ThreadSanitizer for the start-up reader thread. Ends with one line of totals
# over every run.
set -uo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh || exit 1

jobs=$(nproc)
passed=0
failed=0

# run_suite <build dir> <label> [cmake options...]: builds and runs ctest there.
run_suite() {
  local dir=$1 label=$2
  shift 2
  echo "=== $label ==="
  mkdir -p "$dir"
  if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" &&
         cmake --build "$dir" -j "$jobs"; } >"$dir/build.log" 2>&1; then
    tail -n 40 "$dir/build.log"
    echo "$label: build failed"
    failed=$((failed + 1))
    return
  fi
  grep -A3 -i 'warning:' "$dir/build.log"
  local out
  out=$(cd "$dir" && ctest --output-on-failure -j "$jobs" 2>&1)
  echo "$out" | grep -v -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|^ *Start +[0-9]+: '
  local total fail
  total=$(echo "$out" | sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p')
  fail=$(echo "$out" | sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p')
  if [ -z "$total" ]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + total - fail))
  failed=$((failed + fail))
}

run_suite build "plain"
run_suite build-asan "address,undefined sanitizers" -DGLOWBRAND_SANITIZE=address,undefined
run_suite build-tsan "thread sanitizer" -DGLOWBRAND_SANITIZE=thread

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

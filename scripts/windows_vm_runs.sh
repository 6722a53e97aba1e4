#!/usr/bin/env bash
# windows_vm_runs.sh [N]: the VM suite's Windows half N times in a row (5 by
# default), from built plain (build/) and Windows (build-windows/) trees;
# each run's tests, failures and time on one line, with the load before it.
# Exits 1 if any run failed a test.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
runs=${1:-5}
bad=0
for run in $(seq "$runs"); do
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  started=$(date +%s)
  out=$(GLOWBRAND_WINDOWS_BUILD=$PWD/build-windows build/tests/vm_e2e_test \
        --gtest_filter='*WindowsVmSuite*' </dev/null 2>&1)
  ok=$(grep -c '^\[       OK \]' <<<"$out")
  failed=$(grep -c '^\[  FAILED  \] .*(' <<<"$out")
  echo "run $run: $ok passed, $failed failed, $(($(date +%s) - started)) s (load before: $load)"
  grep -E 'Windows device after' <<<"$out" | sed 's/^/  /'
  if [ "$failed" -ne 0 ] || [ "$ok" -eq 0 ]; then
    grep -E '^\[  FAILED  \] .*\(|Failure|harness' <<<"$out" | sed 's/^/  /'
    bad=1
  fi
done
exit "$bad"

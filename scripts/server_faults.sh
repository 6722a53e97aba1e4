#!/usr/bin/env bash
# Runs the sound tests that harm a server (SoundOutlivesItsServer) a number
# of times in a row, beside private servers as the test command starts them,
# and prints each run's figures: the later swings heard after a restart or a
# late start, and how long after Home the program ended.
#
#   scripts/server_faults.sh <build dir> [runs, 3] [gtest filter]
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
build=${1:?build dir} runs=${2:-3}
filter=${3:-'SoundEndToEnd/SoundOutlivesItsServer.*'}
test_binary=$build/tests/program_e2e_test
[ -x "$test_binary" ] || { echo "no $test_binary: build with -DGLOWBRAND_TESTS=ON" >&2; exit 1; }
# shellcheck source=private_pulse.sh
source scripts/private_pulse.sh
# shellcheck source=private_pipewire.sh
source scripts/private_pipewire.sh
start_private_pulse || exit 1
trap 'stop_private_pipewire; stop_private_pulse' EXIT
start_private_pipewire || exit 1

failed=0
for run in $(seq "$runs"); do
  echo "=== run $run of $runs (load $(cut -d' ' -f1-3 /proc/loadavg)) ==="
  out=$("$test_binary" --gtest_filter="$filter" 2>&1)
  echo "$out" | grep -E 'later swings heard|ended [0-9]+ ms after Home|^\[  FAILED  \] .*\(|^\[       OK \]' |
    sed 's/^\[       OK \] SoundEndToEnd\/SoundOutlivesItsServer\.[A-Za-z]*\//ok      /;
         s/^\[  FAILED  \] SoundEndToEnd\/SoundOutlivesItsServer\.[A-Za-z]*\//FAILED  /'
  echo "$out" | grep -q '^\[  FAILED  \]' && failed=$((failed + 1))
done
echo "$failed of $runs runs had a failure"
[ "$failed" -eq 0 ]

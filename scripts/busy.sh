#!/usr/bin/env bash
# busy.sh [-n loops] <command...>: runs the command beside a steady load, one
# busy loop per core unless told otherwise, as a machine shared with another
# test run would be. The loops end with the command, however it ends, and
# the command's status is the script's.
#
#   scripts/busy.sh build/tests/program_e2e_test --gtest_filter='SlowSound*'
set -uo pipefail
loops=$(nproc)
if [ "${1:-}" = "-n" ]; then
  loops=$2
  shift 2
fi
if [ "$#" -eq 0 ]; then
  echo "usage: $0 [-n loops] <command...>" >&2
  exit 2
fi
spinners=()
trap 'kill "${spinners[@]}" 2>/dev/null; wait 2>/dev/null' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
for _ in $(seq "$loops"); do
  # A subshell of its own, so that the kill above ends the loop itself.
  bash -c 'while :; do :; done' &
  spinners+=("$!")
done
echo "busy.sh: $loops busy loops beside the command, load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
"$@"
status=$?
echo "busy.sh: load at the end $(cut -d' ' -f1-3 /proc/loadavg)" >&2
exit "$status"

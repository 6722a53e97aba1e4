#!/usr/bin/env bash
# busy_suites.sh [N]: the plain, address/undefined and thread sanitizer
# suites (ctest in build/, build-asan/, build-tsan/, as scripts/test.sh
# builds them) N times in a row, 3 by default, each beside scripts/busy.sh's
# busy loops: a machine shared with another test run. Each suite's verdict,
# time and load; a failed suite's failures, and its whole log kept. The
# plain suite hears its sound through private PulseAudio and PipeWire
# servers, as in the test command.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=private_pulse.sh
source scripts/private_pulse.sh
# shellcheck source=private_pipewire.sh
source scripts/private_pipewire.sh
jobs=$(nproc)
bad=0
for round in $(seq "${1:-3}"); do
  for dir in build build-asan build-tsan; do
    if [ "$dir" = build ]; then
      start_private_pulse && start_private_pipewire || exit 1
    fi
    started=$(date +%s)
    out=$(cd "$dir" && ../scripts/busy.sh ctest --output-on-failure -j "$jobs" 2>&1)
    summary=$(grep -E 'tests passed, [0-9]+ tests failed' <<<"$out")
    echo "round $round, $dir: ${summary:-no summary}, $(($(date +%s) - started)) s," \
      "$(grep 'load at the end' <<<"$out" | sed 's/.*: //')"
    if ! grep -q ' 0 tests failed' <<<"$summary"; then
      bad=$((bad + 1))
      sed -n '/tests failed out of/,$p' <<<"$out" | grep -E '^\s+[0-9]+ - ' |
        grep -v '(Skipped)$' | sed 's/^/  /'
      # The next round's run would overwrite ctest's own log of this one.
      kept=$(mktemp --suffix=".$dir.round$round.log")
      cp "$dir/Testing/Temporary/LastTest.log" "$kept" && echo "  whole log kept in $kept"
    fi
    if [ "$dir" = build ]; then
      stop_private_pipewire
      stop_private_pulse
    fi
  done
done
echo "$bad suite runs failed"
[ "$bad" -eq 0 ]

#!/usr/bin/env bash
# wine_sound_runs.sh [N]: the Windows program's sound check under wine
# (SoundEndToEnd*UnderWine*, through a private PulseAudio) N times in a row,
# 6 by default, from built plain (build/) and Windows (build-windows/)
# trees; each run's verdict, the load and the underruns the server logged.
# Beside scripts/busy.sh it shows how the check fares on a busy machine.
# A failed run's recording is kept; the test names where.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=private_pulse.sh
source scripts/private_pulse.sh
./scripts/wine-server.sh start build-windows
bad=0
for run in $(seq "${1:-6}"); do
  start_private_pulse || exit 1
  out=$(GLOWBRAND_WINE_SCRIPTED=$PWD/build-windows/glowbrand-scripted-wine.sh \
        build/tests/program_e2e_test --gtest_filter='SoundEndToEnd*UnderWine*' </dev/null 2>&1)
  verdict=failed
  grep -q '^\[  PASSED  \] 1 test' <<<"$out" && verdict=passed
  echo "run $run: $verdict, load $(cut -d' ' -f1-3 /proc/loadavg)," \
    "$(pulse_underruns) underruns logged"
  if [ "$verdict" = failed ]; then
    grep -E 'Failure|Expected|plays on|came after|kept in|underran' <<<"$out" | sed 's/^/  /'
    bad=1
  fi
  stop_private_pulse
done
./scripts/wine-server.sh stop build-windows
exit "$bad"

#!/usr/bin/env bash
# latency_runs.sh <build dir> [runs] [swings]: the session benchmark run after
# run, through SDL's disk driver and private PulseAudio and PipeWire servers
# started for it, each run headed by the load average before and after. Set
# GLOWBRAND_BENCH_HUM=silent to measure with the hum's voice at work.
set -uo pipefail
cd "$(dirname "$0")/.."
build=$1 runs=${2:-3} swings=${3:-20}
cmake --build "$build" -j2 --target glowbrand-session-latency glowbrand-scripted \
  glowbrand-scripted-naive >/dev/null || exit 1
# shellcheck source=../scripts/private_pulse.sh
source scripts/private_pulse.sh
# shellcheck source=../scripts/private_pipewire.sh
source scripts/private_pipewire.sh
start_private_pulse || exit 1
trap 'stop_private_pipewire; stop_private_pulse' EXIT
start_private_pipewire || exit 1
for run in $(seq "$runs"); do
  echo "run $run of $runs, $(date -u +%H:%M) UTC, load before: $(cut -d' ' -f1-3 /proc/loadavg)," \
    "hum: ${GLOWBRAND_BENCH_HUM:-none}"
  "$build/glowbrand-session-latency" "$build/glowbrand-scripted" "$build/glowbrand-scripted-naive" \
    "$swings" | grep -E '^\| (way|ours)'
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
done

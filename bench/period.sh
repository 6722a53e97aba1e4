#!/usr/bin/env bash
# Which device period the machine sustains with both processors busy: runs
# glowbrand-period-probe through SDL's disk driver and through a private
# PulseAudio server, beside two busy loops, and adds the server's own
# underrun count for each period (its debug log: pactl shows no such count).
#
#   bench/period.sh [build dir] [seconds per period] [periods...]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-15}
shift 2 2>/dev/null
periods=("$@")
[ ${#periods[@]} -eq 0 ] && periods=(128 192 256 480)
probe=$build/glowbrand-period-probe
[ -x "$probe" ] || { echo "build $probe first" >&2; exit 1; }

# shellcheck source=../scripts/private_pulse.sh
source scripts/private_pulse.sh
busy=()
finish() {
  [ ${#busy[@]} -gt 0 ] && kill "${busy[@]}" 2>/dev/null
  stop_private_pulse
}
trap finish EXIT
start_private_pulse || exit 1
for _ in 1 2; do
  (while :; do :; done) &
  busy+=($!)
done
echo "both processors busy: two busy loops beside the machine's own load ($(cut -d' ' -f1-3 /proc/loadavg))"

echo "== SDL disk driver =="
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null "$probe" "$seconds" "${periods[@]}" 2>/dev/null |
  grep -v '^driver'
echo "== private PulseAudio, null sink =="
for frames in "${periods[@]}"; do
  before=$(pulse_underruns)
  line=$(SDL_AUDIODRIVER=pulseaudio "$probe" "$seconds" "$frames" 2>/dev/null | grep '^period')
  # Closing the stream always ends in one underrun of its own.
  echo "$line, server underruns $(($(pulse_underruns) - before - 1))"
done

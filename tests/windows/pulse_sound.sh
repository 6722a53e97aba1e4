#!/usr/bin/env bash
# pulse_sound.sh <sound_wasapi_test.exe> <wine prefix>: the WASAPI device
# under wine with wine's PulseAudio driver, into a private server whose null
# sink's monitor is recorded: the device's frames must be heard, and again
# after the server was killed and came back. Skips (77) where PulseAudio is
# not installed.
set -u
exe=$1
export WINEPREFIX=$2 WINEDEBUG=-all
# As the tests' environment, with wine's PulseAudio driver left on.
export WINEDLLOVERRIDES=mscoree,mshtml,explorer.exe,winealsa.drv,wineoss.drv=
if ! command -v pulseaudio >/dev/null || ! command -v parec >/dev/null; then
  echo "PulseAudio is not installed: skipped"
  exit 77
fi
# shellcheck source=../../scripts/private_pulse.sh
source "$(dirname "$0")/../../scripts/private_pulse.sh"
start_private_pulse || exit 1
scene=$(mktemp -d)
export GLOWBRAND_SOUND_SCENE_DIR=$scene
parec_pid=""
trap 'kill $parec_pid 2>/dev/null; stop_private_pulse; rm -rf "$scene"' EXIT

# parec takes about a second to deliver its first data: the device plays
# only once the capture has begun.
record() {
  parec --device=glowbrand.monitor --format=s16le --rate=48000 --channels=2 \
    --latency-msec=10 >"$1" 2>/dev/null &
  parec_pid=$!
  local tries
  for tries in $(seq 100); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  echo "parec recorded nothing"
  exit 1
}

run() {
  timeout 120 /usr/lib/wine/wine64 "$exe" --gtest_filter="$1" </dev/null
}

failed=0
record "$scene/capture.raw"
run 'WasapiDevice.PlaysOnWhenTheSoundServerReturns' &
test_pid=$!
for tries in $(seq 300); do
  [ -e "$scene/playing" ] || ! kill -0 "$test_pid" 2>/dev/null && break
  sleep 0.1
done
if [ -e "$scene/playing" ]; then
  kill "$parec_pid"
  restart_private_pulse 1 || exit 1
  record "$scene/capture-after.raw"
  touch "$scene/back"
fi
wait "$test_pid" || failed=1
exit $failed

#!/usr/bin/env bash
# Sets up, builds and starts glowbrand-virtual in ./run with the default
# sounds: the whole toy, played from the keyboard, no remote needed. It plays
# through the machine's audio device when there is one. glowbrand and
# glowbrand-doctor are built beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh run
# Neither tests nor benchmark: their packages come with the test command.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLOWBRAND_TESTS=OFF -DGLOWBRAND_BENCHMARKS=OFF \
  >/dev/null
cmake --build build -j "$(nproc)" --target glowbrand glowbrand-virtual glowbrand-doctor sounds >/dev/null
mkdir -p run
# The program plays the four sounds and the hum from its working directory.
cp build/sounds/on0.wav build/sounds/off0.wav build/sounds/swing2.wav build/sounds/strike2.wav \
  build/sounds/hum0.wav run/
cd run

# SDL finds the sound server or the sound card by itself; without either the
# program runs silently, so say why nothing is heard.
runtime=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}
if [ -z "${SDL_AUDIODRIVER:-}" ] && [ ! -d /dev/snd ] && [ ! -S "$runtime/pulse/native" ] &&
   [ ! -S "$runtime/pipewire-0" ]; then
  echo "No audio device found: the blade will be silent." >&2
fi
exec ../build/glowbrand-virtual

#!/usr/bin/env bash
# Sets up, builds and starts the program in ./run with a real remote.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
mkdir -p run
# The program plays the four sounds from its working directory.
cp build/sounds/on0.wav build/sounds/off0.wav build/sounds/swing2.wav build/sounds/strike2.wav run/
cd run
exec ../build/glowbrand

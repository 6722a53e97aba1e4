#!/usr/bin/env bash
# Sets up, builds and starts the program in ./run with a real remote.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
mkdir -p run
cd run
exec ../build/glowbrand

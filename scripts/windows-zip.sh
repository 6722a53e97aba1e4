#!/usr/bin/env bash
# Builds glowbrand-<version>-windows-x64.zip in build-windows/: the Windows
# programs cross-compiled with mingw-w64, the default sounds made under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release
cmake --build build-windows --target windows-zip -j "$(nproc)"
ls build-windows/glowbrand-*-windows-x64.zip

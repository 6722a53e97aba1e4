#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config     # the build
  libhidapi-dev libsdl2-dev            # the real remote and the sound
  libgtest-dev libbenchmark-dev        # tests and benchmarks
  clang libclang-rt-14-dev             # fuzzing (libFuzzer)
  valgrind                             # a whole session under valgrind
  tmux                                 # plays the user at the keyboard in a test
  qemu-system-x86 busybox-static cpio  # tests only: the VM suite, a remote made in a kernel
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

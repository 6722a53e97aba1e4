#!/usr/bin/env bash
# setup.sh run|test: installs the Debian packages that are missing, for
# building and playing (run) or for that and the whole test suite (test).
set -euo pipefail

# What building and running the program needs.
run_packages=(
  build-essential cmake pkg-config     # the build
  libhidapi-dev libsdl2-dev            # the real remote and the sound
  libpulse-dev                         # the sound's own stream where PulseAudio serves
  libpipewire-0.3-dev                  # and where PipeWire serves
  libsystemd-dev                       # glowbrand-doctor --pair: BlueZ over sd-bus
)

# What only the tests, benchmarks and checks need, on top of the above.
test_packages=(
  libgtest-dev                         # unit and end-to-end tests
  libbenchmark-dev                     # how fast a sound starts
  clang libclang-rt-dev                # fuzzing (libFuzzer)
  valgrind                             # a whole session under valgrind
  tmux                                 # plays the user at the keyboard in a test
  file                                 # CPack's DEB generator reads the binaries with it
  lintian man-db                       # the package's own checks; its man pages open by name
  appstream                            # lintian validates the package's metainfo with it
  pulseaudio pulseaudio-utils          # tests only: a private sound server, parec
  pipewire pipewire-bin wireplumber pipewire-pulse  # tests only: a private PipeWire, pw-record
  dbus                                 # the session bus WirePlumber needs
  qemu-system-x86 busybox-static cpio  # the VM suite: a remote made at kernel level
  kmod xz-utils                        # its guest kernel's modules, found and unpacked; depmod
  libsystemd-shared procps             # its guest on this machine's root: udevd, pgrep
  bluez bluez-test-tools               # and its remotes over Bluetooth: bluetoothd, btvirt
  g++-mingw-w64-x86-64-posix wine64 wine  # the Windows build, tested under wine
)

case "${1:-}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

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

#!/usr/bin/env bash
# no_remote.sh <glowbrand.exe> <sounds dir>: the real Windows program, run
# under wine in a folder holding the sounds, finds no remote among wine's own
# HID devices, says so on standard error and exits with status 1.
set -u
exe=$(realpath "$1")
sounds=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$sounds"/on0.wav "$sounds"/off0.wav "$sounds"/swing2.wav "$sounds"/strike2.wav "$dir"/
# No display: the message cannot show as a box and goes to standard error.
(cd "$dir" && env -u DISPLAY -u WAYLAND_DISPLAY WINEDEBUG=-all timeout 60 \
   /usr/lib/wine/wine64 "$exe" </dev/null >/dev/null 2>stderr)
status=$?
err=$(tr -d '\r' <"$dir/stderr")
if [ "$err" != "Wii-Remote not found." ] || [ "$status" -ne 1 ]; then
  echo "$exe said \"$err\" and exited with $status; expected \"Wii-Remote not found.\" and 1"
  exit 1
fi
echo "$(basename "$exe"): \"$err\", status $status"

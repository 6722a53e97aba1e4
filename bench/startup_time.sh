#!/usr/bin/env bash
# Exec to the banner's first line of a glowbrand-scripted build, with four
# sounds of each of three kinds: 1 MB and 20 MiB of 16-bit stereo 44.1 kHz,
# and 64 KB of 16-bit mono at 1 Hz (nine hours of sound each). Prints the
# median and range of `runs` starts per kind, on SDL's dummy driver.
#
#   bench/startup_time.sh <glowbrand-scripted> [runs]
set -uo pipefail
program=$(realpath "$1")
runs=${2:-9}
scratch=$(mktemp -d /tmp/glowbrand-startup-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
# wav <file> <rate> <channels> <data bytes>: 16-bit PCM of noise.
wav() {
  local file=$1 rate=$2 channels=$3 bytes=$4
  { printf RIFF; le32 $((36 + bytes)); printf 'WAVEfmt '; le32 16; le16 1; le16 "$channels"
    le32 "$rate"; le32 $((rate * channels * 2)); le16 $((channels * 2)); le16 16
    printf data; le32 "$bytes"; head -c "$bytes" /dev/urandom; } >"$file"
}

printf '0-60000/10 31 00 00 80 80 9a\n600-60000/10 31 00 80 80 80 9a\n' >"$scratch/script"
for kind in "1 MB:44100:2:999956" "20 MiB:44100:2:20971475" "64 KB at 1 Hz:1:1:65492"; do
  IFS=: read -r name rate channels bytes <<<"$kind"
  rm -f "$scratch"/*.wav
  wav "$scratch/on0.wav" "$rate" "$channels" "$bytes"
  for f in off0 swing2 strike2; do cp "$scratch/on0.wav" "$scratch/$f.wav"; done
  times=()
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    {
      IFS= read -r _
      end=$(date +%s%N)
      cat >/dev/null
    } < <(cd "$scratch" && env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy \
          GLOWBRAND_SCRIPT="$scratch/script" "$program" 2>/dev/null </dev/null)
    times+=($(((end - start) / 1000000)))
  done
  sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  echo "four sounds of $name: exec to banner median ${sorted[$((runs / 2))]} ms" \
       "(min ${sorted[0]}, max ${sorted[$((runs - 1))]}, $runs runs)"
done

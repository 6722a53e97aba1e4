#!/usr/bin/env bash
# Checks that the folders of src/ include each other only downward:
#   shell, doctor -> blade -> remote, sound -> core, platform, hid
# with config.h open to all, and on the bottom floor core and hid standing on
# platform. Prints every include that breaks the order and fails if any does;
# then lets tsort look for a loop among the folders all the same. Last, all
# of sound stays in sound/: no file of the platform layer includes a sound
# library's header or calls one; and no time in src/ is read off the wall clock.
set -uo pipefail
cd "$(dirname "$0")/../src"

floor() {
  case $1 in
    shell | doctor) echo 3 ;; blade) echo 2 ;; remote | sound) echo 1 ;; core | platform | hid) echo 0 ;;
    *) echo "" ;;
  esac
}

bad=0
edges=""
while IFS=: read -r file include; do
  from=${file%%/*}
  to=${include%%/*}
  [ "$include" = config.h ] && continue
  edges+="$from $to"$'\n'
  [ "$from" = "$to" ] && continue
  from_floor=$(floor "$from")
  to_floor=$(floor "$to")
  if [ -z "$from_floor" ] || [ -z "$to_floor" ]; then
    echo "$file: includes $include, outside the known folders"
    bad=1
  elif [ "$to_floor" -gt "$from_floor" ] ||
       { [ "$to_floor" -eq "$from_floor" ] && [ "$to" != platform ]; }; then
    echo "$file: $from includes $include, which is not below it"
    bad=1
  fi
done < <(grep -rHo '^#include "[^"]*"' --include='*.h' --include='*.cpp' . |
         sed 's|^\./||; s|:#include "|:|; s|"$||')

if ! echo -n "$edges" | tsort >/dev/null 2>&1; then
  echo "the folders include each other in a loop:"
  echo -n "$edges" | tsort 2>&1 >/dev/null
  bad=1
fi
# SDL's audio and WAV loader, libpulse, libpipewire and SPA, ALSA, WASAPI
# and the endpoints beneath it, the multimedia scheduler, the Audio
# Compression Manager, waveOut and PlaySound.
sound_headers='<(pulse|pipewire|spa|alsa)/|<(SDL_audio|audioclient|mmdeviceapi|avrt|msacm|mmsystem|dsound)\.h>'
sound_calls='\bSDL_[A-Za-z]*(Audio|WAV)[A-Za-z]*\b|\b(pa|pw|spa|snd)_[a-z_]+\(|libasound|\b(IAudio[A-Za-z]*|IMMDevice[A-Za-z]*|MMDeviceEnumerator|Av[A-Za-z]*MmThread[A-Za-z]*|acm[A-Z][A-Za-z]*|waveOut[A-Za-z]*|PlaySound[AW]?)\b'
# The first such line of each file.
while IFS= read -r hit; do
  echo "$hit: the platform layer holds no sound; sound lives in src/sound/"
  bad=1
done < <({ grep -rnE "^#include ($sound_headers)|^#include \"sound/" --include='*.h' --include='*.cpp' platform
           grep -rnE "$sound_calls" --include='*.h' --include='*.cpp' platform; } |
         cut -d: -f1,2 | sort -t: -k1,1 -k2,2n | sort -t: -k1,1 -u)

# Every time limit runs on a clock that only moves forward: the wall clock
# steps (NTP, a user setting it), and a wait measured on it ends early or
# hangs on.
while IFS= read -r hit; do
  echo "$hit: a time limit on the wall clock; use CLOCK_MONOTONIC or steady_clock"
  bad=1
done < <(grep -rnE '\bCLOCK_REALTIME\b|\bsystem_clock\b|\bgettimeofday\b|\bGetSystemTime' \
           --include='*.h' --include='*.cpp' . | cut -d: -f1,2 | sed 's|^\./||')

[ "$bad" -eq 0 ] &&
  echo "src/ folders form floors, no include loop, no sound in the platform layer, no wall clock"
exit "$bad"

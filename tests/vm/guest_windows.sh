#!/bin/bash
# Runs in the shared-root guest (init_shared_root), as root in this machine's
# own root under a tmpfs overlay: the real glowbrand.exe under wine against
# the kernel-level remote, one scenario after another in one boot.
#
#   guest_windows.sh DIR
#
# DIR/env names the programs (EXE, PRESENT, LINUX, REMOTE, UDEVADM, PREFIX,
# SOUNDS, LOW_BITS; WINE_LOG: wine debug channels for wine.log).
# Each DIR/<scenario>/ holds `script` (the remote's) and `kind`:
#   windows   glowbrand.exe runs until it ends by itself
#   ctrl_c    glowbrand.exe gets SIGINT (wine's Ctrl+C) once the remote has
#             been told to rumble; `took` gets the ms from signal to end
#   linux     the Linux glowbrand, for what emulation costs in this guest
# and gets status, stdout, stderr and remote.log, and `present-ms`: how long
# after its node came wine listed the remote as a Windows device. Each runs
# once. Where wine never lists it, the program is not run and `harness` says
# so: the test's own failure, not the program's. DIR/timeline gets when each
# run's steps came (see note).
set -u
dir=$1
# note <words>: a line of DIR/timeline, on the guest's clock, for what a
# failed run met: when its remote came and the guest fell quiet, when the
# program ended, the major page faults so far (wine's libraries read from
# the host) and when wineserver last saved the registry.
note() {
  echo "$(date +%s.%3N) $*" >>"$dir/timeline"
}
# shellcheck source=/dev/null
. "$dir/env"
export WINEPREFIX=$PREFIX WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml,explorer.exe,winealsa.drv,winepulse.drv,wineoss.drv=
unset DISPLAY WAYLAND_DISPLAY

# winebus learns of hidraw nodes from udevd, as on a desktop. udevadm is
# udevd when called so; no rules are needed for the events to go out.
ln -s "$UDEVADM" /tmp/systemd-udevd
/tmp/systemd-udevd </dev/null >/dev/null 2>&1 &
udevd=$!
for _ in $(seq 100); do
  [ -S /run/udev/control ] && break
  sleep 0.1
done

# The prefix was made on the host (winebus told to hand the remote over as
# raw HID); starting its
# services here once spares each scenario that cost.
started=$(date +%s%N)
wineserver -p
# Its services (winebus among them) write their complaints to wine.log.
WINEDEBUG=${WINE_LOG:--all} /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>"$dir/wine.log"
echo "$(( ($(date +%s%N) - started) / 1000000 ))" >"$dir/wineboot-ms"

# The guest reads wine's libraries from the host as it first needs them,
# and its clock runs on while it waits: a first run of the program that
# pulls them in may miss the start-up probe's window. One run with no
# remote there pulls them in first.
warm=$(mktemp -d)
cp "$EXE" "$warm/"
(cd "$warm" && timeout -s KILL 120 /usr/lib/wine/wine64 ./glowbrand.exe </dev/null 2>&1 |
  tr -d '\r' >"$dir/warm-up")
rm -rf "$warm"

# held <node>: whether winebus (in a winedevice process) holds the node open,
# which it does while it presents the device.
held() {
  local pid
  for pid in $(pgrep -f winedevice); do
    ls -l "/proc/$pid/fd" 2>/dev/null | grep -q " -> $1\$" && return 0
  done
  return 1
}

# The program's own HID library, asked from a Windows program whether the
# remote is a Windows device yet. Copied in, as the program is (below).
cp "$PRESENT" /tmp/hid-present.exe

# present <product>: waits until wine lists the remote as a Windows device,
# as the program will look for it, 60 s of guest time at most; says how long
# that took in ms, or fails.
present() {
  local started took
  started=$(date +%s%N)
  while :; do
    took=$(( ($(date +%s%N) - started) / 1000000 ))
    [ "$took" -le 60000 ] || return 1
    if /usr/lib/wine/wine64 /tmp/hid-present.exe "$1" </dev/null >/dev/null 2>&1; then
      echo "$(( ($(date +%s%N) - started) / 1000000 ))"
      return 0
    fi
    sleep 0.2
  done
}

# start_remote <scenario dir>: the remote, once its node is there and, with
# the kernel's driver, once that has set it up (LED 1), and once wine lists
# it as a Windows device (`present-ms` in the scenario dir). Fails when wine
# never lists it.
start_remote() {
  "$REMOTE" "$1/script" /tmp/remote.log --low-bits="$LOW_BITS" &
  remote=$!
  local product
  product=$(sed -n 's/^product \([0-9a-fA-F]*\).*/\1/p' "$1/script" | head -n 1)
  for _ in $(seq 200); do
    ls /dev/hidraw* >/dev/null 2>&1 && break
    sleep 0.05
  done
  if [ "$WIIMOTE" = 1 ]; then
    for _ in $(seq 200); do
      grep -q ' write 11 10$' /tmp/remote.log 2>/dev/null && break
      sleep 0.05
    done
  fi
  # winebus opens the node when udevd tells of it, and then makes it a
  # Windows device in its own time, longer for a device it has not met
  # before: a program started before that finds no remote. Then the guest
  # falls quiet, as a program crawls while wine is still at it.
  for _ in $(seq 200); do
    held /dev/hidraw0 && break
    sleep 0.1
  done
  present "${product:-0306}" >"$1/present-ms" || return 1
  settle
}

# settle: returns once the processor has been at least 90% idle for half a
# second (a minute at most).
settle() {
  local idle before
  for _ in $(seq 120); do
    before=$(awk '/^cpu /{ print $5 }' /proc/stat)
    sleep 0.5
    idle=$(( $(awk '/^cpu /{ print $5 }' /proc/stat) - before ))
    # USER_HZ is 100: 45 ticks are 90% of half a second.
    [ "$idle" -ge 45 ] && return
  done
}

stop_remote() {
  kill "$remote"
  wait "$remote"
  # And gives winebus the time to let the device go.
  for _ in $(seq 50); do
    held /dev/hidraw0 || break
    sleep 0.2
  done
}

# wine makes a Windows device it has not met before into registry keys,
# which wineserver saves to the prefix some time later; on the emulated
# processor that save holds every wine call, the program's reads too, for
# seconds. So both remotes are met, and the save waited for, first.
meet_remotes() {
  local product saved
  saved=$(stat -c %Y "$PREFIX/system.reg")
  for product in 0306 0330; do
    mkdir -p /tmp/meet
    printf 'product %s\n0-500/10 31 00 00 80 80 9a\n' "$product" >/tmp/meet/script
    start_remote /tmp/meet
    stop_remote
  done
  for _ in $(seq 120); do
    [ "$(stat -c %Y "$PREFIX/system.reg")" != "$saved" ] && break
    sleep 0.5
  done
  settle
  rm -rf /tmp/meet /tmp/remote.log
}
meet_remotes

# run_scenario <scenario dir> <kind>: one run of the program against a new
# remote. What the remote and the program write goes to the guest's memory
# first: every write to the shared folder waits on the host, and a remote
# waiting so notes the program's writes late.
run_scenario() {
  local scenario=$1 kind=$2 play program watchdog sent
  note "$(basename "$scenario") remote"
  if ! start_remote "$scenario"; then
    note "$(basename "$scenario") never a Windows device"
    echo "wine never listed the remote as a Windows device within 60 s: the program was not run" \
      >"$scenario/harness"
    stop_remote
    rm -f /tmp/remote.log
    return
  fi
  note "$(basename "$scenario") quiet $(grep pgmajfault /proc/vmstat)"
  play=$(mktemp -d)
  # As a player unpacks it: the program beside its sounds. Run from the 9p
  # share, wine's mapping of glowbrand.exe faults on its first instruction.
  cp "$SOUNDS"/on0.wav "$SOUNDS"/off0.wav "$SOUNDS"/swing2.wav "$SOUNDS"/strike2.wav "$EXE" "$play/"
  cd "$play" || exit 1
  case $kind in
    linux)
      SDL_AUDIODRIVER=dummy timeout -s KILL 120 "$LINUX" </dev/null \
        >/tmp/stdout 2>/tmp/stderr
      echo $? >/tmp/status
      ;;
    windows)
      WINEDEBUG=${WINE_LOG:--all} timeout -s KILL 180 /usr/lib/wine/wine64 "$play/glowbrand.exe" </dev/null \
        >/tmp/stdout 2>/tmp/stderr
      echo $? >/tmp/status
      ;;
    ctrl_c)
      /usr/lib/wine/wine64 "$play/glowbrand.exe" </dev/null >/tmp/stdout 2>/tmp/stderr &
      program=$!
      (sleep 120 && kill -KILL "$program") 2>/dev/null &
      watchdog=$!
      for _ in $(seq 1200); do
        grep -q ' write 13 01$' /tmp/remote.log && break
        kill -0 "$program" 2>/dev/null || break
        sleep 0.05
      done
      sent=$(date +%s%N)
      kill -INT "$program"
      wait "$program"
      echo $? >/tmp/status
      echo "$(( ($(date +%s%N) - sent) / 1000000 ))" >/tmp/took
      kill "$watchdog" 2>/dev/null
      ;;
  esac
  note "$(basename "$scenario") ended $(grep pgmajfault /proc/vmstat)" \
    "registry-saved $(stat -c %.3Y "$PREFIX/system.reg")"
  cd / || exit 1
  rm -rf "$play"
  stop_remote
  # The program's lines as on Linux, whatever its C runtime ends them with.
  tr -d '\r' </tmp/stdout >"$scenario/stdout"
  tr -d '\r' </tmp/stderr >"$scenario/stderr"
  cp /tmp/status /tmp/remote.log "$scenario/"
  [ -f /tmp/took ] && cp /tmp/took "$scenario/"
  rm -f /tmp/stdout /tmp/stderr /tmp/status /tmp/remote.log /tmp/took
}

# The program's first session pulls in, as it first needs them, the parts of
# wine's libraries its read core, blade loop and sounds use, read from the
# host while the guest's clock runs on: in one run the probe's window passed
# in such waits, and in the run after it a strike did. One session of the
# first scenario the Windows program plays, left aside, pulls them in first.
warm_up() {
  local scenario
  for scenario in "$dir"/*/; do
    [ "$(cat "$scenario/kind" 2>/dev/null)" = windows ] || continue
    mkdir -p /tmp/warm-up
    cp "$scenario/script" /tmp/warm-up/
    run_scenario /tmp/warm-up windows
    rm -rf /tmp/warm-up
    return
  done
}
warm_up

# Each scenario runs once: a program that misses a remote wine lists fails.
for scenario in "$dir"/*/; do
  scenario=${scenario%/}
  [ -f "$scenario/script" ] || continue
  run_scenario "$scenario" "$(cat "$scenario/kind")"
done
wineserver -k
kill "$udevd"

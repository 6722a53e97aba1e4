#!/usr/bin/env bash
# A private sound server for a test that harms it, apart from the test
# command's own servers (which the other tests share): each call does one
# thing to it, and the folder given keeps what the next call needs.
#
#   private_server.sh pulse|pipewire prepare DIR   the folder (made by the
#                         caller), and for PipeWire its session bus; no server
#   private_server.sh KIND launch DIR   starts the server there and waits until
#                         it serves, at the same address every time
#   private_server.sh KIND kill DIR     kills it outright, as a crash would
#   private_server.sh KIND freeze DIR   stops it (SIGSTOP): it answers nothing
#   private_server.sh KIND thaw DIR     lets it go on (SIGCONT)
#   private_server.sh KIND stop DIR     ends everything and removes the folder
#
# Clients reach it as those of the test command's do, with the folder in
# place of that one's: XDG_RUNTIME_DIR=DIR and PULSE_SERVER=unix:DIR/pulse/native
# for PulseAudio, GLOWBRAND_PIPEWIRE_DIR=DIR for PipeWire (sound_server.h).
set -uo pipefail
here=$(dirname "$0")
kind=${1:?pulse or pipewire} action=${2:?an action} dir=${3:?a folder}
pids=$dir/server.pids

# Signals every process of the server (the bus stays for a launch to come).
signal_server() {
  [ -f "$pids" ] && xargs -r kill "-$1" <"$pids" 2>/dev/null
  return 0
}

# Waits up to 5 s for the server's processes to be gone. They are not this
# shell's children, and where nobody reaps them they stay as zombies, which
# hold nothing.
await_gone() {
  local pid state _
  for _ in $(seq 50); do
    for pid in $(cat "$pids" 2>/dev/null); do
      state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)
      [ -n "$state" ] && [ "$state" != Z ] && sleep 0.1 && continue 2
    done
    return 0
  done
}

case $kind in
  pulse)
    # shellcheck source=private_pulse.sh
    source "$here/private_pulse.sh"
    # shellcheck disable=SC2034 # read by the functions sourced above
    pulse_dir=$dir pulse_log=$dir/server.log
    export XDG_RUNTIME_DIR=$dir PULSE_RUNTIME_PATH=$dir/pulse PULSE_STATE_PATH=$dir/state
    export PULSE_SERVER=unix:$dir/pulse/native
    ;;
  pipewire)
    # shellcheck source=private_pipewire.sh
    source "$here/private_pipewire.sh"
    pipewire_dir=$dir
    export GLOWBRAND_PIPEWIRE_DIR=$dir
    ;;
  *)
    echo "private_server.sh: no server of kind $kind" >&2
    exit 2
    ;;
esac

case $kind/$action in
  pulse/prepare) chmod 700 "$dir" ;;
  pipewire/prepare) prepare_private_pipewire "$dir" && echo "${pipewire_pids[0]}" >"$dir/bus.pid" ;;
  pulse/launch) launch_private_pulse && echo "$pulse_pid" >"$pids" ;;
  pipewire/launch) launch_private_pipewire && printf '%s\n' "${pipewire_daemon_pids[@]}" >"$pids" ;;
  */kill) signal_server KILL && await_gone ;;
  */freeze) signal_server STOP ;;
  */thaw) signal_server CONT ;;
  */stop)
    signal_server CONT
    signal_server TERM
    await_gone
    signal_server KILL
    [ -f "$dir/bus.pid" ] && kill "$(cat "$dir/bus.pid")" 2>/dev/null
    rm -rf "$dir"
    ;;
  *)
    echo "private_server.sh: no action $action" >&2
    exit 2
    ;;
esac

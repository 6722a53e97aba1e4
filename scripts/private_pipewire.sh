# Sourced, not run: a private PipeWire server, as Debian's desktops run it
# (pipewire, WirePlumber, pipewire-pulse), with a null sink and a D-Bus
# session bus of its own, apart from any server of the desktop's. It can run
# beside the private PulseAudio of private_pulse.sh: this shell's clients are
# not pointed at it.
#
#   start_private_pipewire   starts it and exports GLOWBRAND_PIPEWIRE_DIR, its
#                            folder: clients run with XDG_RUNTIME_DIR set to
#                            it (pipewire_env prints the variables); its
#                            server.log names each client too slow for a
#                            cycle (the tests count the program's underruns
#                            there)
#   prepare_private_pipewire [dir]  the same in two steps: the folder and
#   launch_private_pipewire         the bus, then the server's daemons
#                                   (pipewire_daemon_pids), which may be
#                                   killed and launched again there
#   in_private_pipewire cmd  runs cmd as a client of it
#   stop_private_pipewire    stops it and removes its folder
# The sink is "glowbrand" at 48 kHz. It records with
#   pw-record -P '{ stream.capture.sink=true }' --target glowbrand
# A null sink made through pipewire-pulse (module-null-sink) records only
# silence, so the sink is one of PipeWire's own.

start_private_pipewire() {
  prepare_private_pipewire && launch_private_pipewire
}

# prepare_private_pipewire [dir]: the folder (a new one unless given), the
# configuration and the session bus; no server yet.
prepare_private_pipewire() {
  pipewire_dir=${1:-$(mktemp -d /tmp/glowbrand-pipewire-XXXXXX)} || return 1
  chmod 700 "$pipewire_dir"
  export GLOWBRAND_PIPEWIRE_DIR=$pipewire_dir
  local config=$pipewire_dir/config
  mkdir -p "$config/pipewire/pipewire.conf.d"
  cat >"$config/pipewire/pipewire.conf.d/glowbrand.conf" <<'CONF'
context.objects = [
  { factory = adapter
    args = {
      factory.name = support.null-audio-sink
      node.name = glowbrand
      node.description = "Glowbrand null sink"
      media.class = Audio/Sink
      audio.position = [ FL FR ]
      audio.rate = 48000
      node.driver = true
      monitor.channel-volumes = true
    }
  }
]
CONF
  private_wireplumber_config "$config/wireplumber"
  local _
  pipewire_pids=() pipewire_daemon_pids=()
  # WirePlumber needs a session bus.
  dbus-daemon --session --nofork --address="unix:path=$pipewire_dir/bus" \
    >>"$pipewire_dir/server.log" 2>&1 &
  pipewire_pids+=($!)
  for _ in $(seq 50); do
    [ -S "$pipewire_dir/bus" ] && return 0
    sleep 0.1
  done
}

# Starts the server's daemons in the prepared folder and waits until they
# serve; again after they were killed, at the same address.
launch_private_pipewire() {
  local log=$pipewire_dir/server.log program vars _
  mapfile -t vars < <(pipewire_env)
  pipewire_daemon_pids=()
  # Sockets left by daemons that were killed would pass for the new ones.
  rm -f "$pipewire_dir/pipewire-0" "$pipewire_dir/pipewire-0-manager"
  # Info level, and debug for the nodes: PipeWire 1.x logs a client too slow
  # for its cycle at info once in two seconds, the others at debug only.
  for program in pipewire wireplumber pipewire-pulse; do
    env -u PIPEWIRE_REMOTE -u PIPEWIRE_RUNTIME_DIR "${vars[@]}" PIPEWIRE_DEBUG=3,pw.node:4 \
      DBUS_SESSION_BUS_ADDRESS="unix:path=$pipewire_dir/bus" "$program" >>"$log" 2>&1 &
    pipewire_pids+=($!)
    pipewire_daemon_pids+=($!)
    # WirePlumber and pipewire-pulse give up at once when the server's socket
    # is not there yet: they start once it is.
    for _ in $(seq 100); do
      [ -S "$pipewire_dir/pipewire-0" ] && break
      sleep 0.1
    done
  done
  # Up once WirePlumber has made the null sink the default.
  for _ in $(seq 100); do
    in_private_pipewire pactl info 2>/dev/null | grep -q '^Default Sink: glowbrand$' && return 0
    sleep 0.1
  done
  echo "the private PipeWire server did not start:" >&2
  tail -n 5 "$log" >&2
  stop_private_pipewire
  return 1
}

# private_wireplumber_config <folder>: WirePlumber with only the null sink: no
# sound card, camera or Bluetooth device of the machine, and no logind, which
# a bare root lacks (its watch ended WirePlumber there). WirePlumber 0.4
# (Debian 12) reads Lua fragments, 0.5 (Debian 13) SPA-JSON ones.
private_wireplumber_config() {
  local folder=$1
  if wireplumber --version | grep -q 'libwireplumber 0\.4\.'; then
    # They sort before WirePlumber's own 90-enable-all.lua, which starts the
    # monitors: one after it came too late.
    mkdir -p "$folder/main.lua.d" "$folder/bluetooth.lua.d"
    printf '%s\n' 'alsa_monitor.enabled = false' 'v4l2_monitor.enabled = false' \
      'libcamera_monitor.enabled = false' >"$folder/main.lua.d/80-glowbrand.lua"
    echo 'bluez_monitor.enabled = false' >"$folder/bluetooth.lua.d/80-glowbrand.lua"
  else
    mkdir -p "$folder/wireplumber.conf.d"
    cat >"$folder/wireplumber.conf.d/80-glowbrand.conf" <<'CONF'
wireplumber.profiles = {
  main = {
    hardware.audio = disabled
    hardware.bluetooth = disabled
    hardware.video-capture = disabled
    support.logind = disabled
  }
}
CONF
  fi
}

# The environment of a client of the private server, one NAME=value a line.
pipewire_env() {
  local dir=$GLOWBRAND_PIPEWIRE_DIR
  printf '%s\n' "XDG_RUNTIME_DIR=$dir" "XDG_CONFIG_HOME=$dir/config" "XDG_STATE_HOME=$dir/state" \
    "PULSE_RUNTIME_PATH=$dir/pulse" "PULSE_SERVER=unix:$dir/pulse/native"
}

in_private_pipewire() {
  local vars
  mapfile -t vars < <(pipewire_env)
  env -u PIPEWIRE_REMOTE -u PIPEWIRE_RUNTIME_DIR "${vars[@]}" "$@"
}

stop_private_pipewire() {
  local pid
  for pid in "${pipewire_pids[@]}"; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  [ -n "${pipewire_dir:-}" ] && rm -rf "$pipewire_dir"
  pipewire_pids=() pipewire_dir=""
  unset GLOWBRAND_PIPEWIRE_DIR
}

# Sourced, not run: a private PulseAudio server with a null sink, for the
# tests and the benchmarks, apart from any server of the desktop's.
#
#   start_private_pulse    starts it and points the PulseAudio clients of this
#                          shell at it; pulse_log (exported as
#                          GLOWBRAND_PULSE_LOG) is its debug log, whose
#                          underrun lines count the clients' underruns
#   stop_private_pulse     stops it and removes its folder
# The sink is "glowbrand" at 48 kHz; its monitor is "glowbrand.monitor".

start_private_pulse() {
  pulse_dir=$(mktemp -d /tmp/glowbrand-pulse-XXXXXX) || return 1
  chmod 700 "$pulse_dir"
  export XDG_RUNTIME_DIR=$pulse_dir PULSE_RUNTIME_PATH=$pulse_dir/pulse
  export PULSE_STATE_PATH=$pulse_dir/state PULSE_SERVER=unix:$pulse_dir/pulse/native
  pulse_log=$pulse_dir/server.log
  export GLOWBRAND_PULSE_LOG=$pulse_log
  launch_private_pulse
}

# Kills the server outright, as a crash would, and after `$1` seconds starts
# it again at the same address: for clients that must live through that.
restart_private_pulse() {
  kill -KILL "$pulse_pid" 2>/dev/null && wait "$pulse_pid" 2>/dev/null
  sleep "$1"
  launch_private_pulse
}

# A client that asks for a variable rate (wine 10's PulseAudio driver does)
# is resampled even at the sink's own rate, and speex smooths its frames on
# the way: the trivial resampler passes them through as they are, so what the
# monitor records is what the client wrote.
launch_private_pulse() {
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --resample-method=trivial \
    --log-level=debug --log-target="file:$pulse_log" \
    -L "module-native-protocol-unix auth-anonymous=1" \
    -L "module-null-sink sink_name=glowbrand rate=48000 channels=2" \
    >"$pulse_dir/stdout" 2>&1 &
  pulse_pid=$!
  local tries
  for tries in $(seq 50); do
    pactl info >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "the private PulseAudio server did not start:" >&2
  tail -n 5 "$pulse_dir/stdout" >&2
  stop_private_pulse
  return 1
}

# The underruns the server has logged so far.
pulse_underruns() {
  grep -a -c -E 'Underrun on|Implicit underrun' "$pulse_log"
}

stop_private_pulse() {
  [ -n "${pulse_pid:-}" ] && kill "$pulse_pid" 2>/dev/null && wait "$pulse_pid" 2>/dev/null
  [ -n "${pulse_dir:-}" ] && rm -rf "$pulse_dir"
  pulse_pid="" pulse_dir=""
  unset PULSE_SERVER PULSE_RUNTIME_PATH PULSE_STATE_PATH GLOWBRAND_PULSE_LOG
}

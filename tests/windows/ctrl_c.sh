#!/usr/bin/env bash
# ctrl_c.sh <glowbrand-scripted.exe> <sounds dir>: Ctrl+C reaches the Windows
# program as a console control event (wine turns SIGINT into CTRL_C_EVENT).
# The blade waits on a remote that has gone silent; the program must end
# within a second with Windows' status for an interrupted console program,
# its remote's motor off, LEDs dark and the link closed last.
set -u
exe=$(realpath "$1")
sounds=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$sounds"/on0.wav "$sounds"/off0.wav "$sounds"/swing2.wav "$sounds"/strike2.wav "$dir"/
printf '0-700/10 31 00 00 80 80 9a\n' >"$dir/session.script"

cd "$dir"
env -u DISPLAY -u WAYLAND_DISPLAY WINEDEBUG=-all GLOWBRAND_SCRIPT="$dir/session.script" \
  GLOWBRAND_HIDLOG="$dir/hid.log" /usr/lib/wine/wine64 "$exe" </dev/null >stdout 2>stderr &
pid=$!
# After the last report (at 700 ms of the script) the loop waits in a read.
for _ in $(seq 300); do
  grep -q '@700' hid.log 2>/dev/null && break
  sleep 0.05
done
sleep 0.2
sent=$(date +%s%N)
kill -INT "$pid"
wait "$pid"
status=$?
took=$(( ($(date +%s%N) - sent) / 1000000 ))

problem=""
# STATUS_CONTROL_C_EXIT is 0xC000013A; a Unix parent sees its low byte.
[ "$status" -eq $((0x3A)) ] || problem="$problem exit status $status, not 0x3A;"
[ "$took" -lt 1000 ] || problem="$problem took $took ms to end;"
writes=$(awk '$2 == "write" { $1 = $2 = ""; sub(/^  /, ""); print }' hid.log | paste -sd, -)
[ "$writes" = "12 00 31,11 f0,11 00,13 00,11 00" ] || problem="$problem writes were $writes;"
[ "$(tail -n 1 hid.log | awk '{ print $2 }')" = close ] || problem="$problem the close is not last;"
grep -q ' read none$' hid.log || problem="$problem the waiting read was not cancelled;"
if [ -n "$problem" ]; then
  echo "Ctrl+C:$problem"
  cat hid.log stderr
  exit 1
fi
echo "Ctrl+C: quiet end in $took ms, status 0x3A"

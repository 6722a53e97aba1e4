#!/bin/bash
# Runs in the shared-root guest (init_shared_root), as root in this machine's
# own root under a tmpfs overlay: Wii Remotes over Bluetooth, paired and
# connected by the player with the README's own bluetoothctl steps, then
# played by the real programs; or paired by glowbrand-doctor --pair alone.
#
#   guest_bluetooth.sh DIR
#
# btvirt links virtual controllers: hci0 is the host's, managed by
# bluetoothd; each case's remote (glowbrand-bt-remote) takes one of the
# others through an HCI user channel before bluetoothd starts, so that
# bluetoothd never holds its PSMs nor answers its PIN requests.
#
# DIR/env names the programs and files (REMOTE, PROGRAM, DOCTOR, SOUNDS,
# README, RULE: the udev rule, UDEVADM, PULSE: scripts/private_pulse.sh, VM:
# the guest's folder, whose modules/ holds its kernel's modules) and says
# LOW_BITS. Each DIR/<case>/ holds
# `script` (the remote's) and `env`:
#   RUN       glowbrand or glowbrand-doctor, as the player
#   PIN=host-msb-first   the remote wants the host's address in the wrong
#             byte order, and the pairing must fail (nothing runs then)
#   RETURN=host          after a drop the remote waits for the host, and the
#             player types the README's `connect` again
#   PAIR=doctor          the player pairs with glowbrand-doctor --pair instead
#             of the README's lines: its output and status in pair.out and
#             pair.status (RUN runs only after a status of 0)
#   UDEV_RULE=0  the udev rule is taken away before --pair and put back after it
#             as the package's install does (reload, trigger); then --pair
#             runs again (pair-again.out, pair-again.status)
#   UNBONDED=1           BlueZ knows the remote from before without a bond, and
#             its SYNC is never pressed; RUN=glowbrand-doctor runs all the same
#   BT_AUDIO=1           the doctor's sound server's default output is named as
#             BlueZ names a Bluetooth headset's
# and gets address (the remote's), status, stdout, stderr, remote.log (and
# remote-before.log and remote-after.log: as the program found and left it),
# bluetoothctl.log and steps (each README line typed, and whether its answer
# came). DIR/no-adapter.out and .status: glowbrand-doctor --pair before any
# adapter is there. DIR/timeline says when each step began.
set -u
dir=$1
[ -e /dev/fd ] || ln -s /proc/self/fd /dev/fd  # devtmpfs has none
# shellcheck source=/dev/null
. "$dir/env"
cases=("$dir"/*/)
# When each step began, in s since the boot: DIR/timeline.
mark() {
  echo "$(cut -d' ' -f1 /proc/uptime) $*" >>"$dir/timeline"
}
mark start

# The modules a virtual adapter and a remote over Bluetooth need, each list
# in the order each needs the one before (make_initramfs.sh); the HID ones
# the init has loaded already. This machine need not have kmod: busybox
# loads them.
for module in $(cat "$VM/modules/bluetooth" "$VM/modules/bluetooth-remote"); do
  [ -d "/sys/module/${module//-/_}" ] || busybox insmod "$VM/modules/$module.ko"
done

mark modules
# Before any adapter: what --pair says without one.
"$DOCTOR" --pair >"$dir/no-adapter.out" 2>&1 </dev/null
echo $? >"$dir/no-adapter.status"
# One controller for the host and one for each case's remote, all linked.
controllers=$((${#cases[@]} + 1))
btvirt -l"$controllers" </dev/null >/tmp/btvirt.log 2>&1 &
btvirt=$!
for _ in $(seq 200); do
  [ -e "/sys/class/bluetooth/hci$((controllers - 1))" ] && break
  sleep 0.05
done

# The host's address, as the kernel read it from its controller.
for _ in $(seq 200); do
  host=$(hciconfig hci0 2>/dev/null | sed -n 's/.*BD Address: \([0-9A-F:]*\).*/\1/p')
  [ -n "$host" ] && [ "$host" != 00:00:00:00:00:00 ] && break
  sleep 0.05
done

# Each case's remote on its controller.
index=1
remotes=()
for case in "${cases[@]}"; do
  case=${case%/}
  PIN="" RETURN=self
  # shellcheck source=/dev/null
  . "$case/env"
  options=(--hci="$index" --ready="/tmp/ready-$index" --sync="/tmp/sync-$index" --low-bits="$LOW_BITS" --return="$RETURN")
  # The PIN a remote wants is the host's address least significant byte
  # first; this one wants it the other way round.
  [ "$PIN" = host-msb-first ] && options+=(--pin="${host//:/}")
  echo "$index" >"/tmp/index-$(basename "$case")"
  "$REMOTE" "$case/script" "/tmp/remote-$index.log" "${options[@]}" 2>"/tmp/remote-$index.err" &
  remotes+=($!)
  renice -n -20 -p "$!" >/dev/null
  index=$((index + 1))
done
for ((i = 1; i < controllers; i++)); do
  for _ in $(seq 200); do
    [ -e "/tmp/ready-$i" ] && break
    sleep 0.05
  done
done

mark remotes
# What the controllers and remotes said at their start, for a look when a
# case goes wrong.
cp /tmp/btvirt.log /tmp/remote-*.err "$dir/" 2>/dev/null
dmesg >"$dir/dmesg-remotes.log" 2>/dev/null
# The system bus, udevd with the udev rule and BlueZ, as on a desktop. The
# seat's part (73-seat-late.rules and logind turn the uaccess tag into the
# user's access) is played by a rule that gives the node to the player.
mkdir -p /run/dbus /var/lib/bluetooth
# Remotes BlueZ knows from before without a bond: their name, trust and HID
# service kept, no link key. ClassicBondedOnly as Debian's BlueZ has it.
for case in "${cases[@]}"; do
  case=${case%/}
  UNBONDED=0
  # shellcheck source=/dev/null
  . "$case/env"
  [ "$UNBONDED" = 1 ] || continue
  address=$(cat "/tmp/ready-$(cat "/tmp/index-$(basename "$case")")")
  mkdir -p "/var/lib/bluetooth/$host/$address"
  printf '%s\n' "[General]" "Name=Nintendo RVL-CNT-01" "Class=0x002504" \
    "SupportedTechnologies=BR/EDR;" "Trusted=true" "Blocked=false" \
    "Services=00001124-0000-1000-8000-00805f9b34fb;" \
    >"/var/lib/bluetooth/$host/$address/info"
done
sed -i 's/^#*ClassicBondedOnly=.*/ClassicBondedOnly=true/' /etc/bluetooth/input.conf
dbus-daemon --system --fork
echo "player:x:4242:4242::/tmp/player:/bin/sh" >>/etc/passwd
echo "player:x:4242:" >>/etc/group
mkdir -p /tmp/player /etc/udev/rules.d
cp "$RULE" /etc/udev/rules.d/
echo 'SUBSYSTEM=="hidraw", TAG=="uaccess", OWNER="player"' >/etc/udev/rules.d/73-seat-late.rules
ln -s "$UDEVADM" /tmp/systemd-udevd
/tmp/systemd-udevd </dev/null >/dev/null 2>&1 &
udevd=$!
bluetoothd=$(command -v bluetoothd || echo /usr/libexec/bluetooth/bluetoothd)
"$bluetoothd" -n </dev/null >/tmp/bluetoothd.log 2>&1 &
bluetoothd_pid=$!

cp "$PROGRAM" "$DOCTOR" "$PULSE" /tmp/player/
chown -R 4242:4242 /tmp/player

# The README's bluetoothctl lines, in order: what the player types.
mapfile -t readme < <(sed -n 's/^    \[bluetooth\]# //p' "$README")

# The player's bluetoothctl, fed line by line through a pipe; each line
# waits for its answer (or 30 s) before the next is typed.
start_bluetoothctl() {  # <log>
  rm -f /tmp/typed
  mkfifo /tmp/typed
  setpriv --reuid=4242 --regid=4242 --clear-groups env HOME=/tmp/player \
    stdbuf -oL bluetoothctl </tmp/typed >"$1" 2>&1 &
  ctl=$!
  exec 4>/tmp/typed
  ctl_log=$1
}
stop_bluetoothctl() {  # quit, or ended: a prompt of its agent takes the quit as its answer
  echo quit >&4
  exec 4>&-
  for _ in $(seq 30); do
    kill -0 "$ctl" 2>/dev/null || break
    sleep 0.1
  done
  kill "$ctl" 2>/dev/null
  wait "$ctl" 2>/dev/null
}
type_line() {  # <line> <answer pattern>: 0 if the answer came
  local before
  before=$(wc -c <"$ctl_log")
  echo "$1" >&4
  for _ in $(seq 300); do
    tail -c +"$((before + 1))" "$ctl_log" | grep -qE "$2" && return 0
    sleep 0.1
  done
  return 1
}
# What answers each README line.
answer() {  # <line> <address>
  case $1 in
    "power on") echo "power on succeeded" ;;
    "scan on") echo "Device $2 (Name: )?Nintendo RVL-CNT-01" ;;
    "scan off") echo "Discovery stopped|discovering: no|Discovering: no" ;;
    pair*) echo "Pairing successful|Failed to pair|Enter PIN code" ;;
    trust*) echo "trust succeeded|Failed" ;;
    connect*) echo "Connection successful|Failed to connect" ;;
    *) echo . ;;
  esac
}

# glowbrand-doctor --pair, as the player: its output and status.
pair_with_doctor() {  # <output> <status file>
  setpriv --reuid=4242 --regid=4242 --clear-groups env HOME=/tmp/player \
    bash -c 'timeout -s KILL 120 /tmp/player/glowbrand-doctor --pair; echo $? >/tmp/player/pair.status' \
    </dev/null >"$1" 2>&1
  mv /tmp/player/pair.status "$2"
}

for case in "${cases[@]}"; do
  case=${case%/}
  PIN="" RETURN=self RUN=glowbrand PAIR=readme UDEV_RULE=1 UNBONDED=0 BT_AUDIO=0
  # shellcheck source=/dev/null
  . "$case/env"
  index=$(cat "/tmp/index-$(basename "$case")")
  address=$(cat "/tmp/ready-$index")
  echo "$address" >"$case/address"
  product=$(sed -n 's/^product \([0-9a-fA-F]*\).*/\1/p' "$case/script" | tr a-f A-F)
  product=${product:-0306}
  : >"$case/steps"
  mark "$(basename "$case")"
  # SYNC pressed: the remote can be found
  [ "$UNBONDED" = 1 ] || touch "/tmp/sync-$index"
  start_bluetoothctl /tmp/bluetoothctl.log
  paired=0
  readme_lines=("${readme[@]}")
  if [ "$PAIR" = doctor ]; then
    readme_lines=()
    if [ "$UDEV_RULE" = 0 ]; then
      rm /etc/udev/rules.d/70-glowbrand.rules
      SYSTEMD_IGNORE_CHROOT=1 "$UDEVADM" control --reload
    fi
    mark "--pair"
    pair_with_doctor "$case/pair.out" "$case/pair.status"
    if [ "$UDEV_RULE" = 0 ]; then
      # What the package's install does: the rule, then udev told of it.
      cp "$RULE" /etc/udev/rules.d/
      # (udevadm does nothing in a chroot unless told to.)
      (
        export SYSTEMD_IGNORE_CHROOT=1
        "$UDEVADM" control --reload
        "$UDEVADM" trigger --verbose --subsystem-match=hidraw --action=change
        "$UDEVADM" settle --timeout=10
        ls -l /dev/hidraw*
      ) >"$case/udev.log" 2>&1
      mark "--pair again"
      pair_with_doctor "$case/pair-again.out" "$case/pair-again.status"
      cp "$case/pair-again.status" "$case/pair.final"
    else
      cp "$case/pair.status" "$case/pair.final"
    fi
    [ "$(cat "$case/pair.final")" = 0 ] && paired=1
  fi
  for line in "${readme_lines[@]}"; do
    line=${line//00:1F:32:AA:BB:CC/$address}
    mark "$line"
    if type_line "$line" "$(answer "$line" "$address")"; then
      echo "$line: answered" >>"$case/steps"
    else
      echo "$line: no answer" >>"$case/steps"
    fi
    if [[ $line == pair* ]]; then
      # BlueZ's own PIN refused, its agent asks the player, who tries 0000.
      if tail -n 3 /tmp/bluetoothctl.log | grep -q "Enter PIN code"; then
        type_line 0000 "Pairing successful|Failed to pair"
        echo "PIN asked: 0000" >>"$case/steps"
      fi
      tail -n 3 /tmp/bluetoothctl.log | grep -q "Pairing successful" && paired=1
      # A pairing that failed ends the steps; the scan is stopped all the same.
      [ "$paired" = 1 ] || { type_line "scan off" "$(answer "scan off")"; break; }
    fi
  done
  if [ "$paired" = 1 ] || [ "$RUN" = glowbrand-doctor ]; then
    node=""
    for _ in $(seq "$((paired ? 300 : 0))"); do
      node=$(ls /sys/bus/hid/devices/0005:057E:"$product".*/hidraw 2>/dev/null | head -n 1)
      [ -n "$node" ] && [ "$(stat -c %u "/dev/$node" 2>/dev/null)" = 4242 ] && break
      sleep 0.05
    done
    ls -l /dev/hidraw* >"$case/nodes" 2>&1
    play=$(mktemp -d)
    cp "$SOUNDS"/on0.wav "$SOUNDS"/off0.wav "$SOUNDS"/swing2.wav "$SOUNDS"/strike2.wav "$play/"
    chmod -R a+rwX "$play"
    if [ "$RETURN" = host ]; then
      # When the remote has gone, the player connects it again as the
      # README says.
      (
        for _ in $(seq 600); do
          grep -q ' destroy ' "/tmp/remote-$index.log" && break
          sleep 0.05
        done
        line=$(printf '%s\n' "${readme[@]}" | grep '^connect ' | head -n 1)
        line=${line//00:1F:32:AA:BB:CC/$address}
        if type_line "$line" "$(answer "$line" "$address")"; then
          echo "again: $line: answered" >>"$case/steps"
        else
          echo "again: $line: no answer" >>"$case/steps"
        fi
      ) &
      again=$!
    fi
    mark "$RUN"
    cp "/tmp/remote-$index.log" "$case/remote-before.log"
    if [ "$RUN" = glowbrand-doctor ]; then
      # The doctor's sound check wants the player's sound server, as on a desktop.
      headset=""
      [ "$BT_AUDIO" = 1 ] && headset="pactl load-module module-null-sink \
        sink_name=bluez_output.00_1F_32_AA_BB_CC.1 >/dev/null &&
        pactl set-default-sink bluez_output.00_1F_32_AA_BB_CC.1 &&"
      setpriv --reuid=4242 --regid=4242 --clear-groups env HOME=/tmp/player bash -c \
        ". /tmp/player/private_pulse.sh && start_private_pulse && $headset cd '$play' &&
         timeout -s KILL 60 /tmp/player/$RUN; echo \$? >/tmp/player/status; stop_private_pulse" \
        </dev/null >/tmp/stdout 2>/tmp/stderr
    else
      setpriv --reuid=4242 --regid=4242 --clear-groups env HOME=/tmp/player SDL_AUDIODRIVER=dummy \
        bash -c "cd '$play' && timeout -s KILL 60 /tmp/player/$RUN; echo \$? >/tmp/player/status" \
        </dev/null >/tmp/stdout 2>/tmp/stderr
    fi
    cp "/tmp/remote-$index.log" "$case/remote-after.log"
    [ "$RETURN" = host ] && wait "$again"
    cp /tmp/player/status /tmp/stdout /tmp/stderr "$case/"
    rm -rf "$play" /tmp/player/status
  fi
  # The next case starts from a host that knows no remote, and the remote
  # is switched off.
  rm -f "/tmp/sync-$index"
  type_line "remove $address" "removed|not available"
  stop_bluetoothctl
  cp /tmp/bluetoothctl.log "$case/bluetoothctl.log"
  cp "/tmp/remote-$index.log" "$case/remote.log"
  cp "/tmp/remote-$index.err" "$case/remote.err"
  cp /tmp/bluetoothd.log "$case/bluetoothd.log"
done

mark end
echo "host $host" >"$dir/host"
kill "${remotes[@]}" 2>/dev/null
wait "${remotes[@]}" 2>/dev/null
kill "$bluetoothd_pid" "$udevd" "$btvirt"
cp /tmp/bluetoothd.log /tmp/btvirt.log "$dir/"

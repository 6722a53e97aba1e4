#!/bin/bash
# Runs in the shared-root guest (init_shared_root), as root in this machine's
# own root under a tmpfs overlay: glowbrand-doctor where each of its checks
# can say ok. Debian's standard kernel has Bluetooth (hci_vhci makes a
# virtual adapter), this machine's root has PulseAudio (a private server
# with a null sink, as the test command starts one), and the player is a
# user of their own who may open the remote's node.
#
#   guest_doctor.sh DIR
#
# DIR/env names the programs and folders (DOCTOR, REMOTE, SOUNDS, VM: the
# guest's folder, whose cache holds its kernel's modules, PULSE:
# scripts/private_pulse.sh) and says WIIMOTE and LOW_BITS. Each DIR/<case>/ holds `script` (the remote's) and
# `env` (BATTERY, the level the remote reports; BLOCKED=1: the adapter soft-
# blocked through rfkill) and gets status, stdout, stderr, remote-before.log
# and remote-after.log.
set -u
dir=$1
# shellcheck source=/dev/null
. "$dir/env"

# The modules hci_vhci needs, in the order each needs the one before. This
# machine need not have kmod: busybox loads them.
for module in $(cat "$VM/modules/bluetooth"); do
  busybox insmod "$VM/modules/$module.ko"
done
# A virtual adapter lives while /dev/vhci is open; its vendor packet
# (0xff, then 0x00: a primary controller) makes it.
exec 3<>/dev/vhci
printf '\377\000' >&3
for _ in $(seq 100); do
  [ -e /sys/class/bluetooth/hci0 ] && break
  sleep 0.05
done

# The player: a user of their own, in the overlay's /etc/passwd.
echo "player:x:4242:4242::/tmp/player:/bin/sh" >>/etc/passwd
echo "player:x:4242:" >>/etc/group
mkdir -p /tmp/player
# What the player runs, where the player may read it: the tree may sit in a
# home the player may not enter (/root in a fresh machine).
cp "$DOCTOR" /tmp/player/glowbrand-doctor
cp "$PULSE" /tmp/player/private_pulse.sh
chown -R 4242:4242 /tmp/player

# start_remote <script> <log> <battery>: the remote, once its node is there
# and, with the kernel's driver, once that has set it up (LED 1); then the
# node open to the player, as the udev rule grants it at the seat.
start_remote() {
  "$REMOTE" "$1" "$2" --low-bits="$LOW_BITS" --battery="$3" &
  remote=$!
  renice -n -20 -p "$remote" >/dev/null
  for _ in $(seq 200); do
    ls /dev/hidraw* >/dev/null 2>&1 && break
    sleep 0.05
  done
  if [ "$WIIMOTE" = 1 ]; then
    for _ in $(seq 200); do
      grep -q ' write 11 10$' "$2" 2>/dev/null && break
      sleep 0.05
    done
    sleep 0.2
  fi
  chmod 666 /dev/hidraw*
}

# What each case writes goes to the guest's memory first, and to the shared
# folder at its end: a remote waiting on the host to note a write notes it
# late.
for case in "$dir"/*/; do
  case=${case%/}
  BATTERY=200 BLOCKED=0
  # shellcheck source=/dev/null
  . "$case/env"
  echo "$BLOCKED" >"$(ls -d /sys/class/bluetooth/hci0/rfkill*)/soft"
  play=$(mktemp -d)
  cp "$SOUNDS"/on0.wav "$SOUNDS"/off0.wav "$SOUNDS"/swing2.wav "$SOUNDS"/strike2.wav "$play/"
  chmod -R a+rwX "$play"
  start_remote "$case/script" /tmp/remote.log "$BATTERY"
  cp /tmp/remote.log /tmp/remote-before.log
  # The sound server is the player's, as on a desktop.
  setpriv --reuid=4242 --regid=4242 --clear-groups env HOME=/tmp/player bash -c \
    ". /tmp/player/private_pulse.sh && start_private_pulse && cd '$play' &&
     timeout -s KILL 120 /tmp/player/glowbrand-doctor;
     echo \$? >/tmp/player/status; stop_private_pulse" \
    </dev/null >/tmp/stdout 2>/tmp/stderr
  cp /tmp/remote.log /tmp/remote-after.log
  kill "$remote"
  wait "$remote"
  cp /tmp/player/status /tmp/stdout /tmp/stderr /tmp/remote-before.log /tmp/remote-after.log "$case/"
  rm -rf "$play" /tmp/player/status /tmp/remote*.log
done
exec 3>&-

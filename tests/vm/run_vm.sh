#!/usr/bin/env bash
# Boots one scenario of the VM suite and splits what the VM printed:
#   run_vm.sh VM_DIR SCENARIO_DIR
# VM_DIR holds vmlinuz and base.cpio.gz (make_initramfs.sh); SCENARIO_DIR
# holds `env` and `script` (and `script2` for udev) and gets console.log,
# status, stdout, stderr, remote.log and udev-<script>.log; or it holds
# `env` and `cases/<case>/{env,script}` and gets what each case left
# (tests/vm/init) in <case>/.
#
# A shared-root VM_DIR (make_initramfs.sh --shared-root) boots into this
# machine's root instead; SCENARIO_DIR's `env` then says WIIMOTE=0|1 and
# GUEST=<script>, which runs in the guest as `GUEST SCENARIO_DIR` with the
# scenario folder shared writable, and writes there what it has to say.
#
# Under emulation the kernel cannot always calibrate its clock against the
# emulated timer and then hangs, so it is told the host's TSC rate (the
# emulated TSC runs at it) and a delay-loop value. A boot is bounded and,
# if it hangs anyway, tried once more. KVM is used when it works here.
set -uo pipefail
vm=$1 dir=$2
shared_root=0
[ -f "$vm/shared-root" ] && shared_root=1
boot_limit=${GLOWBRAND_VM_BOOT_LIMIT:-120}
memory=512
processors=1
accel_options=()

mhz=$(sed -n 's/^cpu MHz[^:]*: *\([0-9]*\).*/\1/p' /proc/cpuinfo | head -n 1)
append="console=ttyS0 panic=-1 quiet loglevel=1 lpj=4000000 tsc_early_khz=${mhz:-2000}000 tsc=reliable"

# boot <initrd> <accel> <console file> <seconds>: true if the init finished.
share=()  # qemu's options for the shared-root guest's shares
boot() {
  timeout -s KILL "$4" qemu-system-x86_64 -M microvm -accel "$2" -m "$memory" -smp "$processors" "${accel_options[@]}" -nodefaults \
    -display none -serial stdio -net none -no-reboot "${share[@]}" \
    -kernel "$vm/vmlinuz" -initrd "$1" -append "$append" </dev/null >"$3" 2>&1
  grep -q '^@@@ done' "$3"
}

# Whether KVM works here: a VM that only powers off, asked once per VM_DIR.
if [ ! -f "$vm/accel" ]; then
  accel=tcg
  if [ -w /dev/kvm ] && grep -qE "vmx|svm" /proc/cpuinfo; then
    probe=$(mktemp -d)
    mkdir "$probe/scenario" && echo "PROBE=1" >"$probe/scenario/env"
    (cd "$probe" && find scenario | cpio -o -H newc --quiet | gzip -1) >"$probe/scenario.cpio.gz"
    cat "$vm/base.cpio.gz" "$probe/scenario.cpio.gz" >"$probe/initrd"
    boot "$probe/initrd" kvm "$probe/console" 20 && accel=kvm
    rm -rf "$probe"
  fi
  echo "$accel" >"$vm/accel"
fi
accel=$(cat "$vm/accel")

if [ "$shared_root" = 1 ]; then
  dir=$(realpath "$2")
  wiimote=$(sed -n 's/^WIIMOTE=//p' "$dir/env")
  guest=$(sed -n 's/^GUEST=//p' "$dir/env")
  # wine and a Windows program need more room than busybox does. And a
  # clock that follows the instructions the guest runs, not the host's: on
  # a busy host emulation otherwise slows the guest against its own clock,
  # and the first report crosses wine's HID stack (the program, wineserver
  # and winebus in turn) after the start-up probe's 100 ms, every time.
  # 2^2 ns an instruction, a 250 MIPS machine, still slower than any PC the
  # program meets: at 2^3 (125 MIPS) a third of the program's runs still
  # missed the probe's window (docs/testing.md). Its TSC runs at 1 GHz
  # either way. (A second processor hangs the kernel's boot under icount.)
  memory=1024
  accel_options=(-icount shift=2,sleep=on)
  append=${append/tsc_early_khz=${mhz:-2000}000/tsc_early_khz=1000000}
  append="$append glowbrand.wiimote=${wiimote:-0} glowbrand.run=$guest glowbrand.dir=$dir"
  share=(-fsdev local,id=host,path=/,security_model=none,readonly=on,multidevs=remap
         -device virtio-9p-device,fsdev=host,mount_tag=host
         -fsdev local,id=out,path="$dir",security_model=none,multidevs=remap
         -device virtio-9p-device,fsdev=out,mount_tag=out)
  boot "$vm/base.cpio.gz" "$accel" "$dir/console.log" "$boot_limit" ||
    { echo "the VM did not finish its scenario; console in $dir/console.log" >&2; exit 1; }
  exit 0
fi

# GLOWBRAND_VM_CLOCK=instructions: the guest's clock follows the
# instructions it runs, as the shared-root guest's does (above), for cases
# that compare the times of sessions in one boot: a busy host then slows
# them in real time, but none against the guest's own clock.
if [ "${GLOWBRAND_VM_CLOCK:-}" = instructions ] && [ "$accel" = tcg ]; then
  accel_options=(-icount shift=3,sleep=on)
  append=${append/tsc_early_khz=${mhz:-2000}000/tsc_early_khz=1000000}
fi
stage=$(mktemp -d)
mkdir "$stage/scenario"
cp -r "$dir"/env "$dir"/script* "$dir"/cases "$stage/scenario/" 2>/dev/null
(cd "$stage" && find scenario | cpio -o -H newc --quiet | gzip -1) >"$stage/scenario.cpio.gz"
cat "$vm/base.cpio.gz" "$stage/scenario.cpio.gz" >"$stage/initrd"
boot "$stage/initrd" "$accel" "$dir/console.log" "$boot_limit" ||
  boot "$stage/initrd" "$accel" "$dir/console.log" "$boot_limit"
booted=$?
rm -rf "$stage"
[ "$booted" -eq 0 ] || { echo "the VM did not finish its scenario; console in $dir/console.log" >&2; exit 1; }

# section <name> <file>: the lines between "@@@ <name>" and "@@@ end <name>",
# less the line break the init added after the file's own.
section() {
  tr -d '\r' <"$dir/console.log" |
    awk -v name="$1" '$0 == "@@@ end " name { on = 0 } on { print } $0 == "@@@ " name { on = 1 }' |
    head -c -1 >"$2"
}
tr -d '\r' <"$dir/console.log" | sed -n 's/^@@@ status //p' >"$dir/status"
section out "$dir/stdout"
section err "$dir/stderr"
section log "$dir/remote.log"
for script in script script2; do
  section "udev $script" "$dir/udev-$script.log"
done
tr -d '\r' <"$dir/console.log" | sed -n 's|^@@@ file \([^/]*/[^/]*\)$|\1|p' | while read -r file; do
  mkdir -p "$dir/$(dirname "$file")"
  section "file $file" "$dir/$file"
done

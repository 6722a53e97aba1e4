#!/usr/bin/env bash
# Makes the VM suite's kernel and initramfs in OUT_DIR:
#   vmlinuz          Debian 12's cloud kernel, from its package (never installed
#                    on this machine: apt-get download, unpacked, cached here)
#   base.cpio.gz     busybox, the HID modules, the programs (the real
#                    glowbrand, glowbrand-doctor, glowbrand-scripted and the
#                    kernel-level remote, in /usr/bin under their own names)
#                    with their libraries, the sounds, Debian's udevadm with
#                    our udev rule, and the init
# Each scenario appends its own small archive (script and settings) to it.
#
#   make_initramfs.sh OUT_DIR SOUNDS_DIR SOURCE_DIR PROGRAM...
#
# The second kind of guest, for what needs more than busybox (wine):
#   make_initramfs.sh --shared-root OUT_DIR
# makes in OUT_DIR a `shared-root` marker and
#   vmlinuz          Debian 12's standard kernel (9p and overlayfs, which the
#                    cloud kernel lacks), fetched and cached the same way
#   base.cpio.gz     busybox, the virtio, 9p, overlay and HID modules, and
#                    init_shared_root, which boots into this machine's own
#                    root, shared read-only (run_vm.sh)
#   cache/udev/      Debian's udev, unpacked: its udevadm is also udevd, which
#                    the guest runs from there (this machine need not have it)
set -euo pipefail
shared_root=0
if [ "$1" = --shared-root ]; then
  shared_root=1
  shift
fi
mkdir -p "$1"
out=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
programs=()
if [ "$shared_root" = 0 ]; then  # before the cd below: they may be relative
  sounds=$(realpath "$2") source=$(realpath "$3")
  for program in "${@:4}"; do
    programs+=("$(realpath "$program")")
  done
fi
mkdir -p "$out/cache"
cd "$out/cache"

# The kernel and udev packages, fetched once per build tree.
fetch() {  # fetch <package>: its .deb, unpacked under <package>/
  local package=$1
  [ -d "$package" ] && return
  ls "$package"_*.deb >/dev/null 2>&1 ||
    apt-get download "$package" >/dev/null 2>&1 ||
    { apt-get update -qq && apt-get download "$package" >/dev/null; }
  dpkg-deb -x "$package"_*.deb "$package.part" && mv "$package.part" "$package"
}

if [ "$shared_root" = 1 ]; then
  kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/ *Depends: \(linux-image-.*\)/\1/p' | head -n 1)
  [ -n "$kernel_package" ] || kernel_package=$(ls -d linux-image-*[0-9]-amd64 2>/dev/null | head -n 1)
  [ -n "$kernel_package" ] || { echo "no Debian standard kernel package found" >&2; exit 1; }
  fetch "$kernel_package"
  fetch udev
  modules=$(ls -d "$PWD/$kernel_package"/lib/modules/*)
  # The package has no modules.dep; a guest loads modules by name with it.
  [ -f "$modules/modules.dep" ] || depmod -b "$PWD/$kernel_package" "$(basename "$modules")"
  cp "$PWD/$kernel_package"/boot/vmlinuz-* "$out/vmlinuz"
  root=$out/root
  rm -rf "$root"
  mkdir -p "$root"/{bin,lib/modules,proc,sys,dev,host,rw,new}
  cp "$(command -v busybox)" "$root/bin/busybox"
  # In the order each needs the one before; the init loads them so.
  for m in drivers/virtio/virtio_ring.ko drivers/virtio/virtio.ko drivers/virtio/virtio_mmio.ko \
           fs/netfs/netfs.ko fs/fscache/fscache.ko net/9p/9pnet.ko net/9p/9pnet_virtio.ko \
           fs/9p/9p.ko fs/overlayfs/overlay.ko drivers/hid/hid.ko drivers/hid/uhid.ko \
           drivers/hid/hid-generic.ko drivers/input/ff-memless.ko drivers/hid/hid-wiimote.ko; do
    cp "$modules/kernel/$m" "$root/lib/modules/"
  done
  cp "$here/init_shared_root" "$root/init"
  chmod 755 "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/base.cpio.gz.part"
  mv "$out/base.cpio.gz.part" "$out/base.cpio.gz"
  rm -rf "$root"
  touch "$out/shared-root"
  exit 0
fi

kernel_package=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null | sed -n 's/ *Depends: \(linux-image-.*\)/\1/p' | head -n 1)
[ -n "$kernel_package" ] || kernel_package=$(ls -d linux-image-*-cloud-amd64 2>/dev/null | head -n 1)
[ -n "$kernel_package" ] || { echo "no Debian cloud kernel package found" >&2; exit 1; }
fetch "$kernel_package"
fetch udev
modules=$(ls -d "$PWD/$kernel_package"/lib/modules/*)
cp "$PWD/$kernel_package"/boot/vmlinuz-* "$out/vmlinuz"

root=$out/root
rm -rf "$root"
mkdir -p "$root"/{bin,usr/bin,lib/modules,etc/udev/rules.d,sounds,proc,sys,dev,tmp,run}
cp "$(command -v busybox)" "$root/bin/busybox"
for m in drivers/hid/hid.ko drivers/hid/uhid.ko drivers/hid/hid-generic.ko \
         drivers/input/ff-memless.ko drivers/hid/hid-wiimote.ko; do
  cp "$modules/kernel/$m" "$root/lib/modules/"
done
cp "${programs[@]}" "$root/usr/bin/"
cp "$PWD/udev/bin/udevadm" "$root/bin/udevadm"
cp "$sounds"/{on0,off0,swing2,strike2}.wav "$root/sounds/"
cp "$source/udev/70-glowbrand.rules" "$root/etc/udev/rules.d/"
cp "$here/init" "$root/init"
chmod 755 "$root/init"

# The binaries' libraries, at the paths the dynamic linker looks in.
for binary in "$root"/usr/bin/* "$root/bin/udevadm"; do
  ldd "$binary" | grep -o '/[^ ]*' | while read -r library; do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
done
# No program in the VM needs the name service, but glibc asks for users.
printf 'root:x:0:0::/root:/bin/sh\nplayer:x:1000:1000::/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nplayer:x:1000:\n' >"$root/etc/group"

(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/base.cpio.gz.part"
mv "$out/base.cpio.gz.part" "$out/base.cpio.gz"
rm -rf "$root"

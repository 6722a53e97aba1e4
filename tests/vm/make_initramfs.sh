#!/usr/bin/env bash
# Makes the VM suite's kernel and initramfs in OUT_DIR:
#   vmlinuz          this Debian release's cloud kernel, from its package (never installed
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
#   vmlinuz          this Debian release's standard kernel (9p and overlayfs, which the
#                    cloud kernel lacks), fetched and cached the same way
#   modules/         a virtual Bluetooth adapter's modules, for guest scripts
#                    (the `bluetooth` list: load them in its order), and what
#                    a remote over Bluetooth needs on top (`bluetooth-remote`)
#   base.cpio.gz     busybox, the virtio, 9p, overlay and HID modules, and
#                    init_shared_root, which boots into this machine's own
#                    root, shared read-only (run_vm.sh)
#   udevadm          Debian's udev's udevadm (unpacked under cache/udev/): it is
#                    also udevd, which the guest runs from there (this machine
#                    need not have it)
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

# The unpacked udev's udevadm: /usr/bin in Debian 13, /bin in 12.
udevadm_of() {
  local udevadm
  for udevadm in "$PWD"/udev/usr/bin/udevadm "$PWD"/udev/bin/udevadm; do
    [ -x "$udevadm" ] && break
  done
  echo "$udevadm"
}

# copy_modules <package> <dest> <list> <module>...: the named modules of the
# unpacked kernel package and those they need, as plain .ko files in <dest>
# (Debian 13 ships them xz-compressed, which busybox cannot load), their
# names appended to <dest>/<list> in the order each needs the one before.
# Built-in ones are left out; so are those an earlier list already holds.
# The package ships no modules.dep: depmod makes it, modprobe reads it.
copy_modules() {
  local package=$1 dest=$2 list=$3 tree base version kind path name
  shift 3
  for tree in "$package"/usr/lib/modules/* "$package"/lib/modules/*; do  # Debian 13, 12
    [ -d "$tree" ] && break
  done
  version=$(basename "$tree")
  base=${tree%/lib/modules/*}
  [ -s "$tree/modules.dep" ] || depmod -b "$base" "$version"
  mkdir -p "$dest"
  touch "$dest/$list"
  modprobe -a -d "$base" -S "$version" --show-depends "$@" | while read -r kind path _; do
    [ "$kind" = insmod ] || continue
    name=$(basename "$path")
    name=${name%%.ko*}
    [ -e "$dest/$name.ko" ] && continue
    case $path in
      *.xz) xz -dc "$path" ;;
      *) cat "$path" ;;
    esac >"$dest/$name.ko"
    echo "$name" >>"$dest/$list"
  done
}

if [ "$shared_root" = 1 ]; then
  kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/ *Depends: \(linux-image-.*\)/\1/p' | head -n 1)
  [ -n "$kernel_package" ] || kernel_package=$(ls -d linux-image-*[0-9]-amd64 2>/dev/null | head -n 1)
  [ -n "$kernel_package" ] || { echo "no Debian standard kernel package found" >&2; exit 1; }
  fetch "$kernel_package"
  fetch udev
  ln -sf "$(udevadm_of)" "$out/udevadm"
  cp "$PWD/$kernel_package"/boot/vmlinuz-* "$out/vmlinuz"
  root=$out/root
  rm -rf "$root"
  mkdir -p "$root"/{bin,lib/modules,proc,sys,dev,host,rw,new}
  cp "$(command -v busybox)" "$root/bin/busybox"
  copy_modules "$PWD/$kernel_package" "$root/lib/modules" boot virtio_mmio 9pnet_virtio 9p overlay
  copy_modules "$PWD/$kernel_package" "$root/lib/modules" hid hid uhid hid-generic
  copy_modules "$PWD/$kernel_package" "$root/lib/modules" wiimote ff-memless hid-wiimote
  # What a guest script loads itself, from the shared folder: a virtual
  # Bluetooth adapter.
  rm -rf "$out/modules"
  copy_modules "$PWD/$kernel_package" "$out/modules" bluetooth rfkill crc16 ecc ecdh_generic \
    bluetooth hci_vhci
  # And for a remote over Bluetooth: btvirt's emulated controllers do their
  # crypto through the kernel (AF_ALG; without it btvirt says "Failed to open
  # Virtual HCI device"), hidp carries the remote's HID device.
  copy_modules "$PWD/$kernel_package" "$out/modules" bluetooth-remote af_alg algif_hash \
    algif_skcipher cmac ecb hidp
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
cp "$PWD/$kernel_package"/boot/vmlinuz-* "$out/vmlinuz"

root=$out/root
rm -rf "$root"
mkdir -p "$root"/{bin,usr/bin,lib/modules,etc/udev/rules.d,sounds,proc,sys,dev,tmp,run}
cp "$(command -v busybox)" "$root/bin/busybox"
copy_modules "$PWD/$kernel_package" "$root/lib/modules" hid hid uhid hid-generic
copy_modules "$PWD/$kernel_package" "$root/lib/modules" wiimote ff-memless hid-wiimote
cp "${programs[@]}" "$root/usr/bin/"
cp "$(udevadm_of)" "$root/bin/udevadm"
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

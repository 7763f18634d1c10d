# Helpers shared by the tools that boot Debian's kernel in qemu to reach the
# real vfat, exFAT and ext4 drivers (tools/check-fat-exfat, tools/powercut).
# Source it; every function stops the calling script on failure.
#
#   vm_kernel WORK            Debian's kernel package, downloaded and unpacked
#                             once under WORK/kernel; sets VM_VMLINUZ, VM_KVER
#                             and VM_MODDIR.
#   vm_initrd_root ROOT ULXJM MODULE...
#                             a fresh busybox tree in ROOT with MODULE... and
#                             what they need (modules.dep order) listed in
#                             lib/modules/order, the shared libraries of the
#                             command ULXJM and iconv's GBK module.
#   vm_init_preamble          prints the start of an /init script: proc, sys,
#                             dev, tmp, the modules, the build tree on /build
#                             (9p tag "build", read-only), HOME and TMPDIR.
#   vm_vmlinux                the kernel uncompressed, as VM_VMLINUX (an ELF
#                             image qemu starts through its PVH entry): under
#                             emulation, unpacking the kernel takes longer
#                             than booting it.
#   vm_pack ROOT OUT          packs ROOT as a cpio initrd into OUT, gzip'd
#                             unless OUT ends in .cpio.
#
# qemu runs in software emulation (-accel tcg): hardware acceleration hangs
# on the machines this runs on.

vm_kernel() {
  local work=$1 pkg
  if ! ls "$work"/kernel/boot/vmlinuz-* >/dev/null 2>&1; then
    pkg=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -1)
    [ -n "$pkg" ] || { echo "no linux-image-amd64 in the package lists (apt-get update?)" >&2; return 2; }
    mkdir -p "$work/deb"
    (cd "$work/deb" && apt-get download "$pkg")
    dpkg-deb -x "$work"/deb/"$pkg"_*.deb "$work/kernel"
  fi
  VM_VMLINUZ=$(ls "$work"/kernel/boot/vmlinuz-* | head -1)
  VM_KVER=${VM_VMLINUZ##*/vmlinuz-}
  VM_MODDIR=$work/kernel/lib/modules/$VM_KVER
  [ -f "$VM_MODDIR/modules.dep" ] || depmod -b "$work/kernel" "$VM_KVER"
}

_vm_order=()
_vm_add_module() { # ROOT NAME: NAME and what it needs, needed ones first
  local root=$1 rel dep name have
  rel=$(grep -E "(^|/)$2\.ko(\.[a-z]+)?:" "$VM_MODDIR/modules.dep" | head -1 | cut -d: -f1) || true
  [ -n "$rel" ] || return 0 # built into the kernel
  for dep in $(grep -E "^$rel:" "$VM_MODDIR/modules.dep" | cut -d: -f2); do
    _vm_add_module "$root" "$(basename "${dep%%.ko*}")"
  done
  name=${rel##*/}
  name=${name%.xz}
  name=${name%.zst}
  for have in "${_vm_order[@]:-}"; do [ "$have" = "$name" ] && return 0; done
  case $rel in
    *.xz) xz -dc "$VM_MODDIR/$rel" >"$root/lib/modules/$name" ;;
    *.zst) zstd -qdc "$VM_MODDIR/$rel" >"$root/lib/modules/$name" ;;
    *) cp "$VM_MODDIR/$rel" "$root/lib/modules/$name" ;;
  esac
  _vm_order+=("$name")
}

vm_initrd_root() {
  local root=$1 ulxjm=$2 app lib gconv m
  shift 2
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,mnt,build,lib/modules}
  for app in $(busybox --list); do ln -sf busybox "$root/bin/$app"; done
  rm -f "$root/bin/busybox"
  cp /usr/bin/busybox "$root/bin/busybox"
  _vm_order=()
  for m in "$@"; do _vm_add_module "$root" "$m"; done
  printf '%s\n' "${_vm_order[@]}" >"$root/lib/modules/order"
  for lib in $(ldd "$ulxjm" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
  # The ANSI code page (936) goes through iconv's GBK module.
  gconv=$(realpath "$(dirname "$(ldd "$ulxjm" | grep -o '/[^ ]*libc\.so[^ ]*')")")/gconv
  mkdir -p "$root$gconv"
  cp -r "$gconv"/{GBK,UTF-16,UTF-32,UNICODE}.so "$gconv"/gconv-modules* "$root$gconv/"
}

vm_init_preamble() {
  cat <<'EOF'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
for m in $(cat /lib/modules/order); do insmod /lib/modules/$m 2>/dev/null; done
n=0
while [ ! -e /sys/bus/virtio/drivers/9pnet_virtio ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
mount -t 9p -o trans=virtio,version=9p2000.L,ro build /build || echo "VM: no build tree"
export HOME=/tmp/home XDG_CONFIG_HOME=/tmp/config TMPDIR=/tmp LANG=C.UTF-8
mkdir -p $HOME $XDG_CONFIG_HOME
EOF
}

vm_vmlinux() {
  VM_VMLINUX=${VM_VMLINUZ%/boot/*}/vmlinux-$VM_KVER
  [ -s "$VM_VMLINUX" ] && return 0
  local off
  off=$(grep -abo $'\xfd7zXZ\x00' "$VM_VMLINUZ" | head -1 | cut -d: -f1)
  [ -n "$off" ] || { echo "$VM_VMLINUZ: no xz-packed kernel inside" >&2; return 2; }
  # The packed kernel is followed by other data, which xz complains about.
  tail -c +$((off + 1)) "$VM_VMLINUZ" | xz -dc >"$VM_VMLINUX.part" 2>/dev/null || true
  [ "$(head -c 4 "$VM_VMLINUX.part" | tail -c 3)" = ELF ] || { echo "$VM_VMLINUZ: could not unpack" >&2; return 2; }
  mv "$VM_VMLINUX.part" "$VM_VMLINUX"
}

vm_pack() { # written aside and moved: a VM starting meanwhile reads the old one whole
  case $2 in
    *.cpio) (cd "$1" && find . | cpio -o -H newc --quiet) >"$2.part" ;;
    *) (cd "$1" && find . | cpio -o -H newc --quiet | gzip -1) >"$2.part" ;;
  esac
  mv "$2.part" "$2"
}

#!/usr/bin/env bash
# Boots a small virtual machine with Debian's own kernel and runs one command in it, as root.
#   usb-vm.sh [-t SECONDS] [-o FOLDER] -- COMMAND [ARG...]
# The guest sees this machine's root file system read-only (virtio 9p), with fresh tmpfs on /tmp and
# /run (a current folder under them is kept); FOLDER (default $BUILD_DIR/usb-vm/out) is shared
# writable at the same path. The command runs in the current folder. Its exit code is this script's;
# 124 when the guest did not end within SECONDS (default 300): QEMU is then killed and the guest's
# console log printed.
#
# The kernel is Debian's package linux-image-<version>-amd64, fetched with apt-get download and
# unpacked with dpkg-deb -x into $BUILD_DIR/usb-vm (never installed on this machine). Its version is
# the one Debian's linux-image-amd64 depends on, or $USB_VM_KERNEL. The initramfs is busybox-static
# and the modules that mount the 9p root; the rest of the modules load from the unpacked tree in the
# guest (modprobe -d). scripts/install-deps.sh usb brings QEMU, busybox-static, udev and kmod.
set -euo pipefail

TIMEOUT=300
BUILD_DIR=${BUILD_DIR:-build}
OUT=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    -t) TIMEOUT=$2; shift 2 ;;
    -o) OUT=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usb-vm: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
if [[ $# -eq 0 ]]; then
  echo "usage: usb-vm.sh [-t SECONDS] [-o FOLDER] -- COMMAND [ARG...]" >&2
  exit 2
fi

VM=$(realpath -m "$BUILD_DIR/usb-vm")
OUT=$(realpath -m "${OUT:-$VM/out}")
mkdir -p "$VM" "$OUT"
# A checkout under /tmp or /run (a fresh clone in /tmp) stays visible in the guest: the current
# folder is mounted again over the guest's fresh /tmp or /run, at its own path.
KEEP=""
case "$PWD/" in
  /tmp/* | /run/*) KEEP=$PWD ;;
esac
for folder in "$OUT" "$VM"; do
  case "$folder/" in
    /dev/* | /proc/* | /sys/*)
      echo "usb-vm: the folder $folder would be hidden in the guest" >&2
      exit 2 ;;
    /tmp/* | /run/*)
      if [[ "$folder/" != "$PWD/"* ]]; then
        echo "usb-vm: the folder $folder would be hidden in the guest (fresh /tmp, /run): keep it" \
          "under the current folder" >&2
        exit 2
      fi ;;
  esac
done

fail() {
  echo "usb-vm: $*" >&2
  exit 1
}

QEMU=$(command -v qemu-system-x86_64 || true)
[[ -n "$QEMU" ]] || fail "qemu-system-x86_64 is missing (scripts/install-deps.sh usb)"
BUSYBOX=$(dpkg -L busybox-static 2>/dev/null | grep -m1 'bin/busybox$' || true)
[[ -n "$BUSYBOX" && -x "$BUSYBOX" ]] || fail "busybox-static is missing (scripts/install-deps.sh usb)"

# ---- The kernel: Debian's package, unpacked here once ----
if [[ ! -f "$VM/kernel/.unpacked" ]]; then
  version=${USB_VM_KERNEL:-$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/.*Depends: linux-image-\([0-9].*-amd64\)$/\1/p' | head -1)}
  [[ -n "$version" ]] || fail "no kernel version: apt-cache knows no linux-image-amd64 (apt-get update?)"
  rm -rf "$VM/kernel" "$VM/deb"
  mkdir -p "$VM/deb" "$VM/kernel"
  (cd "$VM/deb" && apt-get download -q "linux-image-$version" >/dev/null) ||
    fail "cannot download linux-image-$version from Debian's archive"
  dpkg-deb -x "$VM"/deb/linux-image-*.deb "$VM/kernel" || fail "cannot unpack the kernel package"
  release=$(ls "$VM/kernel/lib/modules")
  depmod -b "$VM/kernel" "$release" || fail "depmod failed on the unpacked kernel"
  echo "$release" >"$VM/kernel/.unpacked"
  rm -rf "$VM/deb"
fi
RELEASE=$(cat "$VM/kernel/.unpacked")
KERNEL_IMAGE=$VM/kernel/boot/vmlinuz-$RELEASE
MODULES=$VM/kernel/lib/modules/$RELEASE

# ---- The initramfs: busybox and the 9p root's modules, in their load order ----
ROOT_MODULES=(netfs fscache 9pnet 9p virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev
  virtio_pci 9pnet_virtio)
INITRD=$VM/initrd.cpio
if [[ ! -f "$INITRD" || "$0" -nt "$INITRD" ]]; then
  staging=$VM/initrd
  rm -rf "$staging"
  mkdir -p "$staging"/{bin,dev,proc,sys,newroot,modules}
  cp "$BUSYBOX" "$staging/bin/busybox"
  for name in sh mount umount insmod mkdir cat poweroff sleep echo chroot; do
    ln -s busybox "$staging/bin/$name"
  done
  for module in "${ROOT_MODULES[@]}"; do
    file=$(find "$MODULES" -name "$module.ko" | head -1)
    [[ -n "$file" ]] || fail "module $module is not in the kernel package"
    cp "$file" "$staging/modules/"
  done
  cat >"$staging/init" <<'EOF'
#!/bin/sh
# Mounts this machine's root read-only over 9p with fresh /tmp, /run and the shared folder, then
# runs the command's script there; its exit code goes to the shared folder. Powers off in any case.
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in netfs fscache 9pnet 9p virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev \
    virtio_pci 9pnet_virtio; do
  insmod /modules/$m.ko || echo "usb-vm guest: insmod $m failed"
done
out=$(cat /proc/cmdline | sed -n 's/.*usbvm.out=\([^ ]*\).*/\1/p')
keep=$(cat /proc/cmdline | sed -n 's/.*usbvm.keep=\([^ ]*\).*/\1/p')
if mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose root /newroot; then
  [ -n "$keep" ] && mkdir -p /keep && mount -o bind "/newroot$keep" /keep
  mount -t tmpfs tmp /newroot/tmp
  mount -t tmpfs run /newroot/run
  if [ -n "$keep" ]; then
    mkdir -p "/newroot$keep"
    mount -o bind /keep "/newroot$keep"
  fi
  mount -t devtmpfs dev /newroot/dev
  mkdir -p /newroot/dev/pts /newroot/dev/shm
  mount -t devpts devpts /newroot/dev/pts
  mount -t tmpfs shm /newroot/dev/shm
  mount -t proc proc /newroot/proc
  mount -t sysfs sys /newroot/sys
  mkdir -p "/newroot$out" 2>/dev/null
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out "/newroot$out"
  chroot /newroot /bin/sh "$out/.guest-command.sh"
  echo "$?" > "/newroot$out/.guest-rc"
  umount "/newroot$out"
else
  echo "usb-vm guest: cannot mount the 9p root"
fi
poweroff -f
EOF
  chmod +x "$staging/init"
  (cd "$staging" && find . | "$BUSYBOX" cpio -o -H newc) >"$INITRD" 2>/dev/null
fi

# ---- The command, as a script in the shared folder ----
rm -f "$OUT/.guest-rc"
{
  echo "export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
  echo "export HOME=/tmp XDG_RUNTIME_DIR=/run USB_VM_MODULES=$(printf %q "$VM/kernel")"
  echo "export USB_VM_OUT=$(printf %q "$OUT")"
  # udevadm settle and udevd act inside the chroot that the guest runs everything in.
  echo "export SYSTEMD_IGNORE_CHROOT=1"
  echo "cd $(printf %q "$PWD") || exit 125"
  printf 'exec'
  printf ' %q' "$@"
  echo
} >"$OUT/.guest-command.sh"

# KVM only where it is shown to boot this kernel (USB_VM_ACCEL=kvm); TCG otherwise.
ACCEL=${USB_VM_ACCEL:-tcg,thread=multi}
CPU=max
LOG=$OUT/console.log
status=0
timeout --kill-after=5 "$TIMEOUT" "$QEMU" -accel "$ACCEL" -cpu "$CPU" -smp 2 -m 768 \
  -nographic -no-reboot -nic none \
  -kernel "$KERNEL_IMAGE" -initrd "$INITRD" \
  -append "console=ttyS0 quiet loglevel=4 panic=-1 usbvm.out=$OUT${KEEP:+ usbvm.keep=$KEEP}" \
  -fsdev local,id=root,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=root,mount_tag=root \
  -fsdev local,id=out,path="$OUT",security_model=none,multidevs=remap \
  -device virtio-9p-pci,fsdev=out,mount_tag=out \
  </dev/null >"$LOG" 2>&1 || status=$?

# The guest's console without the firmware's screen control.
console() {
  sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' -e 's/\x1bc//g' "$LOG" | grep -v -e '^SeaBIOS' -e '^Booting from ROM'
}
if [[ $status -eq 124 || $status -eq 137 ]]; then
  console >&2
  echo "usb-vm: the guest did not end within $TIMEOUT s (its console above); QEMU was killed" >&2
  exit 124
fi
if [[ ! -f "$OUT/.guest-rc" ]]; then
  console >&2
  echo "usb-vm: the guest ended without running the command (QEMU status $status)" >&2
  exit 1
fi
console
exit "$(cat "$OUT/.guest-rc")"

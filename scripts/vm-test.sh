#!/usr/bin/env bash
# make vm-test: the USB and parallel links on a real Linux kernel. Boots
# Debian's kernel under QEMU with an initramfs of busybox, the USB gadget,
# usblp and parport modules and the Release programs, runs
# scripts/vm-guest.sh in it and fails with one line per failed check.
#
# The kernel package is fetched once with apt-get download into the cache
# (TESSALY_VM_CACHE, build-vm/cache by default) and never installed.
# Bounded: every step has its own limit and the whole run stops itself
# within 10 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build-vm
cache=${TESSALY_VM_CACHE:-$out/cache}
# QEMU without KVM (which may be there but hang): about 30 s to boot.
boot_limit=${TESSALY_VM_SECONDS:-420}
modules_usb="usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_printer usblp"
modules_lpt="parport parport_pc ppdev"

# make vm-test builds first, outside the run's bound.
if [ -z "${TESSALY_VM_BUILT:-}" ]; then
  scripts/install-deps.sh --vm
  cmake --preset vm ${CMAKE_FLAGS:-} >/dev/null
  timeout 20m cmake --build --preset vm
fi

# --- the kernel: the version linux-image-amd64 points at ---------------------
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}
package=$(kernel_package)
release=${package#linux-image-}
kernel=$cache/$release
if [ -z "$package" ] || [ ! -f "$kernel/vmlinuz" ]; then
  mkdir -p "$cache"
  rm -rf "$cache/download" && mkdir -p "$cache/download"
  # Package lists that are missing or out of date name a kernel the mirror
  # no longer has: refresh them once and try again.
  if [ -z "$package" ] || ! (cd "$cache/download" && timeout 300 apt-get download -q "$package" >/dev/null 2>&1); then
    timeout 120 apt-get update -qq
    package=$(kernel_package)
    release=${package#linux-image-}
    kernel=$cache/$release
    (cd "$cache/download" && timeout 300 apt-get download -q "$package" >/dev/null 2>&1)
  fi
  deb=$(find "$cache/download" -maxdepth 1 -name '*.deb')
  rm -rf "$kernel.tmp" && mkdir -p "$kernel.tmp/modules"
  dpkg-deb -x "$deb" "$kernel.tmp/root"
  cp "$kernel.tmp/root/boot/vmlinuz-$release" "$kernel.tmp/vmlinuz"
  for m in $modules_usb $modules_lpt; do
    find "$kernel.tmp/root/lib/modules/$release" -name "$m.ko" -exec cp {} "$kernel.tmp/modules/" \;
  done
  rm -rf "$kernel.tmp/root" "$cache/download"
  mv "$kernel.tmp" "$kernel"
fi

# Each module's dependencies must be loaded before it (the guest loads them
# in the order of the lists above; there is no modules.dep in the package).
loaded=" "
for m in $modules_usb $modules_lpt; do
  depends=$(grep -a -o -m1 'depends=[a-z0-9_,-]*' "$kernel/modules/$m.ko" | cut -d= -f2 || true)
  for d in ${depends//,/ }; do
    case "$loaded" in *" $d "*) ;; *) echo "vm-test: $m needs $d loaded first" >&2; exit 1 ;; esac
  done
  loaded="$loaded$m "
done

# --- the initramfs -----------------------------------------------------------
root=$out/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,lib/modules,opt/tessaly}
cp /bin/busybox "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp "$kernel"/modules/*.ko "$root/lib/modules/"
install -m 755 scripts/vm-guest.sh "$root/init"
echo "root:x:0:0::/tmp:/bin/sh" >"$root/etc/passwd"
echo "root:x:0:" >"$root/etc/group"
for program in tessaly-cli tessaly-printer-sim tessaly_core_tests; do
  cp "$out/$program" "$root/opt/tessaly/"
  # The shared libraries each needs, at the paths the loader looks in.
  ldd "$out/$program" | awk '/=> \// { print $3 } /^\t\// { print $1 }' | while read -r lib; do
    mkdir -p "$root$(dirname "$lib")"
    cp -nL "$lib" "$root$lib"
  done
done
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initramfs.gz"

# --- the run -----------------------------------------------------------------
# KVM may be offered and yet hang the guest, so TCG unless asked for.
accel=tcg
[ "${TESSALY_VM_KVM:-0}" = 1 ] && [ -w /dev/kvm ] && accel=kvm

console=$out/console.log
lpt=$out/lpt.out
rm -f "$console" "$lpt"
echo "vm-test: booting Linux $release ($accel), at most ${boot_limit}s"
start=$(date +%s)
set +e
timeout --kill-after=10 "$boot_limit" qemu-system-x86_64 -accel "$accel" -m 1024 -smp 2 \
  -kernel "$kernel/vmlinuz" -initrd "$out/initramfs.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3" \
  -display none -no-reboot -monitor none \
  -serial "file:$console" -parallel "file:$lpt"
status=$?
set -e
echo "vm-test: the machine ran $(($(date +%s) - start))s"

# The serial console ends its lines with CR LF.
tr -d '\r' <"$console" >"$console.txt" && mv "$console.txt" "$console"
failed=0
grep -a '^CHECK ' "$console" || true
grep -a '^    | ' "$console" || true
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  echo "vm-test: FAIL the machine did not finish within ${boot_limit}s" >&2
  failed=1
fi
if ! grep -aq '^VM-DONE' "$console"; then
  echo "vm-test: FAIL the scenario did not end (last lines of $console follow)" >&2
  tail -n 15 "$console" >&2
  failed=1
fi
grep -aq ': FAIL ' "$console" && failed=1

# What the guest printed over LPT1 must have reached QEMU's file byte for
# byte, after the status request the connection starts with.
if sent=$(grep -a '^LPT-SENT ' "$console"); then
  read -r _ sum size <<<"$sent"
  at=$(grep -abo -m1 'LPT LINE' "$lpt" 2>/dev/null | cut -d: -f1 || true)
  if [ -n "$at" ] && [ "$(dd if="$lpt" bs=1 skip="$at" count="$size" status=none | sha256sum | cut -d' ' -f1)" = "$sum" ]; then
    echo "CHECK lpt-print-reaches-host-byte-for-byte: ok"
  else
    echo "CHECK lpt-print-reaches-host-byte-for-byte: FAIL the host's side differs"
    failed=1
  fi
fi

if [ $failed -ne 0 ]; then
  echo "vm-test: FAILED (console: $console)" >&2
  exit 1
fi
echo "vm-test: passed"

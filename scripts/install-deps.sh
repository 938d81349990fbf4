#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and
# any further packages named as arguments (the package build adds its tools
# this way). With --windows first, also what the Windows cross build and its
# tests under wine need (make windows, make windows-test); with --vm first,
# what the virtual-machine test needs (make vm-test). Idempotent: quiet and
# quick when everything is already there.
set -euo pipefail

extra=()
if [ "${1:-}" = "--windows" ]; then
  shift
  # MinGW-w64 with posix threads, GoogleTest's sources to build for the
  # target, wine to run the programs.
  extra=(g++-mingw-w64-x86-64-posix googletest wine64)
elif [ "${1:-}" = "--vm" ]; then
  shift
  # The emulator, the guest's shell and tools, the initramfs packer.
  extra=(qemu-system-x86 busybox-static cpio)
fi

packages=(
  cmake ninja-build g++ pkg-config make
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libusb-1.0-0-dev libcups2-dev
  libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev python3-jsonschema
  clang libclang-rt-14-dev clang-format valgrind
  xvfb xauth fonts-dejavu-core
  "${extra[@]}" "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root (or install them with apt-get) and try again." >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

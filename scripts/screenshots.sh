#!/usr/bin/env bash
# Writes the README's pictures into docs/: the program on a virtual X display
# (Xvfb, 1280 x 1024) talking over TCP to the simulated printer on a free
# port, so it neither needs nor disturbs a real printer or the demo's 9100.
# Run it again whenever a page changes.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
out="$root/docs"
sim="$build/tessaly-printer-sim"
shooter="$build/tessaly-screenshots"

for exe in "$sim" "$shooter"; do
  if [ ! -x "$exe" ]; then
    echo "screenshots: $exe not found; run 'make build' first" >&2
    exit 1
  fi
done
if ! command -v xvfb-run >/dev/null; then
  echo "screenshots: xvfb-run not found; run scripts/install-deps.sh as root" >&2
  exit 1
fi

work="$(mktemp -d "$build/screenshots.XXXXXX")"
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Port 0: the simulator takes any free port and says which.
"$sim" --port 0 >"$work/sim.log" 2>&1 &
sim_pid=$!
port=""
for _ in $(seq 50); do
  port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.log")"
  [ -n "$port" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "screenshots: the simulator did not start:" >&2
  cat "$work/sim.log" >&2
  exit 1
fi

mkdir -p "$out" "$work/runtime"
chmod 700 "$work/runtime"
# The normal font at 96 dpi, whatever the calling desktop has set.
env -u QT_SCALE_FACTOR -u QT_FONT_DPI -u QT_QPA_PLATFORM \
  XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$shooter" "$out" "$port"

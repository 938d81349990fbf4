#!/usr/bin/env bash
# Runs Tessaly against the simulated printer on 127.0.0.1:9100. In the
# program choose "Ethernet" on the Comms page and enter 127.0.0.1; every
# frame the program sends is dumped here. Extra arguments go to the
# simulator, e.g. `scripts/demo.sh --family-version A4.01 --fault silent`.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
sim="$build/tessaly-printer-sim"
app="$build/tessaly"
port=9100

for exe in "$sim" "$app"; do
  if [ ! -x "$exe" ]; then
    echo "demo: $exe not found; run 'make build' first" >&2
    exit 1
  fi
done

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

if port_answers; then
  echo "demo: port $port is busy (another simulator or print service?); stop it and try again" >&2
  exit 1
fi

"$sim" --port "$port" --log-frames "$@" &
sim_pid=$!
cleanup() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Up to five seconds for the simulator to listen, or to give up.
for _ in $(seq 50); do
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "demo: the simulator did not start" >&2
    exit 1
  fi
  port_answers && break
  sleep 0.1
done

echo "demo: in Tessaly choose Ethernet on the Comms page and enter 127.0.0.1"
status=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if ! command -v xvfb-run >/dev/null; then
    echo "demo: no display and no xvfb-run; install xvfb or run under a desktop session" >&2
    exit 1
  fi
  echo "demo: no display found; running Tessaly under xvfb-run (the window is not visible)"
  xvfb-run -a "$app" || status=$?
else
  "$app" || status=$?
fi
exit "$status"

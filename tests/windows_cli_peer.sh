#!/usr/bin/env bash
# The Windows command-line tool under wine, talking over loopback TCP to the
# Linux simulator: the two ends of the wire come from different socket
# libraries. Usage: windows_cli_peer.sh WINE_RUN PREFIX CLI_EXE LINUX_SIM
set -euo pipefail
wine_run="$1" prefix="$2" cli="$3" sim="$4"
if [ ! -x "$sim" ]; then
  echo "no Linux simulator at $sim (make builds it: cmake --build --preset default --target tessaly-printer-sim)" >&2
  exit 1
fi
log=$(mktemp)
"$sim" --port 0 --serial WINPEER01 --family-version A4.02 >"$log" 2>&1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$log"' EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "the simulator did not start:" >&2; cat "$log" >&2; exit 1; }

status=0
out=$("$wine_run" "$prefix" "$cli" --ethernet "127.0.0.1:$port" identity 2>&1) || status=$?
echo "$out"
[ "$status" -eq 0 ] || { echo "tessaly-cli.exe identity ended with $status" >&2; exit 1; }
for want in WINPEER01 A4.02; do
  grep -q "$want" <<<"$out" || { echo "missing $want in the output" >&2; exit 1; }
done
# Nobody listens on the port once the simulator is gone: exit code 3.
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
status=0
"$wine_run" "$prefix" "$cli" --ethernet "127.0.0.1:$port" identity >/dev/null 2>&1 || status=$?
[ "$status" -eq 3 ] || { echo "a dead printer gave exit code $status, not 3" >&2; exit 1; }
echo "tessaly-cli.exe and the Linux simulator agree"

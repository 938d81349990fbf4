#!/usr/bin/env bash
# Runs a Windows program under wine64: wine-run.sh PREFIX PROGRAM [ARGS...].
# The prefix is made on first use (once, under a lock, so parallel tests
# share it); wine stays quiet and needs no display.
set -euo pipefail
prefix="$1"
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      "$wine" wineboot --init >"$prefix.log" 2>&1 || true
      "${wine%64}server64" -w 2>/dev/null || wineserver -w 2>/dev/null || true
    fi
  ) 9>"$prefix.lock"
fi
exec "$wine" "$@"

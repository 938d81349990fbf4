#!/usr/bin/env bash
# Makes packaging/screenshots/printer-identity.png, the screenshot in the
# AppStream metainfo: tessaly with its built-in simulated printer on a
# private Xvfb display, connected on LPT1:, showing the Printer Identity
# page. Run it after a build when the page changes; it needs xdotool and
# ImageMagick's import. Usage: take-screenshot.sh [path to tessaly]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
app="${1:-$root/build-package/tessaly}"
out="$root/packaging/screenshots/printer-identity.png"
"$root/scripts/install-deps.sh" xdotool imagemagick

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  export XDG_RUNTIME_DIR=$(mktemp -d)
  "$1" --simulated-printer & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  window=$(timeout 20 xdotool search --sync --onlyvisible --name "^Tessaly v")
  # Tab moves from the tab bar to the port list, the only field of the
  # Comms page: open it and take the third entry, LPT1:, which connects
  # without asking for an address.
  xdotool windowfocus --sync "$window" key Tab
  sleep 0.3
  xdotool key alt+Down
  sleep 0.5
  xdotool key Down Down Return
  # The page refreshes its identity and settings with the pauses the
  # protocol prescribes after each request.
  sleep 6
  import -window "$window" "$2"
  xdotool windowfocus --sync "$window" key Escape
  wait "$pid"' _ "$app" "$out.tmp.png"
mv "$out.tmp.png" "$out"
echo "take-screenshot: $out ($(identify -format "%w x %h" "$out"))"

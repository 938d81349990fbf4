#!/bin/sh
# The window program where no display is: one line that says so, status 1.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" 2>&1)
status=$?
printf '%s\n' "$out"
[ "$status" -eq 1 ] || { echo "status $status, not 1"; exit 1; }
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || { echo "not one line"; exit 1; }
case $out in "tessaly: no display"*) exit 0 ;; esac
echo "not the no-display line"
exit 1

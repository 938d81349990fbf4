#!/usr/bin/env bash
# Fails on an include against the folder order. Each folder may include its
# own headers and those of the folders before it in the line:
#
#   seams -> links -> protocol -> tasks -> sim -> controls, report, cli -> pages -> app
#
# (resources sits with controls: data for the front end.) cli, the
# command-line front end, stands beside the window's folders: it includes
# from the core and the simulator, and no other folder includes from it. Tests, benchmarks
# and fuzz targets stand outside the line and may include anything.
set -euo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root"

declare -A rank=(
  [seams]=0 [links]=1 [protocol]=2 [tasks]=3 [sim]=4
  [controls]=5 [report]=5 [resources]=5 [cli]=5 [pages]=6 [app]=7
)

status=0
for folder in "${!rank[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r hit; do
    file="${hit%%:*}"
    rest="${hit#*:}"
    line="${rest%%:*}"
    target="$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$rest")"
    [ "$target" = "$folder" ] && continue
    if [ -z "${rank[$target]+x}" ]; then
      echo "$file:$line: includes from '$target', which is not in the folder line" >&2
      status=1
    elif [ "$target" = cli ]; then
      echo "$file:$line: $folder may not include cli, the command-line front end" >&2
      status=1
    elif [ "${rank[$target]}" -ge "${rank[$folder]}" ]; then
      echo "$file:$line: $folder may not include $target (order: seams, links, protocol, tasks, sim, controls/report/cli, pages, app)" >&2
      status=1
    fi
  done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include "[^"]*/' "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
done
[ "$status" -eq 0 ] && echo "includes follow the folder order"
exit "$status"

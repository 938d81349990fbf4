#!/usr/bin/env bash
# Checks a built Debian package the way a user gets it: unpacks it into a
# scratch root with dpkg-deb -x and runs the programs from there, validates
# the desktop entry and the AppStream metainfo it holds, and runs the
# maintainer scripts where no udev runs. Usage: check-package.sh [the .deb]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
deb="${1:-}"
if [ -z "$deb" ]; then
  deb=$(ls "$root"/tessaly_*_amd64.deb 2>/dev/null | tail -n 1 || true)
fi
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "check-package: no package; run 'make package' first" >&2
  exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
dpkg-deb -e "$deb" "$scratch/control"
bin="$scratch/root/usr/bin"
share="$scratch/root/usr/share"
app_id=com.corvane.Tessaly

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

for file in usr/bin/tessaly usr/bin/tessaly-printer-sim usr/bin/tessaly-cli \
  usr/lib/udev/rules.d/60-tessaly-usb.rules \
  "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml" \
  "usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
  "usr/share/icons/hicolor/256x256/apps/$app_id.png" \
  usr/share/man/man1/tessaly.1.gz usr/share/man/man1/tessaly-printer-sim.1.gz \
  usr/share/man/man1/tessaly-cli.1.gz usr/share/bash-completion/completions/tessaly-cli \
  usr/share/doc/tessaly/copyright usr/share/doc/tessaly/changelog.Debian.gz; do
  check "/$file is in the package" test -f "$scratch/root/$file"
done

depends=$(dpkg-deb -f "$deb" Depends)
check "Depends comes from dpkg-shlibdeps ($depends)" \
  grep -q 'libqt6widgets6.*libusb-1.0-0\|libusb-1.0-0.*libqt6widgets6' <<<"$depends"

# The programs, without a display.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY)
version=$("${no_display[@]}" "$bin/tessaly" --version) || fail "tessaly --version exits 0"
check "tessaly --version says 'tessaly $(dpkg-deb -f "$deb" Version | cut -d- -f1)' ($version)" \
  test "$version" = "tessaly $(dpkg-deb -f "$deb" Version | cut -d- -f1)"
help=$("${no_display[@]}" "$bin/tessaly" --help) || fail "tessaly --help exits 0"
check "tessaly --help shows --simulated-printer and the simulator options" \
  grep -q -- '--simulated-printer.*--off-after-frames' <<<"$(tr '\n' ' ' <<<"$help")"
sim_help=$("$bin/tessaly-printer-sim" --help) || fail "tessaly-printer-sim --help exits 0"
check "tessaly-printer-sim --help shows --port" grep -q -- '--port' <<<"$sim_help"
status=0
"$bin/tessaly" -platform offscreen --no-such-option 2>/dev/null || status=$?
check "tessaly rejects an unknown option with 2 (got $status)" test "$status" -eq 2

# Every option the simulator takes is in both man pages (tessaly.1 without
# the simulator's own --port, --log-frames and --gadget).
sim_options=$(grep -o -- '--[a-z0-9-]*' <<<"$sim_help" | sort -u)
for page in tessaly tessaly-printer-sim; do
  text=$(zcat "$share/man/man1/$page.1.gz" | sed 's/\\-/-/g')
  missing=""
  for option in $sim_options; do
    [ "$page" = tessaly ] && [[ $option == --port || $option == --log-frames || $option == --gadget ]] && continue
    grep -q -- "$option" <<<"$text" || missing+=" $option"
  done
  check "$page.1 lists every simulator option${missing:+ (missing:$missing)}" test -z "$missing"
done

# The command-line program: its help and exit codes, and every option it
# takes (its own and the simulator's) in its man page.
cli_help=$("$bin/tessaly-cli" --help) || fail "tessaly-cli --help exits 0"
check "tessaly-cli --help shows the exit codes" grep -q '4  a file could not be read or written' <<<"$cli_help"
status=0
"$bin/tessaly-cli" --no-such-option identity 2>/dev/null || status=$?
check "tessaly-cli rejects an unknown option with 2 (got $status)" test "$status" -eq 2
status=0
"$bin/tessaly-cli" --ethernet 127.0.0.1:1 counters 2>/dev/null || status=$?
check "tessaly-cli says 3 for a printer that does not answer (got $status)" test "$status" -eq 3
cli_text=$(zcat "$share/man/man1/tessaly-cli.1.gz" | sed 's/\\-/-/g')
missing=""
commands=$(sed -n '/^Subcommands:/,/^$/p' <<<"$cli_help" | awk 'NR > 1 && NF { print $1 }')
all_help="$cli_help"
for command in $commands; do all_help+=$'\n'$("$bin/tessaly-cli" "$command" --help); done
for option in $(grep -o -- '--[a-z0-9-]*' <<<"$all_help" | sort -u); do
  grep -q -- "$option" <<<"$cli_text" || missing+=" $option"
done
check "tessaly-cli.1 lists every option of tessaly-cli and its commands${missing:+ (missing:$missing)}" test -z "$missing"

# A release must bump the changelog with the version.
check "the changelog's latest entry is $(dpkg-deb -f "$deb" Version)" grep -q \
  "^tessaly ($(dpkg-deb -f "$deb" Version)) " <(zcat "$share/doc/tessaly/changelog.Debian.gz" | head -n 1)

check "desktop entry validates" desktop-file-validate "$share/applications/$app_id.desktop"
check "AppStream metainfo validates" \
  appstreamcli validate --no-net "$share/metainfo/$app_id.metainfo.xml"

# Where udev is not running (chroot, container, this CI) the maintainer
# scripts must still succeed, or the package would not install there.
for script in postinst postrm; do
  action=configure
  [ "$script" = postrm ] && action=remove
  check "$script $action succeeds without udev" \
    env PATH=/usr/bin:/bin sh -e "$scratch/control/$script" "$action"
done

# The window opens on an X server from the unpacked tree, and Escape ends the
# program with 0: the whole GUI stack loads and the sheet answers.
gui() {
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    export XDG_RUNTIME_DIR=$(mktemp -d)
    "$1" & pid=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "^Tessaly v") || {
      kill "$pid"; echo "no window" >&2; exit 3; }
    xdotool windowfocus --sync "$window" key Escape
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && { kill "$pid"; echo "still running" >&2; exit 4; }
    wait "$pid"' _ "$bin/tessaly"
}
check "the unpacked tessaly opens its window and quits with 0" gui

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) failed" >&2
  exit 1
fi
echo "check-package: $(basename "$deb") passed"

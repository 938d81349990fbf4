#!/usr/bin/env bash
# make package: builds the Debian package from the "package" preset (Release
# with Debian's hardening flags) into the top of the tree, then checks it
# with lintian. Prints the package's size and the time the whole run took.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
started=$(date +%s.%N)

# The packaging tools on top of the build's own packages. file and binutils:
# CPack finds the programs with file(1) for dpkg-shlibdeps and strips them.
"$root/scripts/install-deps.sh" \
  dpkg-dev file binutils librsvg2-bin lintian desktop-file-utils appstream xdotool

cmake --preset package >/dev/null
cmake --build --preset package
(cd build-package && cpack --config CPackConfig.cmake >cpack.log) || {
  cat build-package/cpack.log >&2
  exit 1
}

deb=$(cd build-package && ls tessaly_*_*.deb)
cp "build-package/$deb" "$root/$deb"

# Warnings that remain are overridden, each with its reason, in
# packaging/tessaly.lintian-overrides; anything else fails the build.
echo "lintian $deb:"
lintian --fail-on error,warning --display-info "$root/$deb"
echo "lintian: no errors or warnings; overridden, with the reasons in the file:"
grep -v '^#' "$root/packaging/tessaly.lintian-overrides" | sed 's/^/  /'


finished=$(date +%s.%N)
printf '%s: %s bytes (%s KiB), made in %.0f s\n' "$deb" "$(stat -c %s "$root/$deb")" \
  "$(( $(stat -c %s "$root/$deb") / 1024 ))" "$(awk "BEGIN { print $finished - $started }")"

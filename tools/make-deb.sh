#!/usr/bin/env bash
# make deb: the Debian packages orvel-cli and orvel from the working tree, with
# the test suites off (make test runs them), into build/deb/; then the checks
# the archive and a desktop make on them: lintian, desktop-file-validate and
# appstreamcli on the installed files, and that orvel-cli needs no Qt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/deb

version=$(sed -n 's/^project(orvel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
packaged=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
if [ "$version" != "$packaged" ]; then
  echo "deb: CMakeLists.txt is at $version but debian/changelog at $packaged" >&2
  exit 1
fi

# dpkg-buildpackage writes beside the source tree: build a copy inside build/deb.
src=$out/orvel-$version
rm -rf "$out"
mkdir -p "$src"
tar -C "$root" --exclude=./build --exclude=./.git --exclude=./demo -cf - . | tar -C "$src" -xf -
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=${JOBS:-2}" dpkg-buildpackage -b -us -uc)
rm -rf "$src"

arch=$(dpkg --print-architecture)
cli_deb=$out/orvel-cli_${version}_$arch.deb
gui_deb=$out/orvel_${version}_$arch.deb

echo "== lintian"
lintian --fail-on error --display-info "$out/orvel_${version}_$arch.changes"

echo "== orvel-cli needs no Qt"
depends=$(dpkg-deb -f "$cli_deb" Depends)
echo "Depends: $depends"
if grep -qi qt <<<"$depends"; then
  echo "deb: orvel-cli depends on Qt" >&2
  exit 1
fi

echo "== desktop-file-validate and appstreamcli on what orvel installs"
tree=$out/orvel-tree
rm -rf "$tree"
dpkg-deb -x "$gui_deb" "$tree"
desktop-file-validate "$tree"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml
rm -rf "$tree"

ls -l "$out"/*.deb

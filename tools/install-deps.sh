#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzzers and the GUI need.
# Idempotent: packages already present are left alone.
#   tools/install-deps.sh            everything below
#   tools/install-deps.sh package    only what packaging needs (make deb, make test-package)
set -euo pipefail
pkgs=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsgutils2-dev
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  fonts-ipafont-gothic
)

# package: the man pages (scdoc) and the completion test (bash-completion) of
# the installed files; make deb (debhelper and the checkers); make
# test-package (mmdebstrap, and man-db for its man -w).
package() {
  echo scdoc bash-completion
  echo debhelper dpkg-dev lintian desktop-file-utils appstream
  echo mmdebstrap man-db
}

case "${1:-}" in
  "") mapfile -t -O "${#pkgs[@]}" pkgs < <(package | tr ' ' '\n') ;;
  package) mapfile -t pkgs < <(package | tr ' ' '\n') ;;
  *) echo "usage: $0 [package]" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# make test-package: installs the orvel-cli package into a clean Debian 12
# root and runs it from there: its version, the simulator's drive list and
# its man page. The root holds the essential packages, man-db and what the
# package depends on, fetched from the host's apt sources; it is thrown away
# at the end. Downloaded packages are kept in build/package-cache for the
# next run. Builds the packages first when build/deb/ has none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
suite=bookworm
version=$(sed -n 's/^project(orvel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deb=$root/build/deb/orvel-cli_${version}_$(dpkg --print-architecture).deb
cache=$root/build/package-cache

if [ ! -f "$deb" ]; then
  bash "$root/tools/make-deb.sh"
fi

sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  if [ -s "$f" ]; then sources+=("$f"); fi
done
if [ ${#sources[@]} -eq 0 ]; then
  echo "test-package: the host has no apt sources" >&2
  exit 1
fi

mkdir -p "$cache"
# Unpacking is bound by the disk: build the throw-away root in memory when
# there is a tmpfs, without syncing each file, and without documentation
# other than man pages. apt outside the root hands dpkg inside it the
# package's own path, so the package is copied to that path in the root.
if [ -w /dev/shm ] && [ "$(stat -f -c %T /dev/shm)" = tmpfs ]; then
  export TMPDIR=/dev/shm
fi
start=$SECONDS
# Each hook fails the run when its check fails; /dev/null as the target keeps no root.
# tee appends: opening /dev/stderr anew truncates a log file it is redirected to.
mmdebstrap --variant=essential --include=man-db --include="$deb" \
  --dpkgopt=force-unsafe-io \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/locale/*' \
  --skip=download/empty --skip=essential/unlink \
  --setup-hook='mkdir -p "$1"/var/cache/apt/archives/ "$1'"$(dirname "$deb")"'"' \
  --setup-hook="copy-in '$deb' '$(dirname "$deb")'" \
  --setup-hook="sync-in '$cache' /var/cache/apt/archives/" \
  --customize-hook="sync-out /var/cache/apt/archives '$cache'" \
  --customize-hook='echo "## orvel-cli --version"; chroot "$1" orvel-cli --version | tee -a /dev/stderr | grep -qx "orvel-cli '"$version"'"' \
  --customize-hook='echo "## orvel-cli --simulate drives"; chroot "$1" orvel-cli --simulate drives | tee -a /dev/stderr | grep -q "^1  cdrom0 :"' \
  --customize-hook='echo "## man -w orvel-cli"; chroot "$1" man -w orvel-cli | tee -a /dev/stderr | grep -qx /usr/share/man/man1/orvel-cli.1.gz' \
  "$suite" /dev/null "${sources[@]}"
echo "test-package: orvel-cli $version installed and ran in a clean $suite root in $((SECONDS - start)) s"

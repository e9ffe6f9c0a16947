#!/usr/bin/env bash
# Installs the Debian packages one kind of work needs, by group:
#   core     the Linux build and its test suites (the default)
#   windows  the i686 Windows build and its tests under Wine (adds the i386 architecture)
#   package  building the distributable archives
#   fuzz     the libFuzzer targets and their coverage report (llvm-profdata-14, llvm-cov-14)
#   all      every group
# Idempotent: packages already present are left alone, and nothing is asked of
# the package servers when everything is there.
set -euo pipefail

core=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsystemd-dev
  libcli11-dev nlohmann-json3-dev
  fonts-ipafont-gothic
  scdoc bash-completion
  python3-jsonschema
)
# core also builds the man pages (scdoc), tests the shell completion
# (bash-completion) and validates orvel-cli's JSON documents against their
# schema (python3-jsonschema).
# The -win32 thread model builds the programs, the -posix one the GoogleTest
# suites (from the googletest sources); wine32 runs them. Where the kernel runs
# no 32-bit programs, the suites are built for x86_64 and wine64 runs them. The header-only
# libraries come from their Debian packages, seen by the cross compiler
# through a folder of their own.
windows=(
  cmake ninja-build make zip
  g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  googletest libcli11-dev nlohmann-json3-dev
  wine wine32:i386 fonts-wine fonts-ipafont-gothic
  wine64 g++-mingw-w64-x86-64-posix
  xvfb xauth xdotool imagemagick
)
# package: make deb (debhelper and the checkers), make test-package
# (mmdebstrap, and man-db for its man -w), the Windows zip.
package=(debhelper dpkg-dev lintian desktop-file-utils appstream mmdebstrap man-db zip)
fuzz=(clang libclang-rt-14-dev llvm-14)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(core)

pkgs=()
needs_i386=0
for g in "${groups[@]}"; do
  case "$g" in
    core) pkgs+=("${core[@]}") ;;
    windows) pkgs+=("${windows[@]}"); needs_i386=1 ;;
    package) pkgs+=("${package[@]}") ;;
    fuzz) pkgs+=("${fuzz[@]}") ;;
    all) pkgs+=("${core[@]}" "${windows[@]}" "${package[@]}" "${fuzz[@]}"); needs_i386=1 ;;
    *) echo "install-deps.sh: unknown group '$g' (core, windows, package, fuzz, all)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
# Deduplicate while keeping the order.
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | awk '!seen[$0]++')

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ "$needs_i386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture (wine32)"
  $sudo dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
# Another install running on the machine holds the lock: wait for it.
lock=(-o DPkg::Lock::Timeout=900)
$sudo apt-get "${lock[@]}" update -qq
$sudo apt-get "${lock[@]}" install -y -q --no-install-recommends "${missing[@]}"

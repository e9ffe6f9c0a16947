#!/usr/bin/env bash
# make test-windows: the Windows test suites under Wine, in one shared prefix.
#   tools/windows-tests.sh JOBS
# The suites are i686 programs run by 32-bit Wine, like the programs they
# test. A kernel that runs no 32-bit programs (IA-32 emulation switched off)
# cannot start 32-bit Wine at all; there the same suites are built for x86_64
# and run by 64-bit Wine, and this script says so.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${1:-2}"
root="$(pwd)"

if /usr/lib/wine/wine --version > /dev/null 2>&1; then
  preset=win32-tests
  windows_cli="$root/build/win32/cli/orvel-cli.exe"
else
  preset=win64-tests
  windows_cli=""
  echo "test-windows: this kernel runs no 32-bit programs, so 32-bit Wine cannot start here;"
  echo "test-windows: the suites run as x86_64 programs under 64-bit Wine (the i686 programs are only checked, not run)"
fi
build="build/$preset"

# The Linux orvel-cli, whose traces the Windows one must equal.
[ -f build/release/build.ninja ] || cmake --preset release > /dev/null
cmake --build build/release --target orvel-cli -j "$jobs"

cmake --preset "$preset" -DORVEL_LINUX_CLI="$root/build/release/cli/orvel-cli" \
  -DORVEL_WINDOWS_CLI="$windows_cli" > /dev/null
cmake --build "$build" -j "$jobs"
cd "$build"
ctest --output-on-failure -j "$jobs"

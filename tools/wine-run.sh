#!/usr/bin/env bash
# Runs one Windows program under Wine in the test run's one shared prefix
# (the emulator of the Windows test trees; see tools/wine-prefix.sh).
#   ORVEL_WINEPREFIX  the prefix (default: wineprefix beside the build tree's CMakeCache.txt)
# Wine's own chatter is off; mono and gecko are never installed. A test that
# needs more DLL overrides sets WINEDLLOVERRIDES itself (its value is kept).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
exe="$1"
shift
if [ -z "${ORVEL_WINEPREFIX:-}" ]; then
  dir="$(cd "$(dirname "$exe")" && pwd)"
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir="$(dirname "$dir")"; done
  ORVEL_WINEPREFIX="$dir/wineprefix"
fi
source "$here/wine-env.sh" "$ORVEL_WINEPREFIX"
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
exec "$ORVEL_WINE" "$exe" "$@"

#!/usr/bin/env bash
# Makes the one Wine prefix that a run of the Windows test suites shares:
#   tools/wine-prefix.sh PREFIX win32|win64
# Kept between runs (a marker file says it is complete). Settings:
# - Wine reports Windows 98 (platform id 1) to win32_aspi_tests.exe only;
# - drive E: is a plain folder, whose \\.\e: opens but takes no pass-through;
# - no dosdevices/cdromN, so \\.\cdrom0 does not open.
set -euo pipefail
prefix="$1"
arch="$2"
here="$(cd "$(dirname "$0")" && pwd)"
marker="$prefix/.orvel-ready"
if [ -f "$marker" ] && [ "$(cat "$prefix/.orvel-arch" 2>/dev/null)" = "$arch" ]; then
  exit 0
fi
rm -rf "$prefix"
mkdir -p "$prefix"
echo "$arch" > "$prefix/.orvel-arch"
source "$here/wine-env.sh" "$prefix"
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
if ! "$ORVEL_WINE" wineboot -i > "$prefix/wineboot.log" 2>&1; then
  echo "wine-prefix.sh: wineboot failed (see $prefix/wineboot.log)" >&2
  exit 1
fi
"$ORVEL_WINE" reg add 'HKCU\Software\Wine\AppDefaults\win32_aspi_tests.exe' /v Version /d win98 /f > /dev/null
mkdir -p "$prefix/drive_e"
ln -sfn ../drive_e "$prefix/dosdevices/e:"
rm -f "$prefix"/dosdevices/cdrom* "$prefix"/dosdevices/*::
"$WINESERVER" -w
touch "$marker"

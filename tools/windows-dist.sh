#!/usr/bin/env bash
# The Windows archive: dist/orvel-<version>-windows-i686.zip with the programs
# of the win32 build tree and a short README.
#   tools/windows-dist.sh BUILD_DIR DIST_DIR
set -euo pipefail
build="$1"
dist="$2"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
name="orvel-$version-windows-i686"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
dist="$(mkdir -p "$dist" && cd "$dist" && pwd)"
mkdir -p "$stage/$name"
for exe in "$build"/app/Orvel.exe "$build"/app/Orvelin.exe "$build"/cli/orvel-cli.exe; do
  [ -f "$exe" ] && cp "$exe" "$stage/$name/"
done
sed 's/$/\r/' > "$stage/$name/README.txt" <<TEXT
Orvel $version for Windows (i686)

Firmware updater for CD-R/RW and DVD+RW optical drives.

  orvel-cli.exe   the command line: orvel-cli --help
                  orvel-cli --simulate drives   tries it on a simulated PC
  Orvel.exe, Orvelin.exe   the dialog programs (the same but for title, logo
                  and maker's name); Orvel --simulate tries one on a simulated PC

Put the firmware files (*.kvf, *.bin) in the folder you start the program in;
backups (CDRWFW00 to CDRWFW09) are written there too.

On Windows NT, 2000 and XP the programs reach drives through the SCSI
pass-through; on Vista and later that needs administrator rights: Orvel.exe
and Orvelin.exe ask for them when they start, and orvel-cli must be run from
an elevated command prompt. On Windows 95, 98 and Me they use
ASPI for Win32 (WNASPI32.DLL), which must be installed.

Tested under Wine on Linux only: not on a real Windows machine, and not at all
on Windows 95, 98, Me or NT 4.
TEXT
rm -f "$dist/$name.zip"
(cd "$stage" && zip -q -r -X "$dist/$name.zip" "$name")
echo "$dist/$name.zip"

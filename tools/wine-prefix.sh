#!/usr/bin/env bash
# Makes the one Wine prefix that a run of the Windows test suites shares:
#   tools/wine-prefix.sh PREFIX win32|win64
# Kept between runs (a marker file says it is complete). Settings:
# - Wine reports Windows 98 (platform id 1) to win32_aspi_tests.exe and
#   win32_dialog_tests_98.exe only;
# - drive E: is a plain folder, whose \\.\e: opens but takes no pass-through;
# - no dosdevices/cdromN, so \\.\cdrom0 does not open;
# - the dialogs' font "ＭＳ Ｐゴシック" (and its kin) drawn with the IPA gothic
#   fonts, which have the Japanese glyphs (Wine would show empty boxes);
# - Wine draws the windows' frames and title bars itself, as Windows does:
#   no window manager runs on the tests' X display; the glyphs of their
#   buttons (Marlett) and the caption font (Tahoma) come from fonts-wine,
#   linked into the prefix's Fonts folder, where this Wine looks for them.
set -euo pipefail
prefix="$1"
arch="$2"
here="$(cd "$(dirname "$0")" && pwd)"
marker="$prefix/.orvel-ready"
settings=4  # raise when the settings below change, so that a kept prefix is made again
if [ "$(cat "$marker" 2>/dev/null)" = "$settings" ] && [ "$(cat "$prefix/.orvel-arch" 2>/dev/null)" = "$arch" ]; then
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
"$ORVEL_WINE" reg add 'HKCU\Software\Wine\AppDefaults\win32_dialog_tests_98.exe' /v Version /d win98 /f > /dev/null
mkdir -p "$prefix/drive_e"
ln -sfn ../drive_e "$prefix/dosdevices/e:"
rm -f "$prefix"/dosdevices/cdrom* "$prefix"/dosdevices/*::
for font in /usr/share/wine/fonts/*.ttf; do
  [ -e "$font" ] && ln -sf "$font" "$prefix/drive_c/windows/Fonts/"
done
# regedit takes names beyond ASCII from a UTF-16 file only.
{
  printf '\xff\xfe'
  sed 's/$/\r/' <<'REG' | iconv -f UTF-8 -t UTF-16LE
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS PGothic"="IPAPGothic"
"MS Gothic"="IPAGothic"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
} > "$prefix/orvel-settings.reg"
"$ORVEL_WINE" regedit "$prefix/orvel-settings.reg"
"$WINESERVER" -w
echo "$settings" > "$marker"

# Sourced: sets WINEPREFIX, WINEDEBUG, WINEARCH and ORVEL_WINE (the loader to
# run programs with) for the prefix given as $1. A PE file's machine decides:
# i686 programs need Wine's 32-bit loader, which needs a kernel that runs
# 32-bit programs; x86_64 test programs take the 64-bit loader.
export WINEPREFIX="$1"
export WINEDEBUG=-all
if [ -f "$WINEPREFIX/.orvel-arch" ]; then
  orvel_arch="$(cat "$WINEPREFIX/.orvel-arch")"
else
  orvel_arch="${ORVEL_WINE_ARCH:-win32}"
fi
if [ "$orvel_arch" = win64 ]; then
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  ORVEL_WINE=/usr/lib/wine/wine64
else
  export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
  ORVEL_WINE=/usr/lib/wine/wine
fi
export ORVEL_WINE

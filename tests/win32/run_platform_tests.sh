#!/usr/bin/env bash
# Runs win32_platform_tests.exe under Wine with what Windows cannot be asked
# to make there: links planted from the Linux side (Wine's CreateSymbolicLink
# makes none), a folder that refuses new files (/sys/kernel, even to root), and
# a small file system to fill (a 64 KiB tmpfs; root only, else that case skips).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
exe="$1"
shift
work="$(cd "$(dirname "$exe")" && pwd)/platform-fixtures"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

rm -rf "$work"
mkdir -p "$work/links/sub" "$work/small"
printf 'target' > "$work/links/target.txt"
ln -s absent-target "$work/links/dangling.bin"
ln -s target.txt "$work/links/tofile.bin"
ln -s sub "$work/links/todir.bin"
export ORVEL_LINK_DIR="$(winpath "$work/links")"
if [ -d /sys/kernel ] && ! touch /sys/kernel/orvel-probe 2>/dev/null; then
  export ORVEL_LOCKED_DIR='Z:\sys\kernel'
fi
mounted=0
if mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null; then
  mounted=1
  export ORVEL_SMALL_DIR="$(winpath "$work/small")"
fi
"$here/../../tools/wine-run.sh" "$exe" "$@"
rc=$?
[ "$mounted" -eq 1 ] && umount "$work/small"
exit $rc

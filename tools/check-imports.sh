#!/usr/bin/env bash
# Each Windows program of a -win32 build tree imports only system DLLs and
# only the functions of tools/windows-imports.txt (with the oldest Windows
# known to have each). Anything newer must be looked up at run time.
#   tools/check-imports.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
allowed="$here/windows-imports.txt"
mapfile -t programs < <(find "$build" -name '*.exe' -not -path '*/CMakeFiles/*' | sort)
if [ ${#programs[@]} -eq 0 ]; then
  echo "check-imports: no programs in $build" >&2
  exit 1
fi
bad=0
for exe in "${programs[@]}"; do
  imports="$(i686-w64-mingw32-objdump -p "$exe" |
    awk '/DLL Name:/ {dll = toupper($3)} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}' | sort -u)"
  count=0
  while read -r dll function; do
    [ -n "$dll" ] || continue
    count=$((count + 1))
    if ! awk -v d="$dll" -v f="$function" '!/^#/ && toupper($1) == d && $2 == f {found = 1} END {exit !found}' "$allowed"; then
      echo "check-imports: $(basename "$exe") imports $dll $function, which is not on the allow-list"
      bad=1
    fi
  done <<< "$imports"
  dlls="$(echo "$imports" | awk '{print $1}' | sort -u | tr '\n' ' ')"
  echo "imports of $(basename "$exe"): $count functions from $dlls"
done
exit $bad

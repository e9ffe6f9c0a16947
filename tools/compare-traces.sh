#!/usr/bin/env bash
# The Windows build's trace equals the Linux build's: on every simulated
# machine, a whole update of drive 1 with a backup, run by both programs on
# the virtual clock in fresh copies of the same sample files; standard error
# (the trace and every message) and the exit status must agree line for line.
#   tools/compare-traces.sh LINUX_ORVEL_CLI WINDOWS_ORVEL_CLI_EXE
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
linux="$1"
windows="$2"
work="$(mktemp -d "${TMPDIR:-/tmp}/orvel-traces-XXXXXX")"
trap 'rm -rf "$work"' EXIT
export ORVEL_SIM_FAST=1

mapfile -t scenarios < <("$linux" --simulate=help | sed -n '/^Scenarios/,/^Options:/p' |
  awk '/^  [a-z0-9-]+  / {print $1}')
if [ ${#scenarios[@]} -eq 0 ]; then
  echo "compare-traces: no scenarios listed by $linux --simulate=help" >&2
  exit 1
fi
mkdir -p "$work/samples"
mapfile -t samples < <("$linux" make-samples "$work/samples")
file="$(basename "${samples[0]}")"

failed=0
for s in "${scenarios[@]}"; do
  for side in linux windows; do
    rm -rf "$work/$side"
    cp -r "$work/samples" "$work/$side"
  done
  (cd "$work/linux" && "$linux" --simulate="$s" --trace update "$file" --drive 1 --backup --yes \
     > /dev/null 2> "$work/linux.err"; echo "exit status $?" >> "$work/linux.err")
  (cd "$work/windows" && "$here/wine-run.sh" "$windows" --simulate="$s" --trace update "$file" --drive 1 --backup --yes \
     > /dev/null 2> "$work/windows.raw"; echo "exit status $?" >> "$work/windows.raw")
  # Line ends as Windows writes them; Wine's own notes ("wine: ...", "0024:err:...") are not the program's.
  tr -d '\r' < "$work/windows.raw" | grep -Ev '^(wine: |[0-9a-f]{4}:(err|fixme|warn|trace):)' > "$work/windows.err"
  # The backups too: the same bytes under the same names.
  (cd "$work/linux" && find . -type f | sort | xargs md5sum) > "$work/linux.files"
  (cd "$work/windows" && find . -type f | sort | xargs md5sum) > "$work/windows.files"
  if diff -u "$work/linux.err" "$work/windows.err" > "$work/diff" && diff -u "$work/linux.files" "$work/windows.files" >> "$work/diff"; then
    echo "same trace: $s ($(grep -c . "$work/linux.err") lines)"
  else
    echo "DIFFERENT: $s"
    head -40 "$work/diff"
    failed=$((failed + 1))
  fi
done
echo "${#scenarios[@]} scenarios compared, $failed different"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Records a whole update on the simulator for every row of
# tests/data/recordings/updates.txt into tests/data/recordings/NAME.jsonl.
# The tests replay them (cli_tests, Replay*): run this when a change of the
# command sequence is meant, and commit the new recordings with the change.
#
# usage: tools/record-updates.sh [BUILD_DIR]     (default build/release; `make recordings`)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
cli=$build/cli/orvel-cli
table=$root/tests/data/recordings/updates.txt
[[ -x $cli ]] || { echo "record-updates: $cli is not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
while read -r name scenario drive file prepare; do
  [[ -z ${name:-} || $name == \#* ]] && continue
  dir=$work/$name
  mkdir -p "$dir"
  "$cli" --simulate="$scenario" -C "$dir" make-samples . >/dev/null
  # A family without a sample file is updated with its drive's own backup.
  if [[ ${prepare:-} == backup ]]; then
    "$cli" --simulate="$scenario" --fast -C "$dir" backup --drive "$drive" >/dev/null
  fi
  out=$root/tests/data/recordings/$name.jsonl
  "$cli" --simulate="$scenario" --fast -C "$dir" --record "$out" update "$file" --drive "$drive" --yes >/dev/null
  echo "record-updates: $name ($scenario, drive $drive, $file): $(wc -l <"$out") lines, $(wc -c <"$out") bytes"
done <"$table"

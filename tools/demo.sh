#!/usr/bin/env bash
# The demo: a whole simulated update from the command line, with the drive
# dialogue at its real pace, in a scratch directory demo/ of the repository.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cli="$build/cli/orvel-cli"
demo="$root/demo"

if [ ! -x "$cli" ]; then
  echo "demo: $cli is not built (run: make build)" >&2
  exit 1
fi

rm -rf "$demo"
mkdir -p "$demo"

# Headings in bold only on a terminal, so that a saved log stays plain text.
if [ -t 1 ]; then
  step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
else
  step() { printf '\n== %s\n' "$*"; }
fi

step "Sample firmware files for the simulated drives"
mapfile -t samples < <("$cli" make-samples "$demo")
printf '%s\n' "${samples[@]}"
first=$(basename "${samples[0]}")

step "The drives the simulated PC has"
"$cli" -C "$demo" --simulate drives

step "What the sample file for drive 1 holds"
"$cli" -C "$demo" identify "$first"

step "Update drive 1 from $first, with a backup of its current firmware"
start=$(date +%s)
"$cli" -C "$demo" --simulate update "$first" --drive 1 --backup --yes
echo "(took $(( $(date +%s) - start )) s)"

step "The backup it wrote"
backup=$(cd "$demo" && ls CDRWFW* | head -n 1)
"$cli" -C "$demo" identify "$backup"

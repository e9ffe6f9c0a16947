#!/usr/bin/env bash
# Runs every libFuzzer target for a while; any crash or sanitizer report fails the run.
set -euo pipefail
dir=${1:-build/fuzz}
seconds=${2:-60}
status=0
for f in "$dir"/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name for ${seconds}s"
  if ! "$f" -max_total_time="$seconds" -max_len=1100000 -rss_limit_mb=4096 -print_final_stats=1 "$corpus" >"$dir/$name.log" 2>&1; then
    tail -n 40 "$dir/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$dir/$name.log" | tail -n 2 || true
  fi
done
exit $status

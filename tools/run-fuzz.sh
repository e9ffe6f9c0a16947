#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for SECONDS each (the whole run
# takes the number of targets times that), from the seeds the build made and
# the target's corpus, which keeps what the runs find. Any crash, time-out or
# sanitizer report fails the run and leaves the input as an artifact.
# usage: run-fuzz.sh [BUILD_DIR [SECONDS]]
set -euo pipefail
dir=${1:-build/fuzz}
seconds=${2:-30}
seeds="$dir/fuzz/seeds"
[ -d "$seeds" ] || { echo "run-fuzz.sh: no seeds in $seeds (build the target orvel_fuzz_all)" >&2; exit 2; }
status=0
summary=()
for f in "$dir"/fuzz/fuzz_*; do
  [ -f "$f" ] && [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$dir/corpus/$name"
  log="$dir/$name.log"
  mkdir -p "$corpus"
  echo "== $name for ${seconds}s"
  # New inputs go to the first directory; the seeds are read only.
  if ! "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/$name-" "$corpus" "$seeds/$name" >"$log" 2>&1; then
    tail -n 40 "$log"
    summary+=("$name: FAILED (see $log)")
    status=1
    continue
  fi
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  speed=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
  cov=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' || true)
  summary+=("$name: $runs runs, $speed exec/s, $cov")
done
echo "== fuzzing, ${seconds}s a target"
printf '  %s\n' "${summary[@]}"
exit $status

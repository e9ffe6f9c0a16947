#!/usr/bin/env bash
# Line coverage of firmware/ reached by the fuzz corpora. Each target's replay
# program, built with clang's source-based coverage (preset fuzz-coverage), runs
# its seeds and, when make fuzz left one, its corpus; the profiles are merged and
# reported for each file of firmware/, then summed over all product code. Fails
# when a decoder or encoder was never reached.
# usage: fuzz-coverage.sh [COVERAGE_BUILD [FUZZ_BUILD]]
set -euo pipefail
cov=${1:-build/fuzz-coverage}
fuzzdir=${2:-build/fuzz}
src=$(cd "$(dirname "$0")/.." && pwd)
profiles="$cov/profiles"
rm -rf "$profiles"
mkdir -p "$profiles"

binaries=()
for r in "$cov"/fuzz/replay_*; do
  [ -f "$r" ] && [ -x "$r" ] || continue
  name=${r##*/replay_}
  inputs=("$cov/fuzz/seeds/fuzz_$name")
  [ -d "$fuzzdir/corpus/fuzz_$name" ] && inputs+=("$fuzzdir/corpus/fuzz_$name")
  if ! LLVM_PROFILE_FILE="$profiles/$name.profraw" "$r" "${inputs[@]}" >"$profiles/$name.log" 2>&1; then
    echo "replay_$name failed on an input:" >&2
    tail -n 20 "$profiles/$name.log" >&2
    exit 1
  fi
  echo "fuzz_$name: $(tail -n 1 "$profiles/$name.log")"
  binaries+=("$r")
done
[ ${#binaries[@]} -gt 0 ] || { echo "fuzz-coverage.sh: no replay programs in $cov/fuzz" >&2; exit 2; }

# Each replay program has its own LLVMFuzzerTestOneInput and harness helpers
# under the same names; llvm-cov warns that their data differ ("mismatched
# data") and reports product code, which all programs share, correctly.
cov_report() { llvm-cov-14 report "$@" 2> >(grep -v 'functions have mismatched data' >&2); }

merged="$profiles/merged.profdata"
llvm-profdata-14 merge -sparse "$profiles"/*.profraw -o "$merged"
objects=("${binaries[0]}")
for b in "${binaries[@]:1}"; do objects+=(-object "$b"); done

echo "== firmware/ reached by the corpora"
cov_report -instr-profile="$merged" "${objects[@]}" "$src/firmware"
echo "== all product code reached by the corpora (TOTAL)"
cov_report -instr-profile="$merged" "${objects[@]}" \
  -ignore-filename-regex="^(/usr/|$src/(tests|fuzz|build)/)" | tail -n 1

# Every decoder and encoder ran at least once.
functions=$(cov_report -show-functions -instr-profile="$merged" "${objects[@]}" \
  "$src/firmware/codec.cpp" "$src/firmware/image_file.cpp")
missing=0
for fn in DecodePackedImageInto EncodePackedImage RemoveByteKey ApplyByteKey DecodeImageFromFile EncodeImageForFile; do
  # Mangled names (orvel::Fn is _ZN5orvel2FnE...); columns: name, then regions,
  # lines and branches, each as count, missed, cover.
  line=$(printf '%s\n' "$functions" | grep -E "^_ZN5orvel${#fn}${fn}E" | head -n 1 || true)
  if [ -z "$line" ] || [ "$(printf '%s\n' "$line" | awk '{print $(NF-3)}')" = "0.00%" ]; then
    echo "not reached: $fn" >&2
    missing=1
  fi
done
exit $missing

#!/usr/bin/env bash
# Runs each fuzz target of the sanitizer build for the given number of seconds
# over its kept corpus, in processes of at most 10,000 executions: libmsi keeps
# a file descriptor for every package session it ever opened, so a single long
# process would run out of them. Inputs found and crashes go to found/<target>/.
# Usage: tools/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail

fuzz_dir="$1/tests/fuzz"
seconds="$2"
corpus_root="$(cd "$(dirname "$0")/.." && pwd)/tests/fuzz/corpus"

for corpus in "$corpus_root"/*/; do
  target="$(basename "$corpus")"
  found="$fuzz_dir/found/$target"
  mkdir -p "$found"
  echo "fuzz: $target for $seconds s"
  end=$((SECONDS + seconds))
  while [ "$SECONDS" -lt "$end" ]; do
    "$fuzz_dir/${target}_fuzz" -runs=10000 -max_total_time=$((end - SECONDS)) -max_len=4096 -timeout=10 \
      -detect_leaks=0 -print_final_stats=1 -artifact_prefix="$found/" "$found" "$corpus" 2>"$found/last.log" ||
      { tail -n 40 "$found/last.log"; exit 1; }
    grep -h "stat::number_of_executed_units" "$found/last.log" || true
  done
done

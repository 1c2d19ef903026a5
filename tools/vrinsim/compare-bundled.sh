#!/bin/bash
# Compares the simulated engine with Wine's msiexec on bundled scenarios:
#   tools/vrinsim/compare-bundled.sh VRINSIM win32|win64 [SCENARIO...]
# (every bundled scenario when none is named). Prints one line per scenario
# with its verdict and time, and the comparison of each scenario that shows
# an unexplained difference. Exits 0 when none does, 1 when one does or a
# play fails to set up, 77 (skipped) when this machine cannot run the
# architecture's Wine engine, saying so loudly.
set -u
vrinsim=$1
arch=$2
shift 2
if [ $# -eq 0 ]; then
  mapfile -t scenarios < <("$vrinsim" list | awk 'NF && $1 !~ /:$/ {print $1}')
else
  scenarios=("$@")
fi
failed=()
start=$SECONDS
for scenario in "${scenarios[@]}"; do
  began=$SECONDS
  output=$("$vrinsim" compare "$scenario" --arch "$arch" --no-wall-time 2>&1)
  status=$?
  if [ $status -eq 2 ] && grep -q "CANNOT COMPARE" <<<"$output"; then
    echo "*** vrinsim compare --arch $arch SKIPPED: $(grep "CANNOT COMPARE" <<<"$output" | head -1) ***"
    exit 77
  fi
  summary=$(grep '^=== .* compared:' <<<"$output" | tail -1)
  echo "$scenario ($arch, $((SECONDS - began)) s): ${summary:-status $status}"
  if [ $status -ne 0 ]; then
    failed+=("$scenario")
    echo "$output" | sed 's/^/    /'
  fi
done
echo "${#scenarios[@]} scenarios compared on wine $arch in $((SECONDS - start)) s; ${#failed[@]} with unexplained differences or failures${failed[*]:+: ${failed[*]}}"
[ ${#failed[@]} -eq 0 ]

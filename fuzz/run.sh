#!/usr/bin/env bash
# Runs every fuzz target in BUILD_FUZZ_DIR for SECONDS (30 unless given),
# each on a scratch copy of its committed corpus so new finds never pile up
# in the tree. Exits non-zero when any target finds a fault; the input that
# shows it is kept under BUILD_FUZZ_DIR/fuzz-artifacts and named below.
set -uo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_FUZZ_DIR [SECONDS]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-30}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

found=0
failed=()
for target in "$build"/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  found=1
  name=$(basename "$target")
  corpus="$scratch/${name#fuzz_}"
  mkdir -p "$corpus"
  if [ -d "$here/corpus/${name#fuzz_}" ]; then
    cp "$here/corpus/${name#fuzz_}"/* "$corpus"/ 2>/dev/null
  fi
  log="$artifacts/$name.log"
  "$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "$corpus" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ $status -eq 0 ]; then
    echo "$name: ok, ${runs:-?} runs, ${rate:-?} execs/s"
  else
    echo "$name: FAILED (exit $status), log $log"
    grep -E 'invariant failed|ERROR: |SUMMARY: |Test unit written to' "$log" | sed 's/^/  /'
    failed+=("$name")
  fi
done

if [ $found -eq 0 ]; then
  echo "no fuzz_* targets in $build" >&2
  exit 2
fi
if [ ${#failed[@]} -ne 0 ]; then
  echo "Faults found by: ${failed[*]}"
  exit 1
fi
echo "All fuzz targets ran clean for ${seconds} s each."

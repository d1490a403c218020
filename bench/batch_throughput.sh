#!/usr/bin/env bash
# Batch throughput of the command line: 40 files of 30 s each (the sample set four times over,
# so audio and audio-bearing video alike) converted to WMA with --jobs 1 and with --jobs 2,
# alternately, RUNS times each. Prints the median wall times and the speed-up of two jobs.
# Usage: bench/batch_throughput.sh [RUNS]
# Builds into build-bench/ (release), writes its files into build-bench/bench-data/batch/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVARO_BUILD_APP=OFF \
  -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=ON >/dev/null
ninja -C "$build" -j"${KELVARO_JOBS:-2}" kelvaro kelvaro_make_samples >/dev/null

data="$build/bench-data/batch"
inputs="$data/inputs"
if [[ ! -f "$inputs/.complete" ]]; then
  rm -rf "$inputs"
  "$build/tests/fixtures/kelvaro_make_samples" "$inputs" 30 4 >/dev/null
  touch "$inputs/.complete"
fi
count=$(find "$inputs" -type f ! -name '.*' | wc -l)

# Wall seconds of one batch with `jobs` at once; a batch that fails stops the benchmark.
batch_seconds() {
  local jobs=$1 out="$data/out-$1" start end
  rm -rf "$out"
  start=$EPOCHREALTIME
  if ! "$root/build-bench/cli/kelvaro" --jobs "$jobs" --output "$out" "$inputs"/* >"$data/last.txt" 2>&1; then
    cat "$data/last.txt" >&2
    exit 1
  fi
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

one=() two=()
for ((i = 0; i < runs; i++)); do
  one+=("$(batch_seconds 1)")
  two+=("$(batch_seconds 2)")
done
median() { printf '%s\n' "$@" | sort -g | sed -n "$(((${#@} + 1) / 2))p"; }
m1=$(median "${one[@]}")
m2=$(median "${two[@]}")
echo "$count files of 30 s to WMA, $runs runs each, $(nproc) cores"
echo "--jobs 1: median ${m1} s  (runs: ${one[*]})"
echo "--jobs 2: median ${m2} s  (runs: ${two[*]})"
awk -v a="$m1" -v b="$m2" 'BEGIN { printf "speed-up of --jobs 2: %.2f (target 1.9)\n", a / b }'

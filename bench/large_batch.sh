#!/usr/bin/env bash
# A music library instead of a handful of files: 30, 300 and 3,000 inputs (links to the
# short files of the sample set) converted to WMA with --jobs 2, under the usual desktop
# limit of 1,024 open files. Prints, per size, the files converted, the peak memory, the
# most files held open at once, the time until the first finished output and the total time
# (medians of RUNS runs).
# Usage: bench/large_batch.sh [RUNS]
# Builds into build-bench/ (release), writes its files into build-bench/bench-data/large/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVARO_BUILD_APP=OFF \
  -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=ON >/dev/null
ninja -C "$build" -j"${KELVARO_JOBS:-2}" kelvaro kelvaro_make_samples bench_batch_monitor >/dev/null

data="$build/bench-data/large"
samples="$data/samples"
if [[ ! -f "$samples/.complete" ]]; then
  rm -rf "$samples"
  "$build/tests/fixtures/kelvaro_make_samples" "$samples" 2 >/dev/null
  touch "$samples/.complete"
fi
mapfile -t kinds < <(find "$samples" -type f ! -name '.*' | sort)

ulimit -n 1024
median() { printf '%s\n' "$@" | sort -g | sed -n "$(((${#@} + 1) / 2))p"; }
field() { sed -E "s/.*$1=([-0-9.]+).*/\1/" <<<"$2"; }

printf '%6s %10s %9s %9s %14s %9s\n' files converted peak_MiB peak_fds first_output_s total_s
for count in 30 300 3000; do
  inputs="$data/inputs-$count"
  if [[ ! -d "$inputs" ]]; then
    mkdir -p "$inputs"
    for ((i = 0; i < count; i++)); do
      kind=${kinds[$((i % ${#kinds[@]}))]}
      ln -s "$kind" "$inputs/$(printf 'track%05d' "$i").${kind##*.}"
    done
  fi
  memory=() fds=() first=() total=() converted=()
  for ((run = 0; run < runs; run++)); do
    out="$data/out-$count"
    rm -rf "$out"
    mkdir -p "$out"
    line=$("$build/bench/bench_batch_monitor" "$out" "$build/cli/kelvaro" --jobs 2 \
      --output "$out" "$inputs"/* 2>/dev/null | tail -1)
    memory+=("$(field maxrss_kb "$line")")
    fds+=("$(field peak_fds "$line")")
    first+=("$(field first_output_s "$line")")
    total+=("$(field seconds "$line")")
    converted+=("$(find "$out" -type f ! -name '.*' -size +0 | wc -l)")
  done
  awk -v n="$count" -v c="$(median "${converted[@]}")" -v m="$(median "${memory[@]}")" \
      -v f="$(median "${fds[@]}")" -v s="$(median "${first[@]}")" -v t="$(median "${total[@]}")" \
      'BEGIN { printf "%6d %10d %9.1f %9d %14.3f %9.2f\n", n, c, m / 1024, f, s, t }'
done

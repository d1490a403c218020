#!/usr/bin/env bash
# What each file costs when the command line is the unit of work of GNU parallel: FILES
# short inputs (links to the sample set, half a second each) converted to WMA one file per
# process, against chunks of 500 per process (the recipe scripts/kelvaro-parallel uses), and
# one process for all. Both parallel ways keep every core busy: N processes of one file, or
# one chunk at a time converting N files at once. Also the start-up alone (--version, which
# loads nothing) and one file in a process of its own. Prints the medians of RUNS runs, in
# milliseconds per file.
# Usage: bench/per_file_cost.sh [FILES [RUNS]]
# Builds into build-bench/ (release; KELVARO_BENCH_BUILD names another build folder), writes
# its files into that folder's bench-data/per-file/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1000}
runs=${2:-3}
build=${KELVARO_BENCH_BUILD:-"$root/build-bench"}
command -v parallel >/dev/null || { echo "GNU parallel is needed" >&2; exit 1; }
[[ -f $build/CMakeCache.txt ]] ||
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVARO_BUILD_APP=OFF \
    -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=ON >/dev/null
ninja -C "$build" -j"${KELVARO_JOBS:-2}" kelvaro kelvaro_make_samples >/dev/null
kelvaro="$build/cli/kelvaro"
cores=$(nproc)

data="$build/bench-data/per-file"
samples="$data/samples"
if [[ ! -f "$samples/.complete" ]]; then
  rm -rf "$samples"
  "$build/tests/fixtures/kelvaro_make_samples" "$samples" 0.5 >/dev/null
  touch "$samples/.complete"
fi
mapfile -t kinds < <(find "$samples" -type f ! -name '.*' | sort)
inputs="$data/inputs-$count"
if [[ ! -d "$inputs" ]]; then
  mkdir -p "$inputs"
  for ((i = 0; i < count; i++)); do
    kind=${kinds[$((i % ${#kinds[@]}))]}
    ln -s "$kind" "$inputs/$(printf 'track%05d' "$i").${kind##*.}"
  done
fi
find "$inputs" -type l -print0 | sort -z >"$data/list"

median() { printf '%s\n' "$@" | sort -g | sed -n "$(((${#@} + 1) / 2))p"; }
# Milliseconds the command takes, per file of `files`.
per_file() {
  local files=$1
  shift
  rm -rf "$data/out"
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  awk -v ns=$((end - start)) -v n="$files" 'BEGIN { printf "%.2f", ns / 1e6 / n }'
}
measure() {
  local label=$1 files=$2
  shift 2
  local results=()
  for ((run = 0; run < runs; run++)); do results+=("$(per_file "$files" "$@")"); done
  printf '%-40s %10s\n' "$label" "$(median "${results[@]}")"
}
one_per_process() {
  parallel --will-cite -0 -j "$cores" "$kelvaro" -q -j 1 -o "$data/out" {} <"$data/list"
}
chunks_of_500() {
  parallel --will-cite --pipe -N 500 --recend '\0' -j 1 \
    "$kelvaro" --files-from - -0 -q -j "$cores" -o "$data/out" <"$data/list"
}
one_process() {
  "$kelvaro" --files-from "$data/list" -0 -q -j "$cores" -o "$data/out"
}

echo "$count files, $cores cores; milliseconds per file (median of $runs runs)"
measure "start-up alone (kelvaro --version)" 1 "$kelvaro" --version
measure "one file, one process" 1 "$kelvaro" -q -o "$data/out" "${kinds[0]}"
measure "parallel, one file per process" "$count" one_per_process
measure "parallel, chunks of 500 per process" "$count" chunks_of_500
measure "one process for all" "$count" one_process

#!/usr/bin/env bash
# How fast the engine converts against a bare pipeline over the same libraries (the floor),
# and whether its memory grows with the input. Usage: bench/transcode_throughput.sh [RUNS]
# Builds into build-bench/ (release), writes inputs into build-bench/bench-data/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
build="$root/build-bench"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DKELVARO_BUILD_APP=OFF \
  -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=ON >/dev/null
data="$build/bench-data"
mkdir -p "$data"
for minutes in 5 60; do
  [[ -f "$data/input-${minutes}min.mp3" ]] || "$build/bench/bench_make_input" "$data" "$minutes" >/dev/null
done

# Runs the engine and the floor alternately, `runs` times each, so that whatever else the
# machine does weighs on both alike. Prints the medians: "<engine cpu> <floor cpu>
# <engine wall> <engine maxrss_kb>". The ratio is taken on processor time, which other load
# disturbs less than wall time.
measure() {
  local input=$1 to=$2 engine_cpu=() floor_cpu=() engine_wall=() engine_memory=()
  for ((i = 0; i < runs; i++)); do
    local line
    rm -f "$data/engine.$to" "$data/floor.$to"
    line=$("$build/bench/bench_engine_run" "$input" "$data/engine.$to")
    engine_wall+=("$(sed -E 's/.*seconds=([0-9.]+).*/\1/' <<<"$line")")
    engine_cpu+=("$(sed -E 's/.*cpu=([0-9.]+).*/\1/' <<<"$line")")
    engine_memory+=("$(sed -E 's/.*maxrss_kb=([0-9]+).*/\1/' <<<"$line")")
    line=$("$build/bench/bench_bare_pipeline" "$input" "$data/floor.$to")
    floor_cpu+=("$(sed -E 's/.*cpu=([0-9.]+).*/\1/' <<<"$line")")
  done
  median() { printf '%s\n' "$@" | sort -g | sed -n "$(((runs + 1) / 2))p"; }
  echo "$(median "${engine_cpu[@]}") $(median "${floor_cpu[@]}") $(median "${engine_wall[@]}") $(median "${engine_memory[@]}")"
}

printf '%-18s %10s %10s %8s %11s %10s\n' conversion engine_cpu floor_cpu ratio x_realtime peak_MiB
for case in "5 wav wma" "5 mp3 wav" "60 wav wma" "60 mp3 wav"; do
  read -r minutes from to <<<"$case"
  read -r engine_cpu floor_cpu engine_wall engine_memory < <(measure "$data/input-${minutes}min.$from" "$to")
  awk -v name="${minutes}min $from->$to" -v e="$engine_cpu" -v f="$floor_cpu" -v w="$engine_wall" \
      -v m="$engine_memory" -v seconds="$((minutes * 60))" \
      'BEGIN { printf "%-18s %10.3f %10.3f %8.3f %11.1f %10.1f\n", name, e, f, e / f, seconds / w, m / 1024 }'
done

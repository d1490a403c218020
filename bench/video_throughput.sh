#!/usr/bin/env bash
# How fast the engine turns 60 s of 640x480 pictures into the "dvd" preset against a bare
# pipeline doing the same decode, scale, encode and mux over the same libraries (the floor).
# Usage: bench/video_throughput.sh [RUNS]
# Builds into build-bench/ (release), writes the input into build-bench/bench-data/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
build="$root/build-bench"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DKELVARO_BUILD_APP=OFF \
  -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=ON >/dev/null
data="$build/bench-data"
mkdir -p "$data"
input="$data/video-60s.nut"
[[ -f "$input" ]] || "$build/bench/bench_make_input" "$data" video 60 >/dev/null

# The engine and the floor run alternately, `runs` times each, so that whatever else the
# machine does weighs on both alike; the ratio is taken on processor time, which other load
# disturbs less than wall time.
field() { sed -E "s/.*$1=([0-9.]+).*/\1/" <<<"$2"; }
engine_cpu=() floor_cpu=() engine_wall=() engine_memory=() floor_memory=()
for ((i = 0; i < runs; i++)); do
  rm -f "$data/engine.vob" "$data/floor.vob"
  line=$("$build/bench/bench_engine_run" "$input" "$data/engine.vob" dvd)
  engine_wall+=("$(field seconds "$line")")
  engine_cpu+=("$(field cpu "$line")")
  engine_memory+=("$(field maxrss_kb "$line")")
  line=$("$build/bench/bench_bare_video_pipeline" "$input" "$data/floor.vob")
  floor_cpu+=("$(field cpu "$line")")
  floor_memory+=("$(field maxrss_kb "$line")")
done
median() { printf '%s\n' "$@" | sort -g | sed -n "$(((runs + 1) / 2))p"; }
printf '%-18s %10s %10s %8s %11s %12s %12s\n' conversion engine_cpu floor_cpu ratio x_realtime \
  engine_MiB floor_MiB
awk -v e="$(median "${engine_cpu[@]}")" -v f="$(median "${floor_cpu[@]}")" \
    -v w="$(median "${engine_wall[@]}")" -v m="$(median "${engine_memory[@]}")" \
    -v n="$(median "${floor_memory[@]}")" \
    'BEGIN { printf "%-18s %10.3f %10.3f %8.3f %11.1f %12.1f %12.1f\n", "60s 640x480->dvd", e, f, e / f, 60 / w, m / 1024, n / 1024 }'

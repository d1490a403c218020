#!/usr/bin/env bash
# Where a WMA conversion puts the sound, as libavformat + libavcodec read it and, when
# gst-launch-1.0 is installed, as GStreamer (and the players built on it) reads it (Debian:
# gstreamer1.0-tools, -plugins-good, -plugins-ugly for the ASF demuxer, and -libav).
# Usage: bench/wma_placement.sh   Builds into build-bench/ (release), writes into
# build-bench/wma-placement/. Prints one line per reading: the decoded frames and seconds,
# the duration the container reports, and the frames where the clicks peak.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DKELVARO_BUILD_APP=OFF \
  -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=ON >/dev/null
data="$build/wma-placement"
mkdir -p "$data"
"$build/bench/bench_wma_placement" make "$data" >/dev/null
echo "clicks written at: 10,1000,3000,10000,19990 of 20000 frames; tone: 30 s (1323000 frames)"
echo "-- libavformat + libavcodec"
"$build/bench/bench_wma_placement" read "$data/clicks.wma" "$data/tone30.wma"
if ! command -v gst-launch-1.0 >/dev/null; then
  echo "-- GStreamer: gst-launch-1.0 not installed, skipped"
  exit 0
fi
echo "-- GStreamer (decoded to WAV, read back)"
for name in clicks tone30; do
  gst-launch-1.0 -q filesrc location="$data/$name.wma" ! decodebin ! audioconvert \
    ! audio/x-raw,format=S16LE ! wavenc ! filesink location="$data/$name.gst.wav"
done
"$build/bench/bench_wma_placement" read "$data/clicks.gst.wav" "$data/tone30.gst.wav"
if command -v gst-discoverer-1.0 >/dev/null; then
  for name in clicks tone30; do
    echo "$name.wma: GStreamer reports $(gst-discoverer-1.0 "$data/$name.wma" | sed -n 's/^Duration: //p')"
  done
fi

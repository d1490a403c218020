#!/usr/bin/env bash
# Sets up Kelvaro on a fresh machine and runs its main job: the built-in sample set (one file
# of each kind Kelvaro reads, written on the first run) converted to WMA and to WAV from the
# command line. Extra arguments go to kelvaro (e.g. --jobs 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

# The sample writer lives with the test fixtures; only the two programs are built.
cmake -S "$root" -B "$root/build" -G Ninja -DKELVARO_BUILD_TESTS=ON >/dev/null
ninja -C "$root/build" -j"${KELVARO_JOBS:-2}" kelvaro kelvaro_make_samples

base=${KELVARO_DEMO_FOLDER:-${HOME:-$root/build}/Kelvaro}
samples="$base/samples"
output="$base/demo"
if [[ ! -f "$samples/.complete" ]]; then
  echo "Writing the sample set into $samples"
  rm -rf "$samples"
  "$root/build/tests/fixtures/kelvaro_make_samples" "$samples" 10 >/dev/null
  touch "$samples/.complete"
fi

status=0
for format in wma wav; do
  echo
  echo "Converting $samples to ${format^^} in $output/$format"
  "$root/build/cli/kelvaro" --format "$format" --output "$output/$format" "$@" "$samples"/* ||
    status=$?
done
exit "$status"

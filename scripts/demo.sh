#!/usr/bin/env bash
# Sets up Kelvaro on a fresh machine and runs its main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DKELVARO_BUILD_TESTS=OFF -DKELVARO_BUILD_BENCH=OFF
"$root/build/cli/kelvaro" "$@"

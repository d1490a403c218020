#!/usr/bin/env bash
# Sets up Kelvaro on a fresh machine, builds it with warnings as errors and runs the whole
# test suite, then the threading tests again under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

"$root/scripts/build.sh" "$root/build" -DKELVARO_WERROR=ON -DKELVARO_BUILD_TESTS=ON
ctest --test-dir "$root/build" --output-on-failure -j2

# Only the test programs with threading tests are built for this pass.
"$root/scripts/build.sh" "$root/build-tsan" -DKELVARO_TSAN=ON -DKELVARO_WERROR=ON \
  -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=OFF -DKELVARO_BUILD_APP=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir "$root/build-tsan" --output-on-failure -j2 -L threads

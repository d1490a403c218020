#!/usr/bin/env bash
# Sets up Kelvaro on a fresh machine, builds it with warnings as errors and runs the whole
# test suite, then the threading tests again under ThreadSanitizer, then the engine's
# mutation runner under the address and undefined-behaviour sanitizers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

"$root/scripts/build.sh" "$root/build" -DKELVARO_WERROR=ON -DKELVARO_BUILD_TESTS=ON
ctest --test-dir "$root/build" --output-on-failure -j2

# Only the test programs with threading tests are built for this pass.
"$root/scripts/build.sh" "$root/build-tsan" -DKELVARO_TSAN=ON -DKELVARO_WERROR=ON \
  -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=OFF -DKELVARO_BUILD_APP=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  ctest --test-dir "$root/build-tsan" --output-on-failure -j2 -L threads

# The engine's mutation runner for a fixed budget under AddressSanitizer and
# UndefinedBehaviorSanitizer (tests/fuzz/README.md), and the tests of the decoders, the
# RealVideo bridge among them, which works on what an outside library hands back; only
# their programs are built for this pass.
cmake -S "$root" -B "$root/build-asan" -G Ninja -DKELVARO_ASAN=ON -DKELVARO_WERROR=ON \
  -DKELVARO_BUILD_TESTS=ON -DKELVARO_BUILD_BENCH=OFF -DKELVARO_BUILD_APP=OFF >/dev/null
ninja -C "$root/build-asan" -j"${KELVARO_JOBS:-2}" kelvaro_fuzz decoder_test medialib_test
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"
"$root/build-asan/tests/engine/decoder_test" --gtest_brief=1
"$root/build-asan/tests/medialib/medialib_test" --gtest_brief=1
"$root/build-asan/tests/fuzz/kelvaro_fuzz" --seconds "${KELVARO_FUZZ_SECONDS:-180}" \
  --keep "$root/build-asan/fuzz-findings"

#!/usr/bin/env bash
# Configures and builds Kelvaro with Ninja. Usage: scripts/build.sh BUILD_DIR [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
shift || true
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
ninja -C "$build" -j"${KELVARO_JOBS:-2}"

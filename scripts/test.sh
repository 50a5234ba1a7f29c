#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh" "$build"
cd "$build"
# GUI tests need a display: run everything under a private X server.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a ctest --output-on-failure -j "$(nproc)" --timeout 600
fi
exec ctest --output-on-failure -j "$(nproc)" --timeout 600

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite; given test programs
# (e.g. kv_files_tests), builds and runs only those.
# Usage: scripts/test.sh [PROGRAM...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
KV_BUILD_TARGETS="$*" "$root/scripts/setup.sh" "$build"
cd "$build"
args=(--output-on-failure -j "$(nproc)" --timeout 600)
# Each program's tests carry its name as their label.
if [ $# -gt 0 ]; then
  args+=(-L "^($(IFS='|'; echo "$*"))\$")
fi
# GUI tests need a display: run everything under a private X server.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a ctest "${args[@]}"
fi
exec ctest "${args[@]}"

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite; given test programs
# (e.g. kv_files_tests), builds and runs only those.
# Usage: scripts/test.sh [PROGRAM...]
# KV_ONE_PROCESS=1 runs each given program's tests in one process, the programs
# side by side: under ThreadSanitizer a process per test costs seconds each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
KV_BUILD_TARGETS="$*" "$root/scripts/setup.sh" "$build"
cd "$build"
# GUI tests need a display: run everything under a private X server.
display=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  display=(xvfb-run -a)
fi
if [ $# -gt 0 ] && [ -n "${KV_ONE_PROCESS:-}" ]; then
  mkdir -p testworld
  # shellcheck disable=SC2016
  exec "${display[@]}" bash -c '
    build=$PWD
    for p in "$@"; do
      exe=$(find . -path "*/CMakeFiles" -prune -o -name "$p" -type f -perm -u+x -print | head -n 1)
      [ -n "$exe" ] || { echo "$p: not built"; exit 1; }
      (cd "$(dirname "$exe")" && KV_TEST_TMP="$build/testworld" "./$p" >"$build/$p.log" 2>&1) &
      eval "pid_$p=$!"
    done
    status=0
    for p in "$@"; do
      pid=pid_$p
      if wait "${!pid}"; then
        echo "$p: $(tail -n 1 "$p.log")"
      else
        status=1
        echo "==== $p failed:"
        cat "$p.log"
      fi
    done
    exit $status' _ "$@"
fi
args=(--output-on-failure -j "$(nproc)" --timeout 600)
# Each program's tests carry its name as their label.
if [ $# -gt 0 ]; then
  args+=(-L "^($(IFS='|'; echo "$*"))\$")
fi
exec "${display[@]}" ctest "${args[@]}"

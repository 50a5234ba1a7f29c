#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) into build-fuzz/
# and runs each for SECONDS (default 60), one after the other.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   targets: zip catalogue xml_text bxml path utf error http msi_package msi_sql markup update_answer msi_format msi_rows msi_periphery ddf cabinet msi_registration kml
# New inputs go to build-fuzz/corpus/<target>/, crashes to build-fuzz/crashes/.
# Replay one: build-fuzz/fuzz/fuzz_<target> FILE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(zip catalogue xml_text bxml path utf error http msi_package msi_sql markup message numbers shell_link registry xml_writer update_answer help_popups msi_format msi_rows msi_periphery ddf cabinet msi_registration kml)

# ccache hits across clones: paths under the checkout are hashed relative to it,
# and the build folder's own path is left out of debug-info hashes.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing; scripts/setup.sh installs it" >&2
  exit 1
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKV_FUZZ=ON -DKV_BENCH=OFF
fi
# The tools that write the seeds are instrumented too; their leaks are not the point here.
ASAN_OPTIONS=detect_leaks=0 cmake --build "$build" -j "$(nproc)" --target kv_fuzz

# The platform layer's machine state stays inside the build folder.
export KV_WORLD_ROOT=$build/fuzz-world
mkdir -p "$KV_WORLD_ROOT" "$build/crashes"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
# Targets whose mutation runs still find faults not yet mended: by default their
# seeds and kept regressions are replayed, not mutated (KV_FUZZ_MUTATE_ALL=1 mutates them too).
replay_only=" "
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  mkdir -p "$corpus"
  inputs=("$corpus")
  # Some targets' seeds live only among their kept inputs.
  [ -d "$build/fuzz/seeds/$t" ] && inputs+=("$build/fuzz/seeds/$t")
  [ -d "$root/fuzz/regressions/$t" ] && inputs+=("$root/fuzz/regressions/$t")
  mode=(-max_total_time="$seconds")
  if [[ "$replay_only" == *" $t "* && -z "${KV_FUZZ_MUTATE_ALL:-}" && $# -eq 0 ]]; then
    mode=(-runs=0)
    echo "== fuzz_$t: replaying its seeds and regressions"
  else
    echo "== fuzz_$t for ${seconds}s"
  fi
  if ! "$build/fuzz/fuzz_$t" "${mode[@]}" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/crashes/$t-" "${inputs[@]}" 2>"$build/fuzz_$t.log"; then
    tail -n 60 "$build/fuzz_$t.log"
    failed+=("$t")
  else
    grep -E "^stat::(number_of_executed_units|new_units_added)|^#[0-9]+ +DONE" "$build/fuzz_$t.log" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]} (inputs in $build/crashes/)" >&2
  exit 1
fi
echo "fuzz.sh: no failures"

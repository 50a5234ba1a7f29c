#!/usr/bin/env bash
# Sets up, builds and runs the install menu on its bundled sample archive.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh" "$build"
exec "$build/installmenu/DovecrestVazediInstallMenu" "$@"

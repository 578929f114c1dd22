#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite offscreen.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/kvor-xdg-$(id -u)}"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
ctest --test-dir build --output-on-failure -j2 "$@"

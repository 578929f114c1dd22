#!/usr/bin/env bash
# Configures (once) and builds into build/ with Ninja. Arguments are build targets (default: all).
# ccache, when the machine has it, keeps rebuilds and second work trees quick.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/build.ninja ]; then
  launcher=()
  if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}" CCACHE_NOHASHDIR=1
  fi
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
fi
if [ $# -gt 0 ]; then
  cmake --build build --target "$@"
else
  cmake --build build
fi

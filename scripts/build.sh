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
  # Optimised, with line tables only (-g1): stack traces and sanitizer reports keep their file
  # and line, and the first build (the first window of ./run.sh) takes about a sixth less time
  # than with full debug information. For a debugger, configure a build of your own with -g.
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "${launcher[@]}"
fi
if [ $# -gt 0 ]; then
  cmake --build build --target "$@"
else
  cmake --build build
fi

#!/usr/bin/env bash
# Builds kvor-bench optimised (Release, in build-release/ unless KVOR_BENCH_BUILD names another
# directory) and runs it offscreen. Arguments go to kvor-bench: --quick for a short run,
# --only run|stop|video|free for one part. The figures go to standard output, progress to
# standard error. Never fails on a figure; a non-zero exit means the measuring itself failed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KVOR_BENCH_BUILD:-build-release}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKVOR_BUILD_TESTS=OFF
fi
cmake --build "$build" --target kvor-bench
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/kvor-xdg-$(id -u)}"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
exec "$build/bin/kvor-bench" "$@"

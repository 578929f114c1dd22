#!/usr/bin/env bash
# Builds the whole program and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs the test suite there. Any sanitizer report fails its test.
#
# The soak runs shortened here (KVOR_SOAK_SCALE, default half of its 100 000 exchanges): under
# the sanitizers every exchange costs several times as much, and its length is the plain
# build's business; the sanitizers judge every code path it takes all the same.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitizer_env.sh
if [ ! -f build-asan/build.ninja ]; then
  cmake --preset asan > /dev/null
fi
# Tools that run during the build (the control-id generator) are sanitized too; their memory at
# exit is not the program's.
ASAN_OPTIONS="detect_leaks=0" cmake --build build-asan -j2
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/kvor-xdg-$(id -u)}"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
export KVOR_SOAK_SCALE="${KVOR_SOAK_SCALE:-0.5}"
ctest --test-dir build-asan --output-on-failure -j2 "$@"

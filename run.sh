#!/usr/bin/env bash
# Installs what is missing, builds, and starts kvor-zodid with the simulated sensor on port 1.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
# Only what the window needs: the program, the simulated sensor and their data files.
scripts/build.sh kvor-zodid kvor-sensor-sim kvor_data
exec build/bin/kvor-zodid --simulate "$@"

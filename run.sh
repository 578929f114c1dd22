#!/usr/bin/env bash
# Installs what is missing, builds, and starts kvor-zodid with the simulated sensor on port 1.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh
exec build/bin/kvor-zodid --simulate "$@"

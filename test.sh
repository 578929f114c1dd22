#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite offscreen; then the same suite
# built with AddressSanitizer and UndefinedBehaviorSanitizer; then every fuzz target for a while.
# Ends with one line "N passed, N failed" over all three, and exits non-zero when anything failed.
#
#   KVOR_ASAN=0        leaves out the sanitizer build and its run
#   FUZZ_SECONDS=N     seconds per fuzz target (default 30; 0 leaves the fuzz targets out)
#   --quick            the plain suite only (no sanitizer build, no fuzz targets, no soak): the
#                      quick loop while developing
#   arguments          go to the plain test run's ctest (e.g. -R Soak); they leave out the
#                      sanitizer run and the fuzz targets unless those are asked for above
set -uo pipefail
cd "$(dirname "$0")"
started=$SECONDS

scripts/setup.sh || { echo "0 passed, 1 failed"; exit 1; }

asan=${KVOR_ASAN:-1}
fuzz_seconds=${FUZZ_SECONDS:-30}
if [ "${1:-}" = "--quick" ]; then
  shift
  set -- -E 'Soak|install_tree' "$@"
fi
if [ $# -gt 0 ]; then
  asan=${KVOR_ASAN:-0}
  fuzz_seconds=${FUZZ_SECONDS:-0}
fi

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/kvor-xdg-$(id -u)}"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

total_passed=0
total_failed=0
summary=()

# Adds the counts of a ctest log ("NN% tests passed, F tests failed out of T") to the totals.
tally_ctest() {
  local what=$1 log=$2 rc=$3 line failed total
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    summary+=("$(printf '%-24s no result (ctest exit %s)' "$what:" "$rc")")
    total_failed=$((total_failed + 1))
    return
  fi
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  summary+=("$(printf '%-24s %d passed, %d failed' "$what:" $((total - failed)) "$failed")")
  total_passed=$((total_passed + total - failed))
  total_failed=$((total_failed + failed))
}

phase() { printf '\n===== %s (%d s so far) =====\n' "$1" $((SECONDS - started)); }

# 1. The plain build and its tests.
phase "build and test (build/)"
if scripts/build.sh; then
  ctest --test-dir build --output-on-failure -j2 "$@" 2>&1 | tee build/ctest-summary.log
  tally_ctest "tests" build/ctest-summary.log "${PIPESTATUS[0]}"
else
  summary+=("$(printf '%-24s the build failed' "tests:")")
  total_failed=$((total_failed + 1))
fi
plain_line=$(grep -E '[0-9]+% tests passed' build/ctest-summary.log 2>/dev/null | tail -1)

# 2. The same suite under the sanitizers.
if [ "$asan" != "0" ]; then
  phase "AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
  mkdir -p build-asan
  scripts/sanitize.sh 2>&1 | tee build-asan/ctest-summary.log
  tally_ctest "tests (ASan/UBSan)" build-asan/ctest-summary.log "${PIPESTATUS[0]}"
fi

# 3. The fuzz targets.
if [ "$fuzz_seconds" != "0" ]; then
  phase "fuzz targets, ${fuzz_seconds} s each (build-fuzz/)"
  mkdir -p build-fuzz
  FUZZ_SECONDS=$fuzz_seconds scripts/fuzz.sh 2>&1 | tee build-fuzz/fuzz-summary.log
  fuzz_rc=${PIPESTATUS[0]}
  line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' build-fuzz/fuzz-summary.log | tail -1)
  if [ -n "$line" ]; then
    p=$(sed -E 's/^fuzz: ([0-9]+) passed, ([0-9]+) failed/\1/' <<<"$line")
    f=$(sed -E 's/^fuzz: ([0-9]+) passed, ([0-9]+) failed/\2/' <<<"$line")
  else
    p=0
    f=1
  fi
  if [ "$fuzz_rc" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  summary+=("$(printf '%-24s %d passed, %d failed' "fuzz targets:" "$p" "$f")")
  total_passed=$((total_passed + p))
  total_failed=$((total_failed + f))
fi

phase "summary"
[ -n "$plain_line" ] && echo "plain suite: $plain_line"
printf '%s\n' "${summary[@]}"
printf 'time: %d s\n' $((SECONDS - started))
echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]

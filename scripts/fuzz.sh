#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer into build-fuzz/ and runs each for a while
# (FUZZ_SECONDS, default 30) from its seed corpus in fuzz/corpus/. Inputs found along the way go
# to build-fuzz/corpus/ (the seeds in the repository stay as they are), crashes to
# build-fuzz/artifacts/. Any crash, sanitizer report or broken property fails the run.
#
# Prints one line per target with the executions it made, then "fuzz: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitizer_env.sh
seconds="${FUZZ_SECONDS:-30}"
targets=(rx_frame device_answers parameter_file panel_file)

if [ ! -f build-fuzz/build.ninja ]; then
  cmake --preset fuzz > /dev/null || { echo "fuzz: cannot configure build-fuzz"; echo "fuzz: 0 passed, ${#targets[@]} failed"; exit 1; }
fi
if ! ASAN_OPTIONS="detect_leaks=0" cmake --build build-fuzz -j2 --target fuzz_targets; then
  echo "fuzz: the fuzz targets do not build"
  echo "fuzz: 0 passed, ${#targets[@]} failed"
  exit 1
fi

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/kvor-xdg-$(id -u)}"
mkdir -p -m 700 "$XDG_RUNTIME_DIR" build-fuzz/artifacts build-fuzz/logs

run_one() {
  local name=$1
  local work=build-fuzz/corpus/$name
  mkdir -p "$work"
  local dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  # libFuzzer's own leak check per input stays on; -rss_limit_mb and -timeout catch runaway inputs.
  build-fuzz/bin/fuzz_"$name" "$work" "fuzz/corpus/$name" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$name-" > "build-fuzz/logs/$name.log" 2>&1
}

# Two at a time, one per core.
declare -A status
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for name in "${targets[@]:i:2}"; do
    run_one "$name" &
    pids+=("$!:$name")
  done
  for entry in "${pids[@]}"; do
    pid=${entry%%:*}
    name=${entry#*:}
    if wait "$pid"; then status[$name]=0; else status[$name]=1; fi
  done
done

passed=0
failed=0
for name in "${targets[@]}"; do
  log=build-fuzz/logs/$name.log
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  if [ "${status[$name]}" -eq 0 ]; then
    passed=$((passed + 1))
    printf 'fuzz: %-16s %10s executions in %s s, corpus %s inputs\n' "$name" "${execs:-?}" "$seconds" \
      "$(ls build-fuzz/corpus/$name | wc -l)"
  else
    failed=$((failed + 1))
    printf 'fuzz: %-16s FAILED after %s executions; last lines of %s:\n' "$name" "${execs:-?}" "$log"
    grep -v '^#[0-9]' "$log" | tail -40 | sed 's/^/    /'
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

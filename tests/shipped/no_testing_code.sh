#!/usr/bin/env bash
# Checks that the shipped program carries none of the testing library: none of its hooks among
# the program's symbols, nothing of QtTest, and no test library among those it loads.
# Usage: no_testing_code.sh PROGRAM. Exits 77 (skipped) when nm is not installed.
set -uo pipefail
program=$1
if ! command -v nm >/dev/null 2>&1; then
  echo "SKIP: nm is not installed"
  exit 77
fi
if [ ! -f "$program" ]; then
  echo "FAIL: $program is not built"
  exit 1
fi

hooks=(
  UserClick UserCommit UserSetValue UserClosePanel AfterDelay
  SetTimerFunction PresetFileSelectAnswer
  TakeComTurnarounds ComReadCount SetSerialByIdDirectory ForgetAssignedComPorts BeforeComWrite
  PanelWidget CtrlWidget PanelVisible PanelCanvasWidget FitPanelToScreenArea
  GetGraphItems GetStripChartTrace GetTraceColor GraphRepaintCount GraphMenuEntries
  UserExportGraph GraphZoomed
)

symbols=$(nm -C "$program" 2>&1) || { echo "FAIL: nm cannot read $program: $symbols"; exit 1; }
if [ -z "$symbols" ]; then
  echo "FAIL: nm lists no symbols for $program"
  exit 1
fi
failures=0
# A hook is a free function: its name stands after the symbol's type letter, followed by its
# arguments (or an ABI tag), so longer names that merely contain it do not count.
pattern="^[0-9a-fA-F ]* [A-Za-z] ($(IFS='|'; echo "${hooks[*]}"))(\[abi:[^]]*\])?\("
found=$(grep -E "$pattern" <<<"$symbols")
if [ -n "$found" ]; then
  echo "FAIL: the shipped program holds test hooks:"
  echo "$found"
  failures=$((failures + 1))
fi
found=$(grep -F 'QTest' <<<"$symbols")
if [ -n "$found" ]; then
  echo "FAIL: the shipped program holds QtTest code:"
  echo "$found" | head -20
  failures=$((failures + 1))
fi
if command -v ldd >/dev/null 2>&1; then
  found=$(ldd "$program" 2>/dev/null | grep -i 'test')
  if [ -n "$found" ]; then
    echo "FAIL: the shipped program loads a test library:"
    echo "$found"
    failures=$((failures + 1))
  fi
fi
[ "$failures" -eq 0 ] && echo "OK: no testing code in $program"
exit $((failures > 0))

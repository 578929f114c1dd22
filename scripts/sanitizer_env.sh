# Sourced by the scripts that run sanitized programs: how AddressSanitizer, UndefinedBehavior-
# Sanitizer and LeakSanitizer report. Every finding stops the program with a non-zero exit.
_kvor_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=${_kvor_root}/scripts/lsan.supp:print_suppressions=0}"
unset _kvor_root

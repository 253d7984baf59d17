# Sourced by scripts/sanitize.sh and scripts/fuzz.sh: every sanitizer report ends the program
# (the test or fuzz run fails), with the suppressions of tests/sanitizers/.
supp="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/sanitizers"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
# Qt is not built with ThreadSanitizer, so its own locks are invisible to it: allocations and
# copies that Qt's threads (its thread pool, the raster and font code) make are not judged, while
# every access our code makes still is.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$supp/tsan.supp"
# Stack traces with names and lines.
if command -v llvm-symbolizer-14 >/dev/null; then
    export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer-14)"
    export TSAN_OPTIONS="$TSAN_OPTIONS:external_symbolizer_path=$ASAN_SYMBOLIZER_PATH"
fi

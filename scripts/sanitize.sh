#!/usr/bin/env bash
# Builds the unit tests with sanitizers in a build folder of their own and runs them (the kernel
# and install tests stay out: they run other programs as root or in a guest). Any report ends the
# test program, so the test fails.
#
#   scripts/sanitize.sh address   # AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#                                 # (clang, with the fuzz programs; part of CI)
#   scripts/sanitize.sh thread    # ThreadSanitizer in build-tsan/
#
# Extra arguments go to ctest (e.g. -R ReceiveThread). Suppressions: tests/sanitizers/, each
# with its reason; only for code that is not ours.
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-address}"
shift || true

bash scripts/setup-deps.sh
source scripts/sanitizer-env.sh
case "$kind" in
address)
    dir=build-asan
    options=(-DWENDRAKE_SANITIZE=ON -DWENDRAKE_FUZZ=ON)
    ;;
thread)
    dir=build-tsan
    options=(-DWENDRAKE_TSAN=ON)
    ;;
*)
    echo "usage: scripts/sanitize.sh address|thread [ctest arguments]" >&2
    exit 2
    ;;
esac

start=$SECONDS
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    "${options[@]}" >/dev/null
# The test programs and the fuzz programs only: the benchmarks measure nothing here.
ninja -C "$dir" -j "$(nproc)" wt_unit_test_programs
built=$SECONDS
export QT_QPA_PLATFORM=offscreen
status=0
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" -LE 'kernel|install|benchmark' "$@" || status=$?
echo "sanitize.sh $kind: build $((built - start)) s, tests $((SECONDS - built)) s"
exit $status

#!/usr/bin/env bash
# Runs the libFuzzer targets of tests/fuzz, two at a time, each for the given seconds.
#
#   scripts/fuzz.sh                 # 20 s each: CI's smoke run
#   scripts/fuzz.sh 3600            # an hour each
#   scripts/fuzz.sh 600 hex_text    # only the named targets
#
# Builds them in build-asan/ (clang, AddressSanitizer and UndefinedBehaviorSanitizer, the same
# folder as scripts/sanitize.sh address). Each run starts from the seeds in
# tests/fuzz/corpus/<name>/ and the inputs in tests/fuzz/regressions/<name>/; what it finds new
# is kept in build-asan/fuzz-corpus/<name>/, outside the tree. An input that crashes a target or
# breaks its property is copied to tests/fuzz/regressions/<name>/ and the script fails: commit it
# with the mend, and the test fuzz_replay_<name> runs it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
seconds="${1:-20}"
shift || true

bash scripts/setup-deps.sh
source scripts/sanitizer-env.sh
dir="$root/build-asan"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DWENDRAKE_SANITIZE=ON -DWENDRAKE_FUZZ=ON >/dev/null
# The list has no line end, so read answers false.
IFS=";" read -r -a all <"$dir/fuzz-targets.txt" || true
targets=("${@:-${all[@]}}")
ninja -C "$dir" -j "$(nproc)" "${targets[@]/#/fuzz_}"

run_one() {
    local name="$1" work="$dir/fuzz-corpus/$1" log="$dir/fuzz-logs/$1.log"
    mkdir -p "$work" "$dir/fuzz-logs" "$dir/fuzz-artifacts/$name"
    echo failed >"$dir/fuzz-logs/$name.result"
    local seeds=("$root/tests/fuzz/corpus/$name")
    [ -d "$root/tests/fuzz/regressions/$name" ] && seeds+=("$root/tests/fuzz/regressions/$name")
    if "$dir/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$dir/fuzz-artifacts/$name/" "$work" "${seeds[@]}" >"$log" 2>&1; then
        echo passed >"$dir/fuzz-logs/$name.result"
        return 0
    fi
    if [ -n "$(ls -A "$dir/fuzz-artifacts/$name")" ]; then
        mkdir -p "$root/tests/fuzz/regressions/$name"
        cp "$dir/fuzz-artifacts/$name"/* "$root/tests/fuzz/regressions/$name/"
    fi
    return 1
}

start=$SECONDS
for name in "${targets[@]}"; do
    # Two at a time: CI has two cores.
    while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
    run_one "$name" &
done
wait || true
status=0
printf '%-16s %12s %8s  %s\n' target runs corpus result
for name in "${targets[@]}"; do
    result=passed
    if [ "$(cat "$dir/fuzz-logs/$name.result")" != passed ]; then
        result="FAILED (any failing input is kept in tests/fuzz/regressions/$name/)"
        status=1
    fi
    log="$dir/fuzz-logs/$name.log"
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    corpus="$(find "$dir/fuzz-corpus/$name" -type f | wc -l)"
    printf '%-16s %12s %8s  %s\n' "$name" "${runs:-?}" "$corpus" "$result"
    [ "$result" = passed ] || tail -n 40 "$log"
done
echo "fuzz.sh: ${#targets[@]} targets, $seconds s each, $((SECONDS - start)) s in all"
exit $status

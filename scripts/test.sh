#!/usr/bin/env bash
# Installs what is missing, builds, runs every test and the benchmarks in their small smoke mode.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
# A case named by its index means a parameterised suite without a name generator.
if ctest --test-dir build -N | grep -E '^ *Test +#[0-9]+: .*/[0-9]+$'; then
    echo "These tests are named by a bare index: give their suite a name generator." >&2
    exit 1
fi
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"

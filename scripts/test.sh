#!/usr/bin/env bash
# Installs what is missing, builds, runs every test and the benchmarks in their small smoke mode.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)" "$@"

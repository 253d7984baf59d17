#!/usr/bin/env bash
# Builds the Debian package of the terminal: build/package/wendrake-terminal_<version>_<arch>.deb
# (set OUT=folder for another place). Install it with: sudo apt-get install ./<that file>
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
out="$(realpath -m "${OUT:-build/package}")"
mkdir -p "$out"
(cd build && cpack -G DEB -B "$out")
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/*.deb

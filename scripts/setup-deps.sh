#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the checks (clang's sanitizers, libFuzzer and
# symbolizer), the demo and the package need; only what is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    python3-serial picocom tio
    qt6-base-dev qt6-qpa-plugins libgl-dev
    libudev-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-14 libclang-rt-14-dev llvm-14
    xvfb xauth imagemagick fonts-dejavu-core
    dpkg-dev lintian desktop-file-utils appstream xdotool
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

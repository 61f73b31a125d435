#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and views with.
# Idempotent: asks apt only for what is missing, and does nothing when all is there.
set -euo pipefail

packages=(
    cmake ninja-build g++ make
    clang-14 libclang-rt-14-dev          # libFuzzer and the sanitizer runtimes
    freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri
    libgtest-dev libbenchmark-dev
    libcli11-dev nlohmann-json3-dev
    libtinyobjloader-dev libtinygltf-dev  # OBJ and glTF level files
    libopenmpi-dev openmpi-bin           # sharing the visibility pass between processes
    xvfb xdotool x11-apps xauth          # viewer tests in a virtual X server
    python3
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

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq -o DPkg::Lock::Timeout=120
$sudo apt-get install -y -qq -o DPkg::Lock::Timeout=120 --no-install-recommends "${missing[@]}"

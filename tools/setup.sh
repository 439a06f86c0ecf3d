#!/usr/bin/env bash
# Installs the build dependencies (Debian 12) when missing, then configures and builds Corvane in ./build.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config zlib1g-dev nlohmann-json3-dev libcairo2-dev
  libpango1.0-dev fonts-urw-base35 qt6-base-dev libqt6opengl6-dev libgl-dev libgl1-mesa-dri libgtest-dev libbenchmark-dev
  xvfb xauth poppler-utils gerbv clang libclang-rt-14-dev locales libpolyclipping-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_type="${CORVANE_BUILD_TYPE:-RelWithDebInfo}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$build_type" "$@"
cmake --build build -j"$(nproc)"

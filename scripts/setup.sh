#!/usr/bin/env bash
# Installs everything the build, the tests and the sample run need, on Debian 12, as root.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libx11-dev
  xvfb xauth x11-utils
  clang-format clang libclang-rt-14-dev
  netbase media-types
  systemd
  curl wget python3
  microsocks dante-server
  gcc-multilib g++-multilib
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

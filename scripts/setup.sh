#!/usr/bin/env bash
# Installs everything the build, the tests and the sample run need, on Debian 12, as root. With "windows", what
# the Windows builds and their 64-bit run need instead: both mingw-w64 toolchains and 64-bit Wine; with
# "windows32", Wine for 32-bit programs, which only a kernel that runs them can use.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libx11-dev
  xvfb xauth x11-utils
  clang-format clang libclang-rt-14-dev
  netbase media-types
  systemd
  curl python3
  microsocks dante-server
  gcc-multilib g++-multilib
)
case "${1:-}" in
windows)
  packages=(gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix
    g++-mingw-w64-x86-64-posix wine wine64)
  ;;
windows32)
  # Wine runs 32-bit programs only with the i386 libraries; wine64 alone would exit 0 silently.
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  packages=(wine wine32:i386)
  ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

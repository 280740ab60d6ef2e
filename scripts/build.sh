#!/usr/bin/env bash
# Usage: scripts/build.sh NAME [cmake options...]; builds into build/NAME.
set -euo pipefail
cd "$(dirname "$0")/.."
name=$1
shift
cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
cmake --build "build/$name" -j "$(nproc)"

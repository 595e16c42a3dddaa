#!/usr/bin/env bash
# Installs what is needed, builds the player and starts it.
# With no argument it plays a short sample clip made by the build.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs" --target zeltora sample_clip

if [ $# -gt 0 ]; then
  exec ./build/zeltora "$@"
fi
exec ./build/zeltora build/sample.mp4

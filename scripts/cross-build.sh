#!/usr/bin/env bash
# Builds the platform layer and the filters for 32- and 64-bit Windows with mingw-w64, so that the
# Windows side never silently stops compiling.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in mingw32 mingw64; do
  echo "== Windows cross build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build "build-$preset" -j"$(nproc)"
done

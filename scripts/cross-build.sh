#!/usr/bin/env bash
# Builds the platform layer and the filters for 32- and 64-bit Windows with mingw-w64, so that the
# Windows side never silently stops compiling, and runs the Win32 platform layer's self-check
# under Wine (64-bit; a 32-bit Wine is not installed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in mingw32 mingw64; do
  echo "== Windows cross build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build "build-$preset" -j"$(nproc)"
done

echo "== Win32 platform layer self-check under Wine"
WINEPREFIX="$PWD/build-mingw64/wineprefix" WINEDEBUG=-all \
  timeout 300 /usr/lib/wine/wine64 build-mingw64/platform/kv_win32_smoke.exe

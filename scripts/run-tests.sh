#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test twice: in a normal build and in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

cmake --preset sanitize >/dev/null
cmake --build build-sanitize -j"$jobs"
cmake --preset default >/dev/null
cmake --build build -j"$jobs"

echo "== tests, sanitizer build"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")
echo "== tests"
(cd build && ctest --output-on-failure -j"$jobs")

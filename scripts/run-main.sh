#!/usr/bin/env bash
# Installs what is needed, builds kvimport, and imports the bundled Outlook Express 4, Outlook
# Express 5 and Netscape Messenger sample stores into a new Maildir (and lists what the filters
# handed over), then shows the result.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh main
# kvimport alone: the tests and benchmarks (and what they need) stay out of this build.
cmake --preset default -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kvimport
out="${1:-$(mktemp -d)/Maildir}"
echo "== kvimport list --filter oe4 --store samples/oe4 --keep-empty"
build/host/kvimport list --filter oe4 --store samples/oe4 --keep-empty
echo "== kvimport import --filter oe4 --store samples/oe4 --keep-empty --to maildir:$out"
build/host/kvimport import --filter oe4 --store samples/oe4 --keep-empty --to "maildir:$out"
echo "== kvimport list --filter oe5 --store samples/oe5 --keep-empty"
build/host/kvimport list --filter oe5 --store samples/oe5 --keep-empty
echo "== kvimport import --filter oe5 --store samples/oe5 --keep-empty --to maildir:$out"
build/host/kvimport import --filter oe5 --store samples/oe5 --keep-empty --to "maildir:$out"
echo "== kvimport list --filter netscape --store samples/netscape --keep-empty"
build/host/kvimport list --filter netscape --store samples/netscape --keep-empty
echo "== kvimport import --filter netscape --store samples/netscape --keep-empty --to maildir:$out"
build/host/kvimport import --filter netscape --store samples/netscape --keep-empty \
  --to "maildir:$out"
echo "== the Maildir"
(cd "$out" && find . -type f | LC_ALL=C sort)

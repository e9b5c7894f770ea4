#!/usr/bin/env bash
# Installs what is needed, builds kvimport, and imports the bundled Outlook Express 4, Outlook
# Express 5, Netscape Messenger and Eudora sample stores into a new Maildir (and lists what the filters
# handed over), then shows the result.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh main
# kvimport alone: the tests and benchmarks (and what they need) stay out of this build.
cmake --preset default -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kvimport
out="${1:-$(mktemp -d)/Maildir}"
for filter in oe4 oe5 netscape eudora; do
  echo "== kvimport list --filter $filter --store samples/$filter --keep-empty"
  build/host/kvimport list --filter "$filter" --store "samples/$filter" --keep-empty
  echo "== kvimport import --filter $filter --store samples/$filter --keep-empty --to maildir:$out"
  build/host/kvimport import --filter "$filter" --store "samples/$filter" --keep-empty \
    --to "maildir:$out"
done
echo "== the Maildir"
(cd "$out" && find . -type f | LC_ALL=C sort)

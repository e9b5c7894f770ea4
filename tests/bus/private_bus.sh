#!/bin/sh
# Runs a test program on a private session bus of its own, with an empty temporary XDG_DATA_HOME
# for the registration, so that no test sees the user's bus, files or another test's server.
# Reports from the sanitizers of any process on that bus (the servers the bus starts included)
# are gathered and make the run fail.
set -eu
if ! command -v dbus-run-session >/dev/null 2>&1; then
  echo "private_bus.sh: dbus-run-session is missing (install dbus-daemon)" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-bus-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/data/dbus-1/services"
XDG_DATA_HOME="$work/data"
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}log_path=$work/sanitizer"
UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}log_path=$work/sanitizer"
export XDG_DATA_HOME ASAN_OPTIONS UBSAN_OPTIONS
unset DBUS_SESSION_BUS_ADDRESS
status=0
dbus-run-session -- "$@" || status=$?
for report in "$work"/sanitizer.*; do
  [ -e "$report" ] || continue
  cat "$report" >&2
  status=1
done
exit "$status"

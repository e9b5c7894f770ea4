#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (run as root, or through sudo).
#   install-deps.sh        everything: the main job's packages and those of the tests and CI
#   install-deps.sh main   only what building kvimport and running it needs (scripts/run-main.sh)
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# The build tools and the libraries the programs link.
main_packages=(
  cmake g++ make pkg-config
  libreadline-dev
  libhivex-dev
  libssl-dev
  libxxhash-dev
  nlohmann-json3-dev
  libgmime-3.0-dev
  libsdbus-c++-dev
)
# The tests, the sanitizer and fuzzing builds, the Windows cross build and its run under Wine, and
# the tools the tests compare the output with.
test_packages=(
  libgtest-dev libgmock-dev googletest
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
  wine64
  xvfb xauth
  python3 groff-base
  dovecot-core
  undbx
  dbus-daemon dbus-session-bus-common libglib2.0-bin systemd python3-dbus
)
# The main job takes no recommended packages either; the tests keep them, as CI always had them.
apt_options=()
case "${1:-all}" in
  main) packages=("${main_packages[@]}") apt_options=(--no-install-recommends) ;;
  all) packages=("${main_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 [main|all]" >&2
    exit 2
    ;;
esac
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${apt_options[@]}" "${missing[@]}"
fi

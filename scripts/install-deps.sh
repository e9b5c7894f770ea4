#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (run as root, or through sudo).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev
  libreadline-dev
  libhivex-dev
  libssl-dev
  libxxhash-dev
  nlohmann-json3-dev
  libgmime-3.0-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
  wine64
  xvfb xauth imagemagick googletest
  python3 groff-base
  dovecot-core
  undbx
  libsdbus-c++-dev
  dbus-daemon dbus-session-bus-common libglib2.0-bin systemd python3-dbus
)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}"
fi

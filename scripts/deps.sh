#!/usr/bin/env bash
# Installs the Debian packages that are missing for building (and, with
# --run, for showing the window). Installs nothing when all are present.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-svg-dev libpugixml-dev libgeographiclib-dev
  # the web page's server
  qt6-httpserver-dev qt6-websockets-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  dbus-daemon libglib2.0-bin
  libhamlib-utils
  # the bearing tests' independent solver
  geographiclib-tools
  # the install tests: Debian's validators, the package tools and its checker
  desktop-file-utils appstream dpkg-dev file binutils lintian)
if [ "${1:-}" = "--run" ]; then
  # Japanese captions and messages need a font that has them.
  packages+=(fonts-noto-cjk)
fi
if [ "${1:-}" = "--test" ]; then
  # the web page's browser test: Debian's chromium, driven from Node.js
  packages+=(chromium)
  # A Node.js from elsewhere brings its own npm; Debian's npm would not fit it.
  command -v node > /dev/null || packages+=(nodejs)
  command -v npm > /dev/null || packages+=(npm)
fi
if [ "${1:-}" = "--fuzz" ]; then
  # clang with the libFuzzer and sanitizer runtimes.
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

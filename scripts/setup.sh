#!/usr/bin/env bash
# Installs the Debian packages that Quarrin needs, if any is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libfreetype-dev libfontconfig-dev fontconfig fonts-wqy-microhei fonts-liberation2
  libpng-dev libarchive-dev libzstd-dev zstd
  clang libclang-rt-14-dev clang-format
  libsdl2-dev
  xvfb xauth
)

bash "$(dirname "$0")/install-packages.sh" setup "${packages[@]}"

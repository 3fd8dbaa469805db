#!/usr/bin/env bash
# Installs what the Windows build and its runs under Wine need, if any is missing: the
# MinGW-w64 cross compiler, Wine (64-bit) and a virtual X display. Kept apart from setup.sh,
# which every CI run uses and which must not pull Wine in.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64 cmake ninja-build
  wine64
  xvfb xauth
)

bash "$(dirname "$0")/install-packages.sh" setup-win32 "${packages[@]}"

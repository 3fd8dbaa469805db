#!/usr/bin/env bash
# Installs what the Windows build and its runs under Wine need, if any is missing: the
# MinGW-w64 cross compiler, Wine (64-bit) and a virtual X display. Kept apart from setup.sh,
# which every CI run uses and which must not pull Wine in. zCompress.dll links zstd and
# libarchive built from Debian's source packages (scripts/build-win32-deps.sh), so apt needs
# deb-src lines and dpkg-source (dpkg-dev).
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64 cmake ninja-build
  wine64
  xvfb xauth
  dpkg-dev
)

bash "$(dirname "$0")/install-packages.sh" setup-win32 "${packages[@]}"

# deb-src lines mirroring the deb lines of the Debian sources, when there are none yet.
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  sed -n '/^Types: deb$/,/^$/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null |
    sed 's/^Types: deb$/Types: deb-src/' | $sudo tee /etc/apt/sources.list.d/deb-src.sources >/dev/null
  # The older one-line format.
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list 2>/dev/null |
    $sudo tee /etc/apt/sources.list.d/deb-src.list >/dev/null
  $sudo apt-get update -qq
fi

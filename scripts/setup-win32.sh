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

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "setup-win32: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

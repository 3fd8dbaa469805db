#!/usr/bin/env bash
# Installs those of the given Debian packages that are missing, through apt-get (with sudo
# when not root). Usage: scripts/install-packages.sh WHO PACKAGE...   (WHO names the caller)
set -euo pipefail
who="$1"
shift

missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "$who: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

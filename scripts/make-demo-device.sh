#!/usr/bin/env bash
# Lays out a demo device: the volumes of a head unit and a main application that reports
# its own start. Given a build folder, it also installs the unit's libraries and inserts
# update media: on the SD card an application package (made with mkpackage), an MCU image
# and an MPEG image with their version texts; on the internal disk a navigation folder of
# 240 files. No update is requested: write the request word into
# ResidentFlash2/UpdateInfo.dat to start one. Usage: scripts/make-demo-device.sh DIR [BUILD_DIR]
set -euo pipefail
root="${1:?usage: make-demo-device.sh DIR}"
mkdir -p "$root"/{ResidentFlash,ResidentFlash2,ResidentFlash3/ZEL,ResidentFlash4,Windows,"Storage Card",SDHC,硬盘}
app="$root/ResidentFlash3/ZEL/Velmoran.exe"
cat > "$app" <<'APP'
#!/bin/sh
# Stands in for the head unit's main application.
here=$(dirname "$0")
echo "Velmoran main application started at $(date '+%H:%M:%S')" | tee "$here/started.txt"
APP
chmod +x "$app"
shell="$root/Windows/explorer.exe"
cat > "$shell" <<'SHELL'
#!/bin/sh
echo "platform shell started"
SHELL
chmod +x "$shell"
# The unit's registry: the touch driver's key exists from the first start.
cat > "$root/registry.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\TOUCH]

REG
# The decompression library of application updates, when a build folder is given.
build="${2:-}"
if [ -n "$build" ] && [ -f "$build/tools/zCompress.dll" ]; then
  cp "$build/tools/zCompress.dll" "$root/Windows/zCompress.dll"
fi
# The FAT utility library that formatting the storage card loads from "Windows".
if [ -n "$build" ] && [ -f "$build/tools/fatutil.dll" ]; then
  cp "$build/tools/fatutil.dll" "$root/Windows/fatutil.dll"
fi

# Update media, when a build folder is given (mkpackage comes from it).
if [ -n "$build" ] && [ -x "$build/tools/mkpackage" ]; then
  media="$root/SDHC/ZEL_Update"
  mkdir -p "$media"
  # The application package: the same main application plus a data file.
  pkg=$(mktemp -d)
  mkdir -p "$pkg/ZEL"
  cp "$app" "$pkg/ZEL/Velmoran.exe"
  head -c 3000000 /dev/urandom >"$pkg/ZEL/maps.dat"
  "$build/tools/mkpackage" --version "V2.0.0.24-demo" -o "$media/ZEL.bin" "$pkg" >/dev/null
  rm -rf "$pkg"
  # MCU image: 128 KiB whose last 25 bytes carry the version text.
  { head -c 131047 /dev/urandom; printf 'MCU-V3.1.0-20261201'; head -c 6 /dev/zero; } >"$media/MCU"
  # MPEG image: 16 bytes of version text at offset 48, 200 KB in all.
  { head -c 48 /dev/urandom; printf 'MPG-V5.2.7'; head -c 6 /dev/zero; head -c 199936 /dev/urandom; } \
    >"$media/DVDROM.bin"
  # Navigation data on the internal disk: 240 files in four folders.
  for region in north south east west; do
    mkdir -p "$root/硬盘/navi_update/maps/$region"
    for i in $(seq 1 60); do head -c 2048 /dev/urandom >"$root/硬盘/navi_update/maps/$region/tile$i.dat"; done
  done
fi
echo "demo device laid out in $root"

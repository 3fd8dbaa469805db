#!/usr/bin/env bash
# Lays out a demo device: the volumes of a head unit and a main application that reports
# its own start. Usage: scripts/make-demo-device.sh DIR [BUILD_DIR]
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
echo "demo device laid out in $root"

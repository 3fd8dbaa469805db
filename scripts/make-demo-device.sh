#!/usr/bin/env bash
# Lays out a demo device: the volumes of a head unit and a main application that reports
# its own start. Usage: scripts/make-demo-device.sh DIR
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
echo "demo device laid out in $root"

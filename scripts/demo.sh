#!/usr/bin/env bash
# Installs what is missing, builds, lays out the demo device and boots it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
out="demo-out"
rm -rf "$out"
bash scripts/make-demo-device.sh "$out/device"
echo "== boot: nothing requested, the main application starts at once"
./build/quarrin --root "$out/device" --log "$out/boot.log"
sleep 0.2
echo "== the main application reported:"
cat "$out/device/ResidentFlash3/ZEL/started.txt" 2>/dev/null || echo "(it did not start)"

#!/usr/bin/env bash
# Installs what is missing, builds, lays out the demo device and boots it through the
# loader's courses: a plain boot, a request without an update medium (the detection
# countdown), an application install, a navigation update, and an MPEG and MCU firmware
# update against the co-processor simulators. Screens and logs land in demo-out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build >/dev/null
out="demo-out"
rm -rf "$out"
mkdir -p "$out"
device="$out/device"
bash scripts/make-demo-device.sh "$device" build >/dev/null
rate=20

request() { printf "\\x$(printf %02x "$1")\\0\\0\\0" > "$device/ResidentFlash2/UpdateInfo.dat"; }

# boot NAME [quarrin options...]: one boot with its own log, screenshots and screen trace.
boot() {
  local name="$1"
  shift
  echo "== boot: $name"
  local began
  began=$(date +%s%N)
  ${limit:+timeout "$limit"} ./build/quarrin --root "$device" --clock-rate "$rate" --progress --log "$out/$name.log" \
    --screenshots "$out/$name-shots" --screen-trace "$out/$name-trace.txt" "$@" 2>/dev/null |
    awk '!/[0-9]%$/ || /[05]0%$/ || /25%$/ || /75%$/ { print "   screen: " $0; fflush() }' || true
  echo "   took $(( ($(date +%s%N) - began) / 1000000 )) ms; log $out/$name.log"
}

boot plain
request 0x04
boot no-medium

# An application package on the SD card, built from a small application folder.
pkg="$out/package"
mkdir -p "$pkg/ZEL"
cp "$device/ResidentFlash3/ZEL/Velmoran.exe" "$pkg/ZEL/Velmoran.exe"
head -c 3000000 /dev/urandom > "$pkg/ZEL/maps.dat"
mkdir -p "$device/SDHC/ZEL_Update"
./build/tools/mkpackage --version "V2.0.0.24-demo" -o "$device/SDHC/ZEL_Update/ZEL.bin" "$pkg" >/dev/null
request 0x02
boot app-install

# Navigation data on the internal disk: a few hundred files in folders.
for region in north south east west; do
  mkdir -p "$device/硬盘/navi_update/maps/$region"
  for i in $(seq 1 60); do head -c 2048 /dev/urandom > "$device/硬盘/navi_update/maps/$region/tile$i.dat"; done
done
request 0x40
boot navigation

# Firmware for both co-processors, sent to the simulators on pseudo-terminals.
head -c 131072 /dev/urandom > "$device/SDHC/ZEL_Update/MCU"
head -c 60000 /dev/urandom > "$device/SDHC/ZEL_Update/DVDROM.bin"
sim=build/tools/coproc-sim/coproc-sim
exec 3< <(exec "$sim" mcu --image-out "$out/mcu-received.bin" --log "$out/mcu-sim.log")
mcu_pid=$!
read -r mcu_port <&3
exec 4< <(exec "$sim" mpeg --alive-ms 20 --image-out "$out/mpeg-received.bin" --log "$out/mpeg-sim.log")
mpeg_pid=$!
read -r mpeg_port <&4
request 0x0C
# After a good MCU update the unit shows the reset countdown until it is reset; the demo
# resets it when the countdown has run.
limit=25 boot firmware --com "2=$mcu_port" --com "3=$mpeg_port"
kill "$mcu_pid" "$mpeg_pid" 2>/dev/null || true
cmp -s "$out/mcu-received.bin" "$device/SDHC/ZEL_Update/MCU" && echo "   MCU received the card's image"
cmp -s "$out/mpeg-received.bin" "$device/SDHC/ZEL_Update/DVDROM.bin" && echo "   MPEG module received the card's image"

runs=()
for name in no-medium app-install navigation firmware; do runs+=(--run "$out/$name-trace.txt:$out/$name-shots" --title "$name"); done
./build/tools/contact-sheet/contact-sheet "${runs[@]}" --out "$out/contact-sheet.png" >/dev/null 2>&1 &&
  echo "== contact sheet of the distinct screens: $out/contact-sheet.png"

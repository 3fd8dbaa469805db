#!/usr/bin/env bash
# Installs what is missing, builds, lays out the demo device, checks its SD card with
# `quarrin check` (read-only) and boots it three times:
#   1. an update of the application, the MPEG module and the MCU in one run, against the
#      co-processor simulators on pseudo-terminals, ended like a unit reset once the reset
#      countdown has run;
#   2. a navigation update from the internal disk to the storage card;
#   3. a plain boot that starts the main application.
# Each boot leaves its log, screenshots, screen trace and progress lines in demo-out/; the
# script ends with a summary of the boots and a contact sheet of the distinct screens.
# Usage: scripts/demo.sh [--rate R]   (the loader's clock runs R times faster; default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
rate=20
if [ "${1:-}" = "--rate" ]; then rate="${2:?--rate needs a number}"; fi

bash scripts/setup.sh
echo "== build the loader and its tools"
# Only what the demo runs; scripts/test.sh builds the tests into the same folder.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARRIN_WERROR=ON >/dev/null
if ! cmake --build build --target quarrin zCompress fatutil mkpackage coproc-sim \
  contact-sheet >build/demo-build.log 2>&1; then
  cat build/demo-build.log
  exit 1
fi
out="demo-out"
rm -rf "$out"
mkdir -p "$out"
device="$out/device"
bash scripts/make-demo-device.sh "$device" build
sim=build/tools/coproc-sim/coproc-sim

request() { printf "\\x$(printf %02x "$1")\\0\\0\\0" >"$device/ResidentFlash2/UpdateInfo.dat"; }

# boot NAME [quarrin options...]: one boot with its own log, screenshots, screen trace and
# time-stamped progress lines (NAME-progress.txt: milliseconds since the start, then the
# line). The unit resets when the reset countdown has run: the loader is then stopped.
boot() {
  local name="$1"
  shift
  echo "== boot: $name"
  local fifo="$out/.progress-$name"
  mkfifo "$fifo"
  timeout 90 ./build/quarrin --root "$device" --clock-rate "$rate" --progress --log "$out/$name.log" \
    --screenshots "$out/$name-shots" --screen-trace "$out/$name-trace.txt" "$@" >"$fifo" 2>/dev/null &
  local pid=$! began=${EPOCHREALTIME/./} line ms
  while IFS= read -r line; do
    ms=$(((${EPOCHREALTIME/./} - began) / 1000))
    echo "$ms $line" >>"$out/$name-progress.txt"
    # Show the stages and results; percentages only in quarters.
    case "$line" in
    *%) [[ "$line" =~ (0|25|50|75)%$ ]] && echo "   $line" ;;
    "reset countdown"*) [[ "$line" =~ (30|20|10|0)$ ]] && echo "   $line" ;;
    *) echo "   $line" ;;
    esac
    if [ "$line" = "reset countdown 0" ]; then
      echo "   (the unit resets)"
      sleep 0.5 # let the last frame reach its screenshot
      kill "$pid" 2>/dev/null || true
    fi
  done <"$fifo"
  wait "$pid" 2>/dev/null || true
  rm -f "$fifo"
  echo "$(((${EPOCHREALTIME/./} - began) / 1000)) end" >>"$out/$name-progress.txt"
}

# Before the card goes in: what the unit would do with it, read-only.
echo "== check the demo card before it goes in: quarrin check --medium $device/SDHC"
./build/quarrin check --medium "$device/SDHC" --as SDHC | tee "$out/check-card.txt" | sed 's/^/   /' ||
  true

# Boot 1: application, MPEG module and MCU from the SD card.
exec 3< <(exec "$sim" mcu --image-out "$out/mcu-received.bin" --log "$out/mcu-sim.log")
mcu_pid=$!
read -r mcu_port <&3
exec 4< <(exec "$sim" mpeg --alive-ms 20 --image-out "$out/mpeg-received.bin" --log "$out/mpeg-sim.log")
mpeg_pid=$!
read -r mpeg_port <&4
request 0x0E
boot update --com "2=$mcu_port" --com "3=$mpeg_port"
kill "$mcu_pid" "$mpeg_pid" 2>/dev/null || true
media="$device/SDHC/ZEL_Update"
received() { cmp -s "$1" "$2" && echo "$3 received the card's image, byte for byte" || echo "$3 did NOT receive the card's image"; }
firmware_check="$(received "$out/mpeg-received.bin" "$media/DVDROM.bin" "MPEG module"); $(received "$out/mcu-received.bin" "$media/MCU" "MCU")"
echo "   $firmware_check"

# Boot 2: navigation data from the internal disk.
request 0x40
echo "== check the unit before the navigation boot: $(./build/quarrin check --root "$device" |
  tee "$out/check-navigation.txt" | tail -n 1)"
boot navigation

# Boot 3: nothing requested.
boot plain

# One row per stage of each boot: its result and how long it took (real time at the
# chosen clock rate), then how the boot ended.
summary() {
  local name="$1"
  awk -v boot="$name" '
    function kind_of(line) {
      if (line ~ /^application restore /) return "application restore"
      if (line ~ /^(application|MPEG|MCU|navigation) /) { split(line, w, " "); return w[1] }
      return ""
    }
    {
      t = $1; line = substr($0, length($1) + 2)
      k = kind_of(line)
      if (k != "") {
        if (!(k in start)) { start[k] = t; order[++n] = k }
        rest = substr(line, length(k) + 2)
        if (rest ~ /^(success|failed)/) { result[k] = rest; finish[k] = t }
      }
      if (line ~ /^reset countdown/) { if (cd == "") cd = t; cdend = t; cdlast = line }
      if (line ~ /main application started/) launched = t
      if (line == "end") total = t
    }
    END {
      first = 1
      for (i = 1; i <= n; i++) {
        k = order[i]
        r = (k in result) ? result[k] : "no result"
        d = (k in finish) ? sprintf("%.1f s", (finish[k] - start[k]) / 1000) : "-"
        printf "%-11s %-20s %-28s %8s\n", first ? boot : "", k, r, d; first = 0
      }
      if (cd != "") { printf "%-11s %-20s %-28s %8s\n", first ? boot : "", "reset countdown", "ran to 0, unit reset", sprintf("%.1f s", (cdend - cd) / 1000); first = 0 }
      if (launched != "") { printf "%-11s %-20s %-28s %8s\n", first ? boot : "", "launch", "main application started", sprintf("at %.1f s", launched / 1000); first = 0 }
      printf "%-11s %-20s %-28s %8s\n", "", "whole boot", "", sprintf("%.1f s", total / 1000)
    }' "$out/$name-progress.txt"
}

echo
echo "== summary (times are real time with the loader's clock $rate times faster)"
printf "%-11s %-20s %-28s %8s\n" boot stage result time
for name in update navigation plain; do summary "$name"; done
echo "$firmware_check"

runs=()
for name in update navigation; do runs+=(--run "$out/$name-trace.txt:$out/$name-shots" --title "$name"); done
./build/tools/contact-sheet/contact-sheet "${runs[@]}" --out "$out/contact-sheet.png" >/dev/null 2>&1 &&
  echo "== contact sheet of the distinct screens: $out/contact-sheet.png"
echo "== logs, screenshots and screen traces of each boot: $out/"

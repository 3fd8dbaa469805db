#!/usr/bin/env bash
# Samples the real loader's memory while a co-processor floods it, one flood at a time:
#
#   mcu-wrong-acks        the MCU acknowledges blocks 32766 and 32767 in turn, as fast as the
#                         line takes them, from the first data block on
#   mcu-wrong-acks-deaf   the same, and the MCU stops reading the line
#   mpeg-wrong-acks       the MPEG module asks for blocks 0 and 1 in turn
#   mpeg-wrong-acks-deaf  the same, and the module stops reading
#   mcu-status-deaf       status messages to be acknowledged, and the MCU stops reading
#   mcu-update-ack-deaf   update acknowledgements, and the MCU stops reading
#
# Each flood runs SECONDS (default 30) on pseudo-terminals at full speed (--clock-rate 20);
# the resident memory (VmRSS) is printed every second, then the growth from the end of the
# second second on, in KiB per second. tests/reliability/FloodMemoryTest.cpp runs all floods
# at once for a few seconds.
#
# Usage: scripts/flood-memory.sh [BUILD] [SECONDS] [FLOOD...]
set -euo pipefail

build=${1:-build}
seconds=${2:-30}
shift $(( $# > 2 ? 2 : $# ))
build=$(cd "$build" && pwd)
quarrin="$build/quarrin"
sim="$build/tools/coproc-sim/coproc-sim"
for program in "$quarrin" "$sim"; do
  [ -x "$program" ] || { echo "missing $program (build quarrin and coproc-sim)" >&2; exit 2; }
done
work=$(mktemp -d /tmp/flood-memory.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

declare -A floods=(
  [mcu-wrong-acks]="4 mcu --flood wrong-acks"
  [mcu-wrong-acks-deaf]="4 mcu --flood wrong-acks --deaf-after 5"
  [mpeg-wrong-acks]="8 mpeg --flood wrong-acks"
  [mpeg-wrong-acks-deaf]="8 mpeg --flood wrong-acks --deaf-after 5"
  [mcu-status-deaf]="4 mcu --flood status --deaf-after 1"
  [mcu-update-ack-deaf]="4 mcu --flood update-ack --deaf-after 1"
)
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(mcu-wrong-acks mcu-wrong-acks-deaf mpeg-wrong-acks
                                  mpeg-wrong-acks-deaf mcu-status-deaf mcu-update-ack-deaf)

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }

run_flood() {  # NAME
  local name="$1" d="$work/$1" request kind mcu_opts=() mpeg_opts=()
  read -r request kind rest <<< "${floods[$name]}"
  read -r -a extra <<< "$rest"
  if [ "$kind" = mcu ]; then mcu_opts=("${extra[@]}"); else mpeg_opts=("${extra[@]}"); fi
  mkdir -p "$d"/{ResidentFlash2,ResidentFlash3/ZEL,SDHC/ZEL_Update}
  printf '#!/bin/sh\nexit 0\n' > "$d/ResidentFlash3/ZEL/Velmoran.exe"
  chmod +x "$d/ResidentFlash3/ZEL/Velmoran.exe"
  head -c 131072 /dev/urandom > "$d/SDHC/ZEL_Update/MCU"
  head -c 240000 /dev/urandom > "$d/SDHC/ZEL_Update/DVDROM.bin"
  printf "\\x0$request\\x00\\x00\\x00" > "$d/ResidentFlash2/UpdateInfo.dat"
  "$sim" mcu --log /dev/null "${mcu_opts[@]}" > "$d.mcu.tty" & pids+=($!)
  "$sim" mpeg --alive-ms 5 --log /dev/null "${mpeg_opts[@]}" > "$d.mpeg.tty" & pids+=($!)
  sleep 0.2
  "$quarrin" --root "$d" --clock-rate 20 --com "2=$(head -1 "$d.mcu.tty")" \
    --com "3=$(head -1 "$d.mpeg.tty")" > /dev/null 2>&1 &
  local loader=$! samples=() t from=0
  pids+=("$loader")
  for ((t = 1; t <= seconds; t++)); do
    sleep 1
    samples+=("$(rss "$loader")")
  done
  from=${samples[1]:-0}
  echo "$name: ${samples[*]} KiB; growth $(( (${samples[-1]} - from) / (seconds > 2 ? seconds - 2 : 1) )) KiB/s"
  kill -9 "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  pids=()
}

for name in "${names[@]}"; do
  [ -n "${floods[$name]:-}" ] || { echo "unknown flood $name" >&2; exit 2; }
  run_flood "$name"
done

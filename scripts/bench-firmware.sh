#!/usr/bin/env bash
# Measures the firmware block transfers of the real loader against the co-processor simulator:
# the time from the arrival of the first data block to the arrival of the end frame, for an
# MCU update (1024 blocks of 128 bytes) and an MPEG update of a 1 MiB image (4370 blocks of at
# most 240 bytes).
#
#   paced    the simulator keeps to the real line rate (MCU 38400 baud, MPEG 115200 baud,
#            10 bits per byte, in both directions). The transfer is stop-and-wait, so its
#            physical limit is the time the line needs for every block, acknowledgement and
#            the end frame; the loader's share is what the run takes beyond that limit.
#   unpaced  pseudo-terminals at full speed: the loader's (and simulator's) own cost per block.
#
# The times come from the simulator (--timing), not from the wall clock of the whole run.
# The paced runs take about 2.5 minutes (--clock-rate 1, so that no retry timer fires early).
#
# Usage: scripts/bench-firmware.sh [BUILD] [--unpaced-only]
set -euo pipefail

build=build
paced=1
for arg in "$@"; do
  case "$arg" in
    --unpaced-only) paced=0 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) build="$arg" ;;
  esac
done
build=$(cd "$build" && pwd)
quarrin="$build/quarrin"
sim="$build/tools/coproc-sim/coproc-sim"
for program in "$quarrin" "$sim"; do
  [ -x "$program" ] || { echo "missing $program (build the quarrin and coproc-sim targets)" >&2; exit 2; }
done
work=$(mktemp -d /tmp/bench-firmware.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

make_device() {  # DEVICE KIND
  local d="$1"
  mkdir -p "$d"/{ResidentFlash,ResidentFlash2,ResidentFlash3/ZEL,Windows,SDHC/ZEL_Update}
  printf '#!/bin/sh\nexit 0\n' > "$d/ResidentFlash3/ZEL/Velmoran.exe"
  chmod +x "$d/ResidentFlash3/ZEL/Velmoran.exe"
  if [ "$2" = mcu ]; then
    head -c 131072 /dev/urandom > "$d/SDHC/ZEL_Update/MCU"
    printf '\x04\x00\x00\x00' > "$d/ResidentFlash2/UpdateInfo.dat"
  else
    head -c 1048576 /dev/urandom > "$d/SDHC/ZEL_Update/DVDROM.bin"
    printf '\x08\x00\x00\x00' > "$d/ResidentFlash2/UpdateInfo.dat"
  fi
}

start_sim() {  # NAME KIND [OPTIONS...] ; sets SIM_TTY
  local name="$1"; shift
  "$sim" "$@" --log "$work/$name.log" > "$work/$name.tty" &
  pids+=($!)
  for _ in $(seq 1 200); do
    [ -s "$work/$name.tty" ] && break
    sleep 0.01
  done
  SIM_TTY=$(head -n 1 "$work/$name.tty")
}

# One transfer; sets SECONDS_TAKEN, BLOCKS and REACTION (the loader's answer times, summed).
run_case() {  # KIND PACED
  local kind="$1" pace="$2" device="$work/device-$1-$2" timing="$work/timing-$1-$2"
  local pace_opt=()
  [ "$pace" = paced ] && pace_opt=(--pace)
  make_device "$device" "$kind"
  local image="$device/SDHC/ZEL_Update/MCU"
  [ "$kind" = mpeg ] && image="$device/SDHC/ZEL_Update/DVDROM.bin"
  if [ "$kind" = mcu ]; then
    start_sim $kind-$pace-mcu mcu "${pace_opt[@]}" --timing "$timing" --image-out "$work/got-$kind-$pace"
    mcu_tty=$SIM_TTY
    start_sim $kind-$pace-mpeg mpeg
    mpeg_tty=$SIM_TTY
  else
    start_sim $kind-$pace-mcu mcu
    mcu_tty=$SIM_TTY
    start_sim $kind-$pace-mpeg mpeg "${pace_opt[@]}" --alive-ms 20 --timing "$timing" \
      --image-out "$work/got-$kind-$pace"
    mpeg_tty=$SIM_TTY
  fi
  # NOTE: the loader is not run under nice: it sleeps nearly all the time, and on a busy
  # machine a niced process waits for the processor at each of the three thread hand-overs
  # per block (receive thread, dialog thread, send thread), which measures the machine's
  # load rather than the loader.
  "$quarrin" --root "$device" --com "2=$mcu_tty" --com "3=$mpeg_tty" --clock-rate 1 \
    > /dev/null 2> "$work/quarrin-$kind-$pace.err" &
  local loader=$!
  pids+=($loader)
  for _ in $(seq 1 3000); do
    [ -s "$timing" ] && break
    kill -0 "$loader" 2>/dev/null || break
    sleep 0.1
  done
  sleep 0.2
  # Processor time the loader used, whole run (user + system), in seconds.
  CPU_TAKEN=$(awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' \
    "/proc/$loader/stat" 2>/dev/null || echo "?")
  kill "$loader" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
  [ -s "$timing" ] || { echo "no timing from the $kind $pace run" >&2; exit 1; }
  cmp -s "$image" "$work/got-$kind-$pace" || { echo "the $kind $pace image differs" >&2; exit 1; }
  read -r SECONDS_TAKEN BLOCKS REACTION < <(awk '{ printf "%.3f %d %.3f\n", ($2 - $1) / 1e6, $3, $4 / 1e6 }' "$timing")
}

# The line time of the measured span: every acknowledgement, every block after the first and
# the end frame, at 10 bits per byte.
limit_seconds() {  # BLOCKS BLOCK_FRAME LAST_FRAME ACK END BAUD
  awk -v n="$1" -v b="$2" -v last="$3" -v ack="$4" -v end="$5" -v baud="$6" \
    'BEGIN { bytes = n * ack + (n - 2) * b + last + end; printf "%.3f\n", bytes * 10 / baud }'
}

echo "firmware block transfer, first data block to end frame, timed by the simulator"
mcu_limit=$(limit_seconds 1024 135 135 7 7 38400)
mpeg_limit=$(limit_seconds 4370 247 23 7 7 115200)
if [ "$paced" = 1 ]; then
  for kind in mcu mpeg; do
    run_case "$kind" paced
    seconds=$SECONDS_TAKEN blocks=$BLOCKS
    limit=$mcu_limit; [ "$kind" = mpeg ] && limit=$mpeg_limit
    awk -v k="$kind" -v s="$seconds" -v l="$limit" -v n="$blocks" -v r="$REACTION" 'BEGIN {
      printf "  %-4s paced    %8.3f s for %d blocks; line limit %.3f s; %.3f s (%.2f %%) above it,\n", k, s, n, l, s - l, (s - l) / l * 100
      printf "                of which the loader took %.3f s to answer (%.2f %% of the limit, %.0f us per block);\n", r, r / l * 100, r / n * 1e6
      printf "                the rest is the simulator (its sleeps overshoot, its logging)\n" }'
  done
fi
for kind in mcu mpeg; do
  run_case "$kind" unpaced
  seconds=$SECONDS_TAKEN blocks=$BLOCKS
  awk -v k="$kind" -v s="$seconds" -v n="$blocks" -v cpu="$CPU_TAKEN" -v r="$REACTION" 'BEGIN {
    printf "  %-4s unpaced  %8.3f s for %d blocks: %.0f us per block round trip, of which the loader %.0f us;\n", k, s, n, s / n * 1e6, r / n * 1e6
      printf "                loader processor time %s s for the whole run\n", cpu }'
done

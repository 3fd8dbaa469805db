#!/usr/bin/env bash
# Measures the direct-launch course: the time from starting quarrin to the start of the main
# application, against starting the same program directly. Usage: scripts/bench-launch.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-41}"
[ -x build/quarrin ] || bash scripts/build.sh build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/device"
mkdir -p "$root/ResidentFlash3/ZEL" "$root/ResidentFlash2"
app="$root/ResidentFlash3/ZEL/Velmoran.exe"
printf '#!/bin/sh\ndate +%%s%%N > "$(dirname "$0")/started"\n' > "$app"
chmod +x "$app"

# Prints the microseconds from the command's start to the program's own start.
measure() {
  rm -f "$root/ResidentFlash3/ZEL/started"
  local begin
  begin=$(date +%s%N)
  "$@" 2>/dev/null
  # Poll gently: a busy loop would take a core from the program being started.
  while [ ! -s "$root/ResidentFlash3/ZEL/started" ]; do sleep 0.001; done
  echo $(( ($(cat "$root/ResidentFlash3/ZEL/started") - begin) / 1000 ))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for _ in $(seq "$runs"); do measure build/quarrin --root "$root"; done | median > "$work/loader"
spawn_direct() { "$app" & }
for _ in $(seq "$runs"); do measure spawn_direct; done | median > "$work/direct"
echo "direct launch through quarrin: median $(cat "$work/loader") us over $runs runs"
echo "the same program started directly: median $(cat "$work/direct") us over $runs runs"

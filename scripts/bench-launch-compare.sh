#!/usr/bin/env bash
# Compares the direct-launch course of two quarrin binaries, as scripts/bench-launch.sh
# measures it (from starting quarrin to the start of the main application), alternating the
# two run by run so that a changing load on the machine weighs on both alike.
# Usage: scripts/bench-launch-compare.sh BEFORE AFTER [RUNS]
set -euo pipefail
[ $# -ge 2 ] || { sed -n '2,5p' "$0"; exit 2; }
before="$1"
after="$2"
runs="${3:-201}"
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
  while [ ! -s "$root/ResidentFlash3/ZEL/started" ]; do sleep 0.001; done
  echo $(( ($(cat "$root/ResidentFlash3/ZEL/started") - begin) / 1000 ))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for _ in $(seq "$runs"); do
  measure "$before" --root "$root" >> "$work/before"
  measure "$after" --root "$root" >> "$work/after"
done
echo "before: median $(median < "$work/before") us, after: median $(median < "$work/after") us over $runs runs each"

#!/usr/bin/env bash
# Measures the direct-launch course: the time from starting quarrin to the start of the main
# application, against starting the same program directly. The two kinds of run alternate
# (A B A B ...), so a load that comes and goes on a shared machine touches both alike.
#   scripts/bench-launch.sh [RUNS] [BUILD_DIR]      (defaults: 41 runs of each, build)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-41}"
build="${2:-build}"
[ -x "$build/quarrin" ] || bash scripts/build.sh "$build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/device"
mkdir -p "$root/ResidentFlash3/ZEL" "$root/ResidentFlash2"
app="$root/ResidentFlash3/ZEL/Velmoran.exe"
# The program tells its start through a pipe: the script waits in a read, not in a polling
# loop that would take a core from the program being started.
started="$work/started"
mkfifo "$started"
printf '#!/bin/sh\ndate +%%s%%N > "%s"\n' "$started" >"$app"
chmod +x "$app"
exec 3<>"$started"

# Prints the microseconds from the command's start to the program's own start.
measure() {
  local begin end
  begin=${EPOCHREALTIME/./}
  "$@" 2>/dev/null 3>&-
  read -r -t 10 -u 3 end || { echo "bench-launch: the program did not start: $*" >&2; exit 1; }
  echo $((end / 1000 - begin))
}
spawn_direct() { "$app" & }

# Runs that have not started yet, for the page cache and the dynamic loader's caches.
for _ in 1 2 3; do measure "$build/quarrin" --root "$root" >/dev/null; measure spawn_direct >/dev/null; done
for _ in $(seq "$runs"); do
  measure "$build/quarrin" --root "$root" >>"$work/loader"
  measure spawn_direct >>"$work/direct"
done

# summary FILE: the median, and the 25th and 75th percentiles as the spread.
summary() {
  sort -n "$1" | awk '{ v[NR] = $1 } END {
    printf "median %d us (quartiles %d to %d)", v[int((NR + 1) / 2)], v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)] }'
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "direct launch through quarrin:     $(summary "$work/loader") over $runs runs"
echo "the same program started directly: $(summary "$work/direct") over $runs runs"
echo "quarrin adds: $(($(median "$work/loader") - $(median "$work/direct"))) us (difference of the medians)"

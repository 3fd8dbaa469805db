#!/usr/bin/env bash
# Compares the navigation update's file work with the host's tools on the same disk:
#   the navigation folder copied to the card by CopyTree (the worker's copy path) against cp -r,
#   the marker and placeholder files (50 MiB in 6 files) against dd of the same sizes.
# Usage: scripts/bench-navi.sh [BUILD_DIR] (default build)
# Environment: NAVI_MIB total size of the navigation folder (default 256; the device's is 2048),
#   NAVI_FILES number of files (default 2000; the device's about 20000) in 100 folders,
#   BENCH_DIR where the trees go (default /tmp; needs about 3 x NAVI_MIB free),
#   REPEAT runs of each timing, the fastest counts (default 3).
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
mib="${NAVI_MIB:-256}"
files="${NAVI_FILES:-2000}"
repeat="${REPEAT:-3}"
work="$(mktemp -d "${BENCH_DIR:-/tmp}/quarrin-navi-XXXXXX")"
trap 'rm -rf "$work"' EXIT
root="$work/device"
mkdir -p "$root"/{Windows,"硬盘/navi_update","Storage Card"}
src="$root/硬盘/navi_update"

folders=100
per_folder=$(( (files + folders - 1) / folders ))
file_bytes=$(( mib * 1048576 / (per_folder * folders) ))
for d in $(seq 1 "$folders"); do
  mkdir -p "$src/map$d"
  head -c $(( file_bytes * per_folder )) /dev/urandom |
    split -b "$file_bytes" -a 4 -d - "$src/map$d/tile"
done
echo "navigation folder: $(du -sm "$src" | cut -f1) MiB in $(find "$src" -type f | wc -l) files"

# Fastest of $repeat runs of "$@", each after a sync and the given clean-up.
fastest() {
  local cleanup="$1"; shift
  local best="" t s
  for _ in $(seq 1 "$repeat"); do
    eval "$cleanup"
    sync
    s=$(date +%s.%N)
    "$@" >/dev/null
    t=$(echo "$(date +%s.%N) - $s" | bc)
    if [[ -z "$best" ]] || (( $(echo "$t < $best" | bc) )); then best=$t; fi
  done
  eval "$cleanup"
  printf '%.3f' "$best"
}

card="$root/Storage Card"
copy_tree=$(fastest 'rm -rf "$card/navi"' \
  "$build/tools/workbench" "$root" copy '硬盘\navi_update' 'Storage Card\navi')
copy_cp=$(fastest 'rm -rf "$work/cp-copy"' cp -r "$src" "$work/cp-copy")
echo "copy          CopyTree     ${copy_tree} s"
echo "copy          cp -r        ${copy_cp} s     ratio $(echo "scale=2; $copy_tree / $copy_cp" | bc)"

dd_placeholders() {
  local out="$work/dd-card"
  mkdir -p "$out"
  : > "$out/UPDOS"
  dd if=/dev/zero of="$out/logo.bmp" bs=1M count=2 status=none
  dd if=/dev/zero of="$out/NANDINFO" bs=64K count=1 status=none
  dd if=/dev/zero of="$out/PQ.bin" bs=1M count=2 status=none
  dd if=/dev/zero of="$out/xip.bin" bs=1M count=40 status=none
  dd if=/dev/zero of="$out/EROM_RTK.bin" bs=1M count=2 status=none
}
place_loader=$(fastest 'rm -f "$card"/{UPDOS,logo.bmp,NANDINFO,PQ.bin,xip.bin,EROM_RTK.bin}' \
  "$build/tools/workbench" "$root" placeholders)
place_dd=$(fastest 'rm -rf "$work/dd-card"' dd_placeholders)
echo "placeholders  loader       ${place_loader} s"
echo "placeholders  dd           ${place_dd} s     ratio $(echo "scale=2; $place_loader / $place_dd" | bc)"

#!/usr/bin/env bash
# Processor time of CopyTree and DeleteTree on 20,000 files of 1 KiB in 200 folders, on a
# memory file system so that the disk does not blur the figures: once on a volume that is a
# plain folder, once on a volume that is a link to a folder outside the device root (a real
# card under the loader). With a second build folder, its workbench runs the same trees in
# turn with the first, for a before-and-after comparison.
# Usage: scripts/bench-tree.sh [BUILD_DIR [OTHER_BUILD_DIR]] (default build); REPEAT runs
# (default 3); BENCH_DIR where the trees go (default /dev/shm, about 200 MiB).
set -euo pipefail
builds=("$(cd "${1:-build}" && pwd)")
[ -n "${2:-}" ] && builds+=("$(cd "$2" && pwd)")
work="$(mktemp -d "${BENCH_DIR:-/dev/shm}/quarrin-bench-tree-XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/plain/Storage Card" "$work/linked" "$work/card"
ln -s "$work/card" "$work/linked/Storage Card"
for d in $(seq 1 200); do
  mkdir -p "$work/card/tree/d$d"
  for f in $(seq 1 100); do printf '%1024d' "$f" > "$work/card/tree/d$d/f$f"; done
done
cp -r "$work/card/tree" "$work/plain/Storage Card/tree"

# Processor seconds of one run, or "failed" (a build that refuses the linked volume).
cpu() {
  /usr/bin/time -o "$work/time" -f '%U %S %x' "$@" >/dev/null 2>&1 || true
  tail -1 "$work/time" | awk '{ if ($3 == 0) printf "%.2f", $1 + $2; else printf "failed" }'
}

echo "build  volume  CopyTree(s CPU)  DeleteTree(s CPU)"
for run in $(seq 1 "${REPEAT:-3}"); do
  for build in "${builds[@]}"; do
    for volume in plain linked; do
      root="$work/$volume"
      copy=$(cpu "$build/tools/workbench" "$root" copy 'Storage Card\tree' 'Storage Card\copy')
      delete=$(cpu "$build/tools/workbench" "$root" delete 'Storage Card\copy')
      echo "$(basename "$(dirname "$build")")/$(basename "$build")  $volume  $copy  $delete"
    done
  done
done

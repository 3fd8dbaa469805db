#!/usr/bin/env bash
# CopyTree and DeleteTree against `cp -r` and `rm -rf` on 20,000 files of 1 KiB in 200 folders,
# on a memory file system and on disk. Each pair runs the host tool and the loader's workbench
# in turn on the same tree (A B A B ...), so a machine that other work loads slows both alike;
# the ratio of each pair is the loader's processor time (user + system) over the tool's, and
# the script prints the median ratio of the pairs with their lowest and highest.
# Usage: scripts/bench-tree.sh [BUILD_DIR] (default build). PAIRS pairs per figure (default 9);
# TMPFS_DIR and DISK_DIR where the trees go (default /dev/shm and the build folder; a folder
# whose file system is not what it stands for is reported and skipped).
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
pairs="${PAIRS:-9}"
workbench="$build/tools/workbench"
[ -x "$workbench" ] || { echo "bench-tree: no $workbench (build the tools first)" >&2; exit 1; }

# Processor seconds (user + system) of one run, to the microsecond (time(1) gives only
# hundredths, a tenth of a deletion's time); stops the script when the run fails.
cpu() {
  python3 -c '
import resource, subprocess, sys
run = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
used = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{used.ru_utime + used.ru_stime:.6f}")
sys.exit(run.returncode)' "$@" || { echo "bench-tree: failed: $*" >&2; exit 1; }
}

# "median (lowest-highest)" of the ratios given one a line.
summary() {
  sort -g | awk '{ r[NR] = $1 } END {
    m = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
    printf "%.2f (%.2f-%.2f)", m, r[1], r[NR] }'
}

# Runs the pairs on a tree below $1 and prints the two ratios.
measure() {
  local label="$1" work
  work="$(mktemp -d "$2/quarrin-bench-tree-XXXXXX")"
  trap 'rm -rf "$work"' RETURN
  local tree="$work/root/Storage Card/tree"
  mkdir -p "$tree/d1"
  for f in $(seq 1 100); do printf '%1024d' "$f" > "$tree/d1/f$f"; done
  for d in $(seq 2 200); do cp -r "$tree/d1" "$tree/d$d"; done
  local copies=() deletes=() host loader
  for _ in $(seq 1 "$pairs"); do
    host=$(cpu cp -r "$tree" "$work/host-copy")
    loader=$(cpu "$workbench" "$work/root" copy 'Storage Card\tree' 'Storage Card\copy')
    copies+=("$(awk -v a="$loader" -v b="$host" 'BEGIN { print a / b }')")
    host=$(cpu rm -rf "$work/host-copy")
    loader=$(cpu "$workbench" "$work/root" delete 'Storage Card\copy')
    deletes+=("$(awk -v a="$loader" -v b="$host" 'BEGIN { print a / b }')")
    [ ! -e "$work/root/Storage Card/copy" ] || { echo "bench-tree: copy left behind" >&2; exit 1; }
  done
  printf '%-6s  CopyTree / cp -r    %s\n' "$label" "$(printf '%s\n' "${copies[@]}" | summary)"
  printf '%-6s  DeleteTree / rm -rf %s\n' "$label" "$(printf '%s\n' "${deletes[@]}" | summary)"
}

fs_type() { df --output=fstype "$1" | tail -1 | tr -d ' '; }

echo "processor time ratios, median (lowest-highest) of $pairs pairs"
tmpfs_dir="${TMPFS_DIR:-/dev/shm}"
disk_dir="${DISK_DIR:-$build}"
if [ "$(fs_type "$tmpfs_dir")" = tmpfs ]; then measure tmpfs "$tmpfs_dir"
else echo "tmpfs   skipped: $tmpfs_dir is $(fs_type "$tmpfs_dir")"; fi
if [ "$(fs_type "$disk_dir")" != tmpfs ]; then measure "$(fs_type "$disk_dir")" "$disk_dir"
else echo "disk    skipped: $disk_dir is tmpfs"; fi

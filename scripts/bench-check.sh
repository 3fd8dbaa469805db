#!/usr/bin/env bash
# Times `quarrin check` on a medium that holds an application package and a navigation folder,
# side by side with the host's own readers of the same data: `zstd -t` on the package's
# archive plus `du -s` on the navigation folder. The goal is at most 1.2 times their sum.
# Usage: scripts/bench-check.sh [BUILD_DIR] (default build)
# Environment: PACKAGE_FILES files in the package (default 5000, 40 KiB each, half random:
#   about 100 MiB packed), NAVI_MIB size of the navigation folder (default 2048), NAVI_FILES
#   its files (default 20000) in 100 folders, BENCH_DIR where the medium goes (default /tmp;
#   needs NAVI_MIB plus about 300 MiB), REPEAT runs of each timing, the fastest counts
#   (default 5). The files are read warm, from the host's cache, by every tool alike.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
package_files="${PACKAGE_FILES:-5000}"
mib="${NAVI_MIB:-2048}"
files="${NAVI_FILES:-20000}"
repeat="${REPEAT:-5}"
work="$(mktemp -d "${BENCH_DIR:-/tmp}/quarrin-check-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT
medium="$work/card"
mkdir -p "$medium/ZEL_Update" "$medium/navi_update"

# The package: files of 40 KiB, half random and half text, in folders of 100.
src="$work/package"
for d in $(seq 1 $(( (package_files + 99) / 100 ))); do
  mkdir -p "$src/ZEL/dir$d"
  for f in $(seq 1 100); do
    (( (d - 1) * 100 + f > package_files )) && break
    { head -c 20480 /dev/urandom; head -c 20480 < <(yes "line $d $f of the application"); } \
      > "$src/ZEL/dir$d/file$f.dat"
  done
done
cp "$build/tools/zCompress.dll" "$src/ZEL/Velmoran.exe"
"$build/tools/mkpackage" -o "$medium/ZEL_Update/ZEL.bin" "$src" >/dev/null
rm -rf "$src"
tail -c +65 "$medium/ZEL_Update/ZEL.bin" > "$work/archive.tar.zst"

# The navigation folder: 100 folders of equal files.
navi="$medium/navi_update"
per_folder=$(( (files + 99) / 100 ))
file_bytes=$(( mib * 1048576 / (per_folder * 100) ))
for d in $(seq 1 100); do
  mkdir -p "$navi/map$d"
  head -c $(( file_bytes * per_folder )) /dev/urandom | split -b "$file_bytes" -a 4 -d - "$navi/map$d/tile"
done
echo "package: $(du -m "$medium/ZEL_Update/ZEL.bin" | cut -f1) MiB, $package_files files;" \
  "navigation: $(du -sm "$navi" | cut -f1) MiB in $(find "$navi" -type f | wc -l) files"

# Fastest of $repeat runs of the command line given as one string.
fastest() {
  local best="" t s
  for _ in $(seq 1 "$repeat"); do
    s=$(date +%s.%N)
    eval "$1" >/dev/null 2>&1 || true
    t=$(echo "$(date +%s.%N) - $s" | bc)
    if [[ -z "$best" ]] || (( $(echo "$t < $best" | bc) )); then best=$t; fi
  done
  printf '%.3f' "$best"
}

# Warm every file once, for all tools alike.
cat "$medium/ZEL_Update/ZEL.bin" "$work/archive.tar.zst" >/dev/null
du -s "$navi" >/dev/null
check=$(fastest "'$build/quarrin' check --medium '$medium' --as SDHC")
tools=$(fastest "zstd -t -q '$work/archive.tar.zst' && du -s '$navi'")
zstd_t=$(fastest "zstd -t -q '$work/archive.tar.zst'")
du_s=$(fastest "du -s '$navi'")
echo "quarrin check --medium      ${check} s"
echo "zstd -t + du -s             ${tools} s   (zstd -t ${zstd_t} s, du -s ${du_s} s)"
echo "ratio                       $(echo "scale=2; $check / $tools" | bc)   (goal: at most 1.2)"

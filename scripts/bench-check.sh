#!/usr/bin/env bash
# Times `quarrin check` on a medium that holds an application package and a navigation folder,
# side by side with the host's own readers of the same data: `zstd -t` on the package's
# archive plus `du -s` on the navigation folder. The goal is at most 1.2 times their sum.
# Usage: scripts/bench-check.sh [BUILD_DIR] (default build)
# Environment: PACKAGE_FILES files in the package (default 5000, 40 KiB each, half random:
#   about 100 MiB packed), NAVI_MIB size of the navigation folder (default 2048), NAVI_FILES
#   its files (default 20000) in 100 folders, BENCH_DIR where the medium goes (default /tmp;
#   needs NAVI_MIB plus about 300 MiB), REPEAT turns of each timing, the fastest counts
#   (default 15). The files are read warm, from the host's cache, by every tool alike.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
package_files="${PACKAGE_FILES:-5000}"
mib="${NAVI_MIB:-2048}"
files="${NAVI_FILES:-20000}"
repeat="${REPEAT:-15}"
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

# Milliseconds of one run of the command line given as one string.
millis() {
  local s
  s=$(date +%s%N)
  eval "$1" >/dev/null 2>&1 || true
  echo $(( ($(date +%s%N) - s) / 1000000 ))
}

# Warm every file once, for all tools alike; then the check and the tools take turns, so that
# the load of a shared machine falls on both alike, and the fastest run of each counts.
cat "$medium/ZEL_Update/ZEL.bin" "$work/archive.tar.zst" >/dev/null
du -s "$navi" >/dev/null
check_cmd="'$build/quarrin' check --medium '$medium' --as SDHC"
zstd_cmd="zstd -t -q '$work/archive.tar.zst'"
du_cmd="du -s '$navi'"
check=999999 tools=999999 zstd_t=999999 du_s=999999
for _ in $(seq 1 "$repeat"); do
  t=$(millis "$check_cmd"); (( t < check )) && check=$t
  t=$(millis "$zstd_cmd && $du_cmd"); (( t < tools )) && tools=$t
  t=$(millis "$zstd_cmd"); (( t < zstd_t )) && zstd_t=$t
  t=$(millis "$du_cmd"); (( t < du_s )) && du_s=$t
done
echo "quarrin check --medium      ${check} ms"
echo "zstd -t + du -s             ${tools} ms   (zstd -t ${zstd_t} ms, du -s ${du_s} ms)"
echo "ratio                       $(echo "scale=2; $check / $tools" | bc)   (goal: at most 1.2)"

#!/usr/bin/env bash
# Compares the loader's file work with the host's tools:
#   checking (mkpackage --verify) and unpacking a 200 MiB / 5,000-file package (zCompress.dll)
#   against tar --zstd -xf, and
#   DeleteTree / CopyTree on 20,000 files against rm -rf / cp -r.
# Usage: scripts/bench-unpack.sh [BUILD_DIR] (default build). Needs about 1 GiB in /tmp.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
work="$(mktemp -d /tmp/quarrin-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT
root="$work/device"
mkdir -p "$root"/{Windows,SDHC/ZEL_Update,ResidentFlash3,"Storage Card"}
cp "$build/tools/zCompress.dll" "$root/Windows/"

seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null; echo "$(date +%s.%N) - $s" | bc; }

# 5,000 files of 40 KiB (half random, half text-like) in 50 folders: about 200 MiB.
src="$work/source"
for d in $(seq 1 50); do
  mkdir -p "$src/ZEL/dir$d"
  for f in $(seq 1 100); do
    { head -c 20480 /dev/urandom; head -c 20480 < <(yes "line $d $f of the application"); } \
      > "$src/ZEL/dir$d/file$f.dat"
  done
done
printf '#!/bin/sh\n' >"$src/ZEL/Velmoran.exe"  # a package must bring the application
"$build/tools/mkpackage" -o "$root/SDHC/ZEL_Update/ZEL.bin" "$src" >/dev/null
tail -c +65 "$root/SDHC/ZEL_Update/ZEL.bin" > "$work/plain.tar.zst"
echo "package: $(du -m "$root/SDHC/ZEL_Update/ZEL.bin" | cut -f1) MiB, $(find "$src" -type f | wc -l) files"

echo "verify  mkpackage     $(seconds "$build/tools/mkpackage" --verify "$root/SDHC/ZEL_Update/ZEL.bin") s"
sync
echo "unpack  zUncompress   $("$build/tools/workbench" "$root" unpack 'SDHC\ZEL_Update\ZEL.bin' 'ResidentFlash3\' | cut -d' ' -f2) s"
mkdir -p "$work/tar-out"
echo "unpack  tar --zstd    $(seconds tar --zstd -xf "$work/plain.tar.zst" -C "$work/tar-out") s"

# 20,000 files of 1 KiB in 200 folders.
tree="$root/Storage Card/tree"
for d in $(seq 1 200); do
  mkdir -p "$tree/d$d"
  for f in $(seq 1 100); do printf '%1024d' "$f" > "$tree/d$d/f$f"; done
done
cp -r "$tree" "$work/host-tree"
sync
echo "copy    CopyTree      $("$build/tools/workbench" "$root" copy 'Storage Card\tree' 'Storage Card\copy' | cut -d' ' -f2) s"
echo "copy    cp -r         $(seconds cp -r "$work/host-tree" "$work/host-copy") s"
echo "delete  DeleteTree    $("$build/tools/workbench" "$root" delete 'Storage Card\copy' | cut -d' ' -f2) s"
echo "delete  rm -rf        $(seconds rm -rf "$work/host-copy") s"

#!/usr/bin/env bash
# Builds the libraries that the Windows zCompress.dll links statically: zstd and libarchive
# (tar reading with zstd, no other compression, crypto, regex or charset library), from
# Debian's own source packages with Debian's patches applied, for MinGW-w64.
#   scripts/build-win32-deps.sh [PREFIX]     (default build-win32/deps)
# Does nothing when PREFIX already holds both libraries; the win32 configure calls it.
# Needs deb-src lines in the apt sources and dpkg-dev (scripts/setup-win32.sh).
set -Eeuo pipefail
cd "$(dirname "$0")/.."
prefix="$(realpath -m "${1:-build-win32/deps}")"
if [ -f "$prefix/lib/libarchive.a" ] && [ -f "$prefix/lib/libzstd.a" ]; then
  exit 0
fi
toolchain="$PWD/cmake/mingw-w64.cmake"
work="$prefix/src"
rm -rf "$work" "$prefix/VERSIONS"
mkdir -p "$work" "$prefix/lib" "$prefix/include"
cd "$work"
started=$SECONDS
trap 'echo "build-win32-deps: failed: $BASH_COMMAND (logs in $work)" >&2' ERR

# Why apt cannot give the source of PACKAGE, in words that say what to do.
no_source_reason() {
  if ! command -v dpkg-source >/dev/null; then
    echo "dpkg-source is missing (package dpkg-dev; scripts/setup-win32.sh installs it)"
  elif ! grep -rqs '^[[:space:]]*deb-src[[:space:]]\|^Types:.*deb-src' /etc/apt/sources.list \
    /etc/apt/sources.list.d/; then
    echo "apt has no deb-src entries (scripts/setup-win32.sh adds them)"
  else
    echo "apt has deb-src entries but no source index for $1 (run apt-get update, or" \
      "scripts/setup-win32.sh, which does)"
  fi
}

# fetch PACKAGE DIR: unpacks the newest version of the source package that the mirrors serve
# (a security update may be listed before its source reaches the mirror) into DIR.
fetch() {
  local package="$1" dir="$2" version versions
  versions="$(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -rVu)" ||
    true  # apt-cache fails when it has no source index at all
  if [ -z "$versions" ] || ! command -v dpkg-source >/dev/null; then
    echo "build-win32-deps: cannot fetch the source of $package: $(no_source_reason "$package")" >&2
    return 1
  fi
  for version in $versions; do
    if apt-get source --download-only -qq "$package=$version" >"$work/fetch-$package.log" 2>&1; then
      # dpkg-source warns that it cannot check the maintainer's signature without
      # debian-keyring; apt has already checked the files against the signed index.
      dpkg-source -x "${package}_${version#*:}.dsc" "$dir" >/dev/null
      echo "$package $version" >>"$prefix/VERSIONS"
      return 0
    fi
  done
  echo "build-win32-deps: cannot download the source of $package ($(echo $versions)):" >&2
  tail -n 5 "$work/fetch-$package.log" >&2
  return 1
}

fetch libzstd zstd || exit 1
fetch libarchive libarchive || exit 1

# zstd: the static library only, single-threaded.
nice -n 19 cmake -S zstd/build/cmake -B zstd-build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_SHARED=OFF \
  -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF \
  -DZSTD_LEGACY_SUPPORT=OFF >zstd-build.log
nice -n 19 cmake --build zstd-build -j2 >>zstd-build.log
cp zstd-build/lib/libzstd.a "$prefix/lib/"
cp zstd/lib/zstd.h zstd/lib/zstd_errors.h "$prefix/include/"

# libarchive: the static library with zstd as its only external library.
off=()
for option in MBEDTLS NETTLE OPENSSL LIBB2 LZ4 LZO LZMA ZLIB BZip2 LIBXML2 EXPAT PCREPOSIX \
  LIBGCC CNG TAR CPIO CAT XATTR ACL ICONV TEST INSTALL; do
  off+=("-DENABLE_$option=OFF")
done
nice -n 19 cmake -S libarchive -B libarchive-build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release "${off[@]}" -DPOSIX_REGEX_LIB=NONE -DENABLE_ZSTD=ON \
  -DZSTD_INCLUDE_DIR="$prefix/include" -DZSTD_LIBRARY="$prefix/lib/libzstd.a" \
  >libarchive-build.log
grep -q '^#define HAVE_ZSTD_H 1' libarchive-build/config.h ||
  { echo "build-win32-deps: libarchive did not find zstd" >&2; exit 1; }
nice -n 19 cmake --build libarchive-build -j2 --target archive_static >>libarchive-build.log
cp libarchive-build/libarchive/libarchive_static.a "$prefix/lib/libarchive.a"
cp libarchive/libarchive/archive.h libarchive/libarchive/archive_entry.h "$prefix/include/"

echo "build-win32-deps: $(tr '\n' ' ' <"$prefix/VERSIONS")built in $((SECONDS - started)) s"

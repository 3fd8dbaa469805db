#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, ASan and UBSan in build-fuzz and runs each
# for SECONDS (default 60) on its seed corpus (tests/fuzz/corpus/<target>) plus what earlier
# runs found (build-fuzz/corpus/<target>). Findings land in build-fuzz/findings/<target>; the
# exit status is non-zero when any target crashed, leaked or broke a check.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets: the names below)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
all_targets=(link_frame package update_record update_header registry_file device_tree)
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")

declare -A max_len=(
  [link_frame]=4096 [package]=16384 [update_record]=64 [update_header]=512
  [registry_file]=4096 [device_tree]=1024
)

bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARRIN_FUZZ=ON -DQUARRIN_TESTS=OFF -DQUARRIN_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="-Wno-error" >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/%/_fuzzer}"

# The simulated device of a target lives in a temporary folder; keep those in memory when
# the host allows it, and remove what a crashed run leaves behind.
scratch="$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/quarrin-fuzz-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

failed=()
for target in "${targets[@]}"; do
  [ -n "${max_len[$target]:-}" ] || { echo "fuzz: unknown target '$target'" >&2; exit 2; }
  mkdir -p "build-fuzz/corpus/$target" "build-fuzz/findings/$target"
  echo "== fuzz: ${target}_fuzzer for ${seconds} s"
  if ! TMPDIR="$scratch" \
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt" \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" \
    -max_len="${max_len[$target]}" -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="build-fuzz/findings/$target/" -print_final_stats=1 \
    "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target"; then
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: FAILED: ${failed[*]} (inputs in build-fuzz/findings/)" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no findings"

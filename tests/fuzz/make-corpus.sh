#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target> (overwriting
# the generated seeds; the deframer's seeds and inputs kept from findings stay).
# Needs build-fuzz configured by scripts/fuzz.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --build build-fuzz -j2 --target fuzz_seed_corpus
ASAN_OPTIONS=detect_leaks=0 build-fuzz/tests/fuzz/fuzz_seed_corpus tests/fuzz/corpus

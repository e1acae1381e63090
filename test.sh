#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build and once
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"

# A lower layer of the application that includes an upper one fails the run before any build.
./scripts/check-layers.sh

./scripts/install-deps.sh

jobs=$(nproc)

# A compiler cache, when the machine has one, shares objects between checkouts of the tree.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}"
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

# The sanitizer build skips the benchmarks: they are never run by the tests.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRINE_SANITIZE=ON -DKESTRINE_BENCH=OFF "${launcher[@]}"
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: once in a normal build, once under
# AddressSanitizer and UndefinedBehaviorSanitizer. Both also build the macOS backends against
# the stand-in system headers (tests/macos-stubs) and run their tests.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash tools/setup.sh

jobs=$(nproc)
# Lets ccache reuse objects between checkouts in different folders.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAMBRANO_FAKE_MACOS=ON >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DAMBRANO_SANITIZE=ON -DAMBRANO_BENCH=OFF -DAMBRANO_FAKE_MACOS=ON >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure -j "$jobs")

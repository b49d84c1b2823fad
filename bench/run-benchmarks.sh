#!/usr/bin/env bash
# Builds and runs the in-process benchmarks against a private Xorg with the dummy driver.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash tools/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DAMBRANO_TESTS=OFF >/dev/null
cmake --build build-bench --target apply_bench
tests/support/with-xorg.sh build-bench/bench/apply_bench "$@"

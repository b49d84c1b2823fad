#!/usr/bin/env bash
# Sets up, builds and starts Ambrano in the current X session.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
if [ -z "${DISPLAY:-}" ]; then
    echo "ambrano: no X display to run on (DISPLAY is not set); start it from an X session" >&2
    exit 1
fi
bash tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ambrano
exec build/src/ambrano "$@"

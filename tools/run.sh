#!/usr/bin/env bash
# Sets up, builds and starts Ambrano in the current desktop session (X11 or Wayland).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "ambrano: no display server to run on (neither DISPLAY nor WAYLAND_DISPLAY is set); start it from a desktop session" >&2
    exit 1
fi
bash tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ambrano
exec build/src/ambrano "$@"

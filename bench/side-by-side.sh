#!/usr/bin/env bash
# Measures Ambrano and gammastep side by side on a private Xorg (dummy driver) with a tray:
# start-up, memory, idle cost, hotkey latency, transition smoothness, recovery from another
# client's gamma reset (and the guard's cost), apply cost; and the panel: a click on the tray
# icon to the panel painted, the cost of dragging the warmth slider.
# Prints the tables and writes them as JSON (default: <build>/bench/side-by-side.json).
#   bench/side-by-side.sh [--quick] [--json FILE] [--panel-only] [--baseline OTHER_AMBRANO]
# --baseline measures another build's binary (say, before a change) in the panel phase too.
# AMBRANO_BUILD picks the build folder (default: build). Takes about ten minutes;
# --quick shortens every phase for trying the script out (its figures are not the real ones).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if [ -z "${SIDE_BY_SIDE_INNER:-}" ]; then
    bash tools/setup.sh
    build=${AMBRANO_BUILD:-build}
    if [ -f "$build/CMakeCache.txt" ]; then
        cmake -S . -B "$build" >/dev/null
    else
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" --target ambrano gamma_watch transition_bench apply_bench
    build=$(cd "$build" && pwd)
    export SIDE_BY_SIDE_INNER=1 AMBRANO_BUILD=$build
    exec tests/support/with-xorg.sh "$PWD/bench/side-by-side.sh" "$@"
fi

# On the private server: fresh user folders and a tray, as the end-to-end tests have them,
# and a session bus of its own, as a desktop session has (without one, Qt's tray icon asks
# libdbus, which starts a bus through dbus-launch that outlives the run).
export AMBRANO_BIN="$AMBRANO_BUILD/src/ambrano"
source tests/support/e2e-lib.sh
start_tray
dbus-run-session -- python3 bench/side_by_side.py --build "$AMBRANO_BUILD" --home "$E2E_HOME" "$@" \
    2> >(grep -v "Failed to set fd limit" >&2)

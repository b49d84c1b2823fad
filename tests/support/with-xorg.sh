#!/usr/bin/env bash
# Runs a command against a private Xorg (dummy video driver) on a free display number.
# The server is stopped when the command ends; the command's status is returned.
#   with-xorg.sh COMMAND [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d /tmp/ambrano-xorg.XXXXXX)
xpid=
cleanup() {
    if [ -n "$xpid" ]; then
        kill "$xpid" 2>/dev/null || true
        wait "$xpid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# start_xorg N: starts the server on :N and waits until it answers; fails if it dies first
start_xorg() {
    Xorg ":$1" -config "$here/xorg-dummy.conf" -configdir "$work" -noreset -nolisten tcp \
        -logfile "$work/xorg.log" >"$work/xorg.out" 2>&1 &
    xpid=$!
    for _ in $(seq 1 100); do
        [ -S "/tmp/.X11-unix/X$1" ] && DISPLAY=":$1" xdpyinfo >/dev/null 2>&1 && return 0
        kill -0 "$xpid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$xpid" 2>/dev/null || true
    wait "$xpid" 2>/dev/null || true
    xpid=
    return 1
}

# Two runs may pick the same free number at once: the loser tries another.
started=
for _ in 1 2 3 4 5; do
    n=$(( 40 + RANDOM % 400 ))
    while [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ]; do n=$((n + 1)); done
    if start_xorg "$n"; then started=1; break; fi
done
if [ -z "$started" ]; then
    echo "with-xorg: Xorg did not start" >&2
    cat "$work/xorg.out" >&2 || true
    exit 1
fi
export DISPLAY=":$n"
status=0
"$@" || status=$?
exit "$status"

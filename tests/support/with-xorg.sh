#!/usr/bin/env bash
# Runs a command against a private Xorg (dummy video driver) on a free display number.
# The server is stopped when the command ends; the command's status is returned.
#   with-xorg.sh COMMAND [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d /tmp/ambrano-xorg.XXXXXX)

n=$(( 40 + RANDOM % 400 ))
while [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ]; do n=$((n + 1)); done

Xorg ":$n" -config "$here/xorg-dummy.conf" -configdir "$work" -noreset -nolisten tcp \
    -logfile "$work/xorg.log" >"$work/xorg.out" 2>&1 &
xpid=$!
cleanup() {
    kill "$xpid" 2>/dev/null || true
    wait "$xpid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

for _ in $(seq 1 100); do
    [ -S "/tmp/.X11-unix/X${n}" ] && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break
    if ! kill -0 "$xpid" 2>/dev/null; then
        echo "with-xorg: Xorg :$n did not start" >&2
        cat "$work/xorg.out" >&2 || true
        exit 1
    fi
    sleep 0.1
done
export DISPLAY=":$n"
status=0
"$@" || status=$?
exit "$status"

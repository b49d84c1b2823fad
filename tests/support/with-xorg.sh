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

# The server picks a free display number itself and writes it once it accepts clients, so two
# runs started at the same moment can never end up on one server.
mkfifo "$work/displayfd"
Xorg -displayfd 3 -config "$here/xorg-dummy.conf" -configdir "$work" -noreset -nolisten tcp \
    -logfile "$work/xorg.log" 3>"$work/displayfd" >"$work/xorg.out" 2>&1 &
xpid=$!
n=
read -r -t 20 n <"$work/displayfd" || true
if [ -z "$n" ]; then
    echo "with-xorg: Xorg did not start" >&2
    cat "$work/xorg.out" >&2 || true
    exit 1
fi
export DISPLAY=":$n"
status=0
"$@" || status=$?
exit "$status"

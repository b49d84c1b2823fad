#!/usr/bin/env bash
# Control from the command line, as a key binding in the compositor's configuration would run
# it: each request reaches the running app and changes the real ramps; without one it fails.
source "$(dirname "$0")/../support/e2e-lib.sh"

step "no running copy: a request says so and fails; help needs no display"
out=$("$AMBRANO_BIN" --toggle 2>&1) && fail "--toggle succeeded with nothing running"
[ "$out" = "ambrano: not running (start it first)" ] || fail "said: $out"
env -u DISPLAY "$AMBRANO_BIN" --help | grep -q -- "--warmth N" || fail "--help"

step "requests reach the running copy"
start_app
wait_for "the control socket" test -S "$XDG_RUNTIME_DIR/ambrano.sock"
[ "$(stat -c %a "$XDG_RUNTIME_DIR/ambrano.sock")" = 700 ] || fail "socket open to others"
"$AMBRANO_BIN" --toggle || fail "--toggle"
wait_for "warm ramps" ramp_warm
"$AMBRANO_BIN" --off || fail "--off"
wait_for "identity ramps" ramp_identity
"$AMBRANO_BIN" --warmth 62 || fail "--warmth turns the filter on"
wait_for "warm ramps" ramp_warm
"$AMBRANO_BIN" --brightness 101 2>/dev/null && fail "--brightness 101 accepted"
out=$("$AMBRANO_BIN" --brightness 5 2>&1) && fail "--brightness 5 accepted below the floor"
[ "$out" = "ambrano: brightness must be between 10 and 100" ] || fail "said: $out"
ramp_warm || fail "a refused request changed the ramps"

step "a second plain start still only says so"
out=$("$AMBRANO_BIN" 2>&1) || fail "second start failed"
[ "$out" = "ambrano: already running" ] || fail "said: $out"

step "--quit restores the displays and returns once a new start can follow"
"$AMBRANO_BIN" --quit || fail "--quit"
ramp_identity || fail "ramps not restored by --quit"
OLD_PID=$APP_PID
start_app
wait "$OLD_PID" || fail "exit status $? after --quit"
answers() { "$AMBRANO_BIN" "$@" 2>/dev/null; }
wait_for "the new copy to answer" answers --off
grep -q "already running" "$E2E_HOME/app.log" && fail "the start right after --quit was refused"
"$AMBRANO_BIN" --quit || fail "second --quit"
wait "$APP_PID" || fail "exit status $?"
"$AMBRANO_BIN" --on 2>/dev/null && fail "--on succeeded after quit"
echo "PASS"

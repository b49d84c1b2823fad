#!/usr/bin/env bash
# The app as a user meets it: tray icon, hotkey, quit by signal, crash repair, one instance.
source "$(dirname "$0")/../support/e2e-lib.sh"

step "the tray icon appears"
start_tray
start_app
wait_for "the tray icon" icon_embedded
ramp_identity || fail "ramps changed at start"
icon_neutral || fail "icon red while the filter is off"

step "the hotkey turns every display warm and the icon red"
hotkey
wait_for "warm ramps" ramp_warm
wait_for "a red icon" icon_red

step "a second press gives the displays back"
hotkey
wait_for "identity ramps" ramp_identity
wait_for "a neutral icon" icon_neutral

step "a second instance leaves the first alone"
out=$("$AMBRANO_BIN" 2>&1) || fail "second instance failed: $out"
echo "$out" | grep -q "already running" || fail "second instance said: $out"
kill -0 "$APP_PID" || fail "the first instance is gone"

step "SIGTERM while on restores before exit"
hotkey
wait_for "warm ramps" ramp_warm
kill -TERM "$APP_PID"
wait "$APP_PID" || fail "exit status $? after SIGTERM"
ramp_identity || fail "ramps not restored after SIGTERM"

step "kill -9 while on is repaired by the next launch"
start_app
wait_for "the tray icon" icon_embedded
hotkey
wait_for "warm ramps" ramp_warm
kill -9 "$APP_PID"; wait "$APP_PID" 2>/dev/null || true
ramp_warm || fail "ramps should still be warm right after kill -9"
start_app
wait_for "the repaired ramps" ramp_identity
wait_for "the tray icon" icon_embedded

step "SIGINT and SIGHUP take the same road"
hotkey
wait_for "warm ramps" ramp_warm
kill -INT "$APP_PID"; wait "$APP_PID" || fail "exit status $? after SIGINT"
ramp_identity || fail "ramps not restored after SIGINT"
start_app
wait_for "the tray icon" icon_embedded
hotkey
wait_for "warm ramps" ramp_warm
kill -HUP "$APP_PID"; wait "$APP_PID" || fail "exit status $? after SIGHUP"
ramp_identity || fail "ramps not restored after SIGHUP"

step "without a tray: one line, the hotkey still works, the icon comes with the tray"
kill "$TRAY_PID"
wait_for "the tray to go" eval '! tray_running'
start_app
wait_for "the no-tray line" grep -q "no system tray" "$E2E_HOME/app.log"
hotkey
wait_for "warm ramps" ramp_warm
start_tray
wait_for "the tray icon" icon_embedded
hotkey
wait_for "identity ramps" ramp_identity
kill -TERM "$APP_PID"; wait "$APP_PID"
echo "PASS"

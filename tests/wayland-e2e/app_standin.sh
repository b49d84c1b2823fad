#!/usr/bin/env bash
# The whole app on a Wayland session with no X server: the stand-in compositor, Qt offscreen.
# Automatic mode at night warms every output that has gamma; every way out hands them back.
source "$(dirname "$0")/../support/e2e-lib.sh"
unset DISPLAY
export QT_QPA_PLATFORM=offscreen WAYLAND_DISPLAY="ambrano-e2e-$$"

"$STANDIN_COMPOSITOR" "$WAYLAND_DISPLAY" eDP-1:256 DP-2:1024 HEADLESS-1:0 >"$E2E_HOME/compositor.log" &
E2E_PIDS+=($!)
wait_for "the stand-in compositor" grep -q ready "$E2E_HOME/compositor.log"

# Night from this hour to the next.
h=$((10#$(date +%H)))
cat >"$XDG_CONFIG_HOME/Halvex/settings.json" <<JSON
{"vesk.firstLaunchDone": true, "vesk.autoSchedule": true,
 "vesk.nightStart": $h, "vesk.dayStart": $(( (h + 1) % 24 )), "vesk.eveningStart": $(( (h + 2) % 24 ))}
JSON

# last_write OUTPUT: "red green blue" at the top of the output's newest ramps
last_write() { awk -v o="$1" '$2 == "write" && $3 == o { r = $4 " " $5 " " $6 } END { print r }' "$E2E_HOME/compositor.log"; }
held() { awk -v o="$1" '$2 == "held" && $3 == o { h = $4 } END { print h + 0 }' "$E2E_HOME/compositor.log"; }
# The night's pure red: full red, no green or blue.
night() { [ "$(last_write "$1")" = "65535 0 0" ]; }
none_held() { [ "$(held eDP-1)" = 0 ] && [ "$(held DP-2)" = 0 ]; }

step "automatic mode at night: the night ramps on every output with gamma"
start_app
wait_for "night on eDP-1" night eDP-1
wait_for "night on DP-2" night DP-2
grep -q "write HEADLESS-1" "$E2E_HOME/compositor.log" && fail "an output without gamma was written"
grep -q "^ambrano: display: wayland wlr-gamma-control (3 outputs)$" "$E2E_HOME/app.log" || fail "display line: $(cat "$E2E_HOME/app.log")"
wait_for "the output without gamma in the log" grep -q "^ambrano: display: HEADLESS-1 take no gamma$" "$E2E_HOME/app.log"

step "SIGTERM hands every output back"
kill -TERM "$APP_PID"
wait "$APP_PID" || fail "exit status $? after SIGTERM"
none_held || fail "a control is still held after SIGTERM"

step "kill -9 leaves nothing held either"
start_app
wait_for "controls held again" eval '[ "$(held eDP-1)" = 1 ]'
kill -9 "$APP_PID"; wait "$APP_PID" 2>/dev/null || true
wait_for "no control held" none_held
echo "PASS"

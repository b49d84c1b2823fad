#!/usr/bin/env bash
# The panel as a user meets it: a click on the tray icon opens it with the filter off, and a
# click on its day/night switch turns every display warm.
source "$(dirname "$0")/../support/e2e-lib.sh"

step "a click on the icon opens the panel, filter off"
start_tray
start_app
wait_for "the tray icon" icon_embedded
click_icon 1
wait_for "the panel" panel_open
windows_at_least 2 || fail "the panel is not counted among the app's windows"
ramp_identity || fail "ramps changed by opening the panel"
# The day/night switch (104, 428, 164 x 79) shows its day sky.
wait_for "the day sky on the switch" panel_pixel_near 250 440 61 126 174

step "the day/night switch turns the ramps warm"
xdotool mousemove --window "$(panel_window)" 186 467 click 1
wait_for "warm ramps" ramp_warm
wait_for "the night sky on the switch" panel_pixel_near 250 440 29 31 44
wait_for "a red icon" icon_red
panel_open || fail "the click on the switch closed the panel"

step "a second click gives the displays back"
xdotool mousemove --window "$(panel_window)" 186 467 click 1
wait_for "identity ramps" ramp_identity
wait_for "the day sky on the switch" panel_pixel_near 250 440 61 126 174

step "a click on the icon closes it"
click_icon 1
wait_for "the panel to close" windows_exactly 1
kill -TERM "$APP_PID"; wait "$APP_PID"
echo "PASS"

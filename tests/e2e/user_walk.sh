#!/usr/bin/env bash
# A new user's first session with the installed app: the panel opens by itself, the warmth
# slider and the NIGHT preset drive the ramps, the hotkey toggles, the panel's settings button
# opens the settings window, Catalan relabels both windows, a recorded Shift+A toggles the
# filter, the support report reaches the clipboard, and Quit gives the displays back.
# Screenshots of each step go to $E2E_SHOTS when it is set.
source "$(dirname "$0")/../support/e2e-lib.sh"

SHOTS=${E2E_SHOTS:-$E2E_HOME/shots}
mkdir -p "$SHOTS"
SETTINGS_FILE="$XDG_CONFIG_HOME/Halvex/settings.json"
shot() { import -window root "$SHOTS/walk-$1.png"; }
stored() { grep -q "$1" "$SETTINGS_FILE"; }
# ramp_between R1 R2 G1 G2 B1 B2: the last ramp entries lie in these ranges
ramp_between() {
    local r g b
    read -r r g b <<<"$(ramp_top)"
    awk -v r="$r" -v g="$g" -v b="$b" -v r1="$1" -v r2="$2" -v g1="$3" -v g2="$4" -v b1="$5" -v b2="$6" \
        'BEGIN { exit !(r >= r1 && r <= r2 && g >= g1 && g <= g2 && b >= b1 && b <= b2) }'
}
in_panel() { xdotool mousemove --window "$(panel_window)" "$1" "$2" click 1; }
in_settings() { xdotool mousemove --window "$(settings_window)" "$1" "$2" click 1; }

step "the installed app"
cmake --install "$AMBRANO_BUILD" --prefix "$E2E_HOME/prefix" >/dev/null
AMBRANO_BIN="$E2E_HOME/prefix/bin/ambrano"
[ -x "$AMBRANO_BIN" ] || fail "nothing installed"
rm -f "$SETTINGS_FILE"  # a first launch
eval "$(dbus-launch --sh-syntax)"
E2E_PIDS+=("$DBUS_SESSION_BUS_PID")
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS

step "the first launch opens the panel by itself"
start_tray
start_app
wait_for "the tray icon" icon_embedded
wait_for "the panel" panel_open
sleep 0.3
shot 1-first-launch
ramp_identity || fail "ramps changed before the user did anything"
window_region "$(panel_window)" "$SHOTS/warmth-caption-es.png" 20 110 150 16

step "dragging the warmth slider turns the filter on, and the ramps follow"
# The knob sits at 62 % of the 332-point track that starts at x = 20.
P=$(panel_window)
xdotool mousemove --window "$P" 226 140 mousedown 1 mousemove --window "$P" 280 140 \
    mousemove --window "$P" 330 140 mouseup 1
wait_for "very warm ramps (no blue)" ramp_between 0.99 1 0.05 0.5 0 0.001
shot 2-slider-warm
xdotool mousemove --window "$P" 330 140 mousedown 1 mousemove --window "$P" 120 140 \
    mousemove --window "$P" 40 140 mouseup 1
wait_for "cool ramps (blue back)" ramp_between 0.99 1 0.9 1 0.8 1
wait_for "a red icon" icon_red
shot 3-slider-cool

step "the NIGHT preset gives pure red ramps"
in_panel 299 264
wait_for "pure red ramps" ramp_between 0.999 1 0 0.0001 0 0.0001
shot 4-night

step "the hotkey toggles"
hotkey
wait_for "identity ramps" ramp_identity
hotkey
wait_for "pure red ramps again" ramp_between 0.999 1 0 0.0001 0 0.0001

step "the panel's settings button opens the settings window"
in_panel 336 53
wait_for "the settings window" settings_shown
wait_for "the panel to close" eval '! panel_open'
sleep 0.3
shot 5-settings
window_region "$(settings_window)" "$SHOTS/settings-title-es.png" 24 18 392 24

step "Catalan relabels both windows"
in_settings 126 91
wait_for "Catalan stored" stored '"vesk.lang": "ca"'
sleep 0.3
window_region "$(settings_window)" "$SHOTS/settings-title-ca.png" 24 18 392 24
images_differ "$SHOTS/settings-title-es.png" "$SHOTS/settings-title-ca.png" 50 || fail "settings title unchanged"
shot 6-settings-ca
click_icon 1
wait_for "the panel" panel_open
sleep 0.3
window_region "$(panel_window)" "$SHOTS/warmth-caption-ca.png" 20 110 150 16
images_differ "$SHOTS/warmth-caption-es.png" "$SHOTS/warmth-caption-ca.png" 20 || fail "panel caption unchanged"
shot 7-panel-ca
click_icon 1
wait_for "the panel to close" eval '! panel_open'

step "recording Shift+A rebinds the shortcut, and Shift+A toggles the filter"
in_settings 374 184
sleep 0.3
shot 8-recording
xdotool key shift+a
wait_for "the new shortcut stored" stored '"vesk.hotkey.mods": 512'
sleep 0.2
shot 9-recorded
xdotool key shift+a
wait_for "identity ramps" ramp_identity
xdotool key shift+a
wait_for "pure red ramps" ramp_between 0.999 1 0 0.0001 0 0.0001

step "copy feedback puts the report on the clipboard"
in_settings 220 543
wait_for "the report on the clipboard" eval 'xclip -o -selection clipboard 2>/dev/null | grep -q "^--- log ---$"'
xclip -o -selection clipboard > "$SHOTS/report.txt"
grep -q '^Settings: warmth=100 brightness=100 on=true pwm=false extremeDim=false lang=ca$' "$SHOTS/report.txt" \
    || fail "settings line: $(grep '^Settings' "$SHOTS/report.txt")"
shot 10-copied

step "Quit restores the ramps"
open_menu 3
xdotool key Up Return
wait "$APP_PID" || fail "exit status $? after Quit"
ramp_identity || fail "ramps not restored by Quit"
shot 11-after-quit
echo "PASS"

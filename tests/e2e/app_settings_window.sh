#!/usr/bin/env bash
# The settings window as a user meets it: opened from the tray menu, switched to Catalan with
# a click on its flag, a new shortcut recorded and used, the support report copied, then Quit.
# Screenshots of each step go to $E2E_SHOTS when it is set.
source "$(dirname "$0")/../support/e2e-lib.sh"

SHOTS=${E2E_SHOTS:-$E2E_HOME/shots}
mkdir -p "$SHOTS"
SETTINGS_FILE="$XDG_CONFIG_HOME/Halvex/settings.json"

# click_in_settings X Y: a left click at a point of the window's content
click_in_settings() { xdotool mousemove --window "$WIN" "$1" "$2" click 1; }
# shot NAME: the whole screen, and the settings window alone when it is open
shot() {
    import -window root "$SHOTS/$1.png"
    if [ -n "${WIN:-}" ] && settings_shown; then import -window "$WIN" "$SHOTS/$1-window.png"; fi
}
# region NAME X Y W H: a piece of the settings window from the screen, to compare
region() {
    eval "$(xdotool getwindowgeometry --shell "$WIN")"
    import -window root -crop "${4}x${5}+$((X + $2))+$((Y + $3))" +repage "$SHOTS/$1.png"
}
differs() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" -gt "$3" ]; }
stored() { grep -q "$1" "$SETTINGS_FILE"; }
clipboard() { xclip -o -selection clipboard 2>/dev/null; }

eval "$(dbus-launch --sh-syntax)"
E2E_PIDS+=("$DBUS_SESSION_BUS_PID")
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
echo '{"vesk.firstLaunchDone": true, "vesk.lang": "en"}' > "$SETTINGS_FILE"
start_tray
start_app
wait_for "the tray icon" icon_embedded
shot 0-start

step "Settings… from the tray menu opens the window"
open_menu 2
shot 1-menu
xdotool key Down Return
wait_for "the settings window" settings_shown
WIN=$(settings_window)
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$WIN")"
# Centred on the 1920 x 1080 screen.
[ "$X" -eq 740 ] && [ "$Y" -eq 210 ] || fail "window at $X,$Y, not centred"
shot 2-settings
region title-en 24 18 392 24

step "a click on the Catalan flag relabels the window"
click_in_settings 126 91
wait_for "Catalan stored" stored '"vesk.lang": "ca"'
sleep 0.3
region title-ca 24 18 392 24
differs "$SHOTS/title-en.png" "$SHOTS/title-ca.png" 50 || fail "the title did not change"
shot 3-catalan
# Reopening from the menu keeps one window, now in Catalan.
open_menu 3
shot 3b-menu-catalan
xdotool key Escape
sleep 0.3

step "recording Shift+A rebinds the shortcut"
click_in_settings 374 184
sleep 0.3
shot 4-recording
xdotool key shift+a
wait_for "the new shortcut stored" stored '"vesk.hotkey.mods": 512'
grep -Eq '"vesk.hotkey.key": 0(,|$)' "$SETTINGS_FILE" || fail "key A not stored"
sleep 0.3
shot 5-recorded

step "Shift+A now toggles the filter, the old shortcut does not"
xdotool key shift+a
wait_for "warm ramps" ramp_warm
shot 6-filter-on
xdotool key shift+a
wait_for "identity ramps" ramp_identity
hotkey
sleep 0.7
ramp_identity || fail "the old shortcut still toggles"

step "copy feedback puts the support report on the clipboard"
click_in_settings 220 543
wait_for "the report on the clipboard" eval 'clipboard | grep -q "^--- log ---$"'
sleep 0.2
shot 7-copied
clipboard > "$SHOTS/report.txt"
head -n1 "$SHOTS/report.txt" | grep -q '^Ambrano (por Marren) [0-9]' || fail "report header: $(head -n1 "$SHOTS/report.txt")"
grep -q "^Platform: .* ($(uname -m | sed 's/aarch64/arm64/'))$" "$SHOTS/report.txt" || fail "platform line"
grep -q '^Displays:$' "$SHOTS/report.txt" || fail "no display list"
grep -Eq '^  - [0-9]+ external 1920x1080$' "$SHOTS/report.txt" || fail "display line"
grep -q '^Settings: warmth=62 brightness=100 on=false pwm=false extremeDim=false lang=ca$' "$SHOTS/report.txt" \
    || fail "settings line: $(grep '^Settings' "$SHOTS/report.txt")"
grep -q 'hotkey: ⇧A$' "$SHOTS/report.txt" || fail "the rebind is not in the log"
sleep 1.6
shot 8-title-back

step "Quit restores the ramps"
xdotool key shift+a
wait_for "warm ramps" ramp_warm
open_menu 3
xdotool key Up Return
wait "$APP_PID" || fail "exit status $? after Quit"
ramp_identity || fail "ramps not restored by Quit"
shot 9-after-quit
echo "PASS"

#!/usr/bin/env bash
# A new user's first days with the installed app on an X session: clicks and keys on a private
# Xorg, the ramps read back from the server, then the same app on a StatusNotifierItem host.
# As root it runs in a private mount namespace whose /sys/class holds a fake raw backlight, so
# PWM-safe is walked too. Screenshots go to $E2E_SHOTS if set.
if [ "${E2E_INSIDE:-}" != 1 ] && [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    E2E_INSIDE=1 exec unshare -m --propagation private "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

SHOTS=${E2E_SHOTS:-$E2E_HOME/shots}
mkdir -p "$SHOTS"
SETTINGS_FILE="$XDG_CONFIG_HOME/Halvex/settings.json"
shot() { import -window root "$SHOTS/walk-$1.png"; }
stored() { grep -q "$1" "$SETTINGS_FILE"; }
settings() { echo "{\"vesk.firstLaunchDone\": true $*}" > "$SETTINGS_FILE"; }
# ramp_between R1 R2 G1 G2 B1 B2: the last ramp entries lie in these ranges
ramp_between() {
    local r g b
    read -r r g b <<<"$(ramp_top)"
    awk -v r="$r" -v g="$g" -v b="$b" -v r1="$1" -v r2="$2" -v g1="$3" -v g2="$4" -v b1="$5" -v b2="$6" \
        'BEGIN { exit !(r >= r1 && r <= r2 && g >= g1 && g <= g2 && b >= b1 && b <= b2) }'
}
night_red() { ramp_between 0.999 1 0 0.0001 0 0.0001; }
in_panel() { xdotool mousemove --window "$(panel_window)" "$1" "$2" click 1; }
in_settings() { xdotool mousemove --window "$(settings_window)" "$1" "$2" click 1; }

step "the installed app; before it runs, a request fails and --help needs no display"
cmake --install "$AMBRANO_BUILD" --prefix "$E2E_HOME/prefix" >/dev/null
AMBRANO_BIN="$E2E_HOME/prefix/bin/ambrano"
out=$("$AMBRANO_BIN" --toggle 2>&1) && fail "--toggle succeeded with nothing running"
[ "$out" = "ambrano: not running (start it first)" ] || fail "said: $out"
env -u DISPLAY "$AMBRANO_BIN" --help | grep -q -- "--warmth N" || fail "--help"
# A private bus stands in for both buses, with a stand-in logind and later a tray host on it.
eval "$(dbus-launch --sh-syntax)"
E2E_PIDS+=("$DBUS_SESSION_BUS_PID")
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
rm -f "$SETTINGS_FILE"

step "the first launch opens the panel by itself, filter off"
start_tray
start_app
wait_for "the tray icon" icon_embedded
wait_for "the panel" panel_open
stored '"vesk.firstLaunchDone": true' || fail "first launch not stored"
sleep 0.3
shot 1-first-launch
ramp_identity || fail "ramps changed before the user did anything"
icon_neutral || fail "icon red while the filter is off"
window_region "$(panel_window)" "$SHOTS/warmth-caption-es.png" 20 110 150 16

step "dragging the warmth slider turns the filter on, and the ramps follow"
# The knob sits at 62 % of the 332-point track that starts at x = 20.
P=$(panel_window)
xdotool mousemove --window "$P" 226 140 mousedown 1 mousemove --window "$P" 280 140 \
    mousemove --window "$P" 330 140 mouseup 1
wait_for "very warm ramps (no blue)" ramp_between 0.99 1 0.05 0.5 0 0.001
xdotool mousemove --window "$P" 330 140 mousedown 1 mousemove --window "$P" 120 140 \
    mousemove --window "$P" 40 140 mouseup 1
wait_for "cool ramps (blue back)" ramp_between 0.99 1 0.9 1 0.8 1
wait_for "a red icon" icon_red

step "the NIGHT preset gives pure red; the day/night switch turns it off and on"
in_panel 299 264
wait_for "pure red ramps" night_red
shot 2-night
in_panel 186 467
wait_for "identity ramps" ramp_identity
wait_for "the day sky on the switch" panel_pixel_near 250 440 61 126 174
wait_for "a neutral icon" icon_neutral
in_panel 186 467
wait_for "pure red ramps again" night_red
wait_for "the night sky on the switch" panel_pixel_near 250 440 29 31 44
panel_open || fail "the click on the switch closed the panel"

step "the hotkey works while the panel holds the keyboard, and while the menu is open"
hotkey
wait_for "identity ramps" ramp_identity
click_icon 1
wait_for "the panel to close" eval '! panel_open'
open_menu 2
hotkey
wait_for "pure red ramps" night_red
xdotool key Escape
wait_for "the menu to close" windows_exactly 1
click_icon 1
wait_for "the panel" panel_open

step "the panel's settings button opens the settings window, centred"
in_panel 336 53
wait_for "the settings window" settings_shown
wait_for "the panel to close" eval '! panel_open'
eval "$(xdotool getwindowgeometry --shell "$(settings_window)")"
[ "$X" -eq 740 ] && [ "$Y" -eq 210 ] || fail "window at $X,$Y, not centred"
sleep 0.3
window_region "$(settings_window)" "$SHOTS/settings-title-es.png" 24 18 392 24

step "Catalan relabels both windows"
in_settings 126 91
wait_for "Catalan stored" stored '"vesk.lang": "ca"'
sleep 0.3
window_region "$(settings_window)" "$SHOTS/settings-title-ca.png" 24 18 392 24
images_differ "$SHOTS/settings-title-es.png" "$SHOTS/settings-title-ca.png" 50 || fail "settings title unchanged"
shot 3-settings-ca
click_icon 1
wait_for "the panel" panel_open
sleep 0.3
window_region "$(panel_window)" "$SHOTS/warmth-caption-ca.png" 20 110 150 16
images_differ "$SHOTS/warmth-caption-es.png" "$SHOTS/warmth-caption-ca.png" 20 || fail "panel caption unchanged"
click_icon 1
wait_for "the panel to close" eval '! panel_open'

step "recording Shift+A rebinds the shortcut: Shift+A toggles, the old one does not"
in_settings 374 184
sleep 0.3
xdotool key shift+a
wait_for "the new shortcut stored" stored '"vesk.hotkey.mods": 512'
grep -Eq '"vesk.hotkey.key": 0(,|$)' "$SETTINGS_FILE" || fail "key A not stored"
shot 4-recorded
xdotool key shift+a
wait_for "identity ramps" ramp_identity
hotkey
sleep 0.7
ramp_identity || fail "the old shortcut still toggles"
xdotool key shift+a
wait_for "pure red ramps" night_red

step "copy feedback puts the support report on the clipboard"
in_settings 220 543
wait_for "the report on the clipboard" eval 'xclip -o -selection clipboard 2>/dev/null | grep -q "^--- log ---$"'
xclip -o -selection clipboard > "$SHOTS/report.txt"
head -n1 "$SHOTS/report.txt" | grep -q '^Ambrano (por Marren) [0-9]' || fail "report header"
grep -Eq '^  - [0-9]+ external 1920x1080$' "$SHOTS/report.txt" || fail "display line"
grep -q '^Settings: warmth=100 brightness=100 on=true pwm=false extremeDim=false lang=ca$' "$SHOTS/report.txt" \
    || fail "settings line: $(grep '^Settings' "$SHOTS/report.txt")"
grep -q 'hotkey: ⇧A$' "$SHOTS/report.txt" || fail "the rebind is not in the log"

step "Quit from the menu restores the ramps and ends the app"
open_menu 3
xdotool key Up Return
wait "$APP_PID" || fail "exit status $? after Quit"
ramp_identity || fail "ramps not restored by Quit"
shot 5-after-quit

step "the command line reaches the running app; refused values change nothing"
settings
start_app
wait_for "the control socket" test -S "$XDG_RUNTIME_DIR/ambrano.sock"
[ "$(stat -c %a "$XDG_RUNTIME_DIR/ambrano.sock")" = 700 ] || fail "socket open to others"
"$AMBRANO_BIN" --toggle || fail "--toggle"
wait_for "warm ramps" ramp_warm
"$AMBRANO_BIN" --off || fail "--off"
wait_for "identity ramps" ramp_identity
"$AMBRANO_BIN" --warmth 62 || fail "--warmth turns the filter on"
wait_for "warm ramps" ramp_warm
out=$("$AMBRANO_BIN" --brightness 5 2>&1) && fail "--brightness 5 accepted below the floor"
[ "$out" = "ambrano: brightness must be between 10 and 100" ] || fail "said: $out"
ramp_warm || fail "a refused request changed the ramps"
out=$("$AMBRANO_BIN" 2>&1) || fail "second start failed"
[ "$out" = "ambrano: already running" ] || fail "said: $out"
kill -0 "$APP_PID" || fail "the first instance is gone"

step "--quit restores the displays and returns once a new start can follow"
"$AMBRANO_BIN" --quit || fail "--quit"
ramp_identity || fail "ramps not restored by --quit"
OLD_PID=$APP_PID
start_app
wait "$OLD_PID" || fail "exit status $? after --quit"
answers() { "$AMBRANO_BIN" "$@" 2>/dev/null; }
wait_for "the new copy to answer" answers --on
grep -q "already running" "$E2E_HOME/app.log" && fail "the start right after --quit was refused"

step "SIGTERM, SIGINT and SIGHUP restore before exit; kill -9 is repaired by the next launch"
for sig in TERM INT HUP; do
    wait_for "warm ramps" ramp_warm
    kill -"$sig" "$APP_PID"
    wait "$APP_PID" || fail "exit status $? after SIG$sig"
    ramp_identity || fail "ramps not restored after SIG$sig"
    start_app
    wait_for "the app to answer" answers --on
done
wait_for "warm ramps" ramp_warm
kill -9 "$APP_PID"; wait "$APP_PID" 2>/dev/null || true
ramp_warm || fail "ramps should still be warm right after kill -9"
start_app
wait_for "the repaired ramps" ramp_identity
"$AMBRANO_BIN" --quit

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
"$AMBRANO_BIN" --quit

step "automatic mode at night; waking from sleep brings it back after the user switched it off"
h=$((10#$(date +%H)))
settings ", \"vesk.autoSchedule\": true, \"vesk.nightStart\": $h, \"vesk.dayStart\": $(( (h + 1) % 24 ))," \
    "\"vesk.eveningStart\": $(( (h + 2) % 24 ))"
start_app
wait_for "the tray icon" icon_embedded
wait_for "the night's ramps" night_red
sleep 1
windows_exactly 1 || fail "the panel opened on a later launch"
hotkey
wait_for "identity ramps" ramp_identity
"$FAKE_LOGIND" sleep
"$FAKE_LOGIND" wake
wait_for "the schedule's ramps after wake" night_red
"$AMBRANO_BIN" --quit

if [ "${E2E_INSIDE:-}" = 1 ]; then
    step "PWM-safe pins a low backlight at its maximum and gives back the exact level"
    class=$E2E_HOME/class
    dev=$class/backlight/intel_backlight
    mkdir -p "$dev" "$class/drm"
    echo raw > "$dev/type"; echo 19393 > "$dev/max_brightness"
    echo 4321 > "$dev/brightness"; echo 4321 > "$dev/actual_brightness"
    mount --bind "$class" /sys/class
    # Like the kernel, the device reports what was last written.
    ( while sleep 0.02; do cat "$dev/brightness" > "$dev/actual_brightness" 2>/dev/null || true; done ) &
    E2E_PIDS+=("$!")
    "$AMBRANO_BUILD/tests/mark_panel" DUMMY0 || fail "cannot mark DUMMY0 as a panel"
    level_is() { [ "$(cat /sys/class/backlight/intel_backlight/brightness)" = "$1" ]; }
    settings ', "vesk.lang": "en"'
    start_app
    wait_for "the tray icon" icon_embedded
    click_icon 1
    wait_for "the panel" panel_open
    # The amber flicker bar under the switch row; the English panel's PWM-safe switch.
    wait_for "the flicker bar" panel_pixel_near 30 565 140 71 0
    in_panel 117 336
    wait_for "the backlight at its maximum" level_is 19393
    wait_for "warm ramps (the filter comes on with the mode)" ramp_warm
    in_panel 117 336
    wait_for "the backlight back at 4321" level_is 4321
    in_panel 117 336
    wait_for "the backlight at its maximum" level_is 19393
    kill -TERM "$APP_PID"; wait "$APP_PID" || fail "exit status $? after SIGTERM"
    level_is 4321 || fail "backlight left at $(cat /sys/class/backlight/intel_backlight/brightness) after quitting"
    ramp_identity || fail "ramps not restored after quitting"
fi

step "on a StatusNotifierItem host: the item registers instead of an X tray icon"
kill "$TRAY_PID"
wait_for "the tray to go" eval '! tray_running'
"$SNI_HOST" >"$E2E_HOME/host.log" 2>&1 &
E2E_PIDS+=($!)
wait_for "the watcher" grep -q ready "$E2E_HOME/host.log"
settings
start_app
wait_for "the item's registration" grep -q '^item ' "$E2E_HOME/host.log"
windows_exactly 0 || fail "an X tray icon window exists beside the item"

# panel_at X Y: a click at that point opens the panel beside it, inside the screen.
panel_at() {
    local WINDOW X Y WIDTH HEIGHT SCREEN
    xdotool mousemove "$1" "$2"
    sni_call Activate "$1" "$2" || fail "Activate($1, $2)"
    wait_for "the panel" panel_open
    eval "$(xdotool getwindowgeometry --shell "$(panel_window)")"
    (( X >= 0 && Y >= 0 && X + WIDTH <= 1920 && Y + HEIGHT <= 1080 )) || fail "panel leaves the screen"
    (( X <= $1 && $1 <= X + WIDTH )) || fail "panel not beside the click horizontally"
    (( Y == $2 + 1 || Y + HEIGHT == $2 )) || fail "panel not just below or above the click"
}
step "a click opens the panel at the pointer; a second click on the icon closes it"
panel_at 1500 700
shot 6-sni-panel
# The press lands outside the panel (closing it), then the host reports the click.
xdotool click 1
sni_call Activate 1500 700
wait_for "the panel to close" eval '! panel_open'
sleep 0.5
panel_open && fail "the closing click opened the panel again"
panel_at 1910 5
sni_call Activate 1910 5
wait_for "the panel to close" eval '! panel_open'

step "the exported menu, the host's own menu request, and the icon following the filter"
menu=$(sni_menu | cut -d' ' -f2- | tr '\n' '|')
[ "$menu" = "Ajustes…|Acerca de Ambrano|Abrir al iniciar sesión|-|Salir|" ] || fail "menu: $menu"
sni_call ContextMenu 1500 700
wait_for "the menu" windows_at_least 1
xdotool key Escape
wait_for "the menu to close" windows_exactly 0
neutral=$(sni_property IconPixmap)
grep -q 'array of bytes' <<<"$neutral" || fail "no icon"
"$AMBRANO_BIN" --on
wait_for "a new icon" eval '[ "$(sni_property IconPixmap)" != "$neutral" ]'
wait_for "warm ramps" ramp_warm

step "Quit from the exported menu restores the displays and ends the app"
sni_click "Salir" || fail "no Quit item to click"
wait "$APP_PID" || fail "exit status $? after Quit"
ramp_identity || fail "ramps not restored"
echo "PASS"

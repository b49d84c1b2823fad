#!/usr/bin/env bash
# The tray icon on a StatusNotifierItem host (KDE Plasma, waybar, GNOME's AppIndicator
# extension): the item registers, a click (Activate with the pointer's position) opens the
# panel next to the pointer, the exported menu has the three items and they work, and the
# icon follows the filter. The host is a stand-in on a private session bus.
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || exec dbus-run-session -- "$0" "$@"
bus=$DBUS_SESSION_BUS_ADDRESS
source "$(dirname "$0")/../support/e2e-lib.sh"
export DBUS_SESSION_BUS_ADDRESS=$bus

step "the item registers with the host"
"$SNI_HOST" >"$E2E_HOME/host.log" 2>&1 &
E2E_PIDS+=($!)
watcher_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -qw true
}
wait_for "the watcher" watcher_up
start_app
wait_for "the item's registration" grep -q '^item ' "$E2E_HOME/host.log"
[ "$(visible_windows)" -eq 0 ] || fail "an X tray icon window exists beside the item"

# panel_at X Y: a click at that point opens the panel beside it, inside the screen.
panel_at() {
    local WINDOW X Y WIDTH HEIGHT SCREEN
    xdotool mousemove "$1" "$2"
    "$SNI_HOST" activate "$1" "$2" || fail "Activate($1, $2)"
    wait_for "the panel" panel_open
    eval "$(xdotool getwindowgeometry --shell "$(panel_window)")"
    echo "panel at $X,$Y for a click at $1,$2"
    (( X >= 0 && Y >= 0 && X + WIDTH <= 1920 && Y + HEIGHT <= 1080 )) || fail "panel leaves the screen"
    (( X <= $1 && $1 <= X + WIDTH )) || fail "panel not beside the click horizontally"
    (( Y == $2 + 1 || Y + HEIGHT == $2 )) || fail "panel not just below or above the click"
}

step "a click opens the panel at the pointer; a second click on the icon closes it"
panel_at 1500 700
import -window root "$E2E_HOME/sni-panel.png" 2>/dev/null
[ -z "${SNI_SHOTS:-}" ] || cp "$E2E_HOME/sni-panel.png" "$SNI_SHOTS/"
# The press lands outside the panel (closing it), then the host reports the click.
xdotool click 1
"$SNI_HOST" activate 1500 700
wait_for "the panel to close" eval '! panel_open'
sleep 0.5
panel_open && fail "the closing click opened the panel again"
panel_at 1910 5
"$SNI_HOST" activate 1910 5
wait_for "the panel to close" eval '! panel_open'

step "the exported menu has Settings, About, Start at login and Quit in the current language"
menu=$("$SNI_HOST" menu | tr '\n' '|')
[ "$menu" = "Ajustes…|Acerca de Ambrano|Abrir al iniciar sesión|-|Salir|" ] || fail "menu: $menu"

step "the icon follows the filter"
neutral=$("$SNI_HOST" icon) || fail "no icon"
"$AMBRANO_BIN" --on
wait_for "a new icon" eval '[ "$("$SNI_HOST" icon)" != "$neutral" ]'
"$AMBRANO_BIN" --off
wait_for "the neutral icon" eval '[ "$("$SNI_HOST" icon)" = "$neutral" ]'

step "a host without menus of its own asks for the menu, and it opens"
"$SNI_HOST" contextmenu 1500 700
wait_for "the menu" windows_at_least 1
xdotool key Escape
wait_for "the menu to close" windows_exactly 0

step "Quit from the exported menu restores the displays and ends the app"
"$AMBRANO_BIN" --on
wait_for "warm ramps" ramp_warm
"$SNI_HOST" click "Salir" || fail "no Quit item to click"
wait "$APP_PID" || fail "exit status $? after Quit"
ramp_identity || fail "ramps not restored"
echo "PASS"

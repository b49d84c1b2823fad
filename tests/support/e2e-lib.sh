# Shared by the end-to-end scripts: fresh user folders, the app under test, checks.
# Expects DISPLAY (from with-xorg.sh), AMBRANO_BIN and GAMMA_PROBE.
set -euo pipefail

E2E_HOME=$(mktemp -d /tmp/ambrano-e2e.XXXXXX)
export XDG_CONFIG_HOME="$E2E_HOME/config" XDG_DATA_HOME="$E2E_HOME/data" XDG_CACHE_HOME="$E2E_HOME/cache"
export XDG_RUNTIME_DIR="$E2E_HOME/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS || true
export QT_QPA_PLATFORM=xcb
# Not the first launch unless a script says so: the panel would open by itself.
mkdir -p "$XDG_CONFIG_HOME/Halvex"
echo '{"vesk.firstLaunchDone": true}' > "$XDG_CONFIG_HOME/Halvex/settings.json"

E2E_PIDS=()
e2e_cleanup() {
    for pid in "${E2E_PIDS[@]}"; do { kill -9 "$pid" && wait "$pid"; } 2>/dev/null || true; done
    rm -rf "$E2E_HOME"
}
trap e2e_cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "--- $*"; }

start_tray() {
    trayer --edge top --align right --widthtype request --height 28 >/dev/null 2>&1 &
    TRAY_PID=$!
    disown "$TRAY_PID"
    E2E_PIDS+=("$TRAY_PID")
    wait_for "a tray" tray_running
}
tray_running() { xdotool search --classname trayer >/dev/null 2>&1; }

# start_app: runs the app in the background, its output in $E2E_HOME/app.log
start_app() {
    "$AMBRANO_BIN" >"$E2E_HOME/app.log" 2>&1 &
    APP_PID=$!
    E2E_PIDS+=("$APP_PID")
}
icon_embedded() { xdotool search --onlyvisible --classname ambrano >/dev/null 2>&1; }

# wait_for DESCRIPTION COMMAND...: polls for up to 10 s
wait_for() {
    local what=$1; shift
    for _ in $(seq 1 200); do
        "$@" && return 0
        sleep 0.05
    done
    fail "timed out waiting for $what"
}

# The first active CRTC's last ramp entries, as fractions: "r g b"
ramp_top() { "$GAMMA_PROBE" | head -n1 | awk '{print $3, $4, $5}'; }
ramp_identity() { [ "$("$GAMMA_PROBE" | head -n1 | awk '{print $6}')" = 1 ]; }
ramp_warm() {
    local r g b
    read -r r g b <<<"$(ramp_top)"
    awk -v r="$r" -v g="$g" -v b="$b" 'BEGIN { exit !(r > 0.99 && g > 0.645 && g < 0.665 && b > 0.336 && b < 0.356) }'
}
hotkey() { xdotool key ctrl+alt+super+z; }

# Clearly red pixels in the tray area of a screenshot.
red_pixels_in_tray() {
    import -window root "$E2E_HOME/shot.png" 2>/dev/null
    convert "$E2E_HOME/shot.png" -crop 200x28+1720+0 +repage -fx '(r>0.8 && g<0.3 && b<0.3) ? 1 : 0' \
        -format '%[fx:round(mean*w*h)]' info:
}
visible_windows() { xdotool search --onlyvisible --classname ambrano 2>/dev/null | wc -l; }
# app_window TEST: the first of the app's windows on screen whose WIDTH and HEIGHT pass TEST
# (one may close between the search and the geometry query: skipped).
app_window() {
    local w WINDOW X Y WIDTH HEIGHT SCREEN
    for w in $(xdotool search --onlyvisible --classname ambrano 2>/dev/null); do
        WIDTH=
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
        [ -n "$WIDTH" ] && (( $1 )) && { echo "$w"; return 0; }
    done
    return 1
}
panel_window() { app_window 'WIDTH == 372'; }
panel_open() { panel_window >/dev/null; }
settings_window() { app_window 'WIDTH == 440 && HEIGHT == 660'; }
settings_shown() { settings_window >/dev/null; }
# panel_pixel_near X Y R G B: the screen at that point of the open panel is within 3 of R G B
panel_pixel_near() {
    local WINDOW X Y WIDTH HEIGHT SCREEN px
    eval "$(xdotool getwindowgeometry --shell "$(panel_window)")"
    import -window root "$E2E_HOME/shot.png" 2>/dev/null
    px="p{$((X + $1)),$((Y + $2))}"
    convert "$E2E_HOME/shot.png" -format "%[fx:round(255*$px.r)] %[fx:round(255*$px.g)] %[fx:round(255*$px.b)]" info: |
        awk -v R="$3" -v G="$4" -v B="$5" 'function d(a, b) { return a > b ? a - b : b - a }
            { exit !(d($1, R) <= 3 && d($2, G) <= 3 && d($3, B) <= 3) }'
}
click_icon() { xdotool mousemove --window "$(app_window 'WIDTH <= 64')" 8 8 click "${1:-1}"; }
# open_menu MIN_WINDOWS: right-clicks the icon until the menu shows. A click that arrives while
# the toolkit is still closing the previous popup is dropped, so one click is not enough.
open_menu() {
    local attempt
    for attempt in 1 2 3 4 5; do
        click_icon 3
        for _ in $(seq 1 40); do
            windows_at_least "$1" && return 0
            sleep 0.05
        done
    done
    fail "the menu did not open"
}
windows_at_least() { [ "$(visible_windows)" -ge "$1" ]; }
windows_exactly() { [ "$(visible_windows)" -eq "$1" ]; }
icon_red() { [ "$(red_pixels_in_tray)" -gt 20 ]; }
icon_neutral() { [ "$(red_pixels_in_tray)" -lt 5 ]; }
# window_region WINDOW OUT X Y W H: a piece of a window, taken from the screen
window_region() {
    local WINDOW X Y WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    import -window root -crop "${5}x${6}+$((X + $3))+$((Y + $4))" +repage "$2"
}
# images_differ A B PIXELS: more than PIXELS pixels differ
images_differ() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" -gt "$3" ]; }

# The item registered with the StatusNotifierItem host, as a host asks it over the bus.
sni_item() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems |
        awk -F'"' '/^ *string "/ && !item { item = $2 } END { print item }'
}
# sni_call Activate|ContextMenu X Y: a click on the item, as the host reports it
sni_call() { dbus-send --session --print-reply --dest="$(sni_item)" /StatusNotifierItem "org.kde.StatusNotifierItem.$1" "int32:$2" "int32:$3" >/dev/null; }
sni_property() {
    dbus-send --session --print-reply --dest="$(sni_item)" /StatusNotifierItem org.freedesktop.DBus.Properties.Get \
        string:org.kde.StatusNotifierItem "string:$1" | tail -n +2
}
sni_menu_path() { sni_property Menu | sed -n 's/.*object path "\(.*\)"$/\1/p'; }
# sni_menu: the exported menu's visible entries, one "ID LABEL" per line ("ID -" a separator)
sni_menu() {
    dbus-send --session --print-reply --dest="$(sni_item)" "$(sni_menu_path)" com.canonical.dbusmenu.GetLayout \
        int32:0 int32:-1 array:string: | awk '
        function flush() { if (id != "" && shown) print id, label }
        /variant +struct \{/ { flush(); id = ""; label = ""; shown = 1; next }
        id == "" && /^ *int32 / { id = $2; next }
        /^ *string "(label|type|visible)"$/ { key = $2; next }
        key != "" {
            value = $0; sub(/^ *variant +[a-z]+ "?/, "", value); sub(/"$/, "", value)
            if (key == "\"label\"") label = value
            if (key == "\"type\"" && value == "separator") label = "-"
            if (key == "\"visible\"" && value == "false") shown = 0
            key = ""
        }
        END { flush() }'
}
# sni_click LABEL: the host's click on that menu entry
sni_click() {
    local id
    id=$(sni_menu | awk -v l="$1" 'substr($0, index($0, " ") + 1) == l && !id { id = $1 } END { print id }')
    [ -n "$id" ] && dbus-send --session --print-reply --dest="$(sni_item)" "$(sni_menu_path)" com.canonical.dbusmenu.Event \
        "int32:$id" string:clicked variant:int32:0 uint32:0 >/dev/null
}

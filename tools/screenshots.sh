#!/usr/bin/env bash
# Photographs the open panel as a user sees it: the app on a private Xorg with a tray, the
# tray icon clicked with xdotool, one PNG per state and language.
#   tools/screenshots.sh [OUTDIR]        (default: build/screenshots)
# Env: AMBRANO_BUILD (default build). The flicker-bar shots need root (a fake backlight in a
# private mount namespace); without it they are skipped.
#
# For each language (es, en, ca):
#   panel-<lang>-off.png      filter off, a built-in tip
#   panel-<lang>-on.png       after a click on the day/night switch: filter on, activation message
#   panel-<lang>-tip.png      a tip with an image and a link (served on loopback)
#   panel-<lang>-flicker.png  built-in panel backlight at 25 %: the amber bar
#   panel-<lang>-bars.png     the same plus a running "redshift": both bars
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${AMBRANO_BUILD:-$here/build}
build=$(cd "$build" && pwd)
out=${1:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ "${SCREENSHOTS_INSIDE:-}" != 1 ]; then
    ninja -C "$build" ambrano mark_panel >/dev/null
    SCREENSHOTS_INSIDE=1 exec "$here/tests/support/with-xorg.sh" "$0" "$out"
fi

# Fresh user folders, the tray, window finders and waiting come from the end-to-end tests.
export AMBRANO_BIN=$build/src/ambrano GAMMA_PROBE=$build/tests/gamma_probe
source "$here/tests/support/e2e-lib.sh"
app=$AMBRANO_BIN
work=$E2E_HOME
pids=()
cleanup() {
    for pid in "${pids[@]}"; do { kill -9 "$pid" && wait "$pid"; } 2>/dev/null || true; done
    e2e_cleanup
}
trap cleanup EXIT
start_tray

# A tip picture and a small web server for it.
mkdir -p "$work/www"
convert -size 132x132 radial-gradient:'#ffd36b'-'#ff6a3d' -fill '#1d1f2c' -draw 'circle 66,66 66,30' \
    -fill '#ffd36b' -draw 'circle 82,52 82,30' "$work/www/tip.png"
port=$(( 20000 + RANDOM % 20000 ))
/usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/www" >/dev/null 2>&1 &
pids+=($!)
wait_for "the image server" bash -c "exec 3<>/dev/tcp/127.0.0.1/$port"

# The tips cache the app reads at start, so the tip shown is known. No promotional lines.
builtin_tip='{"ads": [], "tips": [{
  "en": "20-20-20 rule: every 20 min look 20 ft away for 20 s to rest your eyes.",
  "es": "Regla 20-20-20: cada 20 min mira algo a 6 m durante 20 s para descansar la vista.",
  "ca": "Regla 20-20-20: cada 20 min mira alguna cosa a 6 m durant 20 s per descansar la vista."}]}'
image_tip='{"ads": [], "tips": [{
  "en": "Sleepy eyes? Dim the screen and go warm an hour before bed.",
  "es": "¿Ojos cansados? Baja el brillo y pasa a cálido una hora antes de dormir.",
  "ca": "Ulls cansats? Abaixa la brillantor i passa a càlid una hora abans de dormir.",
  "color": "#FFB36B", "image": "http://127.0.0.1:'"$port"'/tip.png", "url": "https://example.org/sleep"}]}'

# fresh_home LANG TIPS_JSON: new XDG folders with the language chosen and the tips cache.
fresh_home() {
    home=$(mktemp -d "$work/home.XXXXXX")
    export XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/runtime
    mkdir -p "$XDG_CONFIG_HOME/Halvex" "$XDG_DATA_HOME/Halvex" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    printf '{"vesk.firstLaunchDone": true, "vesk.lang": "%s"}\n' "$1" > "$XDG_CONFIG_HOME/Halvex/settings.json"
    printf '%s\n' "$2" > "$XDG_DATA_HOME/Halvex/tips.json"
}

# run_app [PREFIX...]: starts the app (through PREFIX, e.g. a namespace) and waits for its icon.
run_app() {
    "$@" "$app" >"$work/app.log" 2>&1 &
    app_pid=$!
    pids+=("$app_pid")
    wait_for "the tray icon" icon_embedded
}
stop_app() {
    kill -TERM "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
}
open_panel() {
    click_icon 1
    wait_for "the panel" panel_open
    sleep "${1:-1}"  # paint, fetch the tip picture
}
# shoot NAME: the panel window as it is on screen.
shoot() {
    local w geometry
    w=$(panel_window) || fail "no panel for $1"
    geometry=$(xdotool getwindowgeometry --shell "$w")
    eval "$geometry"
    import -window root "$work/root.png"
    convert "$work/root.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$1.png"
    echo "$out/$1.png ${WIDTH}x${HEIGHT}"
}

for lang in es en ca; do
    fresh_home "$lang" "$builtin_tip"
    run_app
    open_panel
    shoot "panel-$lang-off"
    # The day/night switch: 104, 428, 164 x 79 in the panel.
    xdotool mousemove --window "$(panel_window)" 186 467 click 1
    sleep 1
    shoot "panel-$lang-on"
    stop_app

    fresh_home "$lang" "$image_tip"
    run_app
    open_panel 1.5
    shoot "panel-$lang-tip"
    stop_app
done

if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    echo "screenshots: the flicker-bar shots need root and mount namespaces; skipped" >&2
    exit 0
fi

# A built-in panel at a quarter of its backlight: the output marked as a panel, and a fake
# /sys/class seen only by the app.
"$build/tests/mark_panel" DUMMY0
class=$work/class
mkdir -p "$class/backlight/intel_backlight"
echo raw > "$class/backlight/intel_backlight/type"
echo 1000 > "$class/backlight/intel_backlight/max_brightness"
echo 250 > "$class/backlight/intel_backlight/brightness"
echo 250 > "$class/backlight/intel_backlight/actual_brightness"
cat > "$work/in-namespace.sh" <<EOF
#!/bin/sh
mount --bind "$class" /sys/class && exec "\$@"
EOF
chmod +x "$work/in-namespace.sh"

# A harmless program under a conflicting name.
cp "$(command -v sleep)" "$work/redshift"

for lang in es en ca; do
    fresh_home "$lang" "$builtin_tip"
    run_app unshare -m --propagation private "$work/in-namespace.sh"
    open_panel
    shoot "panel-$lang-flicker"
    click_icon 1
    wait_for "the panel to close" eval '! panel_open'
    "$work/redshift" 600 &
    conflict_pid=$!
    pids+=("$conflict_pid")
    open_panel
    shoot "panel-$lang-bars"
    kill "$conflict_pid"; wait "$conflict_pid" 2>/dev/null || true
    stop_app
done

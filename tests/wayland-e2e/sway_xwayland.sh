#!/usr/bin/env bash
# The app under a real sway (headless, so its outputs have no gamma) and its Xwayland, as an
# unprivileged user (sway's pixman renderer refuses root). Xwayland alone, as on GNOME or KDE:
# no display backend, and the app says so instead of writing ramps nobody sees. Wayland with
# wlr-gamma-control: the app starts on Qt's Wayland platform and says the outputs have no gamma.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to run sway as an unprivileged user"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "--- $*"; }

work=$(mktemp -d /tmp/ambrano-sway.XXXXXX)
sway_pid=
app_pid=
cleanup() {
    for pid in $app_pid $sway_pid; do { kill -9 "$pid" && wait "$pid"; } 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
mkdir -p "$work/run" "$work/config/Halvex"
chmod 700 "$work/run"
h=$((10#$(date +%H)))
echo "{\"vesk.firstLaunchDone\": true, \"vesk.autoSchedule\": true, \"vesk.nightStart\": $h,
 \"vesk.dayStart\": $(( (h + 1) % 24 )), \"vesk.eveningStart\": $(( (h + 2) % 24 ))}" >"$work/config/Halvex/settings.json"
cat >"$work/sway.cfg" <<CFG
xwayland enable
exec sh -c 'echo "\$WAYLAND_DISPLAY \$DISPLAY" > $work/run/session'
CFG
chown -R 65534:65534 "$work"
as_user() {
    exec env -i PATH=/usr/bin:/bin HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$work/run/no-bus" \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:fast_unwind_on_malloc=0}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
}
# (Full stacks under the sanitizers: Qt's Wayland plugin keeps allocations until exit, and only
# a full stack shows they are its own.)
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)

as_user WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 "${nobody[@]}" sway -c "$work/sway.cfg" \
    >"$work/sway.log" 2>&1 &
sway_pid=$!
for _ in $(seq 1 100); do [ -s "$work/run/session" ] && break; sleep 0.05; done
[ -s "$work/run/session" ] || fail "sway did not start: $(tail -5 "$work/sway.log")"
read -r wayland x11 <"$work/run/session"

# run_app LOG ENV...: the app for a moment, as the user, in that environment
run_app() {
    local log=$1; shift
    as_user "$@" "${nobody[@]}" "$AMBRANO_BIN" >"$work/$log" 2>&1 &
    app_pid=$!
    for _ in $(seq 1 100); do grep -q "^ambrano: display: .* took\|take no gamma" "$work/$log" && break; sleep 0.05; done
    kill -TERM "$app_pid"; wait "$app_pid" || fail "$log: exit status $?: $(cat "$work/$log")"
    app_pid=
}

step "Xwayland alone: no display backend, and why"
run_app xwayland.log DISPLAY="$x11"
grep -q "^ambrano: display: none (Xwayland: the compositor ignores X11 gamma)$" "$work/xwayland.log" \
    || fail "display line: $(cat "$work/xwayland.log")"
grep -q "^ambrano: display: no display took the tables" "$work/xwayland.log" || fail "no warning: $(cat "$work/xwayland.log")"
# Xwayland would have read back whatever was written: it must not hold the night's red.
top=$(as_user DISPLAY="$x11" "${nobody[@]}" "$GAMMA_PROBE" | awk '{print $3}' | head -n1)
[ "$top" != "1.0000" ] || fail "the app wrote ramps to Xwayland"

step "Xwayland beside wlr-gamma-control: windows on X11, gamma through Wayland"
run_app both.log DISPLAY="$x11" WAYLAND_DISPLAY="$wayland"
grep -q "^ambrano: display: wayland wlr-gamma-control (1 output)$" "$work/both.log" || fail "display line: $(cat "$work/both.log")"

step "Wayland: Qt's Wayland platform, the headless output has no gamma"
run_app wayland.log WAYLAND_DISPLAY="$wayland"
grep -q "^ambrano: display: wayland wlr-gamma-control (1 output)$" "$work/wayland.log" || fail "display line: $(cat "$work/wayland.log")"
grep -q "^ambrano: display: HEADLESS-1 take no gamma$" "$work/wayland.log" || fail "no warning: $(cat "$work/wayland.log")"
echo "PASS"

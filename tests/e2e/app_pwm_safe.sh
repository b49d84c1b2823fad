#!/usr/bin/env bash
# PWM-safe mode through the real app and the real Linux backlight backend: inside a private
# mount namespace a fake /sys/class (a raw backlight device) is bound over the real one and
# the X output is marked as a built-in panel. The panel's PWM-safe switch pins the backlight
# at its maximum and gives back the exact integer it had; quitting with the mode on does too.
# Needs root (unshare, mount); skipped otherwise.
if [ "${PWM_E2E_INSIDE:-}" != 1 ]; then
    if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
        echo "skipped: needs root and mount namespaces"
        exit 77
    fi
    PWM_E2E_INSIDE=1 exec unshare -m --propagation private "$0" "$@"
fi
source "$(dirname "$0")/../support/e2e-lib.sh"

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
level() { cat /sys/class/backlight/intel_backlight/brightness; }
level_is() { [ "$(level)" = "$1" ]; }
# The PWM-safe switch of the English panel: 46 x 26 at the left of its centred row, y 323.
pwm_switch() { xdotool mousemove --window "$(panel_window)" 117 336 click 1; }

echo '{"vesk.firstLaunchDone": true, "vesk.lang": "en"}' > "$XDG_CONFIG_HOME/Halvex/settings.json"
start_tray
start_app
wait_for "the tray icon" icon_embedded

step "a low backlight shows the flicker bar; the switch pins the backlight at its maximum"
click_icon 1
wait_for "the panel" panel_open
# The amber bar (20, 560, 332, 24) under the switch row.
wait_for "the flicker bar" panel_pixel_near 30 565 140 71 0
pwm_switch
wait_for "the backlight at its maximum" level_is 19393
wait_for "warm ramps (the filter comes on with the mode)" ramp_warm

step "switching it off gives back the exact level"
pwm_switch
wait_for "the backlight back at 4321" level_is 4321

step "quitting with the mode on restores the backlight and the displays"
pwm_switch
wait_for "the backlight at its maximum" level_is 19393
kill -TERM "$APP_PID"; wait "$APP_PID" || fail "exit status $? after SIGTERM"
level_is 4321 || fail "backlight left at $(level) after quitting"
ramp_identity || fail "ramps not restored after quitting"
echo "PASS"

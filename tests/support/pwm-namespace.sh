#!/usr/bin/env bash
# End-to-end check of the real backlight and DDC backends: inside a private mount namespace
# a fake /sys/class (a backlight device, DRM connectors) is bound over the real one, and the
# probe's enable/disable must move the backlight to its maximum and back to the exact integer.
# Needs root (unshare, mount); skipped otherwise.
set -euo pipefail
probe=${1:?usage: pwm-namespace.sh PWM_PROBE}

if [ "${PWM_NAMESPACE_INSIDE:-}" != 1 ]; then
    if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
        echo "skipped: needs root and mount namespaces"
        exit 77
    fi
    PWM_NAMESPACE_INSIDE=1 exec unshare -m --propagation private "$0" "$@"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
class=$tmp/class
dev=$class/backlight/intel_backlight
mkdir -p "$dev" "$class/backlight/acpi_video0" "$class/drm/card0-eDP-1" "$class/drm/card0-DP-1/i2c-42" "$class/drm/card0-HDMI-A-1"
echo raw > "$dev/type"; echo 19393 > "$dev/max_brightness"; echo 4321 > "$dev/actual_brightness"; echo 4321 > "$dev/brightness"
# A firmware device with a broken range must be passed over for the raw one.
echo firmware > "$class/backlight/acpi_video0/type"; echo 0 > "$class/backlight/acpi_video0/max_brightness"
echo 0 > "$class/backlight/acpi_video0/brightness"; echo 0 > "$class/backlight/acpi_video0/actual_brightness"
# An external monitor's backlight from the ddcci driver is never the panel's; the panel's
# own hangs below its connector.
mkdir -p "$class/backlight/ddcci7"; ln -s ../../drm/card0-eDP-1 "$dev/device"
echo raw > "$class/backlight/ddcci7/type"; echo 100 > "$class/backlight/ddcci7/max_brightness"
echo 30 > "$class/backlight/ddcci7/brightness"; echo 30 > "$class/backlight/ddcci7/actual_brightness"
echo connected > "$class/drm/card0-eDP-1/status"
echo connected > "$class/drm/card0-DP-1/status"        # its adapter has no /dev node
echo disconnected > "$class/drm/card0-HDMI-A-1/status"
mount --bind "$class" /sys/class

fail() { echo "FAIL: $*"; exit 1; }
# Like the kernel, the hardware reports what was last written.
( while sleep 0.02; do cat /sys/class/backlight/intel_backlight/brightness > /sys/class/backlight/intel_backlight/actual_brightness 2>/dev/null || true; done ) &
follower=$!
trap 'kill $follower 2>/dev/null || true; rm -rf "$tmp"' EXIT

# The probe talks over two fifos with descriptors of our own: a coprocess's PROBE array and
# PROBE_PID vanish as soon as bash reaps it, which races with the last wait.
mkfifo "$tmp/to-probe" "$tmp/from-probe"
"$probe" <"$tmp/to-probe" >"$tmp/from-probe" &
probe_pid=$!
trap 'kill $follower $probe_pid 2>/dev/null || true; rm -rf "$tmp"' EXIT
exec {to_probe}>"$tmp/to-probe" {from_probe}<"$tmp/from-probe"
ask() { echo "$1" >&"$to_probe"; read -r -t 20 reply <&"$from_probe" || fail "no answer to $1"; echo "$1 -> $reply"; }
read -r -t 20 ready <&"$from_probe" || fail "probe did not start"
echo "$ready"
[ "$ready" = "ready device=intel_backlight ddc=no" ] || fail "unexpected start: $ready"

ask enable
[ "$reply" = "state active" ] || fail "enable gave $reply"
[ "$(cat /sys/class/backlight/intel_backlight/brightness)" = 19393 ] || fail "not pinned at the maximum"
ask disable
[ "$reply" = "state off" ] || fail "disable gave $reply"
[ "$(cat /sys/class/backlight/intel_backlight/brightness)" = 4321 ] || fail "not restored to 4321"

# Enabled twice, the level to restore is still the one from before the first.
sleep 0.1
ask enable
ask enable
ask disable
[ "$(cat /sys/class/backlight/intel_backlight/brightness)" = 4321 ] || fail "double enable lost the level"

# The device vanishes while pinned: disable still ends off and writes nothing anywhere.
ask enable
kill "$follower"; wait "$follower" 2>/dev/null || true  # it would recreate files while they go
rm -rf "$dev"  # seen at once through the bind mount
[ ! -e /sys/class/backlight/intel_backlight ] || fail "the bind mount does not show the fake tree"
ask disable
[ "$reply" = "state off" ] || fail "disable after the device vanished gave $reply"
[ ! -e "$dev" ] || fail "the vanished device was recreated"

ask log
case "$reply" in
*"pwm enable → active"*"pwm disable"*) ;;
*) fail "log lines missing: $reply" ;;
esac
echo quit >&"$to_probe"
wait "$probe_pid" || fail "probe exited with an error"
echo "PASS"

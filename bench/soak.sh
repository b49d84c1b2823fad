#!/usr/bin/env bash
# Drives the running app through thousands of operations of each kind — shortcut toggles,
# panel open/close, warmth drags, display plug/unplug, wake from sleep — once with an XEmbed
# tray (trayer) and once with a StatusNotifierItem host (tests/support/sni_host on a private bus), on a
# private Xorg, and prints the app's resident memory after every 1,000 operations of each kind.
#   bench/soak.sh [operations per kind, default 2000] [xembed|sni ...]
# SOAK_KINDS picks some of the kinds (default "toggle panel drag plug wake").
# Builds what it needs in build-soak/ (or uses AMBRANO_BUILD, a build with tests and benchmarks).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ -z "${SOAK_INNER:-}" ]; then
  build=${AMBRANO_BUILD:-$here/build-soak}
  if [ -z "${AMBRANO_BUILD:-}" ]; then
    bash "$here/tools/setup.sh"
    export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=true
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target ambrano gamma_probe fake_logind sni_host >/dev/null
  fi
  export SOAK_INNER=1 AMBRANO_BIN=$build/src/ambrano GAMMA_PROBE=$build/tests/gamma_probe \
    FAKE_LOGIND=$build/tests/fake_logind SNI_HOST=$build/tests/sni_host
  exec "$here/tests/support/with-xorg.sh" "$0" "$@"
fi

source "$here/tests/support/e2e-lib.sh"
count=${1:-2000}
shift || true
trays=("$@")
[ ${#trays[@]} -gt 0 ] || trays=(xembed sni)

rss() { awk '/^VmRSS/ {print $2}' "/proc/$APP_PID/status"; }
report() { printf '%-7s %-8s %6d ops  %6d kB  %5d s\n' "$TRAY" "$1" "$2" "$(rss)" "$SECONDS"; }
alive() { kill -0 "$APP_PID" 2>/dev/null || fail "the app ended during the $1 run"; }

# run KIND STEP: STEP does n operations (n is its argument); reports every 1,000.
run() {
  local kind=$1 step=$2 done=0 batch
  report "$kind" 0
  while [ "$done" -lt "$count" ]; do
    batch=$(( count - done < 100 ? count - done : 100 ))
    "$step" "$batch"
    done=$((done + batch))
    alive "$kind"
    if (( done % 1000 == 0 || done == count )); then sleep 0.3; report "$kind" "$done"; fi
  done
}

toggles() { xdotool key --delay 1 $(printf 'ctrl+alt+super+z %.0s' $(seq 1 "$1")); sleep 0.1; }

# A left click on the icon: on the XEmbed tray a real click, on the SNI host its Activate call.
click() {
  if [ "$TRAY" = xembed ]; then click_icon 1; else sni_call Activate 600 10; fi
}
# The panel is the one window beyond the icon's (none on the SNI host); a tight poll keeps
# thousands of open/close rounds quick.
windows_now() { { xdotool search --onlyvisible --classname ambrano 2>/dev/null || true; } | wc -l; }
# await_windows N [SECONDS]: polls until N of the app's windows are on screen.
await_windows() {
  local deadline=$((SECONDS + ${2:-30}))
  while [ "$SECONDS" -lt "$deadline" ]; do [ "$(windows_now)" -eq "$1" ] && return 0; sleep 0.01; done
  return 1
}
# One click that should bring N windows; on the SNI host an Activate now and then shows no
# panel (counted in LOST, see the README), and the click is repeated.
click_for() {
  local _
  for _ in 1 2 3; do
    click
    await_windows "$1" 3 && return 0
    LOST=$((LOST + 1))
  done
  fail "no $1 visible windows after three clicks (there are $(windows_now))"
}
panels() {
  local i
  for i in $(seq 1 "$1"); do
    click_for $((BASE + 1))
    click_for "$BASE"
  done
}

# Across the warmth slider and back, with the panel open (the slider is at y = 140).
drags() {
  local P args=() i
  click_for $((BASE + 1))
  wait_for "the panel" panel_open
  P=$(panel_window)
  for i in $(seq 1 "$1"); do
    args+=(mousemove --window "$P" 40 140 mousedown 1 mousemove --window "$P" 200 140
      mousemove --window "$P" 330 140 mouseup 1)
  done
  xdotool "${args[@]}" || fail "the drags stopped: the panel closed under them"
  click_for "$BASE"
}

plugs() {
  local i
  for i in $(seq 1 "$1"); do
    xrandr --output DUMMY1 --mode 1280x800_60 --right-of DUMMY0
    xrandr --output DUMMY1 --off
  done
}

wakes() {
  local i
  for i in $(seq 1 "$1"); do "$FAKE_LOGIND" sleep; "$FAKE_LOGIND" wake; done
}

xrandr --newmode 1280x800_60 83.50 1280 1352 1480 1680 800 803 809 831 -hsync +vsync
xrandr --addmode DUMMY1 1280x800_60

for TRAY in "${trays[@]}"; do
  # A private bus per tray: the session bus for the SNI host, and as the system bus for logind.
  eval "$(dbus-launch --sh-syntax)"
  E2E_PIDS+=("$DBUS_SESSION_BUS_PID")
  export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
  if [ "$TRAY" = xembed ]; then
    start_tray
    start_app
    wait_for "the tray icon" icon_embedded
  else
    "$SNI_HOST" >"$E2E_HOME/sni.log" 2>&1 &
    HOST_PID=$!
    E2E_PIDS+=("$HOST_PID")
    wait_for "the SNI host" grep -q ready "$E2E_HOME/sni.log"
    start_app
    wait_for "the item on the SNI host" grep -q '^item ' "$E2E_HOME/sni.log"
  fi
  sleep 1
  BASE=$(windows_now) LOST=0
  for kind in ${SOAK_KINDS:-toggle panel drag plug wake}; do run "$kind" "${kind}s"; done
  echo "$TRAY    clicks that showed or hid no panel (repeated): $LOST"
  kill -TERM "$APP_PID"; wait "$APP_PID" || true
  if [ "$TRAY" = xembed ]; then
    kill "$TRAY_PID"
  else
    kill -TERM "$HOST_PID"; wait "$HOST_PID" || true
    grep 'fetched' "$E2E_HOME/sni.log" | sed "s/^/$TRAY    /"
  fi
  kill "$DBUS_SESSION_BUS_PID"
done

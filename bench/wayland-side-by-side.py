#!/usr/bin/env python3
"""Ambrano, gammastep (-m wayland) and wlsunset side by side on the stand-in Wayland compositor
(tests/support/StandInCompositor, two outputs of 256 and 1024 entries). No X server.
    bench/wayland-side-by-side.py [--build build] [--idle 30]
Figures: exec to the first set_gamma; set_gamma requests in the first 1.5 s (a transition or
fade: count and span); idle cost with the filter on (CPU, wakeups); warmth change to set_gamma
(Ambrano: bench/wayland_bench in-process; gammastep: a SIGUSR1 toggle with fading off)."""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from side_by_side import idle_cost, night_now_settings, threads, user_folders  # noqa: E402


def writes(log, output="eDP-1"):
    with open(log) as f:
        return [int(p[0]) / 1e6 for p in (line.split() for line in f) if len(p) > 2 and p[1] == "write" and p[2] == output]


def wait_writes(log, n, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if len(writes(log)) >= n:
            return True
        time.sleep(0.02)
    return False


def run_tool(name, cmd, env, home, idle):
    log = os.path.join(home, f"{name}.compositor.log")
    socket = f"ambrano-bench-{name}-{os.getpid()}"
    compositor = subprocess.Popen([f"{BUILD}/tests/standin_compositor", socket, "eDP-1:256", "DP-2:1024"],
                                  stdout=open(log, "w"), env=env)
    time.sleep(0.3)
    env = dict(env, WAYLAND_DISPLAY=socket)
    env.pop("DISPLAY", None)
    started = time.monotonic() * 1e3
    tool = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    result = {}
    try:
        wait_writes(log, 1)
        time.sleep(1.6)
        w = writes(log)
        if w:
            first = w[0]
            burst = [t for t in w if t - first <= 1500]
            result["first_ms"] = first - started
            result["burst"] = len(burst)
            result["burst_span_ms"] = burst[-1] - first
        before = threads(tool.pid)
        time.sleep(idle)
        cost = idle_cost(before, threads(tool.pid), idle)
        result["idle_cpu_ms_per_s"] = cost["cpu_ms"] / idle
        result["idle_wakeups_per_s"] = cost["voluntary_switches"] / idle
        if name == "gammastep":
            lat = []
            for _ in range(10):
                n = len(writes(log))
                t0 = time.monotonic() * 1e3
                tool.send_signal(10)  # SIGUSR1: toggle
                if wait_writes(log, n + 1, 2):
                    lat.append(writes(log)[n] - t0)
                time.sleep(0.2)
            result["change_ms"] = statistics.median(lat) if lat else None
    finally:
        tool.terminate()
        tool.wait()
        compositor.terminate()
        compositor.wait()
    return result


def main():
    global BUILD
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--idle", type=float, default=30)
    args = parser.parse_args()
    BUILD = os.path.abspath(args.build)
    home = tempfile.mkdtemp(prefix="ambrano-wayland-bench.")
    os.environ["XDG_RUNTIME_DIR"] = os.path.join(home, "runtime")
    os.makedirs(os.environ["XDG_RUNTIME_DIR"], mode=0o700)
    h = time.localtime().tm_hour
    app_env = user_folders(os.path.join(home, "app"), night_now_settings())
    app_env.update(QT_QPA_PLATFORM="offscreen", DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")
    tools = {
        "ambrano": [f"{BUILD}/src/ambrano"],
        "gammastep": ["gammastep", "-m", "wayland", "-r", "-l", "48.1:11.6", "-t", "4500:3500"],
        "wlsunset": ["wlsunset", "-t", "3000", "-T", "6500", "-S", f"{(h + 2) % 24:02d}:00",
                     "-s", f"{(h + 3) % 24:02d}:00", "-d", "60"],
    }
    results = {name: run_tool(name, cmd, app_env, home, args.idle) for name, cmd in tools.items()}
    bench = subprocess.run([f"{BUILD}/bench/wayland_bench"], capture_output=True, text=True, check=True).stdout.split("\n")
    latency = sorted(float(l.split()[1]) for l in bench if l.startswith("latency"))
    steps = [float(l.split()[1]) for l in bench if l.startswith("step")]
    results["ambrano"]["change_ms"] = statistics.median(latency)
    results["ambrano"]["transition"] = f"{len(steps)} steps over {steps[-1] - steps[0]:.0f} ms" if steps else "–"

    def cell(r, key, fmt):
        return fmt.format(r[key]) if r.get(key) is not None else "–"
    print("| | Ambrano | gammastep -m wayland | wlsunset |")
    print("|---|---|---|---|")
    rows = [("exec to first set_gamma", "first_ms", "{:.0f} ms"),
            ("set_gamma in the first 1.5 s", "burst", "{}"),
            ("  over", "burst_span_ms", "{:.0f} ms"),
            ("warmth change to set_gamma (median)", "change_ms", "{:.2f} ms"),
            ("idle, filter on: wakeups", "idle_wakeups_per_s", "{:.2f}/s"),
            ("idle, filter on: CPU", "idle_cpu_ms_per_s", "{:.3f} ms/s")]
    for label, key, fmt in rows:
        print(f"| {label} | " + " | ".join(cell(results[t], key, fmt) for t in tools) + " |")
    print(f"\nAmbrano's 0.35 s transition in-process: {results['ambrano']['transition']}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The measuring half of bench/side-by-side.sh. Runs on the private X server (with a tray and
fresh user folders) that the shell half has set up; prints the table and writes the JSON."""

import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

GAMMASTEP_LOCATION = "48.1:11.6"  # fixed, so gammastep needs no location service
GAMMASTEP_TEMPS = "4500:3500"  # both away from 6500 K, so it always fades in at start


def log(message):
    print(f"[{time.strftime('%H:%M:%S')}] {message}", file=sys.stderr, flush=True)


def output(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw).stdout


def summary(values):
    values = [v for v in values if v is not None]
    if not values:
        return None
    return {
        "n": len(values),
        "median": statistics.median(values),
        "min": min(values),
        "max": max(values),
        "mean": statistics.fmean(values),
        "stdev": statistics.stdev(values) if len(values) > 1 else 0.0,
    }


def numbers(text):
    """One figure per line; 'timeout' lines become None."""
    return [None if line.strip() == "timeout" else float(line) for line in text.split()]


# --- processes -------------------------------------------------------------------------------

def threads(pid):
    """tid -> (name, ns on CPU, voluntary switches, involuntary switches)"""
    result = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        base = f"/proc/{pid}/task/{tid}"
        try:
            with open(f"{base}/comm") as f:
                name = f.read().strip()
            with open(f"{base}/schedstat") as f:
                ns = int(f.read().split()[0])
            with open(f"{base}/status") as f:
                status = f.read()
        except FileNotFoundError:
            continue
        vol = int(re.search(r"^voluntary_ctxt_switches:\s*(\d+)", status, re.M).group(1))
        invol = int(re.search(r"^nonvoluntary_ctxt_switches:\s*(\d+)", status, re.M).group(1))
        result[tid] = (name, ns, vol, invol)
    return result


def idle_cost(before, after, seconds):
    per_thread = []
    total_ns = total_vol = total_invol = 0
    for tid, (name, ns, vol, invol) in sorted(after.items(), key=lambda kv: int(kv[0])):
        _, ns0, vol0, invol0 = before.get(tid, (name, 0, 0, 0))
        d = (ns - ns0, vol - vol0, invol - invol0)
        total_ns += d[0]
        total_vol += d[1]
        total_invol += d[2]
        per_thread.append({"thread": name, "tid": int(tid), "cpu_ms": d[0] / 1e6,
                           "voluntary_switches": d[1], "involuntary_switches": d[2]})
    return {"seconds": seconds, "cpu_ms": total_ns / 1e6, "voluntary_switches": total_vol,
            "involuntary_switches": total_invol, "threads": per_thread}


def memory(pid):
    with open(f"/proc/{pid}/status") as f:
        status = f.read()
    fields = {}
    for key in ("VmRSS", "RssAnon", "RssFile", "RssShmem"):
        m = re.search(rf"^{key}:\s*(\d+) kB", status, re.M)
        fields[key] = int(m.group(1)) if m else None
    # What the resident pages belong to, largest first.
    owners = {}
    current = None
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
                parts = line.split()
                current = os.path.basename(parts[5]) if len(parts) > 5 else "[anonymous]"
            elif line.startswith("Rss:") and current is not None:
                owners[current] = owners.get(current, 0) + int(line.split()[1])
    top = sorted(owners.items(), key=lambda kv: -kv[1])[:10]
    return {"rss_kib": fields["VmRSS"], "anon_kib": fields["RssAnon"], "file_kib": fields["RssFile"],
            "shmem_kib": fields["RssShmem"], "largest": [{"mapping": k, "rss_kib": v} for k, v in top]}


def stop(proc, timeout=10):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def kill_pid(pid, timeout=10):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            os.kill(pid, 0)
            with open(f"/proc/{pid}/stat") as f:
                if f.read().split(") ")[1].startswith("Z"):
                    return
        except (ProcessLookupError, FileNotFoundError):
            return
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)


def runtime_on_tmpfs():
    """In a desktop session XDG_RUNTIME_DIR is a tmpfs (/run/user/UID); the app keeps its gamma
    backup there and syncs it before the first ramp, so a disk folder would slow that down."""
    if output(["stat", "-f", "-c", "%T", "/dev/shm"]).strip() != "tmpfs":
        return None
    path = tempfile.mkdtemp(prefix="ambrano-bench-runtime.", dir="/dev/shm")
    os.environ["XDG_RUNTIME_DIR"] = path
    return path


def user_folders(root, settings):
    """Fresh XDG folders under root, and a runtime folder of the same name inside the shared
    one, with the given settings; returns the environment to run in."""
    env = dict(os.environ)
    env["XDG_CONFIG_HOME"] = os.path.join(root, "config")
    env["XDG_DATA_HOME"] = os.path.join(root, "data")
    env["XDG_CACHE_HOME"] = os.path.join(root, "cache")
    env["XDG_RUNTIME_DIR"] = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.path.basename(root))
    for var in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"):
        os.makedirs(env[var], mode=0o700, exist_ok=True)
    os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "Halvex"), exist_ok=True)
    with open(os.path.join(env["XDG_CONFIG_HOME"], "Halvex", "settings.json"), "w") as f:
        json.dump(settings, f)
    return env


def night_now_settings():
    """Automatic mode on fixed hours placed so that the current hour is night: the app
    switches the filter on at launch and animates the warmth from 62 to 100 over 0.35 s."""
    if time.localtime().tm_min == 59:
        time.sleep(61 - time.localtime().tm_sec)  # not across an hour boundary
    h = time.localtime().tm_hour
    return {"vesk.firstLaunchDone": True, "vesk.autoSchedule": True, "vesk.useSolar": False,
            "vesk.dayStart": (h + 1) % 24, "vesk.eveningStart": (h + 2) % 24, "vesk.nightStart": h}


def icon_embedded():
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", "ambrano"],
                          capture_output=True).returncode == 0


def wait_for(what, predicate, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise SystemExit(f"side_by_side: timed out waiting for {what}")


# --- gamma_watch output ----------------------------------------------------------------------

def parse_record(text):
    """gamma_watch record output: exec time, child pid, the child's own lines, ramps."""
    result = {"exec": None, "pid": None, "ramps": [], "child": []}
    for line in text.splitlines():
        parts = line.split()
        if not parts:
            continue
        if parts[0] == "exec":
            result["exec"] = float(parts[1])
        elif parts[0] == "pid":
            result["pid"] = int(parts[1])
        elif re.match(r"^[0-9.]+$", parts[0]) and len(parts) == 4:
            result["ramps"].append((float(parts[0]), float(parts[1]), float(parts[2]), float(parts[3])))
        else:
            result["child"].append(parts)
    return result


def spacing(times):
    return [b - a for a, b in zip(times, times[1:])]


# --- the panel -------------------------------------------------------------------------------

PANEL_WIDTH = 372
SLIDER = (20, 130, 332, 20)  # the warmth slider's frame in the panel
KNOB = 18  # the slider's knob; only a press on it drags (a press beside it steps)
START_WARMTH = 62  # the engine's value at launch


def knob_x(panel_x, value):
    return panel_x + SLIDER[0] + KNOB // 2 + round(value / 100 * (SLIDER[2] - KNOB))


def drag(x_from, x_to, y, pause="0.008"):
    """Presses at x_from, moves one pixel at a time to x_to, releases; returns the moves."""
    step = 1 if x_to > x_from else -1
    xs = list(range(x_from + step, x_to + step, step))
    command = ["xdotool", "mousemove", str(x_from), str(y), "mousedown", "1"]
    for x in xs:
        command += ["sleep", pause, "mousemove", str(x), str(y)]
    command += ["sleep", "0.05", "mouseup", "1"]
    subprocess.run(command, check=True)
    return len(xs)


def app_windows():
    """(window, x, y, width, height) of the app's windows on screen."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", "ambrano"],
                           capture_output=True, text=True).stdout.split()
    result = []
    for w in found:
        geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", w], capture_output=True, text=True).stdout
        v = dict(line.split("=", 1) for line in geo.split() if "=" in line)
        if v:
            result.append((int(w), int(v["X"]), int(v["Y"]), int(v["WIDTH"]), int(v["HEIGHT"])))
    return result


def panel_window():
    return next((w for w in app_windows() if w[3] == PANEL_WIDTH), None)


def cpu_ns(pid):
    return sum(ns for _, ns, _, _ in threads(pid).values())


def panel_costs(app_bin, watch, root, opens):
    """Opens the panel `opens` times by clicking the tray icon, then drags the warmth slider
    from end to end, one pixel per step. Returns the times from the click to the panel painted
    and, per slider step, the app's CPU time and its X requests (from a RECORD context)."""
    env = user_folders(root, {"vesk.firstLaunchDone": True})
    with open(os.path.join(root, "app.log"), "w") as app_log:
        app = subprocess.Popen([app_bin], stdout=app_log, stderr=subprocess.STDOUT, env=env)
    try:
        wait_for("the tray icon", lambda: any(w[3] <= 64 for w in app_windows()))
        icon = next(w for w in app_windows() if w[3] <= 64)
        time.sleep(1.0)  # settled: the first paint and the launch's own work are over
        seconds = 4 + 1.6 * opens + 6
        recorder = subprocess.Popen([watch, "requests", str(seconds)], stdout=subprocess.PIPE, text=True)
        head = []
        first = recorder.stdout.readline().strip()
        while first.startswith("ext "):
            head.append(first)
            first = recorder.stdout.readline().strip()
        if not first.startswith("start"):
            raise SystemExit("side_by_side: gamma_watch requests did not start")

        def click_icon():
            subprocess.run(["xdotool", "mousemove", "--window", str(icon[0]), "8", "8", "click", "1"], check=True)

        clicks = []
        for _ in range(opens):
            clicks.append(time.monotonic() * 1000)
            click_icon()
            wait_for("the panel", lambda: panel_window() is not None)
            time.sleep(0.6)
            click_icon()
            wait_for("the panel to close", lambda: panel_window() is None)
            time.sleep(0.4)

        click_icon()
        wait_for("the panel", lambda: panel_window() is not None)
        time.sleep(0.6)
        _, px, py, _, _ = panel_window()
        y = py + SLIDER[1] + SLIDER[3] // 2
        # The knob from where it starts to the left end, quickly; then the measured drag.
        drag(knob_x(px, START_WARMTH), knob_x(px, 0) - 10, y, pause="0.001")
        time.sleep(0.5)
        cpu0 = cpu_ns(app.pid)
        drag_start = time.monotonic() * 1000
        steps = drag(knob_x(px, 0), knob_x(px, 100), y)
        time.sleep(0.1)
        cpu1 = cpu_ns(app.pid)
        drag_end = time.monotonic() * 1000
        out = "\n".join(head) + "\n" + recorder.communicate()[0]
        if os.environ.get("PANEL_RAW"):
            open(os.environ["PANEL_RAW"] + os.path.basename(root), "w").write(out + f"\ndrag {drag_start} {drag_end}\n")
    finally:
        stop(app)

    ext = {}
    requests, buttons = [], []
    for line in out.splitlines():
        parts = line.split()
        if parts[0] == "ext":
            ext[parts[1]] = int(parts[2])
        elif parts[1] == "req":
            requests.append((float(parts[0]), int(parts[3]), int(parts[4]), int(parts[5]), int(parts[6]), int(parts[2])))
        elif parts[1] == "button":
            buttons.append((float(parts[0]), int(parts[2])))
    presses = [t for t, press in buttons if press]
    # The app's connections: Qt's (it owns the icon's window) and the gamma one (it sets ramps).
    bases = {r[5] for r in requests if 0 <= icon[0] - r[5] <= 0x1FFFFF}
    bases |= {r[5] for r in requests if r[1] == ext.get("RANDR") and r[2] == 24}  # RRSetCrtcGamma
    requests = [r for r in requests if r[5] in bases]

    def image(r):
        return r[1] == 72 or (r[1] == ext.get("MIT-SHM") and r[2] == 3)

    painted = []
    for click in clicks:
        press = next((t for t in presses if t >= click), None)
        put = next((r[0] for r in requests if press is not None and r[0] >= press and image(r)
                    and r[3] == PANEL_WIDTH), None)
        painted.append(put - press if put is not None else None)
    in_drag = [r for r in requests if drag_start <= r[0] <= drag_end]
    gamma = [r for r in in_drag if r[1] == ext.get("RANDR") and r[2] == 24]  # RRSetCrtcGamma
    gamma_bases = {r[5] for r in gamma}
    applied = max(len(gamma), 1)
    return {
        "click_to_painted_ms": painted,
        "drag_cpu_ms_per_applied_step": (cpu1 - cpu0) / 1e6 / applied,
        "drag_requests_per_applied_step": len(in_drag) / applied,
        "drag_gamma_connection_requests_per_applied_step":
            sum(1 for r in in_drag if r[5] in gamma_bases) / applied,
        "drag_steps": steps,
        "drag_cpu_ms": (cpu1 - cpu0) / 1e6,
        "drag_cpu_ms_per_step": (cpu1 - cpu0) / 1e6 / steps,
        "drag_requests": len(in_drag),
        "drag_requests_per_step": len(in_drag) / steps,
        "drag_gamma_writes": len(gamma),
        "drag_image_puts": sum(1 for r in in_drag if image(r)),
        "app_connections": len(bases),
    }


def panel_table(panel):
    rows = []
    for label, p in panel.items():
        first, rest = p["click_to_painted_ms"][0], summary(p["click_to_painted_ms"][1:])
        rows.append((label, ms(first), med_range(rest), f"{p['drag_gamma_writes']} / {p['drag_steps']}",
                     f"{p['drag_cpu_ms_per_step']:.2f} / {p['drag_cpu_ms_per_applied_step']:.2f} ms",
                     f"{p['drag_requests_per_applied_step']:.1f} "
                     f"({p['drag_gamma_connection_requests_per_applied_step']:.1f})"))
    head = ("panel", "click → painted, first", "then (median, range)", "values applied / mouse steps",
            "CPU per mouse step / per value", "X requests per value (gamma connection)")
    widths = [max(len(str(row[i])) for row in rows + [head]) for i in range(len(head))]

    def line(row):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(row, widths)) + " |"

    return "\n".join([line(head), "|" + "|".join("-" * (w + 2) for w in widths) + "|"] + [line(r) for r in rows])


# --- the run ---------------------------------------------------------------------------------

def machine():
    lscpu = output(["lscpu"])
    model = re.search(r"^Model name:\s*(.+)$", lscpu, re.M)
    versions = {}
    for package in ("libqt6core6", "gammastep", "xserver-xorg-core", "xserver-xorg-video-dummy"):
        try:
            versions[package] = output(["dpkg-query", "-W", "-f=${Version}", package])
        except subprocess.CalledProcessError:
            versions[package] = None
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    return {"cpu": model.group(1).strip() if model else None, "cores": os.cpu_count(),
            "kernel": os.uname().release, "load_at_start": [float(x) for x in load], "packages": versions}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--home", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--json")
    parser.add_argument("--panel-only", action="store_true", help="only the panel's click and drag figures")
    parser.add_argument("--baseline", help="an earlier build's ambrano, measured beside this one in the panel phase")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    app_bin = f"{build}/src/ambrano"
    watch = f"{build}/bench/gamma_watch"
    json_path = args.json or f"{build}/bench/side-by-side.json"

    launches = 3 if args.quick else 9
    settle = 3 if args.quick else 10
    idle_seconds = 8 if args.quick else 60
    presses = 6 if args.quick else 50
    transitions = 2 if args.quick else 7

    result = {"machine": machine(), "quick": args.quick, "ambrano": {}, "gammastep": {}}
    amb = result["ambrano"]
    gs = result["gammastep"]
    children = []
    runtime = runtime_on_tmpfs()
    result["machine"]["runtime_dir_on_tmpfs"] = runtime is not None

    try:
        opens = 3 if args.quick else 6
        log(f"panel: {opens} opens by a click on the icon, one drag of the warmth slider")
        result["panel"] = {}
        for label, binary in (("before", args.baseline), ("this build", app_bin)):
            if binary:
                result["panel"][label] = panel_costs(os.path.abspath(binary), watch,
                                                     os.path.join(args.home, f"panel-{len(result['panel'])}"), opens)
        if args.panel_only:
            print(panel_table(result["panel"]))
            os.makedirs(os.path.dirname(os.path.abspath(json_path)), exist_ok=True)
            with open(json_path, "w") as f:
                json.dump(result, f, indent=2)
            print(f"\nJSON: {json_path}")
            return

        log(f"start-up: {launches} launches of each")
        amb["startup_ms"] = numbers(output([watch, "exec-window", "ambrano", "--runs", str(launches), "--", app_bin]))
        gs["startup_ms"] = numbers(output([watch, "exec-ramp", "--runs", str(launches), "--",
                                           "gammastep", "-m", "randr", "-O", "3000"]))

        log(f"transition: {transitions} launches in automatic mode (night now), "
            f"{transitions} in-process animations")
        runs = []
        for i in range(transitions):
            env = user_folders(os.path.join(args.home, f"sched{i}"), night_now_settings())
            rec = parse_record(output([watch, "record", "1.2", "--", "sh", "-c", 'exec "$0" >>"$1" 2>&1', app_bin,
                                       os.path.join(args.home, "sched.log")], env=env))
            kill_pid(rec["pid"])
            # The first ramp is the filter switching on at warmth 62; the animation follows.
            received = [r[0] for r in rec["ramps"][1:]]
            runs.append({"received": len(received), "span_ms": received[-1] - received[0] if received else None,
                         "spacing_ms": spacing(received)})
            subprocess.run([watch, "reset"], check=True)
        amb["transition"] = {
            "source": "the running app: automatic mode at launch, warmth 62 to 100 over 0.35 s",
            "received_per_run": [r["received"] for r in runs],
            "span_ms": summary([r["span_ms"] for r in runs]),
            "spacing_ms": summary([x for r in runs for x in r["spacing_ms"]]),
        }
        runs = []
        for _ in range(transitions):
            rec = parse_record(output([watch, "record", "1.5", "--", f"{build}/bench/transition_bench",
                                       "62", "100", "0.35"]))
            marks = {}
            steps = []
            for parts in rec["child"]:
                if parts[0] in ("start", "end"):
                    marks[parts[0]] = float(parts[1])
                elif parts[0] == "step":
                    steps.append(float(parts[1]))
            received = [r[0] for r in rec["ramps"] if marks["start"] < r[0] < marks["end"]]
            runs.append({"received": len(received), "steps_written": len(steps),
                         "span_ms": received[-1] - received[0] if received else None,
                         "spacing_ms": spacing(received)})
        amb["transition_in_process"] = {
            "source": "bench/transition_bench: VeskEngine::animateWarmth(100, 0.35) from 62 on X11DisplayServices",
            "received_per_run": [r["received"] for r in runs],
            "written_per_run": [r["steps_written"] for r in runs],
            "span_ms": summary([r["span_ms"] for r in runs]),
            "spacing_ms": summary([x for r in runs for x in r["spacing_ms"]]),
        }

        log(f"memory after {settle} s idle; gammastep's fade-in")
        app_log = open(os.path.join(args.home, "app.log"), "w")
        app = subprocess.Popen([app_bin], stdout=app_log, stderr=subprocess.STDOUT)
        children.append(app)
        wait_for("the tray icon", icon_embedded)
        embedded = time.monotonic()
        gs_log = os.path.join(args.home, "gammastep.log")
        recorder = subprocess.Popen(
            [watch, "record", "8", "--", "sh", "-c", f"exec gammastep -m randr -l {GAMMASTEP_LOCATION} "
             f"-t {GAMMASTEP_TEMPS} >{gs_log} 2>&1"],
            stdout=subprocess.PIPE, text=True)
        gs_started = time.monotonic()
        fade = parse_record(recorder.communicate()[0])
        gs_pid = fade["pid"]
        ramps = [r[0] for r in fade["ramps"]]
        gs["fade"] = {"ramps": len(ramps), "span_ms": ramps[-1] - ramps[0] if ramps else None,
                      "spacing_ms": summary(spacing(ramps)), "first_ramp_after_exec_ms":
                      ramps[0] - fade["exec"] if ramps else None}
        # A second instance, in its own folders, with the automatic mode on: it switches the
        # filter on at launch, and its one tick a minute falls inside the idle window.
        sched_env = user_folders(os.path.join(args.home, "sched-idle"), night_now_settings())
        sched = subprocess.Popen([app_bin], stdout=app_log, stderr=subprocess.STDOUT, env=sched_env)
        children.append(sched)
        sched_started = time.monotonic()
        time.sleep(max(0.0, embedded + settle - time.monotonic()))
        amb["memory"] = memory(app.pid)
        time.sleep(max(0.0, gs_started + settle - time.monotonic()))
        gs["memory"] = memory(gs_pid)
        time.sleep(max(0.0, sched_started + settle - time.monotonic()))
        amb["memory_automatic_mode"] = memory(sched.pid)

        log(f"idle cost over {idle_seconds} s, all three at once")
        before = (threads(app.pid), threads(sched.pid), threads(gs_pid))
        time.sleep(idle_seconds)
        after = (threads(app.pid), threads(sched.pid), threads(gs_pid))
        amb["idle"] = idle_cost(before[0], after[0], idle_seconds)
        amb["idle_automatic_mode"] = idle_cost(before[1], after[1], idle_seconds)
        gs["idle"] = idle_cost(before[2], after[2], idle_seconds)
        kill_pid(gs_pid)
        stop(sched)
        subprocess.run([watch, "reset"], check=True)

        log(f"hotkey: {presses} presses each through xdotool, xdotool --delay 0 and XTest")
        for via in ("xdotool", "xdotool-nodelay", "xtest"):
            lines = output([watch, "hotkey", "--presses", str(presses), "--via", via]).splitlines()
            total = [None if l == "timeout" else float(l.split()[0]) for l in lines]
            key = [None if l == "timeout" or l.split()[1] == "-" else float(l.split()[1]) for l in lines]
            amb[f"hotkey_{via.replace('-', '_')}"] = {
                "total_ms": summary(total), "key_at_server_to_ramps_ms": summary(key),
                "switching_on_key_ms": summary(key[0::2]), "switching_off_key_ms": summary(key[1::2]),
                "timeouts": total.count(None), "raw_total_ms": total, "raw_key_ms": key}
        if not icon_embedded() or app.poll() is not None:
            raise SystemExit("side_by_side: the app went away during the hotkey presses")
        stop(app)
        subprocess.run([watch, "reset"], check=True)
        guard_phase(args.home, watch, app_bin, args.quick, result)

        log("apply cost (Google Benchmark)")
        bench = json.loads(output([f"{build}/bench/apply_bench", "--benchmark_format=json"]))
        amb["apply_bench"] = {b["name"]: {"real_time": b["real_time"], "cpu_time": b["cpu_time"],
                                          "unit": b["time_unit"]} for b in bench["benchmarks"]}

        stripped = os.path.join(args.home, "ambrano.stripped")
        subprocess.run(["strip", "-o", stripped, app_bin], check=True)
        amb["executable"] = {"path": app_bin, "bytes": os.path.getsize(app_bin),
                             "stripped_bytes": os.path.getsize(stripped)}
        gs_bin = output(["sh", "-c", "command -v gammastep"]).strip()
        gs["executable"] = {"path": gs_bin, "bytes": os.path.getsize(gs_bin)}
    finally:
        for child in children:
            stop(child)
        if runtime:
            shutil.rmtree(runtime, ignore_errors=True)

    with open("/proc/loadavg") as f:
        result["machine"]["load_at_end"] = [float(x) for x in f.read().split()[:3]]
    os.makedirs(os.path.dirname(os.path.abspath(json_path)), exist_ok=True)
    with open(json_path, "w") as f:
        json.dump(result, f, indent=2)
    print(table(result))
    print()
    print(panel_table(result["panel"]))
    print(f"\nJSON: {json_path}")


# --- the guard: another client resets the ramps ---------------------------------------------

SECOND_MONITOR = [["xrandr", "--newmode", "1280x800_60", "83.50", "1280", "1352", "1480", "1680", "800", "803",
                   "809", "831", "-hsync", "+vsync"],
                  ["xrandr", "--addmode", "DUMMY1", "1280x800_60"],
                  ["xrandr", "--output", "DUMMY1", "--mode", "1280x800_60", "--right-of", "DUMMY0"]]


def guard_phase(home, watch, app_bin, quick, result):
    """With two outputs: the time from another client's reset to the owner's ramps back
    (Ambrano's guard reads them back every 2 s; gammastep re-writes blindly every 5 s), and
    each one's CPU cost over a minute with the filter on."""
    resets = 4 if quick else 20
    seconds = 8 if quick else 60
    amb, gs = result["ambrano"], result["gammastep"]
    for cmd in SECOND_MONITOR:
        subprocess.run(cmd, capture_output=True)  # the mode may exist from an earlier run
    try:
        log(f"guard: {seconds} s with the filter on and two outputs, then {resets} resets; the same for gammastep")
        env = user_folders(os.path.join(home, "guard"), night_now_settings())
        with open(os.path.join(home, "guard.log"), "w") as app_log:
            app = subprocess.Popen([app_bin], stdout=app_log, stderr=subprocess.STDOUT, env=env)
        try:
            wait_for("the tray icon", icon_embedded)
            time.sleep(2)  # the filter is on and its animation over
            before = threads(app.pid)
            time.sleep(seconds)
            amb["guard_idle"] = idle_cost(before, threads(app.pid), seconds)
            # The filter is switched off and on before each reset: no reset counts towards a fight.
            amb["guard_recovery_ms"] = numbers(output([watch, "reset-recover", "--resets", str(resets),
                                                       "--gap-max-ms", "2500", "--toggle"]))
        finally:
            stop(app)
        subprocess.run([watch, "reset"], check=True)
        gs_proc = subprocess.Popen(["gammastep", "-m", "randr", "-l", GAMMASTEP_LOCATION, "-t", GAMMASTEP_TEMPS],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(8)  # its fade-in
            before = threads(gs_proc.pid)
            time.sleep(seconds)
            gs["guard_idle"] = idle_cost(before, threads(gs_proc.pid), seconds)
            gs["guard_recovery_ms"] = numbers(output([watch, "reset-recover", "--resets", str(resets),
                                                      "--gap-max-ms", "5000"]))
        finally:
            stop(gs_proc)
        subprocess.run([watch, "reset"], check=True)
    finally:
        subprocess.run(["xrandr", "--output", "DUMMY1", "--off"], capture_output=True)


def guard_rows(a, g):
    if "guard_recovery_ms" not in a:
        return []

    def recovery(x):
        s = summary(x["guard_recovery_ms"])
        timeouts = x["guard_recovery_ms"].count(None)
        return med_worst(s, 0) + (f", {timeouts} timeouts" if timeouts else "") if s else "–"

    def cost(x):
        i = x["guard_idle"]
        return f"{i['cpu_ms'] * 60 / i['seconds']:.2f} ms, {i['voluntary_switches'] * 60 / i['seconds']:.0f} switches"

    n = len(a["guard_recovery_ms"])
    return [
        (f"another client resets the ramps → back (median / worst of {n})", recovery(a), recovery(g),
         "≤ 2 s (guard period)"),
        ("  CPU per minute, filter on, two outputs (voluntary context switches)", cost(a), cost(g), ""),
    ]


# --- the table -------------------------------------------------------------------------------

def ms(value, digits=1):
    return "–" if value is None else f"{value:.{digits}f} ms"


def med_range(s, digits=1):
    if not s:
        return "–"
    return f"{s['median']:.{digits}f} ms ({s['min']:.{digits}f}–{s['max']:.{digits}f})"


def med_worst(s, digits=1):
    if not s:
        return "–"
    return f"{s['median']:.{digits}f} / {s['max']:.{digits}f} ms"


def table(r):
    a, g, m = r["ambrano"], r["gammastep"], r["machine"]
    ai, gi, si = a["idle"], g["idle"], a["idle_automatic_mode"]

    def main_thread(idle):
        return min(idle["threads"], key=lambda t: t["tid"]) if idle["threads"] else None

    def switches(idle):
        return f"{idle['voluntary_switches']} + {idle['involuntary_switches']}"

    def mem(x):
        return (f"{x['rss_kib'] / 1024:.1f} MiB ({x['anon_kib'] / 1024:.1f} / {x['file_kib'] / 1024:.1f})")

    def ramps(t):
        counts = sorted(set(t["received_per_run"]))
        return "/".join(str(c) for c in counts) + " in " + ms(t["span_ms"]["median"] if t["span_ms"] else None, 0)

    am, sm = main_thread(ai), main_thread(si)
    hx = a["hotkey_xdotool"]
    rows = [
        ("start-up: exec → tray icon embedded / first ramp written (median, range)",
         med_range(summary(a["startup_ms"])), med_range(summary(g["startup_ms"])), "< 300 ms"),
        ("resident memory after 10 s idle (anon / file)", mem(a["memory"]), mem(g["memory"]), "small as Qt allows"),
        ("  automatic mode on, filter on", mem(a["memory_automatic_mode"]), "", ""),
        ("executable size (stripped)",
         f"{a['executable']['bytes'] / 1024:.0f} KiB ({a['executable']['stripped_bytes'] / 1024:.0f} KiB)",
         f"{g['executable']['bytes'] / 1024:.0f} KiB", ""),
        (f"idle CPU time over {ai['seconds']} s", ms(ai["cpu_ms"], 2), ms(gi["cpu_ms"], 2), "below gammastep"),
        ("  automatic mode on", ms(si["cpu_ms"], 2), "", ""),
        (f"idle context switches over {ai['seconds']} s (voluntary + involuntary)", switches(ai), switches(gi),
         "one tick a minute"),
        ("  main thread", switches(am) if am else "–", "", ""),
        ("  automatic mode on (main thread)", f"{switches(si)} ({switches(sm) if sm else '–'})", "", ""),
        ("hotkey: xdotool key → ramps held (median / worst)", med_worst(hx["total_ms"], 2), "", "< 5 ms median"),
        ("  key press at the server → ramps held", med_worst(hx["key_at_server_to_ramps_ms"], 2), "", ""),
        ("  the same, switching on / off (median)",
         f"{hx['switching_on_key_ms']['median']:.2f} / {hx['switching_off_key_ms']['median']:.2f} ms"
         if hx["switching_on_key_ms"] and hx["switching_off_key_ms"] else "–", "", ""),
        ("  xdotool key --delay 0 → ramps held", med_worst(a["hotkey_xdotool_nodelay"]["total_ms"], 2), "", ""),
        ("  XTest key events sent → ramps held", med_worst(a["hotkey_xtest"]["total_ms"], 2), "", ""),
        ("transition: ramps received (0.35 s scheduled animation / gammastep fade)",
         ramps(a["transition"]), f"{g['fade']['ramps']} in {ms(g['fade']['span_ms'], 0)}", "≈ 21"),
        ("  spacing between ramps (median, range)", med_range(a["transition"]["spacing_ms"]),
         med_range(g["fade"]["spacing_ms"]), "16.7 ms"),
        ("  engine alone, in process: ramps / spacing", ramps(a["transition_in_process"]) + ", "
         + med_range(a["transition_in_process"]["spacing_ms"]), "", ""),
    ]
    rows += guard_rows(a, g)
    for name, label in (("BM_ApplyToXServer", "apply (tables + write + round trip)"),
                        ("BM_BuildTables", "  building the tables"),
                        ("BM_RampFromTables/1024", "  sampling a 1024-entry ramp")):
        b = a["apply_bench"].get(name)
        if b:
            rows.append((label, f"{b['real_time']:.2f} {b['unit']}", "", ""))
    head = ("", "Ambrano", "gammastep", "target")
    widths = [max(len(str(row[i])) for row in rows + [head]) for i in range(4)]

    def line(row):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(row, widths)) + " |"

    out = [f"Machine: {m['cpu']}, {m['cores']} cores, Linux {m['kernel']}; load {m['load_at_start']} → "
           f"{m.get('load_at_end')}" + ("  [--quick: not the real figures]" if r["quick"] else ""), "",
           line(head), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    out += [line(row) for row in rows]
    top = ", ".join(f"{x['mapping']} {x['rss_kib'] / 1024:.1f}" for x in a["memory"]["largest"][:6])
    out.append(f"\nAmbrano's resident memory, largest parts (MiB): {top}")
    for label, idle in (("default settings", ai), ("automatic mode", si), ("gammastep", gi)):
        busy = [t for t in idle["threads"] if t["voluntary_switches"] or t["involuntary_switches"]]
        out.append(f"Threads that woke while idle, {label}: "
                   + (", ".join(f"{t['thread']} {t['voluntary_switches']}+{t['involuntary_switches']}" for t in busy)
                      or "none"))
    return "\n".join(out)


if __name__ == "__main__":
    main()

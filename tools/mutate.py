#!/usr/bin/env python3
"""Plants single-line faults in the code one at a time and reports the ones the tests miss.

Each fault is one edit of one line: a flipped comparison or logical operator, a changed
constant, a dropped early return, a swapped pair of arguments, min for max, true for false.
For every fault the script rebuilds (only what depends on the file), runs the test program
of the file's folder first and, if that passes, the other unit test programs; with --suite all
a fault that survives those also meets the end-to-end scripts. The file is always put back.

    tools/mutate.py [--build DIR] [--per-file N] [--suite unit|all] [--out FILE] [--resume]
                    [--recheck OLD] [paths...]

It edits the source files in place: two runs at once need two checkouts (git worktree), or
each builds the other's faults. Paths default to every .cpp under src/. Results go to FILE as
tab-separated lines (id, verdict, killer) so two runs can be compared with --compare OLD.
"""
import argparse
import hashlib
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (name, pattern, replacement). Patterns see the line with string literals blanked out.
OPERATORS = [
    ("le>lt", r" <= ", " < "), ("lt>le", r" < ", " <= "),
    ("ge>gt", r" >= ", " > "), ("gt>ge", r" > ", " >= "),
    ("eq>ne", r" == ", " != "), ("ne>eq", r" != ", " == "),
    ("and>or", r" && ", " || "), ("or>and", r" \|\| ", " && "),
    ("add>sub", r" \+ ", " - "), ("sub>add", r" - ", " + "), ("mul>div", r" \* ", " / "),
    ("not", r"\(!(?=[\w(])", "("),
    ("true>false", r"\btrue\b", "false"), ("false>true", r"\bfalse\b", "true"),
    ("min>max", r"\bstd::min\b", "std::max"), ("max>min", r"\bstd::max\b", "std::min"),
    ("int+1", r"(?<![\w.])(\d+)(?![\w.])", None),
    ("float", r"(?<![\w.])(\d+\.\d+)(?![\w.])", None),
    ("swap", r"\b(\w+)\((\w+), (\w+)\)", None),
]
DROP = re.compile(r"^\s*if \(.*\)\s*(return\b.*|continue|break);\s*$")
STRING = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])+\'')
SKIP = re.compile(r"^\s*(#|//|\*|/\*)|\bq(Debug|Warning|Info|Critical)\b|\blog\(|static_assert")


def blank_strings(line):
    return STRING.sub(lambda m: '"' + "_" * (len(m.group(0)) - 2) + '"', line)


def candidates(path):
    """Every single-line fault of one file as (line number, operator, new line)."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    out = []
    for n, line in enumerate(lines):
        code = line.split("//")[0] if "//" in blank_strings(line) else line
        if not code.strip() or SKIP.search(code):
            continue
        seen = blank_strings(code)
        for name, pattern, repl in OPERATORS:
            for m in re.finditer(pattern, seen):
                a, b = m.span()
                if name == "int+1":
                    new = str(int(m.group(1)) + 1)
                elif name == "float":
                    new = repr(round(float(m.group(1)) * 1.1 + 0.01, 4))
                elif name == "not":
                    new = "("
                elif name == "swap":
                    if m.group(2) == m.group(3):
                        continue
                    new = f"{m.group(1)}({m.group(3)}, {m.group(2)})"
                else:
                    new = re.sub(pattern, repl, m.group(0))
                if line[:a] + new + line[b:] != line:
                    out.append((n + 1, name, line[:a] + new + line[b:]))
        if DROP.match(code):
            out.append((n + 1, "drop", ""))
    return lines, out


def pick(path, muts, per_file, seed=""):
    """A fixed, evenly spread sample so that two runs plant the same faults."""
    if len(muts) <= per_file:
        return muts
    key = lambda m: hashlib.sha1(f"{seed}{path}:{m[0]}:{m[1]}:{m[2]}".encode()).hexdigest()
    ranked = sorted(muts, key=key)
    chosen, lines_used = [], set()
    for m in ranked:  # one fault per line first, then fill
        if m[0] not in lines_used:
            chosen.append(m)
            lines_used.add(m[0])
        if len(chosen) == per_file:
            break
    for m in ranked:
        if len(chosen) == per_file:
            break
        if m not in chosen:
            chosen.append(m)
    return sorted(chosen)


def fault_id(rel, n, op, new):
    return f"{rel}:{n}:{op}:{hashlib.sha1(new.encode()).hexdigest()[:6]}"


def test_names(build):
    out = subprocess.run(["ctest", "-N"], cwd=build, capture_output=True, text=True).stdout
    return re.findall(r"Test +#\d+: (\S+)", out)


def home_test(rel, names):
    """The test program most likely to see a fault in this file: the one of its folder."""
    parts = rel.split("/")
    base = os.path.basename(rel)
    wanted = [parts[1]]
    if parts[1] == "platform" and len(parts) > 3:
        wanted = {"macos": ["platform_macos", "macos"]}.get(parts[2], ["platform_linux", "platform"])
        if base.startswith("X11"):
            wanted = ["platform_linux_x11", "x11"]
        elif base.startswith("Wlr"):
            wanted = ["platform_linux_wayland", "wayland"]
        elif base.startswith(("Sysfs", "I2C")):
            wanted = ["platform_linux", "brightness"]
    return next((w for w in wanted if w in names), None)


def run(cmd, cwd, timeout):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def ctest(build, regex, exclude=None):
    cmd = ["ctest", "--timeout", "120", "--stop-on-failure", "-j2", "-R", regex]
    if exclude:
        cmd += ["-E", exclude]
    return run(cmd, build, 900) == 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("paths", nargs="*")
    ap.add_argument("--build", default=os.path.join(ROOT, "build-mutate"))
    ap.add_argument("--per-file", type=int, default=6)
    ap.add_argument("--seed", default="", help="another fixed sample of the same size")
    ap.add_argument("--suite", choices=["unit", "all"], default="unit")
    ap.add_argument("--out", default="mutants.tsv")
    ap.add_argument("--compare", help="an earlier --out file: list faults it killed that now survive")
    ap.add_argument("--list", action="store_true", help="only list the faults")
    ap.add_argument("--resume", action="store_true", help="keep the verdicts already in --out")
    ap.add_argument("--recheck", metavar="OLD", help="run only the faults OLD killed and compare with it")
    args = ap.parse_args()

    paths = args.paths or [os.path.join(dp, f) for dp, _, fs in os.walk(os.path.join(ROOT, "src"))
                           for f in fs if f.endswith(".cpp") and f != "main.cpp"]
    plan = []
    for p in sorted(paths):
        rel = os.path.relpath(os.path.abspath(p), ROOT)
        lines, muts = candidates(os.path.join(ROOT, rel))
        plan += [(rel, lines, m) for m in pick(rel, muts, args.per_file, args.seed)]
    if args.recheck:
        args.compare = args.recheck
        killed_before = {l.split("\t")[0] for l in open(args.recheck) if "\tkilled\t" in l}
        plan = [p for p in plan if fault_id(p[0], *p[2]) in killed_before]
    if args.list:
        for rel, lines, (n, op, new) in plan:
            print(f"{rel}:{n}:{op}\t{lines[n - 1].strip()}  =>  {new.strip()}")
        print(f"{len(plan)} faults", file=sys.stderr)
        return

    os.environ.setdefault("CCACHE_BASEDIR", ROOT)
    if not os.path.exists(os.path.join(args.build, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", args.build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                        "-DCMAKE_CXX_FLAGS=-O0 -g0", "-DAMBRANO_BENCH=OFF", "-DAMBRANO_FAKE_MACOS=ON"],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", args.build], check=True, stdout=subprocess.DEVNULL)
    names = test_names(args.build)
    unit = [n for n in names if not re.match(r"(e2e_|wayland_e2e_|package_|brightness_namespace)", n)]
    os.environ.setdefault("XDG_RUNTIME_DIR", subprocess.run(["mktemp", "-d"], capture_output=True,
                                                            text=True).stdout.strip())

    results = []
    done = {}
    if args.resume and os.path.exists(args.out):
        done = {l.split("\t")[0]: l for l in open(args.out) if l.count("\t") >= 3}
    with open(args.out, "w") as out:
        for i, (rel, lines, (n, op, new)) in enumerate(plan, 1):
            ident = fault_id(rel, n, op, new)
            if ident in done:
                out.write(done[ident])
                results.append(tuple(done[ident].split("\t")[:3]))
                continue
            path = os.path.join(ROOT, rel)
            mutated = lines[:n - 1] + ([new] if op != "drop" else ["// dropped"]) + lines[n:]
            original = "\n".join(lines)
            start = time.time()
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write("\n".join(mutated))
                home = home_test(rel, names)
                build = ["cmake", "--build", args.build]
                verdict, killer = "survived", "-"
                # The folder's own program first: most faults die there, without relinking the rest.
                if home in unit and run(build + ["--target", f"{home}_tests"], ROOT, 900) != 0:
                    verdict, killer = "killed", "build"
                elif home in unit and not ctest(args.build, f"^{home}$"):
                    verdict, killer = "killed", home
                elif run(build, ROOT, 900) != 0:
                    verdict, killer = "killed", "build"
                else:
                    order = [t for t in unit if t != home]
                    if not ctest(args.build, "^(" + "|".join(order) + ")$"):
                        verdict, killer = "killed", "unit"
                    elif args.suite == "all" and not ctest(args.build, ".", "^(" + "|".join(unit) + ")$"):
                        verdict, killer = "killed", "e2e"
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
            results.append((ident, verdict, killer))
            out.write(f"{ident}\t{verdict}\t{killer}\t{lines[n - 1].strip()} => {new.strip()}\n")
            out.flush()
            print(f"[{i}/{len(plan)}] {verdict:8} {killer:10} {ident} ({time.time() - start:.0f}s)",
                  flush=True)
    subprocess.run(["cmake", "--build", args.build], stdout=subprocess.DEVNULL)

    killed = sum(v == "killed" for _, v, _ in results)
    print(f"\n{killed}/{len(results)} faults killed, {len(results) - killed} survived:")
    for ident, v, _ in results:
        if v == "survived":
            print("  " + ident)
    if args.compare:
        old = {l.split("\t")[0]: l.split("\t")[1] for l in open(args.compare) if "\t" in l}
        lost = [i for i, v, _ in results if v == "survived" and old.get(i) == "killed"]
        print(f"\n{len(lost)} faults killed by {args.compare} now survive:")
        for i in lost:
            print("  " + i)
        sys.exit(1 if lost else 0)


if __name__ == "__main__":
    main()

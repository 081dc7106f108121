#!/usr/bin/env python3
"""Summarises zk_bench's JSON output (--benchmark_out): time per operation at
each registry size, how it grows with the file, and each host program's
start-to-exit time against the trivial program's.

    bench/bench-summary.py build/bench/bench.json
"""
import json
import sys

ROWS = [
    ("BM_Press", "press, 1 write (Animate)"),
    ("BM_PressRotate", "press, 3 writes (rotate)"),
    ("BM_Probe", "probe (ProbeValue)"),
    ("BM_SettingsStart", "Velloria's start, parsed"),
    ("BM_LauncherRun", "launcher run, flag 0"),
    ("BM_LauncherRunFlagSet", "launcher run, flag 1"),
]
SCALE = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def ms(run, key):
    return run[key] * SCALE[run["time_unit"]]


def fmt(value):
    if value < 1:
        return f"{value * 1000:.0f} us"
    if value < 100:
        return f"{value:.2f} ms"
    return f"{value:.0f} ms"


def main(path):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if "error_occurred" in b and b["error_occurred"]:
            print(f"{b['name']}: ERROR {b.get('error_message', '')}")
            continue
        name = b.get("run_name", b["name"])
        runs[name] = b

    ctx = data["context"]
    print(f"Host: {ctx.get('num_cpus')} CPUs at {ctx.get('mhz_per_cpu')} MHz, "
          f"load average {', '.join(f'{x:.2f}' for x in ctx.get('load_avg', []))}")

    # "BM_Press/values:100000/per_key:10" -> runs by (name, values, per key)
    table = {}
    for n, r in runs.items():
        parts = n.split("/")
        if len(parts) == 3 and parts[1].startswith("values:"):
            table[(parts[0], int(parts[1][7:]), int(parts[2][8:]))] = r
    for per_key, layout in ((10, "in keys of ten values"), (0, "all in one key")):
        sizes = sorted({v for (k, v, p) in table if k == "BM_Press" and p == per_key})
        if not sizes:
            continue
        print()
        print(f"Host registry, values {layout}, time per operation "
              "(wall clock; CPU in brackets):")
        print(f"  {'values in registry.reg':27}" + "".join(f"{s:>22,}" for s in sizes))
        kib = [table[("BM_Press", s, per_key)]["file_KiB"] for s in sizes]
        print(f"  {'file size':27}" + "".join(f"{k:>18,.1f} KiB" for k in kib))
        for key, label in ROWS:
            cells = []
            for s in sizes:
                r = table.get((key, s, per_key))
                cells.append(f"{fmt(ms(r, 'real_time'))} ({fmt(ms(r, 'cpu_time'))})"
                             if r else "-")
            print(f"  {label:27}" + "".join(f"{c:>22}" for c in cells))
        print("  growth (CPU time ratio against file-size ratio; equal ratios are linear):")
        for key, label in ROWS:
            parts = []
            for a, b in zip(sizes, sizes[1:]):
                ra, rb = table.get((key, a, per_key)), table.get((key, b, per_key))
                if not ra or not rb:
                    continue
                t = ms(rb, "cpu_time") / ms(ra, "cpu_time")
                k = rb["file_KiB"] / ra["file_KiB"]
                parts.append(f"{a:,}->{b:,}: x{t:.1f} for x{k:.1f}")
            print(f"    {label:25}" + ", ".join(parts))

    procs = {n.split("/")[1]: r for n, r in runs.items()
             if n.startswith("BM_ProcessStartToExit/")}
    if "trivial" in procs:
        base = ms(procs["trivial"], "real_time")
        print()
        print("Whole process, start to exit (wall clock, default image, no terminal):")
        for name in ("trivial", "Tarquell", "Velloria"):
            if name in procs:
                t = ms(procs[name], "real_time")
                print(f"  {name:10} {fmt(t):>10}   x{t / base:.2f} the trivial program")
        term = runs.get("BM_ProcessOnTerminal/Velloria/real_time")
        if term:
            print(f"  Velloria on a terminal, through its first screen to the close key: "
                  f"{fmt(ms(term, 'real_time'))}\n"
                  f"    (120 ms of it the close button's press flash)")

    # "BM_FileLauncher/shape:0/MB:32/iterations:1/real_time" -> (program, shape, MB)
    files = {}
    for n, r in runs.items():
        parts = n.split("/")
        if parts[0].startswith("BM_File") and len(parts) >= 3:
            files[(parts[0][7:], int(parts[1][6:]), int(parts[2][3:]))] = r
    lines = {(s, m): r for (p, s, m), r in files.items() if p == "CountLines"}
    for program, title in (("Launcher", "the launcher, flag 1 (read, clear, save)"),
                           ("Press", "a press (Animate windows: slow)"),
                           ("Session", "the session's start and quit")):
        floor = files.get((program, 0, 0))
        if not floor:
            continue
        print()
        print(f"Registry size, {title}: wall clock, CPU, peak resident memory "
              f"(default image: {floor['peak_MB']:.1f} MB):")
        for (p, shape, mb), r in sorted(files.items()):
            if p != program or mb == 0:
                continue
            above = r["peak_MB"] - floor["peak_MB"]
            line = lines.get((shape, mb))
            yard = f", counting lines {ms(line, 'cpu_time') / 1000 / r['file_MB']:.4f} s/MB" if line else ""
            print(f"  {r.get('label', ''):11} {mb:2} MB  {fmt(ms(r, 'real_time')):>9}  "
                  f"CPU {r['cpu_s']:.2f} s ({r['cpu_s'] / r['file_MB']:.3f} s/MB{yard})  "
                  f"peak {r['peak_MB']:.1f} MB, {above / r['file_MB']:.2f} x the file above the floor")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build/bench/bench.json")

#!/usr/bin/env python3
"""Compiles generated mazes with bspc and prints a table of sizes, stage times and memory.

    scripts/bench_mazes.py BUILD_DIR [--sizes 16,32,64,128] [--seeds 1,2,3]
        [--kinds standard,open] [--fan-rooms 5000] [--huge open:256:1] [--runs 3]
        [--threads 1] [--json OUT] [--quick]
    scripts/bench_mazes.py BUILD_DIR --compare OLD.json          # run, then compare
    scripts/bench_mazes.py --compare OLD.json --against NEW.json  # compare two runs
    scripts/bench_mazes.py BUILD_DIR --levels --sizes 64 --seeds 1  # the quality levels

Each (kind, size, seed) maze is made once with mazegen and compiled --runs times with
`bspc --time`; the table shows the median of each stage over the runs, and a summary row per
(kind, size) with the medians over the seeds. A case whose first compile takes longer than
--long seconds is compiled only once (the run count is kept in the JSON). Peak memory is the
child's maximum resident set size. After the mazes come the fan rooms (mazegen --fan-room N):
one convex room of N walls whose floor and ceiling are fans of triangles, a chain of 3N - 4
nodes down to one leaf; their rows have kind "fan", N in the rooms column and no seed. Last
come the --huge mazes, compiled once each. The
JSON holds the same figures with the commit and the machine, so that two commits can be
compared with --compare. --levels compiles each maze at every quality level (--clip-steps 4
down to 0, then --fast) and tabulates what each costs and how large the sets get.
"""

import argparse
import datetime
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent

KINDS = {
    "standard": {"loops": 0.1, "rooms": 3},
    "open": {"loops": 0.6, "rooms": 20},
}

# The stages bspc --time reports, in order; every one must be present.
STAGES = ["load", "import", "tree", "portals", "gates", "flood", "visibility", "pvs", "total"]

# The count lines bspc prints on standard output: key -> (pattern, converter).
COUNTS = {
    "polys": (r"^poly count (\d+)$", int),
    "nodes": (r"^node count (\d+)$", int),
    "leaves": (r"^leaf count (\d+)$", int),
    "portals": (r"^portal count (\d+)$", int),
    "tris": (r"^TriCount (\d+)$", int),
}
PVS_LINE = re.compile(r"^pvs average ([0-9.]+) largest (\d+)$", re.M)
TIME_LINE = re.compile(r"^time (\w+)\s+([0-9.]+) s$", re.M)
# Optional: the bytes of the finished sets and of the gates' working sets.
BYTES_LINE = re.compile(r"^pvs bytes (\d+) gate bytes (\d+)$", re.M)
MAZEGEN_LINE = re.compile(r"^mazegen: (\d+) x (\d+) cells, (\d+) open, (\d+) quads$", re.M)
FAN_ROOM_LINE = re.compile(r"^mazegen: fan room of (\d+) walls, (\d+) faces$", re.M)

# The time columns of the table: (header, the stages summed into it).
TIME_COLUMNS = [
    ("load", ["load"]),
    ("import", ["import"]),
    ("tree", ["tree"]),
    ("portals", ["portals"]),
    ("gate+fl", ["gates", "flood"]),
    ("vis", ["visibility"]),
    ("pvs", ["pvs"]),
    ("total", ["total"]),
]


# Compiled once each after the table: open 256 takes about a minute and 3 GiB.
HUGE_MAZES = [("open", 256, 1)]


class BenchError(Exception):
    pass


def parse_huge(text):
    try:
        kind, size, seed = text.split(":")
        if kind not in KINDS:
            raise ValueError
        return (kind, int(size), int(seed))
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected KIND:ROOMS:SEED, got {text!r}")


def parse_list(text, kind):
    try:
        return [kind(x) for x in text.split(",") if x.strip()]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a comma-separated list: {text!r}")


def parse_mazegen(stderr):
    m = MAZEGEN_LINE.search(stderr)
    if not m:
        raise BenchError(f"mazegen printed no summary line:\n{stderr}")
    return {"cells": [int(m.group(1)), int(m.group(2))], "open_cells": int(m.group(3)),
            "quads": int(m.group(4))}


def parse_bspc(stdout, stderr):
    """The counts, PVS summary and stage times of one bspc --time run."""
    out = {}
    for key, (pattern, conv) in COUNTS.items():
        m = re.search(pattern, stdout, re.M)
        if not m:
            raise BenchError(f"bspc printed no {pattern!r} line:\n{stdout}")
        out[key] = conv(m.group(1))
    m = PVS_LINE.search(stdout)
    if not m:
        raise BenchError(f"bspc printed no 'pvs average' line:\n{stdout}")
    out["pvs_average"] = float(m.group(1))
    out["pvs_largest"] = int(m.group(2))
    m = BYTES_LINE.search(stdout)
    if m:
        out["pvs_bytes"], out["gate_bytes"] = int(m.group(1)), int(m.group(2))
    times = {name: float(sec) for name, sec in TIME_LINE.findall(stderr)}
    missing = [s for s in STAGES if s not in times]
    if missing:
        raise BenchError(f"bspc --time reported no {', '.join(missing)} stage:\n{stderr}")
    out["times"] = {s: times[s] for s in STAGES}
    return out


def run_measured(cmd):
    """Runs cmd; returns (exit status, stdout, stderr, wall seconds, peak resident MiB)."""
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, stdout=out, stderr=err)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        # ru_maxrss is in KiB on Linux.
        return proc.returncode, out.read(), err.read(), wall, usage.ru_maxrss / 1024.0


def make_maze(mazegen, kind, size, seed, path):
    params = KINDS[kind]
    cmd = [str(mazegen), "--size", str(size), "--seed", str(seed), "--loops",
           str(params["loops"]), "--rooms", str(params["rooms"]), "-o", str(path)]
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        raise BenchError(f"{' '.join(cmd)} failed ({proc.returncode}):\n{proc.stderr}")
    return parse_mazegen(proc.stderr)


def make_fan_room(mazegen, walls, path):
    cmd = [str(mazegen), "--fan-room", str(walls), "-o", str(path)]
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        raise BenchError(f"{' '.join(cmd)} failed ({proc.returncode}):\n{proc.stderr}")
    m = FAN_ROOM_LINE.search(proc.stderr)
    if not m:
        raise BenchError(f"mazegen printed no fan room line:\n{proc.stderr}")
    return {"walls": int(m.group(1)), "quads": int(m.group(2))}


def compile_once(bspc, path, threads, extra):
    cmd = [str(bspc), str(path), "--time", "--threads", str(threads)] + extra
    status, stdout, stderr, wall, peak = run_measured(cmd)
    if status != 0:
        raise BenchError(f"{' '.join(cmd)} failed ({status}):\n{stderr}")
    result = parse_bspc(stdout, stderr)
    result["wall"] = wall
    result["peak_mib"] = peak
    return result


def compile_runs(bspc, path, args, extra):
    """--runs compiles of one level, or one when the first takes longer than --long."""
    runs = [compile_once(bspc, path, args.threads, extra)]
    if runs[0]["wall"] <= args.long:
        runs += [compile_once(bspc, path, args.threads, extra) for _ in range(args.runs - 1)]
    return runs


def median_row(runs):
    """One row from several runs of the same maze: the counts (which must agree) and medians."""
    first = runs[0]
    for r in runs[1:]:
        for key in list(COUNTS) + ["pvs_average", "pvs_largest"]:
            if r[key] != first[key]:
                raise BenchError(f"{key} differs between runs of the same maze: "
                                 f"{first[key]} and {r[key]}")
    row = {key: first[key] for key in list(COUNTS) + ["pvs_average", "pvs_largest", "pvs_bytes",
                                                      "gate_bytes"] if key in first}
    row["times"] = {s: statistics.median(r["times"][s] for r in runs) for s in STAGES}
    row["wall"] = statistics.median(r["wall"] for r in runs)
    row["peak_mib"] = statistics.median(r["peak_mib"] for r in runs)
    row["runs"] = len(runs)
    row["run_times"] = [r["times"]["total"] for r in runs]
    return row


def summary_row(rows):
    """Medians over the seeds of one (kind, size)."""
    out = {"kind": rows[0]["kind"], "size": rows[0]["size"], "seed": "median",
           "seeds": [r["seed"] for r in rows]}
    for key in ["quads"] + list(COUNTS) + ["pvs_average", "pvs_largest", "wall", "peak_mib"]:
        out[key] = statistics.median(r[key] for r in rows)
    out["times"] = {s: statistics.median(r["times"][s] for r in rows) for s in STAGES}
    return out


def column_time(row, stages):
    return sum(row["times"][s] for s in stages)


def format_count(value):
    return f"{value:.0f}" if isinstance(value, float) and value != int(value) else f"{int(value)}"


def table_cells(row):
    cells = [row["kind"], str(row["size"]), str(row["seed"]), format_count(row["quads"]),
             format_count(row["polys"]), format_count(row["nodes"]), format_count(row["leaves"]),
             format_count(row["portals"]), f"{row['pvs_average']:.2f}"]
    cells += [f"{column_time(row, stages):.3f}" for _, stages in TIME_COLUMNS]
    cells.append(f"{row['peak_mib']:.0f}")
    return cells


HEADERS = ["kind", "rooms", "seed", "quads", "polys", "nodes", "leaves", "portals", "pvs avg"] + \
          [name for name, _ in TIME_COLUMNS] + ["MiB"]
WIDTHS = [8, 5, 6, 6, 6, 6, 6, 7, 7] + [7] * len(TIME_COLUMNS) + [5]


class Table:
    """Prints rows as they are measured, as plain text or as a Markdown table."""

    def __init__(self, markdown, stream=sys.stdout):
        self.markdown = markdown
        self.stream = stream

    def line(self, cells):
        if self.markdown:
            text = "| " + " | ".join(cells) + " |"
        else:
            text = " ".join(c.ljust(w) if i < 1 else c.rjust(w)
                            for i, (c, w) in enumerate(zip(cells, WIDTHS)))
        print(text, file=self.stream, flush=True)

    def header(self):
        self.line(HEADERS)
        if self.markdown:
            self.line(["---"] * 3 + ["---:"] * (len(HEADERS) - 3))
        else:
            print("-" * (sum(WIDTHS) + len(WIDTHS) - 1), file=self.stream)

    def row(self, row):
        cells = table_cells(row)
        if self.markdown and row["seed"] == "median":
            cells = [f"**{c}**" for c in cells]
        self.line(cells)


def read_cpuinfo():
    model = platform.processor() or platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return model


def read_meminfo_mib():
    try:
        for line in Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) // 1024
    except OSError:
        pass
    return None


def machine_description():
    return {
        "cpu": read_cpuinfo(),
        "cores": os.cpu_count(),
        "memory_mib": read_meminfo_mib(),
        "system": f"{platform.system()} {platform.release()}",
        "python": platform.python_version(),
        "load_average": list(os.getloadavg()) if hasattr(os, "getloadavg") else None,
    }


def git_state():
    def git(*args):
        proc = subprocess.run(["git", "-C", str(REPO)] + list(args), capture_output=True,
                              text=True)
        return proc.stdout.strip() if proc.returncode == 0 else None

    return {"commit": git("rev-parse", "HEAD"),
            "dirty": bool(git("status", "--porcelain", "--untracked-files=no"))}


def build_type(build_dir):
    cache = Path(build_dir) / "CMakeCache.txt"
    if cache.exists():
        m = re.search(r"^CMAKE_BUILD_TYPE:\w+=(.*)$", cache.read_text(), re.M)
        if m:
            return m.group(1)
    return None


def run_benchmark(args):
    build = Path(args.build_dir)
    mazegen = build / "tools" / "mazegen" / "mazegen"
    bspc = build / "tools" / "bspc" / "bspc"
    for tool in (mazegen, bspc):
        if not os.access(tool, os.X_OK):
            raise BenchError(f"{tool} is missing; build the bspc and mazegen targets first")

    extra = []
    if args.clip_steps is not None:
        extra += ["--clip-steps", str(args.clip_steps)]
    if args.fast:
        extra.append("--fast")

    machine = machine_description()
    state = git_state()
    print(f"# {machine['cpu']}, {machine['cores']} cores, {machine['memory_mib']} MiB; "
          f"commit {(state['commit'] or 'unknown')[:12]}{' (modified)' if state['dirty'] else ''}; "
          f"bspc --threads {args.threads}{' ' + ' '.join(extra) if extra else ''}; "
          f"median of {args.runs} run(s); times in seconds", flush=True)
    rows, summaries = [], []
    if args.levels:
        rows = run_levels(args, mazegen, bspc)
    else:
        rows, summaries = run_table(args, mazegen, bspc, extra)

    return {
        "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
        **state,
        "machine": machine,
        "build_type": build_type(build),
        "settings": {"sizes": args.sizes, "seeds": args.seeds, "kinds": args.kinds,
                     "fan_rooms": args.fan_rooms, "huge": [list(h) for h in args.huge],
                     "runs": args.runs, "long": args.long, "threads": args.threads,
                     "bspc_options": extra, "levels": args.levels,
                     "maze_kinds": {k: KINDS[k] for k in args.kinds}},
        "rows": rows,
        "summary": summaries,
    }


def show(saved, markdown):
    """Prints the table of a saved run, each (kind, size) group followed by its summary row."""
    if saved["settings"].get("levels"):
        raise SystemExit("bench_mazes: --show prints the maze table; this file holds --levels rows")
    summaries = {(r["kind"], r["size"]): r for r in saved.get("summary", [])}
    table = Table(markdown)
    table.header()
    rows = saved["rows"]
    for i, row in enumerate(rows):
        table.row(row)
        last = i + 1 == len(rows) or (rows[i + 1]["kind"], rows[i + 1]["size"]) != \
            (row["kind"], row["size"])
        if last and (row["kind"], row["size"]) in summaries:
            table.row(summaries[(row["kind"], row["size"])])


def run_table(args, mazegen, bspc, extra):
    table = Table(args.markdown)
    table.header()
    rows, summaries = [], []
    with tempfile.TemporaryDirectory(prefix="bench-mazes-") as tmp:
        for kind in args.kinds:
            for size in args.sizes:
                group = []
                for seed in args.seeds:
                    path = Path(tmp) / f"{kind}-{size}-{seed}.ply"
                    maze = make_maze(mazegen, kind, size, seed, path)
                    row = median_row(compile_runs(bspc, path, args, extra))
                    row.update({"kind": kind, "size": size, "seed": seed, **maze})
                    path.unlink()
                    table.row(row)
                    group.append(row)
                rows += group
                if len(group) > 1:
                    summary = summary_row(group)
                    table.row(summary)
                    summaries.append(summary)
        for walls in args.fan_rooms:
            path = Path(tmp) / f"fan-{walls}.ply"
            room = make_fan_room(mazegen, walls, path)
            row = median_row(compile_runs(bspc, path, args, extra))
            row.update({"kind": "fan", "size": walls, "seed": "-", **room})
            path.unlink()
            table.row(row)
            rows.append(row)
        # The largest mazes take about a minute, so each is compiled once.
        for kind, size, seed in args.huge:
            path = Path(tmp) / f"{kind}-{size}-{seed}.ply"
            maze = make_maze(mazegen, kind, size, seed, path)
            row = median_row([compile_once(bspc, path, args.threads, extra)])
            row.update({"kind": kind, "size": size, "seed": seed, **maze})
            path.unlink()
            table.row(row)
            rows.append(row)
    return rows, summaries


LEVELS = [("clip 4", ["--clip-steps", "4"]), ("clip 3", ["--clip-steps", "3"]),
          ("clip 2", ["--clip-steps", "2"]), ("clip 1", ["--clip-steps", "1"]),
          ("clip 0", ["--clip-steps", "0"]), ("fast", ["--fast"])]


def run_levels(args, mazegen, bspc, stream=sys.stdout):
    """Each maze at every quality level: visibility time and set sizes against the full level."""
    heads = ["kind", "rooms", "seed", "level", "gate+fl", "vis", "total", "pvs avg", "largest",
             "x clip4"]
    widths = [8, 5, 4, 6, 8, 8, 8, 8, 7, 7]

    def line(cells):
        if args.markdown:
            print("| " + " | ".join(cells) + " |", file=stream, flush=True)
        else:
            print(" ".join(c.ljust(w) if i in (0, 3) else c.rjust(w)
                           for i, (c, w) in enumerate(zip(cells, widths))), file=stream,
                  flush=True)

    line(heads)
    if args.markdown:
        line(["---"] * 4 + ["---:"] * (len(heads) - 4))
    rows = []
    with tempfile.TemporaryDirectory(prefix="bench-levels-") as tmp:
        for kind in args.kinds:
            for size in args.sizes:
                for seed in args.seeds:
                    path = Path(tmp) / f"{kind}-{size}-{seed}.ply"
                    maze = make_maze(mazegen, kind, size, seed, path)
                    full = None
                    for level, options in LEVELS:
                        runs = [compile_once(bspc, path, args.threads, options)
                                for _ in range(args.runs)]
                        row = median_row(runs)
                        row.update({"kind": kind, "size": size, "seed": seed, "level": level,
                                    **maze})
                        full = full or row["pvs_average"]
                        line([kind, str(size), str(seed), level,
                              f"{column_time(row, ['gates', 'flood']):.3f}",
                              f"{row['times']['visibility']:.3f}",
                              f"{row['times']['total']:.3f}", f"{row['pvs_average']:.2f}",
                              str(row["pvs_largest"]), f"{row['pvs_average'] / full:.2f}"])
                        rows.append(row)
                    path.unlink()
    return rows


def compare(old, new, stream=sys.stdout):
    """Prints old/new time ratios per row (above 1 means the new run is faster)."""
    def key(row):
        return (row["kind"], row["size"], str(row["seed"]), row.get("level", ""))

    old_rows = {key(r): r for r in old["rows"] + old.get("summary", [])}
    print(f"# speed-up of {(new.get('commit') or 'new')[:12]} over "
          f"{(old.get('commit') or 'old')[:12]}: old / new time (and memory), above 1 is better; "
          "'same' tells whether the counts and the average set agree",
          file=stream)
    stages = [("tree", ["tree"]), ("portals", ["portals"]), ("gate+fl", ["gates", "flood"]),
              ("vis", ["visibility"]), ("pvs", ["pvs"]), ("total", ["total"])]
    heads = ["kind", "rooms", "seed", "old s", "new s"] + [n for n, _ in stages] + ["MiB", "same"]
    widths = [8, 5, 6, 8, 8] + [7] * len(stages) + [6, 4]
    print(" ".join(h.ljust(w) if i == 0 else h.rjust(w)
                   for i, (h, w) in enumerate(zip(heads, widths))), file=stream)
    matched = 0
    for row in new["rows"] + new.get("summary", []):
        before = old_rows.get(key(row))
        if before is None:
            continue
        matched += 1

        def ratio(stage_list):
            a, b = column_time(before, stage_list), column_time(row, stage_list)
            return f"{a / b:.2f}" if b > 0 else "-"

        same = all(before[k] == row[k] for k in ["polys", "leaves", "portals", "pvs_average"])
        mem = f"{before['peak_mib'] / row['peak_mib']:.2f}" if row["peak_mib"] else "-"
        seed = str(row["seed"]) + (f" {row['level']}" if row.get("level") else "")
        cells = [row["kind"], str(row["size"]), seed,
                 f"{before['times']['total']:.3f}", f"{row['times']['total']:.3f}"]
        cells += [ratio(s) for _, s in stages] + [mem, "yes" if same else "NO"]
        print(" ".join(c.ljust(w) if i == 0 else c.rjust(w)
                       for i, (c, w) in enumerate(zip(cells, widths))), file=stream)
    if matched == 0:
        print("no rows in common", file=stream)
    return matched


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Compile generated mazes with bspc and tabulate sizes, stage times and "
                    "peak memory.")
    parser.add_argument("build_dir", nargs="?", help="build directory holding tools/bspc and "
                        "tools/mazegen")
    parser.add_argument("--sizes", type=lambda t: parse_list(t, int),
                        help="rooms a side (default 16,32,64,128; 16,32 with --quick)")
    parser.add_argument("--seeds", type=lambda t: parse_list(t, int), default=[1, 2, 3],
                        help="maze seeds (default 1,2,3)")
    parser.add_argument("--kinds", type=lambda t: parse_list(t, str),
                        default=list(KINDS), help="maze kinds: standard (loops 0.1, 3 halls), "
                        "open (loops 0.6, 20 halls); default both")
    parser.add_argument("--huge", type=lambda t: parse_list(t, parse_huge),
                        help="KIND:ROOMS:SEED mazes compiled once after the fan rooms (default "
                        "open:256:1; none with --quick; '' for none)")
    parser.add_argument("--fan-rooms", type=lambda t: parse_list(t, int),
                        help="walls of the fan rooms compiled after the mazes (default 5000; "
                        "500 with --quick; an empty list for none)")
    parser.add_argument("--runs", type=int, help="compiles of each maze, median taken "
                        "(default 3; 1 with --quick)")
    parser.add_argument("--long", type=float, default=60.0, help="a maze whose first compile "
                        "takes longer than this many seconds is compiled once (default 60)")
    parser.add_argument("--threads", type=int, default=1, help="bspc --threads (default 1)")
    parser.add_argument("--clip-steps", type=int, help="bspc --clip-steps")
    parser.add_argument("--fast", action="store_true", help="bspc --fast")
    parser.add_argument("--levels", action="store_true", help="compile each maze at every "
                        "quality level (--clip-steps 4..0, --fast) instead of the table")
    parser.add_argument("--quick", action="store_true", help="smoke test: sizes 16,32, one run")
    parser.add_argument("--json", help="where to write the results (default "
                        "BUILD_DIR/bench-mazes.json; - for none)")
    parser.add_argument("--markdown", action="store_true", help="print a Markdown table")
    parser.add_argument("--compare", metavar="OLD.json", help="print old/new time ratios "
                        "against an earlier run")
    parser.add_argument("--show", metavar="RUN.json", help="print the table of a saved run "
                        "instead of running the benchmark (with --markdown for documents)")
    parser.add_argument("--against", metavar="NEW.json", help="with --compare: compare two "
                        "saved runs instead of running the benchmark")
    args = parser.parse_args(argv)

    if args.against:
        if not args.compare:
            parser.error("--against needs --compare")
        old = json.loads(Path(args.compare).read_text())
        new = json.loads(Path(args.against).read_text())
        return 0 if compare(old, new) else 1
    if args.show:
        show(json.loads(Path(args.show).read_text()), args.markdown)
        return 0
    if not args.build_dir:
        parser.error("the build directory is required")
    unknown = [k for k in args.kinds if k not in KINDS]
    if unknown:
        parser.error(f"unknown maze kind {', '.join(unknown)}; known: {', '.join(KINDS)}")
    if args.sizes is None:
        args.sizes = [16, 32] if args.quick else [16, 32, 64, 128]
    if args.runs is None:
        args.runs = 1 if args.quick else 3
    if args.fan_rooms is None:
        args.fan_rooms = [500] if args.quick else [5000]
    if args.huge is None:
        args.huge = [] if args.quick or args.levels else HUGE_MAZES
    if any(walls < 3 for walls in args.fan_rooms):
        parser.error("a fan room has at least 3 walls")
    if args.runs < 1 or args.threads < 1 or not args.sizes or not args.seeds:
        parser.error("--runs and --threads must be positive, --sizes and --seeds not empty")
    if args.levels and (args.compare or args.fast or args.clip_steps is not None):
        parser.error("--levels runs every level itself; it takes no --compare, --fast or "
                     "--clip-steps")
    old = json.loads(Path(args.compare).read_text()) if args.compare else None

    try:
        result = run_benchmark(args)
    except BenchError as e:
        print(f"bench_mazes: {e}", file=sys.stderr)
        return 1

    out = args.json or str(Path(args.build_dir) / "bench-mazes.json")
    if out != "-":
        Path(out).write_text(json.dumps(result, indent=1) + "\n")
        print(f"# results written to {out}")
    if old is not None:
        print()
        compare(old, result)
    return 0


if __name__ == "__main__":
    sys.exit(main())

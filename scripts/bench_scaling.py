#!/usr/bin/env python3
"""The visibility stage on more than one core: wall time for 1 and 2 threads and for 2
processes of 1 thread each (mpirun), with the share of gates run twice.

    scripts/bench_scaling.py BUILD [--sizes 64,128] [--runs 3] [--real oa_dm1,oa_dm4]

Open mazes (loops 0.6, 20 halls, seed 1) of each size, then the real maps named, when
real-levels/ holds them (make real-levels). Every configuration's JSON must be the same bytes
as one thread's; the table says so in its last column.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent
VIS_TIME = re.compile(r"^time visibility\s+([0-9.]+) s$", re.M)
RERUNS = re.compile(r"^visibility reruns (\d+) of (\d+) gates", re.M)


def run(cmd):
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        sys.exit(f"bench_scaling: {' '.join(map(str, cmd))} failed ({proc.returncode}):\n"
                 f"{proc.stderr}")
    return proc.stderr


def measure(commands, runs):
    """For each command, the median visibility seconds, and reruns and gates of its last
    run. The commands take turns, so that a machine whose speed drifts (shared or throttled
    cores) drifts alike for all of them."""
    times = [[] for _ in commands]
    counts = [(0, 0) for _ in commands]
    for _ in range(runs):
        for i, cmd in enumerate(commands):
            err = run(cmd)
            times[i].append(float(VIS_TIME.search(err).group(1)))
            m = RERUNS.search(err)
            counts[i] = (int(m.group(1)), int(m.group(2)))
    return [(statistics.median(t), r, g) for t, (r, g) in zip(times, counts)]


def mpi_launcher():
    mpirun = shutil.which("mpirun")
    if mpirun is None:
        return None
    launch = [mpirun, "--oversubscribe"]
    if os.geteuid() == 0:
        launch.append("--allow-run-as-root")
    return launch


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--sizes", default="64,128", help="open mazes, rooms a side")
    parser.add_argument("--runs", type=int, default=5, help="runs of each maze, median taken")
    parser.add_argument("--real", default="oa_dm1,oa_dm4",
                        help="real maps of real-levels/ (each run once), when present")
    args = parser.parse_args()
    build = Path(args.build_dir)
    bspc = build / "tools" / "bspc" / "bspc"
    mazegen = build / "tools" / "mazegen" / "mazegen"
    launch = mpi_launcher()

    print("| level | gates | 1 thread s | 2 threads s | x | reruns | 2 processes s | x "
          "| reruns | same bytes |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    with tempfile.TemporaryDirectory(prefix="bench-scaling-") as tmp:
        levels = []
        for size in (int(s) for s in args.sizes.split(",") if s):
            path = Path(tmp) / f"open-{size}.txt"
            run([mazegen, "-q", "--size", str(size), "--seed", "1", "--loops", "0.6",
                 "--rooms", "20", "-o", path])
            levels.append((f"open {size}", path, args.runs))
        for name in (n for n in args.real.split(",") if n):
            path = SOURCE_DIR / "real-levels" / f"{name}.obj"
            if path.exists():
                levels.append((name, path, 1))
        for name, path, runs in levels:
            base = [bspc, path, "--time", "--quiet"]
            json_of = lambda tag: Path(tmp) / f"{tag}.json"
            commands = [base + ["--threads", "1", "--json", json_of("t1")],
                        base + ["--threads", "2", "--json", json_of("t2")]]
            if launch:
                # --time is printed by the first process only.
                commands.append(launch + ["-np", "2"] + base +
                                ["--threads", "1", "--json", json_of("p2")])
            results = measure(commands, runs)
            (one, _, gates), (two, rerun2, _) = results[0], results[1]
            same = json_of("t1").read_bytes() == json_of("t2").read_bytes()
            cells = [name, str(gates), f"{one:.3f}", f"{two:.3f}", f"{one / two:.2f}",
                     f"{100.0 * rerun2 / max(gates, 1):.1f}%"]
            if launch:
                procs, rerunp, _ = results[2]
                same = same and json_of("t1").read_bytes() == json_of("p2").read_bytes()
                cells += [f"{procs:.3f}", f"{one / procs:.2f}",
                          f"{100.0 * rerunp / max(gates, 1):.1f}%"]
            else:
                cells += ["no MPI", "-", "-"]
            cells.append("yes" if same else "NO")
            print("| " + " | ".join(cells) + " |", flush=True)
            if not same:
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

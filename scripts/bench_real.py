#!/usr/bin/env python3
"""Compiles every map of the real-level corpus with bspc and tabulates what came out.

    scripts/bench_real.py BUILD_DIR [--levels real-levels] [--maps a,b] [--threads 1]
        [--points 300] [--pairs 2000] [--fast] [--timeout 1800] [--flood-fallback]
        [--bspc-args "..."] [--json OUT] [--markdown]

The corpus is what `make real-levels` writes (scripts/real_levels.py): for each map an OBJ
level and the structure the map shipped with (NAME.map.json). Each map is compiled once
with `bspc NAME.obj --time --reference NAME.map.json --verify-mesh PAIRS`, and the table
holds, per map: triangles, leaves, clusters (leaves sharing a set; as many as the leaves
when every leaf has its own), portals, gates, the wall time of each stage, peak memory,
playable points that landed in solid space (points drawn in the map's own playable space,
see --reference in bspc --help), sight-line misses (clear segments between two leaves that
do not list each other, from both --verify-mesh and the reference pairs), and the fraction
of the reference pairs that are visible in our sets, in the shipped sets, and by clear
segment. The results go to BUILD_DIR/bench-real.json (--json) with the commit and machine.
"""

import argparse
import json
import re
import shlex
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench_mazes import (BenchError, TIME_COLUMNS, column_time, git_state,  # noqa: E402
                         machine_description, parse_bspc, parse_list, run_measured)

REPO = Path(__file__).resolve().parent.parent

REFERENCE_LINE = re.compile(
    r"^reference points (\d+) in-solid (\d+) pairs (\d+) clear (\d+) misses (\d+) "
    r"visible ours ([0-9.]+) shipped ([0-9.]+) clear ([0-9.]+)$", re.M)
MESH_LINE = re.compile(r"^verify-mesh pairs (\d+) clear (\d+) violations (\d+) ", re.M)
LEAK_LINE = re.compile(r"leaks: ", re.M)
CLUSTER_LINE = re.compile(r"^cluster count (\d+)$", re.M)


def compile_map(bspc, levels, entry, args):
    name = entry["name"]
    cmd = [str(bspc), str(levels / entry["obj"]), "--time", "--threads", str(args.threads),
           "--reference", str(levels / entry["map_json"]), "--reference-points",
           str(args.points), "--verify-mesh", str(args.pairs)]
    if args.fast:
        cmd.append("--fast")
    cmd += shlex.split(args.bspc_args)
    status, stdout, stderr, wall, peak = run_measured(["timeout", str(args.timeout)] + cmd)
    flood_only = args.fast
    if status == TIMED_OUT and args.flood_fallback and not args.fast:
        # The tree, portals, solid space and playable points do not depend on the
        # recursion, so a flood-only compile still fills every column but the sets.
        cmd.append("--fast")
        status, stdout, stderr, wall, peak = run_measured(cmd)
        flood_only = True
    if status not in (0, 3):
        raise BenchError(f"{name}: {' '.join(cmd)} failed ({status}):\n{stderr[-2000:]}")
    row = parse_bspc(stdout, stderr)
    reference = REFERENCE_LINE.search(stdout)
    mesh = MESH_LINE.search(stdout)
    if not reference or not mesh:
        raise BenchError(f"{name}: bspc printed no reference or verify-mesh line:\n{stdout}")
    clusters = CLUSTER_LINE.search(stdout)
    row.update(name=name, clusters=int(clusters[1]) if clusters else row["leaves"], triangles=entry["triangles"], wall=wall, peak_mib=peak,
               gates=2 * row["portals"], leaks=bool(LEAK_LINE.search(stderr)),
               points=int(reference[1]), in_solid=int(reference[2]),
               reference_pairs=int(reference[3]), reference_misses=int(reference[5]),
               visible_ours=float(reference[6]), visible_shipped=float(reference[7]),
               visible_clear=float(reference[8]), mesh_pairs=int(mesh[1]),
               mesh_misses=int(mesh[3]), flood_only=flood_only)
    return row


HEADERS = (["map", "triangles", "leaves", "clusters", "portals", "gates"] + [h for h, _ in TIME_COLUMNS] +
           ["MiB", "leaks", "in solid", "misses", "ours", "shipped", "clear"])
# What `timeout` exits with when it had to stop the command.
TIMED_OUT = 124


def cells(row):
    flood_only = row.get("flood_only", False)
    times = [f"{column_time(row, stages):.2f}" for _, stages in TIME_COLUMNS]
    if flood_only:
        # The recursion never ran: its time and the total are not known.
        times[-3:] = ["-", times[-2], "-"]
    return ([row["name"], f"{row['triangles']:,}", f"{row['leaves']:,}",
             f"{row.get('clusters', row['leaves']):,}", f"{row['portals']:,}",
             f"{row['gates']:,}"] + times +
            [f"{row['peak_mib']:.0f}", "yes" if row["leaks"] else "no",
             f"{row['in_solid']}/{row['points']}",
             str(row["mesh_misses"] + row["reference_misses"]),
             f"{row['visible_ours']:.3f}" + (" (flood)" if flood_only else ""),
             f"{row['visible_shipped']:.3f}", f"{row['visible_clear']:.3f}"])


def print_table(rows, markdown, stream=sys.stdout):
    table = [HEADERS] + [cells(r) for r in rows]
    if markdown:
        stream.write("| " + " | ".join(HEADERS) + " |\n")
        stream.write("|" + "|".join(["---"] + ["---:"] * (len(HEADERS) - 1)) + "|\n")
        for line in table[1:]:
            stream.write("| " + " | ".join(line) + " |\n")
        return
    widths = [max(len(line[i]) for line in table) for i in range(len(HEADERS))]
    for line in table:
        stream.write("  ".join(c.rjust(w) if i else c.ljust(w)
                               for i, (c, w) in enumerate(zip(line, widths))) + "\n")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build_dir", help="build directory holding tools/bspc")
    parser.add_argument("--levels", default=str(REPO / "real-levels"),
                        help="the corpus directory (default real-levels/)")
    parser.add_argument("--maps", type=lambda t: parse_list(t, str), help="only these maps")
    parser.add_argument("--threads", type=int, default=1, help="bspc --threads (default 1)")
    parser.add_argument("--points", type=int, default=300, help="reference points per map")
    parser.add_argument("--pairs", type=int, default=2000, help="--verify-mesh pairs per map")
    parser.add_argument("--fast", action="store_true", help="bspc --fast")
    parser.add_argument("--timeout", type=float, default=1800.0, help="seconds per map")
    parser.add_argument("--flood-fallback", action="store_true",
                        help="when a map does not finish in --timeout, compile it again with "
                        "--fast and mark its row flood-only")
    parser.add_argument("--bspc-args", default="",
                        help="more bspc options, as one string (e.g. \"--cluster-size 0\")")
    parser.add_argument("--json", help="where to write the results "
                        "(default BUILD_DIR/bench-real.json)")
    parser.add_argument("--markdown", action="store_true", help="print a Markdown table")
    args = parser.parse_args(argv)

    levels = Path(args.levels)
    bspc = Path(args.build_dir) / "tools" / "bspc" / "bspc"
    corpus_file = levels / "corpus.json"
    if not corpus_file.exists():
        sys.exit(f"bench_real.py: no {corpus_file}: run `make real-levels` first")
    entries = json.loads(corpus_file.read_text())["maps"]
    if args.maps:
        entries = [e for e in entries if e["name"] in args.maps]
    rows, failed = [], []
    for entry in entries:
        try:
            rows.append(compile_map(bspc, levels, entry, args))
            print(f"{entry['name']}: {rows[-1]['times']['total']:.2f} s", file=sys.stderr)
        except BenchError as e:
            failed.append({"name": entry["name"], "error": str(e)})
            print(f"bench_real.py: {e}", file=sys.stderr)
    print_table(rows, args.markdown)
    out = Path(args.json) if args.json else Path(args.build_dir) / "bench-real.json"
    out.write_text(json.dumps({"commit": git_state(), "machine": machine_description(),
                               "threads": args.threads, "fast": args.fast, "rows": rows,
                               "failed": failed}, indent=1) + "\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Compiles many random levels with bspc under AddressSanitizer and UndefinedBehaviorSanitizer.

    scripts/soak.py [--build-dir build-asan] [--count 500] [--seed 1] [--jobs N]

Three classes of level, drawn in turn, every one determined by the seed and its number:

  maze     mazegen mazes of 1 to 24 rooms a side, with a random seed, loops and halls;
  pillars  a closed box room holding boxes turned by random angles about y and about
           arbitrary axes, every box face turned away from its box (pillars may overlap);
  quads    a soup of faces naming random positions from a small shared table, so corners
           coincide, faces are non-flat and cross one another; not a closed level.

Mazes are written by `mazegen -o` in the native format. Pillar rooms and quad soups are
written as OBJ text, four corners a face (a repeated corner is allowed). Every other one of
each class is compiled from that text; the rest are first converted with `levelconv IN.obj
OUT.ply` and compiled in the native format, so both readers run under the sanitizers. bspc
decides solid space by the format it reads: a native level by the classic rule (behind a
face is solid), an OBJ level by the winding rule with coplanar triangles merged; the soak
leaves those defaults alone, so both rules run too.

Each level is compiled with `bspc FILE --verify PAIRS --seed N -q --max-seconds S`, on one
or two worker threads in turn so that the threaded stages run under the sanitizers too.
Under the sanitizers a maze of 23 x 22 rooms takes 1.5 s and a pillar room up to 6 s; an
OBJ soup of faces, the slowest kind, now and then takes one or two minutes (the visibility
recursion) and once took 218 s of processor time, past the 300 s limit on two cores shared
with other work. Runs of 30 levels took 0.5 to 5 minutes there.

The report counts, per class and format, the clean runs, verification violations (exit
status 3), rejected levels, time-outs, crashes, sanitizer errors and other failures
(mazegen or levelconv failing counts under its own outcome, or as an error), and names the
slowest level. The files of every level that did not run clean are kept, with the commands
and their output, under BUILD_DIR/soak-failures/ for reproduction.

A violation is a clear segment between points of two leaves that do not list each other.
bspc --verify does not hold a segment that crosses the tree's solid space against the sets
(no set can see through solid space, which in a level that is not closed reaches well past
its faces), so every violation it reports is a fault of the compiler, in every class.

Exits 1 when any level did not run clean: it crashed, tripped a sanitizer, ran out of time,
was rejected, or had a violation.

The build directory is configured and its bspc, mazegen and levelconv built first (the same
configuration `make sanitize` uses), unless --no-build is given.
"""

import argparse
import json
import math
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLASSES = ("maze", "pillars", "quads")
SANITIZER_MARKERS = (
    "ERROR: AddressSanitizer",
    "ERROR: LeakSanitizer",
    "runtime error:",
    "UndefinedBehaviorSanitizer",
)
# Exit statuses chosen to differ from every status bspc gives itself.
ASAN_EXIT = 86
UBSAN_EXIT = 87


# ---------------------------------------------------------------------------------------
# Writing a level.


def obj_text(positions, faces):
    """OBJ text holding the positions and four-cornered faces (tuples of 4 indices)."""
    lines = ["v %r %r %r" % tuple(float(v) for v in p) for p in positions]
    lines += ["f " + " ".join(str(k + 1) for k in corners) for corners in faces]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------------------
# Boxes and rotations.

# Corner k of a unit box is (k & 1, (k >> 1) & 1, (k >> 2) & 1). Each face runs
# counter-clockwise seen from outside the box, so its normal points out.
BOX_FACES_OUTWARD = (
    (0, 4, 6, 2),  # -x
    (1, 3, 7, 5),  # +x
    (0, 1, 5, 4),  # -y
    (2, 6, 7, 3),  # +y
    (0, 2, 3, 1),  # -z
    (4, 5, 7, 6),  # +z
)


def box_corners(half, rotation, centre):
    corners = []
    for k in range(8):
        local = [half[a] * (1 if (k >> a) & 1 else -1) for a in range(3)]
        world = [sum(rotation[r][c] * local[c] for c in range(3)) + centre[r] for r in range(3)]
        corners.append(tuple(world))
    return corners


def add_box(positions, faces, corners, outward):
    base = len(positions)
    positions.extend(corners)
    for face in BOX_FACES_OUTWARD:
        ring = face if outward else tuple(reversed(face))
        faces.append(tuple(base + k for k in ring))


def rotation_about(axis, angle):
    x, y, z = axis
    length = math.sqrt(x * x + y * y + z * z)
    x, y, z = x / length, y / length, z / length
    c, s, t = math.cos(angle), math.sin(angle), 1 - math.cos(angle)
    return (
        (t * x * x + c, t * x * y - s * z, t * x * z + s * y),
        (t * x * y + s * z, t * y * y + c, t * y * z - s * x),
        (t * x * z - s * y, t * y * z + s * x, t * z * z + c),
    )


def multiply(a, b):
    return tuple(tuple(sum(a[r][k] * b[k][c] for k in range(3)) for c in range(3)) for r in range(3))


IDENTITY = ((1, 0, 0), (0, 1, 0), (0, 0, 1))


# ---------------------------------------------------------------------------------------
# The level classes. Each returns (description, OBJ text or None, mazegen arguments).


def random_maze(rng):
    width, depth = rng.randint(1, 24), rng.randint(1, 24)
    args = [
        "--width", str(width), "--depth", str(depth),
        "--seed", str(rng.randint(1, 1 << 30)),
        "--loops", "%.2f" % rng.choice((0.0, 0.0, rng.random() * 0.5)),
        "--rooms", str(rng.choice((0, 0, rng.randint(1, 6)))),
    ]
    return {"args": " ".join(args)}, None, args


def random_pillars(rng):
    room = [rng.uniform(150, 800), rng.uniform(80, 300), rng.uniform(150, 800)]
    positions, faces = [], []
    add_box(positions, faces, box_corners([h / 2 for h in room], IDENTITY, (0, room[1] / 2, 0)),
            outward=False)
    pillars = []
    for _ in range(rng.randint(1, 8)):
        half = [rng.uniform(3, 0.2 * min(room)) for _ in range(3)]
        spin = rotation_about((0, 1, 0), rng.uniform(0, 2 * math.pi))
        axis = [rng.gauss(0, 1) for _ in range(3)]
        if rng.random() < 0.7 and any(abs(a) > 1e-6 for a in axis):
            spin = multiply(rotation_about(axis, rng.uniform(0, 2 * math.pi)), spin)
        radius = math.sqrt(sum(h * h for h in half))
        # Inside the room with room to turn, when the room is large enough.
        centre = []
        for a in range(3):
            lo, hi = -room[a] / 2 + radius, room[a] / 2 - radius
            offset = room[1] / 2 if a == 1 else 0
            centre.append(offset + (rng.uniform(lo, hi) if lo < hi else 0.0))
        add_box(positions, faces, box_corners(half, spin, centre), outward=True)
        pillars.append((centre, radius))
    overlapping = any(
        math.dist(p[0], q[0]) < p[1] + q[1] for i, p in enumerate(pillars) for q in pillars[i + 1:]
    )
    description = {"room": [round(v, 1) for v in room], "pillars": len(pillars),
                   "overlapping": overlapping}
    return description, obj_text(positions, faces), None


def random_quads(rng):
    size = rng.choice((10.0, 100.0, 1000.0))
    count = rng.randint(4, 32)
    if rng.random() < 0.5:
        # Corners on a coarse grid: many shared planes and edges.
        step = size / 4
        positions = [tuple(step * rng.randint(-4, 4) for _ in range(3)) for _ in range(count)]
    else:
        positions = [tuple(rng.uniform(-size, size) for _ in range(3)) for _ in range(count)]
    faces = [tuple(rng.randrange(count) for _ in range(4)) for _ in range(rng.randint(1, 24))]
    description = {"positions": count, "faces": len(faces), "size": size}
    return description, obj_text(positions, faces), None


MAKERS = {"maze": random_maze, "pillars": random_pillars, "quads": random_quads}


# ---------------------------------------------------------------------------------------
# Running.

OUTCOMES = ("ok", "violations", "rejected", "timeout", "crash", "sanitizer", "error")
# Seconds a run may overstay its own --max-seconds before it is killed.
KILL_GRACE = 60.0
TOOLS = ("bspc", "mazegen", "levelconv")


def build(build_dir):
    subprocess.run(
        ["cmake", "-S", SOURCE_DIR, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
         "-DBSPPVS_SANITIZE=ON", "-DBSPPVS_BENCH=OFF"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", *TOOLS], check=True)


def sanitizer_environment():
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = "detect_leaks=1:exitcode=%d" % ASAN_EXIT
    env["UBSAN_OPTIONS"] = "halt_on_error=1:print_stacktrace=1:exitcode=%d" % UBSAN_EXIT
    return env


def run_limited(command, timeout, env):
    """(status or None on time-out, stdout, stderr, seconds); the whole group is killed."""
    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                             stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        out, err = child.communicate(timeout=timeout)
        status = child.returncode
    except subprocess.TimeoutExpired:
        os.killpg(child.pid, signal.SIGKILL)
        out, err = child.communicate()
        status = None
    return status, out.decode(errors="replace"), err.decode(errors="replace"), \
        time.monotonic() - start


def outcome_of(status, err):
    if any(marker in err for marker in SANITIZER_MARKERS) or status in (ASAN_EXIT, UBSAN_EXIT):
        return "sanitizer"
    if status is None or status == 4:
        return "timeout"
    if status < 0:
        return "crash"
    # 2 is a usage error (a fault of this script), 5 a level too large for the machine,
    # which no level here is; every status bspc does not give counts as a crash.
    return {0: "ok", 1: "rejected", 2: "error", 3: "violations", 5: "error"}.get(status, "crash")


def format_of(number, kind):
    """How a level reaches bspc: mazes as mazegen writes them, every other pillar room and
    quad soup as its OBJ text and the rest converted to the native format."""
    if kind == "maze" or (number // len(CLASSES)) % 2 == 1:
        return "native"
    return "obj"


def soak_one(number, options, tools, work_dir, env):
    kind = CLASSES[number % len(CLASSES)]
    level_format = format_of(number, kind)
    rng = random.Random("%d/%d" % (options.seed, number))
    description, text, maze_args = MAKERS[kind](rng)
    stem = os.path.join(work_dir, "level-%04d-%s" % (number, kind))
    path = stem + (".ply" if level_format == "native" else ".obj")
    result = {"number": number, "class": kind, "format": level_format,
              "name": os.path.basename(path), "description": description, "violations": 0,
              "files": [], "made_by": None}
    limit = options.timeout + KILL_GRACE
    made_by = None
    if text is None:
        made_by = [tools["mazegen"], "-q", "-o", path] + maze_args
    else:
        source = stem + ".obj"
        with open(source, "w") as f:
            f.write(text)
        result["files"].append(source)
        if source != path:
            made_by = [tools["levelconv"], source, path]
    if made_by:
        result["made_by"] = " ".join(made_by)
        status, out, err, seconds = run_limited(made_by, limit, env)
        if status != 0:
            outcome = outcome_of(status, err)
            result.update(outcome=outcome if outcome in ("sanitizer", "timeout", "crash")
                          else "error", status=status, seconds=round(seconds, 3),
                          command=result["made_by"], stdout=out, stderr=err)
            return finish(result, work_dir, options.keep_dir)
        result["files"].append(path)
    command = [tools["bspc"], path, "--verify", str(options.pairs), "--seed", str(number + 1),
               "-q", "--threads", str(1 + number % 2), "--max-seconds", str(options.timeout)]
    status, out, err, seconds = run_limited(command, limit, env)
    result.update(outcome=outcome_of(status, err), status=status, seconds=round(seconds, 3),
                  command=" ".join(command), stdout=out, stderr=err,
                  violations=sum(1 for line in out.splitlines()
                                 if line.startswith("violation ")))
    return finish(result, work_dir, options.keep_dir)


def finish(result, work_dir, keep_dir):
    """Keeps what a level that did not run clean needs to be reproduced; removes the rest."""
    if counts_as_fault(result):
        keep(result, work_dir, keep_dir)
    for path in result["files"]:
        os.remove(path)
    return result


def counts_as_fault(result):
    """Whether a level's outcome is a fault of the compiler (or of this script). bspc holds
    no sight line through the tree's solid space against the sets, so every violation it
    reports is one."""
    return result["outcome"] != "ok"


def keep(result, work_dir, keep_dir):
    """Copies the level's files to keep_dir and writes beside them its outcome and the
    commands, naming the kept files, that made and compiled it."""
    os.makedirs(keep_dir, exist_ok=True)
    for path in result["files"]:
        shutil.copy(path, keep_dir)

    def kept(command):
        return command.replace(os.path.join(work_dir, ""), os.path.join(keep_dir, ""))

    stem = os.path.join(keep_dir, os.path.splitext(result["name"])[0])
    with open(stem + ".txt", "w") as f:
        f.write("outcome: %s (status %s) after %.1f s\n" %
                (result["outcome"], result.get("status"), result["seconds"]))
        if result["outcome"] == "violations":
            f.write("violations: %d\n" % result["violations"])
        f.write("level: %s\n" % json.dumps(result["description"]))
        if result["made_by"]:
            f.write("made by: %s\n" % kept(result["made_by"]))
        f.write("command: %s\n\n--- stdout\n%s\n--- stderr\n%s\n" %
                (kept(result["command"]), result["stdout"], result["stderr"]))


def report(results, keep_dir):
    print("\n%-14s %6s" % ("class", "levels") + "".join(" %10s" % o for o in OUTCOMES) +
          " %10s" % "violating")
    for kind in CLASSES:
        for level_format in ("obj", "native"):
            mine = [r for r in results if r["class"] == kind and r["format"] == level_format]
            if not mine:
                continue
            counts = [sum(1 for r in mine if r["outcome"] == o) for o in OUTCOMES]
            print("%-14s %6d" % (kind + " " + level_format, len(mine)) +
                  "".join(" %10d" % c for c in counts) +
                  " %10d" % sum(r["violations"] for r in mine))
    print("(obj levels are compiled by the winding rule with merged triangles, native ones "
          "by the classic rule; violating: pairs whose clear segment joins leaves that do not "
          "list each other)")
    pillar_levels = [r for r in results if r["class"] == "pillars" and r["outcome"] == "violations"]
    if pillar_levels:
        overlapping = sum(1 for r in pillar_levels if r["description"].get("overlapping"))
        print("pillar levels with violations: %d, of which %d have overlapping pillars" %
              (len(pillar_levels), overlapping))
    if results:
        slowest = max(results, key=lambda r: r["seconds"])
        print("slowest: %s (%s) %.2f s %s" % (slowest["name"], slowest["class"],
                                               slowest["seconds"],
                                               json.dumps(slowest["description"])))
        for kind in CLASSES:
            mine = sorted(r["seconds"] for r in results if r["class"] == kind)
            if mine:
                print("%-8s median %.2f s, max %.2f s" % (kind, mine[len(mine) // 2], mine[-1]))
    faults = [r for r in results if counts_as_fault(r)]
    for r in faults:
        extra = " (%d violating pairs)" % r["violations"] if r["violations"] else ""
        print("FAULT %s: %s%s" % (r["name"], r["outcome"], extra))
    if faults:
        print("inputs of every level that did not run clean: %s" % keep_dir)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build-asan"))
    parser.add_argument("--no-build", action="store_true", help="use the build as it is")
    parser.add_argument("--count", type=int, default=500, help="levels to compile")
    parser.add_argument("--first", type=int, default=0, help="number of the first level")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--pairs", type=int, default=2000, help="--verify pairs per level")
    parser.add_argument("--timeout", type=float, default=300.0, help="seconds per level")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--keep-dir", help="where failing levels go "
                        "(default BUILD_DIR/soak-failures)")
    parser.add_argument("--summary", help="also write every result as JSON to this file")
    options = parser.parse_args()
    options.build_dir = os.path.abspath(options.build_dir)
    options.keep_dir = os.path.abspath(options.keep_dir or
                                       os.path.join(options.build_dir, "soak-failures"))

    if not options.no_build:
        build(options.build_dir)
    tools = {name: os.path.join(options.build_dir, "tools", name, name)
             for name in TOOLS}
    for path in tools.values():
        if not os.access(path, os.X_OK):
            sys.exit("soak: %s is missing; build it or drop --no-build" % path)

    env = sanitizer_environment()
    results = []
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="bsppvs-soak-") as work_dir:
        with ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
            futures = [pool.submit(soak_one, n, options, tools, work_dir, env)
                       for n in range(options.first, options.first + options.count)]
            for future in futures:
                r = future.result()
                results.append(r)
                extra = " (%d violating pairs)" % r["violations"] if r["violations"] else ""
                print("%4d %-8s %-6s %-10s %7.2f s%s" % (r["number"], r["class"], r["format"],
                                                        r["outcome"], r["seconds"], extra),
                      flush=True)
    print("\n%d levels in %.0f s" % (len(results), time.monotonic() - started))
    report(results, options.keep_dir)
    if options.summary:
        with open(options.summary, "w") as f:
            json.dump([{k: v for k, v in r.items() if k not in ("stdout", "stderr", "files")}
                       for r in results], f, indent=1)
    return 1 if any(counts_as_fault(r) for r in results) else 0


if __name__ == "__main__":
    sys.exit(main())

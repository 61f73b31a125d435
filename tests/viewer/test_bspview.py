#!/usr/bin/env python3
"""End-to-end tests of bspview: the real program in a virtual X server, driven by keys.

Each test copies a level into a fresh directory as maze-1.ply, starts the viewer there and
checks what it prints, what its window shows, and how it ends. The command-line compiler
bspc, when built, is the oracle for the counts and for the leaf of a point; tests that need
it, or the maze generator, skip without them.

The programs come from the environment (set by CMake): BSPVIEW, BSPC, MAZEGEN, and
BSPPVS_LEVEL for the bundled level.
"""

import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the source tree free of caches
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts"))
from screenshot import (LINE_TIMEOUT_S, MOVE_KEYS, SPHERE_STEP,  # noqa: E402
                        START_LINE_COUNT, START_TIMEOUT_S, Viewer, VirtualDisplay, is_white,
                        locate_points, step_lattice)


def tool(name):
    path = os.environ.get(name, "")
    return path if path and os.access(path, os.X_OK) else None


BSPVIEW = tool("BSPVIEW")
BSPC = tool("BSPC")
MAZEGEN = tool("MAZEGEN")
BUNDLED_LEVEL = os.environ.get("BSPPVS_LEVEL", os.path.join(SOURCE_DIR, "data", "maze-1.ply"))

KEY_REFERENCE = [
    "BSP/PVS Compiler : Auto generates portals",
    "Instructions: Moving the sphere renders a different part of the PVS",
    "1 : Toggles Leaf Rendering",
    "2 : Toggles Portal Rendering (off)",
    "3 : Toggles Pvs Rendering (dark blue)",
    "l : Renders next leaf (light blue)",
    "L : Toggles rendering of all leaves (red) (on)",
    "p : Renders next portal (green)",
    "P : Toggles rendering of all portals (green)",
    "zZ : Zoom in and out",
    "Arrow Keys : Rotate view",
    "c : Toggles back face culling (on) ",
    "adsw : Moves sphere",
]
COUNT_LABELS = ["poly count", "node count", "leaf count", "portal count", "TriCount"]
ESCAPE_STATUS = 1
RUN_TIMEOUT_S = 60


# The sphere is drawn at the middle of the 640 x 480 window, some 4 pixels across.
WINDOW_CENTRE = (320, 240)
CENTRE_BOX = (310, 230, 331, 251)


# Pixel classes, as (red, green, blue) bytes. Leaves, portals and the PVS are drawn opaque in
# shades of at least 0.25 of one channel with the other two at 0; the sphere is 75% green
# over whatever lies beneath it.
def is_red(p):
    return p[0] >= 50 and p[1] < 30 and p[2] < 30


def is_blue(p):
    return p[2] >= 50 and p[0] < 30 and p[1] < 30


def is_green(p):
    return p[1] >= 100 and p[1] > p[0] + 60 and p[1] > p[2] + 60


def is_sphere_blue(p):
    return p[2] >= 100 and p[2] > p[0] + 60 and p[2] > p[1] + 60


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True,
                          timeout=RUN_TIMEOUT_S).stdout


def bspc_counts(model):
    """The count lines bspc prints, in its order (it may print further statistics)."""
    return [line for line in run(BSPC, model).splitlines()
            if any(line.startswith(label + " ") for label in COUNT_LABELS)]


def locate_maze(model, maze):
    """bspc's leaf of every sphere position (x, z) over the maze's grid."""
    cell, origin = maze["cellSize"], maze["origin"]
    low = [round(o - cell / 2) for o in origin]
    cells = (len(maze["grid"][0]), len(maze["grid"]))
    high = [corner + round(cell * count) for corner, count in zip(low, cells)]
    points = step_lattice(low, high)
    return dict(zip(points, locate_points(BSPC, model, points)))


def write_empty_level(path):
    """The smallest valid model file: one face whose four corners are the one position, so
    the import keeps no polygon and every count is 0."""
    int32 = struct.Struct("<i").pack
    data = (b"PLY" + int32(2) +
            int32(1) + bytes(42) +        # one colour record
            int32(0) +                    # no name records
            int32(1) + bytes(12) +        # one position
            int32(1) + bytes(12) +        # one secondary vector
            int32(1) + bytes(36) + int32(0) +  # one face, no layers
            bytes([0, 0]) + b"\0" + bytes(36) + int32(0))  # the root node
    with open(path, "wb") as out:
        out.write(data)


class ViewerTestCase(unittest.TestCase):
    """One virtual X server per test class; one viewer per test in its own directory."""

    @classmethod
    def setUpClass(cls):
        if BSPVIEW is None:
            raise unittest.SkipTest("bspview is not built")
        cls.display = VirtualDisplay()

    @classmethod
    def tearDownClass(cls):
        cls.display.close()

    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="bspview-test-")
        self.addCleanup(shutil.rmtree, self.workdir, ignore_errors=True)

    def install_level(self, source):
        shutil.copyfile(source, os.path.join(self.workdir, "maze-1.ply"))

    def generate_maze(self, size, seed):
        """A generated maze installed as the level; returns its grid description."""
        if MAZEGEN is None:
            self.skipTest("mazegen is not built")
        model = os.path.join(self.workdir, "maze-1.ply")
        description = os.path.join(self.workdir, "maze.json")
        run(MAZEGEN, "--size", str(size), "--seed", str(seed), "-o", model, "--quiet",
            "--describe", description)
        with open(description) as f:
            return json.load(f)

    def install_small_level(self):
        """A small generated maze when the generator is built, else the bundled level."""
        if MAZEGEN is not None:
            self.generate_maze(size=3, seed=7)
        elif os.path.exists(BUNDLED_LEVEL):
            self.install_level(BUNDLED_LEVEL)
        else:
            self.skipTest("neither mazegen nor the bundled level is available")

    def start_viewer(self, *args):
        viewer = Viewer(BSPVIEW, self.workdir, self.display.display, args=args)
        self.addCleanup(viewer.close)
        return viewer

    def start_and_wait(self):
        """Starts the viewer and returns it with its five counts, by label."""
        viewer = self.start_viewer()
        lines = viewer.wait_for_lines(START_LINE_COUNT, START_TIMEOUT_S)
        counts = {}
        for line, label in zip(lines[len(KEY_REFERENCE):], COUNT_LABELS):
            match = re.fullmatch(re.escape(label) + r" (0|[1-9]\d*)", line)
            self.assertIsNotNone(match, "count line %r" % line)
            counts[label] = int(match.group(1))
        return viewer, counts

    def press_and_expect(self, viewer, keys, expected):
        """Presses keys and checks that exactly the expected lines follow. The last
        expected line must come from the last key, so that no earlier key's line can
        still be on its way when the check is made."""
        before = len(viewer.stdout_lines)
        viewer.press(*keys)
        lines = viewer.wait_for_lines(before + len(expected))
        self.assertEqual(lines[before:], expected)
        self.assertIsNone(viewer.process.poll(), "printed only at exit: a missing flush")

    def expect_picture(self, viewer, timeout, conditions):
        """Waits for a frame that meets every condition, then reports each one unmet."""
        image = viewer.screenshot_until(lambda im: all(c(im) for c in conditions.values()),
                                        timeout)
        for name, condition in conditions.items():
            self.assertTrue(condition(image), name)

    def quit(self, viewer):
        viewer.press("Escape")
        self.assertEqual(viewer.wait_exit(), ESCAPE_STATUS)
        self.assertEqual(viewer.stderr_lines, [])


class StartUpTest(ViewerTestCase):
    def test_transcript_counts_and_log_file(self):
        if not os.path.exists(BUNDLED_LEVEL):
            self.skipTest("the bundled level is not there yet")
        self.install_level(BUNDLED_LEVEL)
        log_file = os.path.join(self.workdir, "log.txt")
        with open(log_file, "w") as f:
            f.write("left over from an earlier run\n")

        viewer, counts = self.start_and_wait()
        # The counts are flushed: they arrive while the viewer runs, not at its exit.
        self.assertIsNone(viewer.process.poll())
        self.assertEqual(viewer.stdout_lines[:len(KEY_REFERENCE)], KEY_REFERENCE)
        self.assertEqual(os.path.getsize(log_file), 0)
        if BSPC is not None:
            model = os.path.join(self.workdir, "maze-1.ply")
            self.assertEqual(viewer.stdout_lines[len(KEY_REFERENCE):], bspc_counts(model))
        self.assertGreater(counts["leaf count"], 1)
        self.quit(viewer)
        self.assertEqual(len(viewer.stdout_lines), START_LINE_COUNT)

    def test_pictures_follow_the_view_flags(self):
        self.install_small_level()
        viewer, _ = self.start_and_wait()

        def green_outside_centre(image):
            return image.count(is_green) - image.count(is_green, CENTRE_BOX)

        def sphere_at_centre(image):
            return is_green(image.pixel(*WINDOW_CENTRE))

        self.expect_picture(viewer, START_TIMEOUT_S, {
            "white background": lambda im: im.count(is_white) > im.width * im.height // 10,
            "all leaves in red": lambda im: im.count(is_red) > 100,
            "the start leaf's PVS in blue": lambda im: im.count(is_blue) > 100,
            "green sphere at the centre": sphere_at_centre,
            "portals hidden at start": lambda im: green_outside_centre(im) == 0,
        })
        viewer.press("1")
        self.expect_picture(viewer, LINE_TIMEOUT_S, {
            "leaves off": lambda im: im.count(is_red) == 0,
            "PVS still on": lambda im: im.count(is_blue) > 100,
        })
        viewer.press("2", "P")
        self.expect_picture(viewer, LINE_TIMEOUT_S, {
            "portals in green": lambda im: green_outside_centre(im) > 100,
            "sphere still green": sphere_at_centre,
        })
        viewer.press("3")
        self.expect_picture(viewer, LINE_TIMEOUT_S, {"PVS off": lambda im: im.count(is_blue) == 0})
        self.quit(viewer)


class KeyTest(ViewerTestCase):
    def test_next_leaf_counts_up_and_wraps(self):
        self.install_small_level()
        viewer, counts = self.start_and_wait()
        leaf_count = counts["leaf count"]
        self.assertGreater(leaf_count, 1)
        self.press_and_expect(viewer, ["l"], ["Leaf 1"])
        wrap = ["Leaf %d" % i for i in range(2, leaf_count)] + ["Leaf 0"]
        self.press_and_expect(viewer, ["l"] * (leaf_count - 1), wrap)
        self.quit(viewer)

    def test_moves_report_each_new_leaf_and_refuse_walls(self):
        if BSPC is None:
            self.skipTest("bspc is not built")
        maze = self.generate_maze(size=3, seed=11)
        leaves = locate_maze(os.path.join(self.workdir, "maze-1.ply"), maze)
        viewer, counts = self.start_and_wait()

        # After every move an l press prints a marker line, which pins each "Current Leaf"
        # line to the move that caused it.
        position = (0, 0)
        self.assertNotEqual(leaves[position], -1, "the start lies in a leaf")
        expected, pressed, refused = [], [], 0
        for marker, key in enumerate(plan_walk(maze), start=1):
            target = tuple(p + d for p, d in zip(position, MOVE_KEYS[key]))
            if leaves[target] == -1:
                refused += 1
            else:
                if leaves[target] != leaves[position]:
                    expected.append("Current Leaf %d" % leaves[target])
                position = target
            expected.append("Leaf %d" % (marker % counts["leaf count"]))
            pressed += [key, "l"]
        self.assertGreater(refused, 0, "the walk bumps into walls")
        self.assertGreater(sum(line.startswith("Current") for line in expected), 2)
        self.press_and_expect(viewer, pressed, expected)

        # With the leaves hidden only the PVS is drawn: the floor around the sphere is blue
        # only if the PVS drawing followed the sphere into its new leaf.
        viewer.press("1")
        x, y = WINDOW_CENTRE
        around = [(x - 6, y), (x + 6, y), (x, y - 6), (x, y + 6)]
        self.expect_picture(viewer, LINE_TIMEOUT_S, {
            "PVS of the new leaf": lambda im: all(is_blue(im.pixel(*p)) for p in around)})
        self.quit(viewer)


def plan_walk(maze):
    """Keys for a depth-first walk through a dozen open cells from cell (1, 1), where the
    sphere starts, a cell at a time. In each cell it first pushes four steps towards a wall
    and comes back two: the steps beyond the cell's side would end in solid space."""
    grid, steps_per_cell = maze["grid"], round(maze["cellSize"]) // SPHERE_STEP
    cell_steps = {key: (dx // SPHERE_STEP, dz // SPHERE_STEP)
                  for key, (dx, dz) in MOVE_KEYS.items()}
    reverse = {cell_steps[key]: key for key in cell_steps}

    def is_open(i, j):
        return 0 <= j < len(grid) and 0 <= i < len(grid[j]) and grid[j][i] != "#"

    keys, visited, path = [], {(1, 1)}, [(1, 1)]
    while path and len(visited) < 12:
        i, j = path[-1]
        walls = [k for k, (di, dj) in cell_steps.items() if not is_open(i + di, j + dj)]
        if walls:
            keys += [walls[0]] * 4 + [reverse[tuple(-d for d in cell_steps[walls[0]])]] * 2
        ahead = [(i + di, j + dj, k) for k, (di, dj) in cell_steps.items()
                 if is_open(i + di, j + dj) and (i + di, j + dj) not in visited]
        if ahead:
            ni, nj, key = ahead[0]
            visited.add((ni, nj))
            path.append((ni, nj))
        else:
            path.pop()
            if not path:
                break
            key = reverse[(path[-1][0] - i, path[-1][1] - j)]
        keys += [key] * steps_per_cell
    return keys


class EdgeLevelTest(ViewerTestCase):
    def test_empty_level_shows_only_a_blue_sphere(self):
        write_empty_level(os.path.join(self.workdir, "maze-1.ply"))
        viewer, counts = self.start_and_wait()
        self.assertEqual(counts, dict.fromkeys(COUNT_LABELS, 0))

        # With no leaves the selection stays at 0, and with no leaf anywhere every move is
        # refused: nothing but the markers is printed, and every drawing is safe to run.
        viewer.press("2", "P", "p", "p", "c", "Up", "Left")
        self.press_and_expect(viewer, ["l", "a", "d", "s", "w", "l"], ["Leaf 0", "Leaf 0"])
        def top_third_white(image):
            third = image.height // 3
            return image.count(is_white, (0, 0, image.width, third)) == image.width * third

        self.expect_picture(viewer, START_TIMEOUT_S, {
            "no leaf: blue sphere": lambda im: is_sphere_blue(im.pixel(*WINDOW_CENTRE)),
            "nothing else drawn": top_third_white,
        })
        self.quit(viewer)

    def test_unreadable_level_is_reported_and_ends_the_program(self):
        int32 = struct.Struct("<i").pack
        cases = {
            "missing": None,
            "wrong magic": b"PLX" + int32(2) + bytes(200),
            "wrong version": b"PLY" + int32(3) + bytes(200),
            "empty": b"",
        }
        for name, content in cases.items():
            with self.subTest(name):
                model = os.path.join(self.workdir, "maze-1.ply")
                if content is None:
                    if os.path.exists(model):
                        os.remove(model)
                else:
                    with open(model, "wb") as out:
                        out.write(content)
                viewer = self.start_viewer()
                status = viewer.wait_exit(START_TIMEOUT_S)
                self.assertNotEqual(status, 0)
                self.assertEqual(len(viewer.stderr_lines), 1, viewer.stderr_lines)
                self.assertRegex(viewer.stderr_lines[0],
                                 r'^bspview: cannot load "maze-1\.ply": \S.*$')
                # Nothing half-done: no compile stage ran.
                self.assertEqual(viewer.stdout_lines, KEY_REFERENCE)


def write_obj_room(path, lo, hi, start, shelf_y):
    """An OBJ box room from lo to hi, faces turned inwards, with a marked start point and a
    shelf: a one-sided panel facing up at shelf_y along the room's low-x wall, whose plane
    splits the room into a leaf below and a leaf above."""
    corners = [(hi[0] if k & 1 else lo[0], hi[1] if k & 2 else lo[1], hi[2] if k & 4 else lo[2])
               for k in range(8)]
    # Each face counter-clockwise seen from inside the box (1-based corner indices).
    faces = [(1, 3, 7, 5), (2, 6, 8, 4), (1, 5, 6, 2), (3, 4, 8, 7), (1, 2, 4, 3), (5, 7, 8, 6)]
    with open(path, "w") as out:
        out.write("".join("v %g %g %g\n" % c for c in corners))
        out.write("".join("f %d %d %d %d\n" % f for f in faces))
        shelf = [(lo[0], shelf_y, lo[2]), (lo[0], shelf_y, hi[2]), (lo[0] + 100, shelf_y, hi[2]),
                 (lo[0] + 100, shelf_y, lo[2])]
        out.write("".join("v %g %g %g\n" % c for c in shelf) + "f 9 10 11 12\n")
        out.write("o start\nv %g %g %g\np -1\n" % start)


class AnyLevelTest(ViewerTestCase):
    def test_a_room_of_another_format_starts_at_its_marked_point_and_draws_its_leak(self):
        # The usual start (0, 25, 0) lies outside this room, in solid space.
        write_obj_room(os.path.join(self.workdir, "room.obj"), (1000, 0, 1000),
                       (1400, 200, 1400), (1200, 50, 1200), 100)
        with open(os.path.join(self.workdir, "room.leak"), "w") as out:
            out.write("1200 50 1200\n1200 50 2600\n")
        viewer = self.start_viewer("room.obj")
        lines = viewer.wait_for_lines(len(KEY_REFERENCE) + 1 + len(COUNT_LABELS), START_TIMEOUT_S)
        self.assertEqual(lines[:len(KEY_REFERENCE) + 1],
                         KEY_REFERENCE + ["rf : Moves sphere up and down"])
        self.assertEqual(lines[len(KEY_REFERENCE) + 1 + 2], "leaf count 2")

        def leak_line(image):
            return image.count(lambda p: p[0] > 200 and p[1] < 60 and p[2] > 200)

        self.expect_picture(viewer, START_TIMEOUT_S, {
            "green sphere: in the room": lambda im: is_green(im.pixel(*WINDOW_CENTRE)),
            "the leak drawn in magenta": lambda im: leak_line(im) > 20,
        })
        # Up past the shelf's plane into the leaf above, and back down.
        before = len(viewer.stdout_lines)
        viewer.press("r", "r", "r")
        above = viewer.wait_for_lines(before + 1)[before]
        viewer.press("f", "f", "f")
        below = viewer.wait_for_lines(before + 2)[before + 1]
        self.assertRegex(above, r"^Current Leaf [01]$")
        self.assertRegex(below, r"^Current Leaf [01]$")
        self.assertNotEqual(above, below)
        self.quit(viewer)


if __name__ == "__main__":
    unittest.main()

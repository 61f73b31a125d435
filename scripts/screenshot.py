#!/usr/bin/env python3
"""Runs bspview in a virtual X server, presses keys, and takes pictures of its window.

As a program it saves one PNG of the viewer on a level and prints the console transcript:

    scripts/screenshot.py --bspview build/src/viewer/bspview --level-dir data \\
        --output build/bspview.png [--keys 2 P Up*12] [--settle 1.5]

The README's picture walks the sphere to the middle of the bundled level first, then shows
the portals and tilts the view:

    scripts/screenshot.py --bspview build/src/viewer/bspview --level-dir data \\
        --bspc build/tools/bspc/bspc --walk-to 1100,1100 --keys 2 P Up*12 \\
        --output docs/bspview.png

As a module it gives the viewer's end-to-end tests the same machinery: VirtualDisplay
(Xvfb on a free display), Viewer (the program as a direct child, its output collected
line by line, keys, window pictures) and the XWD and PNG codecs. Only the standard library
is used, so no image packages are needed.

There is no window manager, so keys go to the window under the pointer: the window is
given the focus explicitly before every key press. Every wait has a timeout, and every
child process also gets SIGTERM when this process dies, so an interrupted run leaves no
X server or viewer behind.
"""

import argparse
import ctypes
import os
import select
import signal
import struct
import subprocess
import sys
import threading
import time
import zlib

WINDOW_TITLE_PATTERN = "^GLUT app$"
# A 24-bit screen: an 8-bit one gives no GL context.
SCREEN_GEOMETRY = "1280x1024x24"
# Start-up includes compiling the level, which a sanitizer build makes several times slower.
START_TIMEOUT_S = 60.0
# A key's line comes within milliseconds; the margin is for a machine busy with other tests.
LINE_TIMEOUT_S = 10.0
WINDOW_TIMEOUT_S = 15.0
EXIT_TIMEOUT_S = 10.0
TOOL_TIMEOUT_S = 10.0
LOCATE_TIMEOUT_S = 60.0
# Time for many frames after a change; a frame takes a few milliseconds on llvmpipe.
FRAME_SETTLE_S = 0.8
POLL_INTERVAL_S = 0.1
# Every frame starts by clearing to white.
WHITE_MIN = 245

_PR_SET_PDEATHSIG = 1
# Loaded here, not in the child: between fork and exec the child must not take the
# loader's locks, which another thread may have held at the fork.
_LIBC = ctypes.CDLL(None, use_errno=True)


def _die_with_parent():
    """Runs in the child before exec: ask the kernel to end it when this process dies."""
    _LIBC.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def _end_process(process, timeout=EXIT_TIMEOUT_S):
    """Terminates a child we started (by its pid only) and reaps it."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class VirtualDisplay:
    """An Xvfb server on a display number it picks itself, so parallel runs never clash."""

    def __init__(self):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN_GEOMETRY,
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)
            os.close(write_end)
            write_end = -1
            self.display = ":" + self._read_display_number(read_end)
        except BaseException:
            if write_end >= 0:
                os.close(write_end)
            self.close()
            raise
        finally:
            os.close(read_end)

    def _read_display_number(self, read_end):
        # Xvfb writes the number and a newline once it accepts connections.
        deadline = time.monotonic() + WINDOW_TIMEOUT_S
        text = b""
        while not text.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([read_end], [], [], remaining)[0]:
                raise TimeoutError("Xvfb did not report a display number")
            chunk = os.read(read_end, 64)
            if not chunk:
                raise RuntimeError("Xvfb ended before it was ready")
            text += chunk
        return text.decode().strip()

    def close(self):
        if getattr(self, "process", None) is not None:
            _end_process(self.process)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Image:
    """Pixels as rows of (red, green, blue) byte triples, top row first."""

    def __init__(self, width, height, rows):
        self.width = width
        self.height = height
        self.rows = rows

    def pixel(self, x, y):
        return self.rows[y][x]

    def count(self, predicate, region=None):
        """Pixels in region (x0, y0, x1, y1), the whole image by default, that match."""
        x0, y0, x1, y1 = region or (0, 0, self.width, self.height)
        return sum(1 for y in range(y0, y1) for p in self.rows[y][x0:x1] if predicate(p))


def is_white(pixel):
    return min(pixel) >= WHITE_MIN


def read_xwd(data):
    """Decodes an XWD image of a TrueColor window with 32 bits per pixel, as Xvfb's
    24-bit screens give."""
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks, colour_count = fields[14:17], fields[19]
    if bits_per_pixel != 32:
        raise ValueError("unsupported XWD pixel size %d" % bits_per_pixel)
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    row_format = ("<" if byte_order == 0 else ">") + "%dI" % width
    start = header_size + 12 * colour_count
    rows = []
    for y in range(height):
        values = struct.unpack_from(row_format, data, start + y * bytes_per_line)
        rows.append([tuple((v & m) >> s for m, s in zip(masks, shifts)) for v in values])
    return Image(width, height, rows)


def write_png(image, path):
    """Writes an 8-bit RGB PNG without filtering."""
    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in image.rows)
    header = struct.pack(">IIBBBBB", image.width, image.height, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


class Viewer:
    """bspview started in workdir on a display, its output collected as it arrives."""

    def __init__(self, bspview, workdir, display, extra_env=None, args=()):
        self.display = display
        self.env = dict(os.environ, DISPLAY=display, **(extra_env or {}))
        self.stdout_lines = []
        self.stderr_lines = []
        self.window = None
        self._changed = threading.Condition()
        self.process = subprocess.Popen(
            [bspview, *args], cwd=workdir, env=self.env, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=_die_with_parent)
        self._readers = [self._start_reader(self.process.stdout, self.stdout_lines),
                         self._start_reader(self.process.stderr, self.stderr_lines)]

    def _start_reader(self, stream, lines):
        def read():
            for raw in stream:
                with self._changed:
                    lines.append(raw.decode(errors="replace").rstrip("\n"))
                    self._changed.notify_all()
            with self._changed:
                self._changed.notify_all()
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        return reader

    def wait_for_lines(self, count, timeout=LINE_TIMEOUT_S):
        """Waits until stdout holds count lines; returns them. Fails early if the program ends."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while len(self.stdout_lines) < count:
                remaining = deadline - time.monotonic()
                if remaining <= 0 or (self.process.poll() is not None and
                                      not any(r.is_alive() for r in self._readers)):
                    raise TimeoutError("viewer printed %d of %d lines:\n%s\nstderr:\n%s" % (
                        len(self.stdout_lines), count, "\n".join(self.stdout_lines),
                        "\n".join(self.stderr_lines)))
                self._changed.wait(min(remaining, 0.2))
            return list(self.stdout_lines[:count])

    def _tool(self, *args):
        return subprocess.run(args, env=self.env, check=True, capture_output=True,
                              timeout=TOOL_TIMEOUT_S).stdout

    def find_window(self):
        """The viewer's window id; call once the start-up lines are out."""
        if self.window is None:
            found = subprocess.run(
                ["xdotool", "search", "--sync", "--onlyvisible", "--name",
                 WINDOW_TITLE_PATTERN], env=self.env, capture_output=True,
                timeout=WINDOW_TIMEOUT_S, check=True)
            self.window = found.stdout.split()[0].decode()
        return self.window

    def press(self, *keys, delay_ms=10):
        """Taps the keys in order (xdotool key names such as l, P, Up, Escape)."""
        window = self.find_window()
        self._tool("xdotool", "windowfocus", "--sync", window)
        self._tool("xdotool", "key", "--delay", str(delay_ms), *keys)

    def screenshot(self, settle=FRAME_SETTLE_S):
        """The window's pixels after settle seconds of frames."""
        time.sleep(settle)
        return read_xwd(self._tool("xwd", "-id", self.find_window(), "-silent"))

    def screenshot_until(self, ready, timeout=LINE_TIMEOUT_S):
        """Pictures of the window until ready(image) holds or the timeout passes; returns the
        last. Frames lag behind keys by an unknown time (the first one waits for the GL
        driver to compile its shaders, slowly on a busy machine or under sanitizers), so
        a picture can only be judged once it shows the state awaited."""
        deadline = time.monotonic() + timeout
        image = self.screenshot(POLL_INTERVAL_S)
        while not ready(image) and time.monotonic() < deadline:
            image = self.screenshot(POLL_INTERVAL_S)
        return image

    def wait_exit(self, timeout=EXIT_TIMEOUT_S):
        status = self.process.wait(timeout)
        for reader in self._readers:
            reader.join(timeout)
        return status

    def close(self):
        _end_process(self.process)
        for reader in self._readers:
            reader.join(EXIT_TIMEOUT_S)
        self.process.stdout.close()
        self.process.stderr.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


# Lines printed before the main loop: the key reference and the five counts.
START_LINE_COUNT = 18

# The viewer's sphere moves in steps of 20 units; the keys and their steps as (dx, dz).
SPHERE_START = (0, 25, 0)
SPHERE_STEP = 20
MOVE_KEYS = {"a": (-SPHERE_STEP, 0), "d": (SPHERE_STEP, 0), "s": (0, SPHERE_STEP),
             "w": (0, -SPHERE_STEP)}
# How far beyond the start and the target the walk may stray.
WALK_MARGIN = 400


def step_lattice(low, high):
    """The sphere positions (x, z) the steps can reach, in the box from low to high."""
    def axis(a, b):
        return range(a // SPHERE_STEP * SPHERE_STEP, b + 1, SPHERE_STEP)
    return [(x, z) for x in axis(low[0], high[0]) for z in axis(low[1], high[1])]


def locate_points(bspc, model, points):
    """bspc's leaf index (-1 for none) of each sphere position (x, z), in one run."""
    args = [a for x, z in points for a in ("--locate", "%d,%d,%d" % (x, SPHERE_START[1], z))]
    out = subprocess.run([bspc, model, "--quiet"] + args, check=True, capture_output=True,
                         text=True, timeout=LOCATE_TIMEOUT_S).stdout
    lines = [line for line in out.splitlines() if line.startswith("locate ")]
    if len(lines) != len(points):
        raise RuntimeError("bspc located %d of %d points" % (len(lines), len(points)))
    return [int(line.rsplit(" ", 1)[1]) for line in lines]


def walk_keys(bspc, model, target):
    """Keys that walk the sphere from its start to the open point nearest target (x, z):
    a breadth-first search over the step lattice, with bspc telling which points lie in a
    leaf (the viewer refuses moves to any other)."""
    start = (SPHERE_START[0], SPHERE_START[2])
    low = [min(a, b) - WALK_MARGIN for a, b in zip(start, target)]
    high = [max(a, b) + WALK_MARGIN for a, b in zip(start, target)]
    points = step_lattice(low, high)
    leaves = locate_points(bspc, model, points)
    open_points = {p for p, leaf in zip(points, leaves) if leaf != -1}
    came_from = {start: None}
    frontier = [start]
    for point in frontier:  # grows while it is walked: breadth-first order
        for key, (dx, dz) in MOVE_KEYS.items():
            step = (point[0] + dx, point[1] + dz)
            if step in open_points and step not in came_from:
                came_from[step] = (point, key)
                frontier.append(step)
    goal = min(came_from, key=lambda p: (p[0] - target[0]) ** 2 + (p[1] - target[1]) ** 2)
    keys = []
    while came_from[goal] is not None:
        goal, key = came_from[goal]
        keys.append(key)
    return keys[::-1]


def expand_key(key):
    """'Up*12' stands for twelve presses of Up."""
    name, _, count = key.partition("*")
    return [name] * (int(count) if count else 1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bspview", required=True, help="the viewer program")
    parser.add_argument("--level-dir", required=True, help="directory holding maze-1.ply")
    parser.add_argument("--output", required=True, help="PNG file to write")
    parser.add_argument("--keys", nargs="*", default=[],
                        help="keys to press first (xdotool names: l P Up ...; Up*12 "
                             "presses Up twelve times)")
    parser.add_argument("--walk-to", metavar="X,Z",
                        help="first walk the sphere towards this point (needs --bspc)")
    parser.add_argument("--bspc", help="the command-line compiler, to plan the walk")
    parser.add_argument("--settle", type=float, default=1.0,
                        help="seconds of frames before the picture")
    args = parser.parse_args()
    if args.walk_to and not args.bspc:
        parser.error("--walk-to needs --bspc")
    bspview = os.path.abspath(args.bspview)
    keys = [name for key in args.keys for name in expand_key(key)]
    if args.walk_to:
        target = tuple(int(v) for v in args.walk_to.split(","))
        model = os.path.join(args.level_dir, "maze-1.ply")
        keys = walk_keys(args.bspc, model, target) + keys

    with VirtualDisplay() as display, Viewer(bspview, args.level_dir, display.display) as viewer:
        try:
            viewer.wait_for_lines(START_LINE_COUNT, START_TIMEOUT_S)
            viewer.screenshot_until(lambda image: image.count(is_white) > 0, START_TIMEOUT_S)
            if keys:
                viewer.press(*keys)
            write_png(viewer.screenshot(args.settle), args.output)
        finally:
            print("\n".join(viewer.stdout_lines + viewer.stderr_lines))
        # Escape is the viewer's own way out.
        viewer.press("Escape")
        viewer.wait_exit()
    print("screenshot of the viewer window saved to %s" % args.output)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    main()

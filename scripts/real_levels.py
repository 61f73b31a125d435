#!/usr/bin/env python3
"""Builds a corpus of real arena levels from Debian's openarena-081-maps package.

    scripts/real_levels.py --fetch                 # download once, convert every map
    scripts/real_levels.py --maps aggressor,oa_dm1 # only these maps (package cached)
    scripts/real_levels.py --list                  # the maps in the package
    scripts/real_levels.py --check --maps aggressor  # check the reader, write nothing
    scripts/real_levels.py path/to/some.bsp        # a compiled map file of your own
    scripts/real_levels.py --self-test             # the script's own checks, offline

The package is game data: the compiled maps sit as maps/NAME.bsp inside the zip archive
pak1-maps.pk3. It is downloaded with `apt-get download` only when --fetch is given and it
is not already in the cache directory (--cache, default real-levels/cache); after that
every run reads the cached copy.

Each compiled map is read whole and every offset, length and index in it is checked; a
malformed file stops that map with one line naming the file and the reason, and the other
maps go on (the exit status is then 1). The map's static world (model 0) becomes a
triangle soup: planar faces and triangle meshes as stored, curved patches cut into
biquadratic pieces and tessellated with --patch-steps steps a side, flares dropped,
zero-area triangles dropped. Sky, fog and translucent faces are kept: they still close
the hull. Everything is turned y-up by (x, y, z) -> (x, z, -y), a rotation, so handedness
and plane distances are kept. Each triangle is turned so that its corners run
counter-clockwise seen from the open side (the right-hand normal points into the open
space): the stored order is the other way round, and the side is taken from the face's
normal (planar faces) or from the sum of the corners' vertex normals (patches, meshes,
and planar faces stored with a zero normal).

Written into the output directory (--out, default real-levels/):

  NAME.obj        the level: `v x y z` positions (each written in the shortest decimal
                  that reads back to the identical float32; positions shared by identical
                  coordinates), one group per face (`g world_F` planar, `g detail_patch_F`
                  patch, `g detail_mesh_F` mesh, F the face index in the file) with a
                  `usemtl SHADER` line and its `f a b c` triangles (1-based); then one
                  object per player start: `o start_K`, its own `v` line and `p -1`.
  NAME.map.json   the map's own compiled structure, y-up; layout below.
  corpus.json     the maps of this run (all of them, or --maps, or the files given):
                  file names and counts; the maps that failed and why.

NAME.map.json (one top-level object; floats are float32 values written as in the OBJ):

  name, source, patch_steps, frame
  shaders       [{name, surface_flags, contents}]   indexed by shader number
  planes        [{normal: [x, y, z], dist}]          a point p is in front of a plane
                                                     when dot(normal, p) - dist >= 0
  nodes         [{plane, front, back}]               children as stored: >= 0 a node,
                                                     < 0 the leaf -(child + 1); node 0
                                                     is the root
  leaves        [{cluster, area, min, max}]          cluster -1: solid or outside;
                                                     box y-up (integers)
  clusters      {count, bytes_per_row, visible}      visible[r] is the hex string of
                                                     cluster r's bit row as stored: bit
                                                     c is (byte[c >> 3] >> (c & 7)) & 1,
                                                     set when r can see c; visible is
                                                     null when the map has no visibility
                                                     (count then comes from the leaves)
  starts        [{classname, origin: [x, y, z]}]     entities whose classname begins
                                                     with info_player, in file order
                                                     (start_K in the OBJ is starts[K])
  world_box     {min, max}                           model 0's box
  counts        triangles {world, patch, mesh, total}, faces {planar, patch, mesh,
                flare}, degenerate_dropped, orientation_guessed (triangles that no
                normal could orient; they keep the reversed stored order),
                vertices (distinct positions in the OBJ)

--check reads each map, builds its triangles and, for each, locates a point 2 units in
front of its centre and 2 behind it in the map's own tree, and counts the triangles whose
front is open and back solid (correct), front solid and back open (reversed), both open
and both solid; it also counts the player starts that land in open leaves. Nothing is
written. A large "reversed" count means the facing or the y-up turn is wrong.

--convert-with PROGRAM runs `PROGRAM NAME.obj NAME.ply` in the output directory after
each map is written: the hook for the native-format converter.
"""

import argparse
import decimal
import glob
import json
import math
import os
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
PACKAGE = "openarena-081-maps"
ARCHIVE = "pak1-maps.pk3"
PROGRAM = os.path.basename(__file__)


class MapError(Exception):
    """A malformed compiled map file; the message is the reason, the file is added later."""


# ---------------------------------------------------------------------------------------
# The package: downloaded once into the cache, then read from there.


def cached_archive(cache):
    """The maps archive inside the cache's unpacked package, or None."""
    found = glob.glob(os.path.join(cache, "unpacked", "**", ARCHIVE), recursive=True)
    return found[0] if found else None


def run_quietly(command, cwd):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    return result.returncode, (result.stdout + result.stderr).strip()


def download_package(cache):
    """Leaves the package's .deb in the cache, updating apt's lists only if needed."""
    os.makedirs(cache, exist_ok=True)
    download = ["apt-get", "download", "-o", "DPkg::Lock::Timeout=120", PACKAGE]
    status, output = run_quietly(download, cache)
    if status != 0:
        run_quietly(["apt-get", "update", "-qq"], cache)
        status, output = run_quietly(download, cache)
    if status != 0:
        sys.exit(f"{PROGRAM}: cannot download {PACKAGE}: {output.splitlines()[-1:]}")


def archive_path(cache, fetch):
    """The maps archive, unpacking (and with fetch, downloading) the package when needed."""
    archive = cached_archive(cache)
    if archive:
        return archive
    debs = sorted(glob.glob(os.path.join(cache, f"{PACKAGE}_*.deb")))
    if not debs:
        if not fetch:
            sys.exit(f"{PROGRAM}: {PACKAGE} is not in {cache}; run with --fetch to download it")
        download_package(cache)
        debs = sorted(glob.glob(os.path.join(cache, f"{PACKAGE}_*.deb")))
    unpacked = os.path.join(cache, "unpacked")
    status, output = run_quietly(["dpkg-deb", "-x", debs[-1], unpacked], cache)
    archive = cached_archive(cache)
    if status != 0 or not archive:
        sys.exit(f"{PROGRAM}: {debs[-1]} holds no {ARCHIVE}: {output}")
    return archive


def archive_maps(archive):
    """{map name: member name} of every compiled map in the archive."""
    with zipfile.ZipFile(archive) as pk3:
        members = pk3.namelist()
    return {
        os.path.basename(m)[: -len(".bsp")]: m
        for m in members
        if m.startswith("maps/") and m.endswith(".bsp") and m.count("/") == 1
    }


# ---------------------------------------------------------------------------------------
# The compiled map file: little-endian, a header of 17 (offset, length) lumps.

LUMP_NAMES = (
    "entities", "shaders", "planes", "nodes", "leaves", "leaf faces", "leaf brushes",
    "models", "brushes", "brush sides", "vertices", "mesh indices", "effects", "faces",
    "lightmaps", "light volumes", "visibility",
)
ENTITIES, SHADERS, PLANES, NODES, LEAVES = 0, 1, 2, 3, 4
MODELS, BRUSHES, BRUSH_SIDES, VERTICES, MESH_INDICES, FACES, VISIBILITY = 7, 8, 9, 10, 11, 13, 16

# Record layouts of the lumps that are read.
SHADER = struct.Struct("<64sii")
PLANE = struct.Struct("<4f")
NODE = struct.Struct("<3i3i3i")
LEAF = struct.Struct("<2i3i3i4i")
MODEL = struct.Struct("<6f4i")
BRUSH = struct.Struct("<3i")
BRUSH_SIDE = struct.Struct("<2i")
VERTEX = struct.Struct("<3f2f2f3f4B")
MESH_INDEX = struct.Struct("<i")
FACE = struct.Struct("<12i12f2i")

PLANAR, PATCH, MESH, FLARE = 1, 2, 3, 4

# A shader's contents bit for solid matter: brushes with it are where no player can be.
CONTENTS_SOLID = 1


@dataclass
class Face:
    shader: int
    type: int
    first_vertex: int
    vertex_count: int
    first_index: int
    index_count: int
    normal: tuple
    patch_size: tuple


@dataclass
class CompiledMap:
    entities: list  # of {key: value}
    shaders: list  # of (name, surface flags, contents)
    planes: list  # of (nx, ny, nz, dist), file frame
    nodes: list  # of (plane, front, back)
    leaves: list  # of (cluster, area, mins, maxs), file frame
    world_box: tuple  # (mins, maxs), file frame
    world_faces: range
    solid_brushes: list  # of lists of plane indices: the world's solid brushes
    positions: list  # of (x, y, z), file frame
    normals: list
    mesh_indices: list
    faces: list  # of Face
    cluster_count: int
    bytes_per_row: int
    visibility: bytes  # the rows, or None


def lump_records(data, lumps, lump, record):
    """The lump's records as tuples; its length must be a whole number of records."""
    offset, length = lumps[lump]
    if length % record.size:
        raise MapError(
            f"lump {lump} ({LUMP_NAMES[lump]}) length {length} is not a whole number "
            f"of {record.size}-byte records"
        )
    return list(record.iter_unpack(data[offset : offset + length]))


def read_lumps(data):
    header = struct.Struct("<4si34i")
    if len(data) < header.size:
        raise MapError(f"{len(data)} bytes is shorter than the {header.size}-byte header")
    magic, version, *entries = header.unpack_from(data)
    if magic != b"IBSP" or version != 46:
        raise MapError(f"not a compiled map of version 46 (magic {magic!r}, version {version})")
    lumps = list(zip(entries[0::2], entries[1::2]))
    for lump, (offset, length) in enumerate(lumps):
        if offset < 0 or length < 0 or offset + length > len(data):
            raise MapError(
                f"lump {lump} ({LUMP_NAMES[lump]}) at {offset} of length {length} "
                f"lies outside the {len(data)}-byte file"
            )
    return lumps


def check_finite(values, what):
    for k, value in enumerate(values):
        if not all(math.isfinite(v) for v in value):
            raise MapError(f"{what} {k} is not finite")


def check_index(index, count, what):
    if not 0 <= index < count:
        raise MapError(f"{what} is {index}, outside 0..{count - 1}")


def tokens(text):
    """The entity text's braces and quoted strings, as (is a brace, text) pairs."""
    at = 0
    while True:
        while at < len(text) and (text[at].isspace() or text[at] == "\0"):
            at += 1
        if at == len(text):
            return
        if text[at] in "{}":
            yield True, text[at]
            at += 1
        elif text[at] == '"':
            end = text.find('"', at + 1)
            if end < 0:
                raise MapError("entity text has an unclosed quote")
            yield False, text[at + 1 : end]
            at = end + 1
        else:
            raise MapError(f"entity text has a stray {text[at]!r} at {at}")


def parse_entities(text):
    """The entities as {key: value} dicts, in file order."""
    entities, entity, key = [], None, None
    for brace, token in tokens(text):
        if entity is None:
            if token != "{" or not brace:
                raise MapError("entity text: expected '{'")
            entity = {}
        elif brace and token == "}" and key is None:
            entities.append(entity)
            entity = None
        elif brace:
            raise MapError("entity text: a brace inside an entity or a key without a value")
        elif key is None:
            key = token
        else:
            entity[key], key = token, None
    if entity is not None:
        raise MapError("entity text: unclosed entity")
    return entities


def read_shaders(data, lumps):
    shaders = []
    for name, flags, contents in lump_records(data, lumps, SHADERS, SHADER):
        shaders.append((name.split(b"\0")[0].decode("latin-1"), flags, contents))
    return shaders


def read_tree(data, lumps):
    """Planes, nodes and leaves; every node reached once from the root, no index astray."""
    planes = lump_records(data, lumps, PLANES, PLANE)
    check_finite(planes, "plane")
    nodes = [(r[0], r[1], r[2]) for r in lump_records(data, lumps, NODES, NODE)]
    leaves = [(r[0], r[1], r[2:5], r[5:8]) for r in lump_records(data, lumps, LEAVES, LEAF)]
    if not leaves:
        raise MapError("the map has no leaves")
    seen = [False] * len(nodes)
    pending = [0] if nodes else []
    while pending:
        index = pending.pop()
        if seen[index]:
            raise MapError(f"node {index} is reached twice from the root")
        seen[index] = True
        plane, front, back = nodes[index]
        check_index(plane, len(planes), f"node {index}'s plane")
        for child in (front, back):
            if child >= 0:
                check_index(child, len(nodes), f"node {index}'s child")
                pending.append(child)
            else:
                check_index(-(child + 1), len(leaves), f"node {index}'s leaf")
    return planes, nodes, leaves


def read_solid_brushes(data, lumps, shaders, plane_count):
    """The world model's brushes whose shader is solid, each as its sides' plane indices
    (the sides' planes face out of the brush)."""
    models = lump_records(data, lumps, MODELS, MODEL)
    brushes = lump_records(data, lumps, BRUSHES, BRUSH)
    sides = lump_records(data, lumps, BRUSH_SIDES, BRUSH_SIDE)
    first, count = models[0][8], models[0][9]
    if first < 0 or count < 0 or first + count > len(brushes):
        raise MapError(f"the world's brushes {first}..{first + count - 1} are not all of "
                       f"the {len(brushes)} brushes")
    solid = []
    for k in range(first, first + count):
        first_side, side_count, shader = brushes[k]
        check_index(shader, len(shaders), f"brush {k}'s shader")
        if first_side < 0 or side_count < 0 or first_side + side_count > len(sides):
            raise MapError(f"brush {k}'s sides are not all of the {len(sides)} sides")
        if shaders[shader][2] & CONTENTS_SOLID:
            planes = [sides[s][0] for s in range(first_side, first_side + side_count)]
            for plane in planes:
                check_index(plane, plane_count, f"brush {k}'s plane")
            solid.append(planes)
    return solid


def read_world_model(data, lumps, face_count):
    models = lump_records(data, lumps, MODELS, MODEL)
    if not models:
        raise MapError("the map has no models")
    values = models[0]
    check_finite([values[:6]], "model")
    first, count = values[6], values[7]
    if first < 0 or count < 0 or first + count > face_count:
        raise MapError(f"the world's faces {first}..{first + count - 1} are not all of "
                       f"the {face_count} faces")
    return (values[0:3], values[3:6]), range(first, first + count)


def read_face(k, record, vertex_count, index_count, mesh_indices, shader_count):
    face = Face(
        shader=record[0], type=record[2], first_vertex=record[3], vertex_count=record[4],
        first_index=record[5], index_count=record[6], normal=record[21:24],
        patch_size=record[24:26],
    )
    what = f"face {k}"
    if face.type == FLARE:
        return face
    if face.type not in (PLANAR, PATCH, MESH):
        raise MapError(f"{what} has the unknown type {face.type}")
    check_index(face.shader, shader_count, f"{what}'s shader")
    check_finite([face.normal], f"{what}'s normal")
    if face.first_vertex < 0 or face.vertex_count < 0 \
            or face.first_vertex + face.vertex_count > vertex_count:
        raise MapError(f"{what}'s vertices run outside the {vertex_count} vertices")
    if face.type == PATCH:
        width, height = face.patch_size
        if width < 3 or height < 3 or width % 2 == 0 or height % 2 == 0 \
                or width * height != face.vertex_count:
            raise MapError(f"{what} is a patch of {width} x {height} points "
                           f"with {face.vertex_count} vertices")
        return face
    if face.first_index < 0 or face.index_count < 0 or face.index_count % 3 \
            or face.first_index + face.index_count > index_count:
        raise MapError(f"{what}'s {face.index_count} mesh indices from {face.first_index} "
                       f"are not whole triangles inside the {index_count} indices")
    for i in range(face.first_index, face.first_index + face.index_count):
        check_index(mesh_indices[i], face.vertex_count, f"{what}'s mesh index {i}")
    return face


def read_visibility(data, lumps, leaves):
    """(cluster count, bytes per row, rows or None); cluster numbers must fit the rows."""
    offset, length = lumps[VISIBILITY]
    highest = max(leaf[0] for leaf in leaves)
    if length == 0:
        return highest + 1, 0, None
    if length < 8:
        raise MapError(f"the visibility lump's {length} bytes do not hold its counts")
    count, row = struct.unpack_from("<2i", data, offset)
    if count < 0 or row < 0 or row * 8 < count or 8 + count * row > length:
        raise MapError(f"visibility of {count} clusters of {row} bytes each does not fit "
                       f"its {length} bytes")
    if highest >= count:
        raise MapError(f"a leaf's cluster {highest} is outside the {count} clusters")
    return count, row, data[offset + 8 : offset + 8 + count * row]


def read_map(data):
    """Reads and checks a whole compiled map file; raises MapError on a malformed one."""
    lumps = read_lumps(data)
    offset, length = lumps[ENTITIES]
    entities = parse_entities(data[offset : offset + length].decode("latin-1"))
    shaders = read_shaders(data, lumps)
    planes, nodes, leaves = read_tree(data, lumps)
    vertices = lump_records(data, lumps, VERTICES, VERTEX)
    positions, normals = [v[0:3] for v in vertices], [v[7:10] for v in vertices]
    # Only positions and normals are used; real maps carry NaN lightmap coordinates.
    check_finite(positions, "vertex position")
    check_finite(normals, "vertex normal")
    mesh_indices = [r[0] for r in lump_records(data, lumps, MESH_INDICES, MESH_INDEX)]
    records = lump_records(data, lumps, FACES, FACE)
    world_box, world_faces = read_world_model(data, lumps, len(records))
    faces = [
        read_face(k, r, len(vertices), len(mesh_indices), mesh_indices, len(shaders))
        if k in world_faces else None
        for k, r in enumerate(records)
    ]
    for k, leaf in enumerate(leaves):
        if leaf[0] < -1:
            raise MapError(f"leaf {k}'s cluster is {leaf[0]}")
    cluster_count, row, rows = read_visibility(data, lumps, leaves)
    solid_brushes = read_solid_brushes(data, lumps, shaders, len(planes))
    return CompiledMap(
        entities=entities, shaders=shaders, planes=planes, nodes=nodes, leaves=leaves,
        world_box=world_box, world_faces=world_faces, solid_brushes=solid_brushes,
        positions=positions, normals=normals,
        mesh_indices=mesh_indices, faces=faces, cluster_count=cluster_count,
        bytes_per_row=row, visibility=rows,
    )


# ---------------------------------------------------------------------------------------
# Vectors, the y-up turn, float32 rounding.


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def y_up(p):
    """(x, y, z) -> (x, z, -y); adding +0.0 writes no negative zeros."""
    return (p[0] + 0.0, p[2] + 0.0, 0.0 - p[1])


def box_y_up(mins, maxs):
    """A file-frame box as y-up (min, max): the y-up z range is the negated file y range."""
    return [mins[0], mins[2], 0 - maxs[1]], [maxs[0], maxs[2], 0 - mins[1]]


FLOAT32 = struct.Struct("<f")


def float32(x):
    return FLOAT32.unpack(FLOAT32.pack(x))[0]


_shortest = {}


def format_float(x):
    """The shortest decimal that reads back to the float32 x, in plain notation."""
    text = _shortest.get(x)
    if text is None:
        if x == 0:
            return "0"
        for digits in range(1, 10):
            text = "%.*g" % (digits, x)
            if float32(float(text)) == x:
                break
        # The same digits in plain notation: %g and repr use exponents for some values.
        text = format(decimal.Decimal(text), "f")
        text = text.rstrip("0").rstrip(".") if "." in text else text
        _shortest[x] = text
    return text


# ---------------------------------------------------------------------------------------
# Faces to triangles, y-up, counter-clockwise seen from the open side.


def bezier_weights(t):
    return ((1 - t) * (1 - t), 2 * t * (1 - t), t * t)


def patch_grid(points, width, height, steps):
    """A patch's control grid (row-major, width a row) evaluated at steps a piece a side.

    The grid is cut into 3 x 3 pieces starting every 2 points; neighbouring pieces share
    their edge row or column of control points, so their tessellations meet exactly.
    Returns the evaluated rows, each a list of points (x, y, z)."""
    pieces_across, pieces_down = (width - 1) // 2, (height - 1) // 2
    weights = [bezier_weights(k / steps) for k in range(steps + 1)]
    rows = []
    for v in range(pieces_down * steps + 1):
        piece_v = min(v // steps, pieces_down - 1)
        kv = v - piece_v * steps
        row = []
        for u in range(pieces_across * steps + 1):
            piece_u = min(u // steps, pieces_across - 1)
            ku = u - piece_u * steps
            point = [0.0, 0.0, 0.0]
            for j, wv in enumerate(weights[kv]):
                for i, wu in enumerate(weights[ku]):
                    control = points[(2 * piece_v + j) * width + 2 * piece_u + i]
                    w = wu * wv
                    point[0] += w * control[0]
                    point[1] += w * control[1]
                    point[2] += w * control[2]
            row.append(tuple(point))
        rows.append(row)
    return rows


def grid_triangles(rows):
    """Two triangles a cell of an evaluated grid, as index triples into the flattened grid."""
    width = len(rows[0])
    triangles = []
    for v in range(len(rows) - 1):
        for u in range(width - 1):
            a, b = v * width + u, v * width + u + 1
            c, d = a + width, b + width
            triangles += [(a, b, d), (a, d, c)]
    return triangles


@dataclass
class FaceTriangles:
    """One face's triangles, y-up and oriented, with what was dropped or guessed."""

    triangles: list = field(default_factory=list)  # of (p, q, r), points float32 y-up
    degenerate: int = 0
    guessed: int = 0


def add_oriented(out, p, q, r, hints):
    """Adds (p, q, r) turned so its right-hand normal agrees with the first of the hints
    that is not perpendicular to it (nor zero); drops a triangle of zero area.

    When no hint tells, the reversed stored order is kept: a stored triangle runs
    clockwise seen from its front."""
    normal = cross(sub(q, p), sub(r, p))
    if normal == (0.0, 0.0, 0.0):
        out.degenerate += 1
        return
    side = next((s for s in (dot(normal, hint) for hint in hints) if s != 0), 0)
    if side == 0:
        out.guessed += 1
    out.triangles.append((p, q, r) if side > 0 else (p, r, q))


def normal_sum(normals):
    return y_up([sum(n[axis] for n in normals) for axis in range(3)])


def indexed_triangles(compiled, face):
    """A planar face or mesh's triangles. Planar faces go by the face's normal; some real
    maps store it as zero (models turned into planar faces), and then, as meshes always
    do, by the corners' vertex normals."""
    out = FaceTriangles()
    base = face.first_vertex
    face_normal = [y_up(face.normal)] if face.type == PLANAR else []
    for i in range(face.first_index, face.first_index + face.index_count, 3):
        corners = [base + compiled.mesh_indices[i + k] for k in range(3)]
        p, q, r = (y_up(compiled.positions[c]) for c in corners)
        vertex_normals = normal_sum([compiled.normals[c] for c in corners])
        add_oriented(out, p, q, r, face_normal + [vertex_normals])
    return out


def patch_triangles(compiled, face, steps):
    out = FaceTriangles()
    width, height = face.patch_size
    span = range(face.first_vertex, face.first_vertex + face.vertex_count)
    positions = patch_grid([y_up(compiled.positions[k]) for k in span], width, height, steps)
    normals = patch_grid([y_up(compiled.normals[k]) for k in span], width, height, steps)
    points = [tuple(float32(c) for c in p) for row in positions for p in row]
    hints = [n for row in normals for n in row]
    for a, b, c in grid_triangles(positions):
        hint = [hints[a][axis] + hints[b][axis] + hints[c][axis] for axis in range(3)]
        add_oriented(out, points[a], points[b], points[c], [hint])
    return out


def face_triangles(compiled, face, steps):
    if face.type == PATCH:
        return patch_triangles(compiled, face, steps)
    return indexed_triangles(compiled, face)


# ---------------------------------------------------------------------------------------
# A compiled map as a level.

GROUP_PREFIX = {PLANAR: "world", PATCH: "detail_patch", MESH: "detail_mesh"}
KIND = {PLANAR: "world", PATCH: "patch", MESH: "mesh"}
FACE_KIND = {PLANAR: "planar", PATCH: "patch", MESH: "mesh", FLARE: "flare"}


@dataclass
class Level:
    name: str
    source: str
    compiled: CompiledMap
    groups: list  # of (group name, shader name, triangles)
    starts: list  # of (classname, y-up origin)
    counts: dict


def player_starts(entities):
    starts = []
    for entity in entities:
        classname = entity.get("classname", "")
        if not classname.startswith("info_player"):
            continue
        try:
            origin = [float32(float(c)) for c in entity.get("origin", "").split()]
        except (ValueError, OverflowError):
            origin = []
        if len(origin) != 3 or not all(map(math.isfinite, origin)):
            raise MapError(f"{classname}'s origin {entity.get('origin')!r} is not 3 numbers")
        starts.append((classname, y_up(origin)))
    return starts


def build_level(name, source, compiled, steps):
    groups = []
    counts = {
        "triangles": {"world": 0, "patch": 0, "mesh": 0, "total": 0},
        "faces": {"planar": 0, "patch": 0, "mesh": 0, "flare": 0},
        "degenerate_dropped": 0,
        "orientation_guessed": 0,
    }
    for k in compiled.world_faces:
        face = compiled.faces[k]
        counts["faces"][FACE_KIND[face.type]] += 1
        if face.type == FLARE:
            continue
        made = face_triangles(compiled, face, steps)
        counts["degenerate_dropped"] += made.degenerate
        counts["orientation_guessed"] += made.guessed
        counts["triangles"][KIND[face.type]] += len(made.triangles)
        counts["triangles"]["total"] += len(made.triangles)
        if made.triangles:
            group = f"{GROUP_PREFIX[face.type]}_{k}"
            groups.append((group, compiled.shaders[face.shader][0], made.triangles))
    starts = player_starts(compiled.entities)
    return Level(name, source, compiled, groups, starts, counts)


# ---------------------------------------------------------------------------------------
# Writing: the OBJ, the map's JSON, the corpus index.


def write_obj(level, path, steps):
    """Writes the OBJ; returns the number of distinct positions written."""
    index_of = {}
    vertex_lines, face_lines = [], []
    for group, shader, triangles in level.groups:
        face_lines += [f"g {group}", f"usemtl {shader or 'unnamed'}"]
        corners = []
        for triangle in triangles:
            for p in triangle:
                if p not in index_of:
                    index_of[p] = len(index_of) + 1
                    vertex_lines.append("v " + " ".join(map(format_float, p)))
                corners.append(str(index_of[p]))
            face_lines.append("f " + " ".join(corners))
            corners.clear()
    start_lines = []
    for k, (_, origin) in enumerate(level.starts):
        start_lines += [f"o start_{k}", "v " + " ".join(map(format_float, origin)), "p -1"]
    header = [f"# {level.name}: the static world of {level.source}, y-up, "
              f"patches at {steps} steps a side"]
    with open(path, "w") as out:
        out.write("\n".join(header + vertex_lines + face_lines + start_lines) + "\n")
    return len(index_of)


def json_text(value, indent=""):
    """JSON with floats as in the OBJ; dicts and lists of containers one item a line."""
    inner = indent + "  "
    if isinstance(value, dict):
        items = [f"{inner}{json.dumps(k)}: {json_text(v, inner)}" for k, v in value.items()]
        return "{\n" + ",\n".join(items) + "\n" + indent + "}" if items else "{}"
    if isinstance(value, (list, tuple)):
        if value and isinstance(value[0], (dict, list, tuple, str)):
            items = [inner + json_compact(v) for v in value]
            return "[\n" + ",\n".join(items) + "\n" + indent + "]"
        return json_compact(value)
    return json_compact(value)


def json_compact(value):
    if isinstance(value, float):
        if not math.isfinite(value):
            raise ValueError(f"{value} has no JSON form")
        return format_float(value)
    if isinstance(value, dict):
        items = (f"{json.dumps(k)}: {json_compact(v)}" for k, v in value.items())
        return "{" + ", ".join(items) + "}"
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(json_compact(v) for v in value) + "]"
    return json.dumps(value)


def map_document(level, steps):
    compiled = level.compiled
    rows = compiled.visibility
    row = compiled.bytes_per_row
    box_min, box_max = box_y_up(*compiled.world_box)
    return {
        "name": level.name,
        "source": level.source,
        "patch_steps": steps,
        "frame": "y-up: a file point (x, y, z) is (x, z, -y)",
        "shaders": [
            {"name": n, "surface_flags": f, "contents": c} for n, f, c in compiled.shaders
        ],
        "planes": [{"normal": list(y_up(p[:3])), "dist": p[3]} for p in compiled.planes],
        "nodes": [{"plane": p, "front": f, "back": b} for p, f, b in compiled.nodes],
        "leaves": [
            dict(zip(("cluster", "area", "min", "max"), (c, a, *box_y_up(lo, hi))))
            for c, a, lo, hi in compiled.leaves
        ],
        "clusters": {
            "count": compiled.cluster_count,
            "bytes_per_row": row,
            "visible": None if rows is None else [
                rows[r * row : (r + 1) * row].hex() for r in range(compiled.cluster_count)
            ],
        },
        "solid_brushes": compiled.solid_brushes,
        "starts": [{"classname": c, "origin": list(o)} for c, o in level.starts],
        "world_box": {"min": box_min, "max": box_max},
        "counts": level.counts,
    }


def write_map_json(level, path, steps):
    with open(path, "w") as out:
        out.write(json_text(map_document(level, steps)) + "\n")


def corpus_entry(level):
    compiled = level.compiled
    return {
        "name": level.name,
        "obj": f"{level.name}.obj",
        "map_json": f"{level.name}.map.json",
        "triangles": level.counts["triangles"]["total"],
        "starts": len(level.starts),
        "leaves": len(compiled.leaves),
        "clusters": compiled.cluster_count,
    }


# ---------------------------------------------------------------------------------------
# The reader's check: both sides of every triangle located in the map's own tree.


def locate(planes, nodes, leaves, p):
    """The leaf holding p: the front child where dot(normal, p) - dist >= 0."""
    node = 0
    while node >= 0:
        plane, front, back = nodes[node]
        nx, ny, nz, dist = planes[plane]
        node = front if nx * p[0] + ny * p[1] + nz * p[2] - dist >= 0 else back
    return leaves[-(node + 1)]


def check_level(level, offset=2.0):
    compiled = level.compiled
    planes = [(*y_up(p[:3]), p[3]) for p in compiled.planes]
    nodes, leaves = compiled.nodes, compiled.leaves

    def is_open(p):
        return locate(planes, nodes, leaves, p)[0] >= 0 if nodes else leaves[0][0] >= 0

    tally = {"triangles": 0, "correct": 0, "reversed": 0, "both open": 0, "both solid": 0}
    verdicts = {(True, False): "correct", (False, True): "reversed",
                (True, True): "both open", (False, False): "both solid"}
    for _, _, triangles in level.groups:
        for p, q, r in triangles:
            normal = cross(sub(q, p), sub(r, p))
            scale = offset / math.sqrt(dot(normal, normal))
            centre = [(p[a] + q[a] + r[a]) / 3 for a in range(3)]
            front = [centre[a] + normal[a] * scale for a in range(3)]
            back = [centre[a] - normal[a] * scale for a in range(3)]
            tally["triangles"] += 1
            tally[verdicts[is_open(front), is_open(back)]] += 1
    tally["starts open"] = sum(is_open(origin) for _, origin in level.starts)
    tally["starts"] = len(level.starts)
    return tally


def print_check_table(rows):
    columns = ["triangles", "correct", "reversed", "both open", "both solid"]
    width = max([len("map")] + [len(name) for name, _ in rows])
    print(f"{'map':<{width}} " + " ".join(f"{c:>10}" for c in columns) + "     starts open")
    for name, tally in rows:
        cells = " ".join(f"{tally[c]:>10,}" for c in columns)
        print(f"{name:<{width}} {cells} {tally['starts open']:>8} / {tally['starts']}")


# ---------------------------------------------------------------------------------------
# The self-test: a small hand-made map, then the same map broken in several ways.


def sample_map_bytes():
    """A closed 64-unit cube room (file frame, z up) with one 3 x 3 patch bump on the
    floor. The tree cuts at the six walls; the room is cluster 0, which sees itself."""
    planes = [(-1, 0, 0, -64), (1, 0, 0, 0), (0, -1, 0, -64), (0, 1, 0, 0),
              (0, 0, -1, -64), (0, 0, 1, 0)]
    # Node k cuts at plane k: its front holds the room side, its back a solid leaf.
    nodes = [(k, k + 1 if k < 5 else -1, -(k + 3)) for k in range(6)]
    leaves = [(0, 0, 0, 0, 0, 64, 64, 64, 0, 0, 0, 0)] + [(-1, -1) + (0,) * 10] * 7
    vertices, indices, faces = [], [], []
    corners = [(x, y, z) for z in (0, 64) for y in (0, 64) for x in (0, 64)]
    walls = [((0, 4, 6, 2), (1, 0, 0)), ((1, 3, 7, 5), (-1, 0, 0)),
             ((0, 1, 5, 4), (0, 1, 0)), ((2, 6, 7, 3), (0, -1, 0)),
             ((0, 2, 3, 1), (0, 0, 1)), ((4, 5, 7, 6), (0, 0, -1))]
    for ring, normal in walls:
        first = len(vertices)
        vertices += [corners[k] + (0, 0, 0, 0) + normal + (255,) * 4 for k in ring]
        faces.append((0, -1, PLANAR, first, 4, len(indices), 6) + (0,) * 5 + (0.0,) * 9
                     + normal + (0, 0))
        indices += [0, 2, 1, 0, 3, 2]  # clockwise seen from the room, as stored
    first = len(vertices)
    for y in (16, 32, 48):
        for x in (16, 32, 48):
            z = 8 if (x, y) == (32, 32) else 0
            vertices.append((x, y, z) + (0,) * 4 + (0, 0, 1) + (255,) * 4)
    faces.append((0, -1, PATCH, first, 9, 0, 0) + (0,) * 5 + (0.0,) * 12 + (3, 3))
    faces.append((0, -1, FLARE, 0, 0, 0, 0) + (0,) * 5 + (0.0,) * 12 + (0, 0))
    entities = (b'{ "classname" "worldspawn" "message" "" }\n'
                b'{ "classname" "info_player_deathmatch" "origin" "32 16 24" }\n\0')
    lumps = [b""] * len(LUMP_NAMES)
    lumps[ENTITIES] = entities
    lumps[SHADERS] = SHADER.pack(b"textures/test/wall", 0, 1)
    lumps[PLANES] = b"".join(PLANE.pack(*p) for p in planes)
    lumps[NODES] = b"".join(NODE.pack(p, f, b, 0, 0, 0, 64, 64, 64) for p, f, b in nodes)
    lumps[LEAVES] = b"".join(LEAF.pack(*leaf) for leaf in leaves)
    lumps[MODELS] = MODEL.pack(0, 0, 0, 64, 64, 64, 0, len(faces), 0, 0)
    lumps[VERTICES] = b"".join(VERTEX.pack(*v) for v in vertices)
    lumps[MESH_INDICES] = b"".join(MESH_INDEX.pack(i) for i in indices)
    lumps[FACES] = b"".join(FACE.pack(*f) for f in faces)
    lumps[VISIBILITY] = struct.pack("<2i", 1, 1) + b"\x01"
    return assemble(lumps)


def assemble(lumps):
    header_size = 8 + 8 * len(lumps)
    offsets, at = [], header_size
    for lump in lumps:
        offsets += [at, len(lump)]
        at += len(lump)
    return struct.pack(f"<4si{len(offsets)}i", b"IBSP", 46, *offsets) + b"".join(lumps)


def expect_error(data, words, failures):
    try:
        read_map(data)
        failures.append(f"no error for a map that should fail with {words!r}")
    except MapError as error:
        if words not in str(error):
            failures.append(f"error {str(error)!r} does not mention {words!r}")


def patched(data, offset, fmt, *values):
    out = bytearray(data)
    struct.pack_into(fmt, out, offset, *values)
    return bytes(out)


def self_test():
    failures = []
    data = sample_map_bytes()
    level = build_level("sample", "sample.bsp", read_map(data), 2)
    tally = check_level(level)
    # 6 walls of 2 triangles; the 3 x 3 patch at 2 steps is a 2 x 2 grid of cells.
    if (tally["triangles"], tally["correct"], tally["starts open"]) != (20, 20, 1):
        failures.append(f"the sample room checks as {tally}")
    if level.counts["faces"] != {"planar": 6, "patch": 1, "mesh": 0, "flare": 1}:
        failures.append(f"face counts {level.counts['faces']}")
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "sample.obj")
        write_obj(level, path, 2)
        with open(path) as obj:
            written = [tuple(map(float, l.split()[1:])) for l in obj if l.startswith("v ")]
    wanted = {p for _, _, ts in level.groups for t in ts for p in t} | {level.starts[0][1]}
    if {tuple(float32(c) for c in p) for p in written} != wanted:
        failures.append("the OBJ's positions do not read back to the level's float32 points")
    awkward = [float32(x) for x in (1 / 3, -4096.0001, 16777215.0, 1e-5, 0.1, 64000.0)]
    if any(float32(float(format_float(x))) != x for x in awkward):
        failures.append("a float does not read back to the same float32")
    if [format_float(x) for x in awkward[3:]] != ["0.00001", "0.1", "64000"]:
        failures.append("floats are not written in their shortest plain form")
    # The file's (32, 16, 24) turned y-up: x stays, up is the file's z, z is minus its y.
    if level.starts[0][1] != (32, 24, -16):
        failures.append(f"the start is at {level.starts[0][1]}, not at (32, 24, -16)")
    nodes_at = struct.unpack_from("<i", data, 8 + 8 * NODES)[0]
    faces_at = struct.unpack_from("<i", data, 8 + 8 * FACES)[0]
    indices_at = struct.unpack_from("<i", data, 8 + 8 * MESH_INDICES)[0]
    visibility_at = struct.unpack_from("<i", data, 8 + 8 * VISIBILITY)[0]
    expect_error(data[:-1], "outside", failures)
    expect_error(patched(data, 4, "<i", 47), "version 47", failures)
    expect_error(patched(data, nodes_at + 4, "<i", 0), "reached twice", failures)
    expect_error(patched(data, nodes_at + 8, "<i", -100), "leaf", failures)
    expect_error(patched(data, indices_at, "<i", 9), "mesh index", failures)
    patch_width_at = faces_at + 6 * FACE.size + 96
    expect_error(patched(data, patch_width_at, "<i", 4), "patch of 4 x 3", failures)
    expect_error(patched(data, visibility_at, "<i", 2), "visibility of 2 clusters", failures)
    expect_error(patched(data, 8 + 8 * ENTITIES + 4, "<i", 10), "unclosed", failures)
    for failure in failures:
        print(f"self-test: {failure}")
    print(f"self-test: {'failed' if failures else 'passed'}")
    return 1 if failures else 0


# ---------------------------------------------------------------------------------------
# The command line.


def parse_arguments():
    parser = argparse.ArgumentParser(
        description="Builds real arena levels (OBJ and JSON) from Debian's " + PACKAGE + ".",
        epilog="The top of this script describes the files it writes.",
    )
    parser.add_argument("files", nargs="*", metavar="FILE.bsp",
                        help="compiled map files to read instead of the package's maps")
    parser.add_argument("--fetch", action="store_true",
                        help=f"download {PACKAGE} with apt-get if it is not cached")
    parser.add_argument("--cache", default=str(REPO / "real-levels" / "cache"),
                        help="where the package is kept (default real-levels/cache)")
    parser.add_argument("--out", default=str(REPO / "real-levels"),
                        help="output directory (default real-levels/)")
    parser.add_argument("--maps", help="comma-separated map names (default: all)")
    parser.add_argument("--list", action="store_true", help="list the package's maps and stop")
    parser.add_argument("--patch-steps", type=int, default=4, metavar="N",
                        help="tessellation steps a side of each patch piece (default 4)")
    parser.add_argument("--check", action="store_true",
                        help="locate both sides of every triangle in the map's tree; "
                        "write nothing")
    parser.add_argument("--convert-with", metavar="PROGRAM",
                        help="run PROGRAM NAME.obj NAME.ply for each map written")
    parser.add_argument("--self-test", action="store_true",
                        help="check the reader on a hand-made map, offline, and stop")
    arguments = parser.parse_args()
    if arguments.patch_steps < 1:
        parser.error("--patch-steps must be at least 1")
    return arguments


def sources(arguments):
    """(name, label, function returning the file's bytes) of each map to convert."""
    if arguments.files:
        return [
            (Path(f).stem, f, lambda f=f: Path(f).read_bytes()) for f in arguments.files
        ]
    archive = archive_path(arguments.cache, arguments.fetch)
    members = archive_maps(archive)
    if arguments.list:
        print("\n".join(sorted(members)))
        sys.exit(0)
    names = sorted(members)
    if arguments.maps:
        names = [n.strip() for n in arguments.maps.split(",") if n.strip()]
        unknown = [n for n in names if n not in members]
        if unknown:
            sys.exit(f"{PROGRAM}: no map {', '.join(unknown)} in {ARCHIVE} (see --list)")

    def reader(member):
        with zipfile.ZipFile(archive) as pk3:
            return pk3.read(member)

    return [(n, members[n], lambda m=members[n]: reader(m)) for n in names]


# The hook for the native-format step: a C++ converter from OBJ to the project's model
# file, run on each map as it is written. The format is deliberately not written here.
def convert(program, out, name):
    program = os.path.abspath(program) if os.sep in program else program
    status, output = run_quietly([program, f"{name}.obj", f"{name}.ply"], out)
    if status != 0:
        raise MapError(f"{program} {name}.obj {name}.ply failed ({status}): {output}")


def main():
    arguments = parse_arguments()
    if arguments.self_test:
        return self_test()
    steps = arguments.patch_steps
    started = time.monotonic()
    entries, failures, checks = [], [], []
    if not arguments.check:
        os.makedirs(arguments.out, exist_ok=True)
    for name, label, read in sources(arguments):
        try:
            level = build_level(name, label, read_map(read()), steps)
            if arguments.check:
                checks.append((name, check_level(level)))
                continue
            obj = os.path.join(arguments.out, f"{name}.obj")
            level.counts["vertices"] = write_obj(level, obj, steps)
            write_map_json(level, os.path.join(arguments.out, f"{name}.map.json"), steps)
            if arguments.convert_with:
                convert(arguments.convert_with, arguments.out, name)
            entries.append(corpus_entry(level))
            print(f"{name:<20} {level.counts['triangles']['total']:>9,} triangles "
                  f"{len(level.starts):>4} starts", flush=True)
        except (MapError, OSError) as error:
            failures.append({"name": name, "error": f"{label}: {error}"})
            print(f"{PROGRAM}: {label}: {error}", file=sys.stderr, flush=True)
    if arguments.check:
        print_check_table(checks)
    else:
        corpus = {"patch_steps": steps, "maps": entries, "failed": failures}
        with open(os.path.join(arguments.out, "corpus.json"), "w") as out:
            out.write(json_text(corpus) + "\n")
    seconds = time.monotonic() - started
    done = len(checks) if arguments.check else len(entries)
    print(f"{done} maps {'checked' if arguments.check else 'written'}, "
          f"{len(failures)} failed, {seconds:.1f} s")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

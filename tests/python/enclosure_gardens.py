"""Gardens where obstacles enclose lawn or meet the lawn's edge and one
another at points, and an independent judge of their routes (shapely).

Used by test_enclosure.py; `python tests/python/enclosure_gardens.py N`
prints, for N gardens, which fail the judge (to compare two builds).
"""
import math
import random

import shapely.geometry as sg
from shapely.ops import unary_union

import swathwise as sw

BAND = 1.5e-3  # metres: a route point this near a part of the free lawn is in it
SLIVER = 2e-3  # metres: obstacles nearer than this close the gap between them


def box(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def circle(cx, cy, r, n=32):
    return [(cx + r * math.cos(2 * math.pi * k / n), cy + r * math.sin(2 * math.pi * k / n))
            for k in range(n)]


def garden(kind, rng):
    """A garden of the given kind: lawn, obstacles, start."""
    w, h = rng.uniform(12, 24), rng.uniform(8, 16)
    lawn = box(0, 0, w, h)
    obstacles = []
    start = (rng.uniform(0.5, 2), rng.uniform(0.5, 2))
    if kind == "outside":  # neighbours round the lawn, just outside or overlapping it
        d = rng.choice([0.01, 0.0, -0.05])
        obstacles += [box(-5, -5, w + 5, -d), box(-5, h + d, w + 5, h + 5),
                      box(-5, -5, -d, h + 5), box(w + d, -5, w + 5, h + 5)]
    elif kind == "pointy":  # beds touching the lawn's edge and one another at points
        x = rng.uniform(3, w - 3)
        half = 0.07 * h  # tips of 15 degrees and more, see below
        obstacles.append([(x, 0), (x + rng.uniform(1, 2) * half, h / 2), (x, h),
                          (x - rng.uniform(1, 2) * half, h / 2)])
        x2 = rng.uniform(1, w - 1)
        tip = rng.uniform(2, h - 2)
        # Tips of 15 degrees and more: a sharper wedge is, next to its tip,
        # a fence thinner than the sight test's end shrink judges.
        up, down = 0.14 * (h - tip), 0.14 * tip
        obstacles.append([(x2, tip), (x2 + up, h), (x2 - up, h)])
        obstacles.append([(x2, tip), (x2 - down, 0), (x2 + down, 0)])
    elif kind == "courtyard":  # buildings round a courtyard, with or without a gap
        cx0, cy0 = rng.uniform(2, 4), rng.uniform(2, 3)
        cx1, cy1 = w - rng.uniform(2, 4), h - rng.uniform(2, 3)
        t = rng.uniform(0.2, 0.6)
        gap = rng.choice([0.0, 0.0, 0.01, 0.3, 1.0])
        obstacles += [box(cx0, cy0, cx1, cy0 + t), box(cx0, cy1 - t, cx1, cy1),
                      box(cx0, cy0, cx0 + t, cy1), box(cx1 - t, cy0 + t + gap, cx1, cy1)]
        if rng.random() < 0.5:
            start = ((cx0 + cx1) / 2, (cy0 + cy1) / 2)
    elif kind == "pen":  # a dock inside a closed pen of hedges overlapping at the corners
        px0, py0 = rng.uniform(1, 3), rng.uniform(1, 3)
        px1, py1 = px0 + rng.uniform(4, 8), py0 + rng.uniform(3, 5)
        t = 0.3
        obstacles += [box(px0, py0, px1, py0 + t), box(px0, py1 - t, px1, py1),
                      box(px0, py0, px0 + t, py1), box(px1 - t, py0, px1, py1)]
        start = ((px0 + px1) / 2, (py0 + py1) / 2)
    elif kind == "paths":  # thin path strips from edge to edge, trees over the edge
        for _ in range(rng.randint(1, 2)):
            x = rng.uniform(2, w - 2)
            obstacles.append(box(x, 0, x + rng.uniform(0.05, 0.5), h))
        for _ in range(rng.randint(1, 3)):
            obstacles.append(circle(rng.uniform(0, w), rng.choice([0, h]), rng.uniform(0.5, 1.5)))
    elif kind == "slivers":  # a wall across the lawn in two parts a sliver apart, or two tips
        x, y, gap = rng.uniform(4, w - 4), rng.uniform(2, h - 2), rng.uniform(0.0002, 0.0019)
        turn = rng.uniform(-0.4, 0.4)

        def turned(points):
            c, s = math.cos(turn), math.sin(turn)
            return [(x + (px - x) * c - (py - y) * s, y + (px - x) * s + (py - y) * c) for px, py in points]
        if rng.random() < 0.5:
            t = rng.uniform(0.1, 0.5)
            obstacles += [turned(box(x, -3, x + t, y)), turned(box(x, y + gap, x + t, h + 3))]
        else:
            obstacles += [turned([(x - 1, -3), (x + 1, -3), (x, y)]),
                          turned([(x, y + gap), (x + 1, h + 3), (x - 1, h + 3)])]
    settings = dict(offset=rng.choice([0.3, 0.5]), angle=rng.uniform(0, math.pi),
                    distanceToBorder=rng.choice([0.0, 0.2, 0.5]))
    return dict(lawn=lawn, obstacles=obstacles, start=start, settings=settings)


KINDS = ["outside", "pointy", "courtyard", "pen", "paths", "slivers"]


def plan(g):
    def polygon(points):
        return sw.Polygon([sw.Point(x, y) for x, y in points])
    env = sw.Environment(polygon(g["lawn"]))
    for o in g["obstacles"]:
        env.addObstacle(polygon(o))
    s = sw.PathSettings()
    for k, v in g["settings"].items():
        setattr(s, k, v)
    r = sw.PathService().computeFullTask(env, s, sw.Point(*g["start"]))
    path = [(p.x, p.y) for p in r.path.getPoints()]
    slices = [[(p.x, p.y) for p in x.getPoints()] for x in r.slices]
    return path, slices


def free_parts(g):
    """The parts of the free lawn, slivers thinner than SLIVER between
    obstacles counted as closed."""
    lawn = sg.Polygon(g["lawn"])
    blocked = unary_union([sg.Polygon(o).buffer(0) for o in g["obstacles"]])
    blocked = blocked.buffer(SLIVER / 2, join_style="mitre").buffer(-SLIVER / 2, join_style="mitre").union(blocked)
    free = lawn.difference(blocked)
    return [p for p in getattr(free, "geoms", [free]) if p.area > 1e-6]


def judge(g, path, slices):
    """The faults of a route: moves between parts of the free lawn, and parts
    of the free lawn (wide enough for a lap) that got no piece."""
    parts = free_parts(g)
    near = [p.buffer(BAND) for p in parts]
    faults = []

    def part_of(q):
        hits = [k for k, p in enumerate(near) if p.covers(sg.Point(q))]
        return hits[0] if len(hits) == 1 else None

    last = None
    for q in path:
        k = part_of(q)
        if k is None:
            continue
        if last is not None and k != last:
            faults.append(f"move from part {last} to part {k} at {q}")
        last = k
    for k, p in enumerate(parts):
        if p.buffer(-0.05).is_empty or p.area < 0.5:
            continue
        inside = p.buffer(BAND)
        if not any(all(inside.covers(sg.Point(q)) for q in s) for s in slices):
            faults.append(f"part {k} of {p.area:.2f} m2 got no piece")
    return faults


if __name__ == "__main__":
    import sys
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    for i in range(count):
        rng = random.Random(i)
        kind = KINDS[i % len(KINDS)]
        g = garden(kind, rng)
        path, slices = plan(g)
        faults = judge(g, path, slices)
        digest = hash((tuple(path), tuple(tuple(s) for s in slices)))
        print(i, kind, digest, len(faults), faults[:1])

"""Gardens as real maps draw them, drawn from a seed: 32-gon trees over each
other and the lawn's edge, beds touching the lawn at a vertex and reaching
beyond it, walls across the lawn with a mow area poking out of one by
millimetres, virtual-wire points inside beds, map coordinates far from the
origin, and distances to the border wider than narrow lawns allow."""
import math
import random


def ngon(cx, cy, r, n, phase=0.0):
    return [(cx + r * math.cos(phase + 2 * math.pi * k / n),
             cy + r * math.sin(phase + 2 * math.pi * k / n)) for k in range(n)]


def _lawn(rnd, radius):
    kind = rnd.randrange(4)
    if kind == 0:
        return [(-radius, -0.6 * radius), (radius, -0.6 * radius),
                (radius, 0.6 * radius), (-radius, 0.6 * radius)]
    n = rnd.randint(3, 12)
    phase = rnd.uniform(0, 6.3)
    low = 0.5 if kind == 3 else 0.85
    pts = []
    for k in range(n):
        a = phase + 2 * math.pi * (k + rnd.uniform(-0.3, 0.3)) / n
        pts.append((radius * rnd.uniform(low, 1) * math.cos(a), radius * rnd.uniform(low, 1) * math.sin(a)))
    return pts


def _obstacles(rnd, lawn, radius):
    obstacles = []
    for _ in range(rnd.randint(0, 8)):
        t = rnd.random()
        if t < 0.35:  # a tree, often over the edge, sometimes over another
            if rnd.random() < 0.5:
                i = rnd.randrange(len(lawn))
                (x0, y0), (x1, y1) = lawn[i], lawn[(i + 1) % len(lawn)]
                f = rnd.random()
                c = (x0 + f * (x1 - x0), y0 + f * (y1 - y0))
            else:
                c = (rnd.uniform(-radius, radius) * 0.7, rnd.uniform(-radius, radius) * 0.7)
            obstacles.append(ngon(c[0], c[1], rnd.uniform(0.3, 2.0), 32, rnd.uniform(0, 1)))
            if rnd.random() < 0.4:
                obstacles.append(ngon(c[0] + rnd.uniform(-1, 1), c[1] + rnd.uniform(-1, 1),
                                      rnd.uniform(0.3, 1.5), 32))
        elif t < 0.55:  # a bed touching the lawn at a vertex
            v = lawn[rnd.randrange(len(lawn))]
            a, s = rnd.uniform(0, 6.3), rnd.uniform(1, 8)
            obstacles.append([v, (v[0] + s * math.cos(a), v[1] + s * math.sin(a)),
                              (v[0] + s * math.cos(a + 0.5), v[1] + s * math.sin(a + 0.5))])
        elif t < 0.7:  # a wall across the lawn
            y, w = rnd.uniform(-0.5, 0.5) * radius, rnd.uniform(0.1, 0.6)
            obstacles.append([(-1.5 * radius, y), (1.5 * radius, y), (1.5 * radius, y + w), (-1.5 * radius, y + w)])
        else:
            c = (rnd.uniform(-radius, radius), rnd.uniform(-radius, radius))
            obstacles.append(ngon(c[0], c[1], rnd.uniform(0.4, 3), rnd.randint(3, 7), rnd.uniform(0, 6)))
    return obstacles


def garden(seed):
    """Lawn, obstacles, mow areas, wire (metres), settings and start of one garden."""
    rnd = random.Random(seed)
    radius = rnd.uniform(4, 25)
    lawn = _lawn(rnd, radius)
    far = rnd.random() < 0.3
    ox, oy = (rnd.uniform(-2500, 2500), rnd.uniform(-2500, 2500)) if far else (0.0, 0.0)
    obstacles = _obstacles(rnd, lawn, radius)
    mow = []
    if rnd.random() < 0.2:
        c = (rnd.uniform(-0.4, 0.4) * radius, rnd.uniform(-0.4, 0.4) * radius)
        mow.append(ngon(c[0], c[1], rnd.uniform(0.3, 0.7) * radius, rnd.randint(3, 8), rnd.uniform(0, 6)))
        if obstacles and rnd.random() < 0.5:  # poking out of an obstacle by millimetres
            xs = [p[0] for p in obstacles[-1]]
            ys = [p[1] for p in obstacles[-1]]
            e = rnd.choice([0.0005, 0.002, 0.005])
            mx = (min(xs) + max(xs)) / 2
            mow.append([(mx - 1, min(ys) + 0.05), (mx + 1, min(ys) + 0.05),
                        (mx + 1, max(ys) + e), (mx - 1, max(ys) + e)])
    wire = []
    if rnd.random() < 0.3:
        wire = [(rnd.uniform(-radius, radius) * 0.8, rnd.uniform(-radius, radius) * 0.8)
                for _ in range(rnd.randint(2, 5))]
        if obstacles and rnd.random() < 0.5:  # a wire point inside a bed
            o = obstacles[rnd.randrange(len(obstacles))]
            wire.append((sum(p[0] for p in o) / len(o), sum(p[1] for p in o) / len(o)))
    values = dict(pattern=rnd.choice(["lines", "lines", "squares", "rings"]),
                  offset=rnd.choice([0.5, rnd.uniform(0.2, 1.5)]),
                  angle=rnd.choice([0.0, rnd.uniform(-3.2, 3.2)]),
                  distanceToBorder=rnd.choice([0.0, rnd.uniform(0.1, 1.5), rnd.uniform(1, 4)]),
                  mowBorder=rnd.random() < 0.7, borderLaps=rnd.randint(0, 3),
                  mowBorderCcw=rnd.random() < 0.5, mowExclusionsBoder=rnd.random() < 0.7,
                  exclusionsBorderLaps=rnd.randint(0, 2), mowExclusionsBorderCcw=rnd.random() < 0.5)
    start = (rnd.uniform(-0.5, 0.5) * radius + ox, rnd.uniform(-0.5, 0.5) * radius + oy)

    def shift(ring):
        return [(x + ox, y + oy) for x, y in ring]
    return dict(lawn=shift(lawn), obstacles=[shift(o) for o in obstacles],
                mow_areas=[shift(m) for m in mow], wire=shift(wire), values=values, start=start)

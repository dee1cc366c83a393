"""A park-like garden for the tools' figures (fixed seed).

About 1.7 ha: a lawn with a bay cut into one side, about 100 trees as
32-gons of 1-3 m radius (some over each other, some over the edge), 40
beds of 10-80 corners (some touching the edge), 20 path strips 2 m wide
reaching the edge; about 4,500 outline vertices in all.  Local metres.
"""

from __future__ import annotations

import math
import random
from typing import Any

from shapely.geometry import LineString, Polygon

from swathwise_tools.garden import Garden, make_garden

XY = tuple[float, float]


def _round(cx: float, cy: float, r: float, corners: int, rng: random.Random | None = None) -> list[XY]:
    ring = []
    for k in range(corners):
        t = 2 * math.pi * k / corners
        rk = r * (1 + (rng.uniform(-0.25, 0.25) if rng else 0.0))
        ring.append((cx + rk * math.cos(t), cy + rk * math.sin(t)))
    return ring


def park_outlines(scale: float = 1.0, seed: int = 7) -> tuple[list[XY], list[list[XY]]]:
    """The park's lawn and obstacle rings, its sides ``scale`` times as long."""
    rng = random.Random(seed)
    w, h = 150.0 * scale, 115.0 * scale
    lawn = [(0.0, 0.0), (w, 0.0), (w, h), (0.62 * w, h), (0.55 * w, 0.8 * h), (0.45 * w, 0.8 * h),
            (0.38 * w, h), (0.0, h)]
    lawn_shape = Polygon(lawn)
    obstacles: list[list[XY]] = []
    n = round(scale * scale)
    for _ in range(100 * n):
        if rng.random() < 0.1:  # over the edge
            x, y = rng.choice([(rng.uniform(0, w), 0.0), (0.0, rng.uniform(0, h)), (w, rng.uniform(0, h))])
        elif obstacles and rng.random() < 0.15:  # over another tree
            px, py = obstacles[-1][0]
            x, y = px - rng.uniform(0.5, 2.0), py + rng.uniform(-1.0, 1.0)
        else:
            x, y = rng.uniform(3, w - 3), rng.uniform(3, h - 3)
        obstacles.append(_round(x, y, rng.uniform(1.0, 3.0), 32))
    for _ in range(40 * n):
        corners = rng.randint(10, 80)
        r = rng.uniform(1.5, 5.0)
        if rng.random() < 0.2:  # touching the edge from inside
            x, y = rng.uniform(10, w - 10), r * 1.25
        else:
            x, y = rng.uniform(8, w - 8), rng.uniform(8, h - 8)
        bed = Polygon(_round(x, y, r, corners, rng))
        if bed.is_valid and lawn_shape.contains(bed.centroid):
            obstacles.append([(float(a), float(b)) for a, b in bed.exterior.coords[:-1]])
    for _ in range(20 * n):
        x0, y0 = rng.uniform(0.1 * w, 0.9 * w), rng.uniform(0.1 * h, 0.7 * h)
        side = rng.choice([(x0, -2.0), (-2.0, y0), (w + 2.0, y0)])
        strip = LineString([(x0, y0), side]).buffer(1.0, cap_style="flat")
        obstacles.append([(float(a), float(b)) for a, b in strip.exterior.coords[:-1]])
    return lawn, obstacles


def park_garden(scale: float = 1.0, seed: int = 7) -> Garden:
    """The park, its sides ``scale`` times as long (the area ``scale²`` times)."""
    lawn, obstacles = park_outlines(scale, seed)
    return make_garden(lawn, obstacles=obstacles, crs="local-metres",
                       name=f"park x{scale:g}")


def park_geojson(scale: float = 1.0, seed: int = 7) -> dict[str, Any]:
    """The park as a garden file (GeoJSON, local metres), as the command reads it."""
    lawn, obstacles = park_outlines(scale, seed)

    def feature(role: str, ring: list[XY]) -> dict[str, Any]:
        coordinates = [[list(p) for p in ring + ring[:1]]]
        return {"type": "Feature", "properties": {"role": role},
                "geometry": {"type": "Polygon", "coordinates": coordinates}}

    return {"type": "FeatureCollection", "properties": {"crs": "local-metres"},
            "features": [feature("lawn", lawn)] + [feature("obstacle", o) for o in obstacles]}

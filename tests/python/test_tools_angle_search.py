"""The ranked lane angle search against the exhaustive one: rectangles, L
shapes, small parks (32-gon trees over the edge and over each other, beds, a
path strip reaching the edge) and real-style gardens of every pattern.

The candidates here are every 3 degrees and quarter degree (the command's
are every degree and tenth), and the plan budget shrinks with them, so that
the larger parks take the ranked way as large gardens do with the command's
candidates."""

import io
import math
import random
import sys
from pathlib import Path

import pytest

from swathwise_tools import angle
from swathwise_tools.angle import Scene, search_angle, search_angle_exhaustive

sys.path.insert(0, str(Path(__file__).resolve().parent))
import real_style_gardens  # noqa: E402

VALUES = dict(pattern="lines", offset=0.5, distanceToBorder=0.75, mowBorder=True, borderLaps=2,
              mowExclusionsBoder=True, exclusionsBorderLaps=1)


def ngon(cx, cy, r, n=32):
    return tuple((cx + r * math.cos(2 * math.pi * k / n), cy + r * math.sin(2 * math.pi * k / n))
                 for k in range(n))


def turned(points, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return tuple((x * c - y * s, x * s + y * c) for x, y in points)


def trees(rng, count, x0, y0, x1, y1):
    return [ngon(rng.uniform(x0, x1), rng.uniform(y0, y1), rng.uniform(0.8, 2.0)) for _ in range(count)]


def rectangle(length, width, degrees, count=0):
    """A rectangle turned by `degrees`, with `count` trees (some over the edge)."""
    rng = random.Random(count)
    lawn = turned([(-length / 2, -width / 2), (length / 2, -width / 2), (length / 2, width / 2),
                   (-length / 2, width / 2)], degrees)
    obstacles = trees(rng, count, -length / 2, -width / 2, length / 2, width / 2)
    return Scene(lawn, tuple(turned(o, degrees) for o in obstacles)), VALUES, (0.0, 0.0)


def l_shape(a, b, t, degrees, count=0):
    """An L of arms `a` and `b` long and `t` wide, turned by `degrees`, with `count` trees."""
    rng = random.Random(count)
    lawn = turned([(0, 0), (a, 0), (a, t), (t, t), (t, b), (0, b)], degrees)
    obstacles = trees(rng, count // 2, t, 0, a, t) + trees(rng, count - count // 2, 0, t, t, b)
    return Scene(lawn, tuple(turned(o, degrees) for o in obstacles)), VALUES, turned([(0.3 * t, 0.6 * t)], degrees)[0]


def small_park(seed, size=1.0):
    """A bay in one side, trees over the edge and over each other, beds, a path to the edge."""
    rng = random.Random(seed)
    w, h = size * rng.uniform(30, 50), size * rng.uniform(20, 35)
    lawn = ((0, 0), (w, 0), (w, h), (0.6 * w, h), (0.5 * w, 0.8 * h), (0.4 * w, h), (0, h))
    obstacles = []
    for _ in range(round(size * size * rng.randint(6, 14))):
        if rng.random() < 0.2:
            x, y = rng.choice([(rng.uniform(0, w), 0.0), (0.0, rng.uniform(0, h))])
        elif obstacles and rng.random() < 0.2:
            x, y = obstacles[-1][0][0] - 1.0, obstacles[-1][0][1]
        else:
            x, y = rng.uniform(3, w - 3), rng.uniform(3, 0.7 * h)
        obstacles.append(ngon(x, y, rng.uniform(0.8, 2.5)))
    for _ in range(rng.randint(1, 3)):
        obstacles.append(ngon(rng.uniform(5, w - 5), rng.uniform(5, 0.7 * h), rng.uniform(1.5, 3),
                              rng.randint(5, 12)))
    x0 = rng.uniform(0.2 * w, 0.8 * w)
    obstacles.append(((x0, -1.0), (x0 + 1.5, -1.0), (x0 + 3.5, 0.6 * h), (x0 + 2.0, 0.6 * h)))
    return Scene(lawn, tuple(obstacles)), VALUES, (1.0, 1.0)


def real_style(seed):
    g = real_style_gardens.garden(seed)
    scene = Scene(tuple(map(tuple, g["lawn"])), tuple(tuple(map(tuple, o)) for o in g["obstacles"]),
                  tuple(tuple(map(tuple, m)) for m in g["mow_areas"]), tuple(map(tuple, g["wire"])))
    return scene, g["values"], g["start"]


GARDENS = {
    **{f"rectangle-{i}": (lambda a=args: rectangle(*a)) for i, args in enumerate(
        [(24, 7, 0), (30, 12, 17, 1), (18, 15, 63.5), (60, 25, 128, 8), (50, 50, 10, 12)])},
    **{f"L-{i}": (lambda a=args: l_shape(*a)) for i, args in enumerate(
        [(20, 15, 6, 0), (30, 20, 8, 33), (50, 40, 15, 71, 8), (40, 60, 12, 140, 10)])},
    **{f"park-{seed}": (lambda s=seed: small_park(s)) for seed in range(5)},
    **{f"larger-park-{seed}": (lambda s=seed: small_park(s, 2.2)) for seed in range(3)},
    **{f"real-style-{seed}": (lambda s=seed: real_style(s)) for seed in range(18)},
}


@pytest.fixture
def coarse_candidates(monkeypatch):
    """Candidates every 3 degrees and quarter degree, and a plan budget that
    shrinks with them (the command's 235 candidates become 87)."""
    monkeypatch.setattr(angle, "COARSE_STEP_DEG", 3.0)
    monkeypatch.setattr(angle, "PRICE_STEP_DEG", 6.0)
    monkeypatch.setattr(angle, "FINE_STEP_DEG", 0.25)
    monkeypatch.setattr(angle, "PLAN_WORK", angle.PLAN_WORK * 87 / 235)


@pytest.mark.parametrize("name", GARDENS)
def test_ranked_search_is_within_half_a_percent_of_the_exhaustive(name, coarse_candidates):
    scene, values, start = GARDENS[name]()
    ranked = search_angle(scene, values, start, workers=2, progress=False)
    every = search_angle_exhaustive(scene, values, start, workers=1)
    assert ranked.best.missed <= every.best.missed
    assert ranked.best.seconds <= every.best.seconds * 1.005
    assert ranked.best.seconds <= min(ranked.at_zero.seconds, ranked.along_edge.seconds) or \
        ranked.best.missed < min(ranked.at_zero.missed, ranked.along_edge.missed)
    assert ranked.plans <= every.plans + 40  # at most the exhaustive's, and some tenths


@pytest.mark.parametrize("name", ["park-0", "park-4", "real-style-6", "real-style-10", "L-3", "rectangle-3"])
def test_a_small_budget_never_gives_up_coverage(name, coarse_candidates, monkeypatch):
    """With the fewest plans, the search still leaves no more pieces out than
    the exhaustive one: the pieces cut off from the start rank the angles
    first, and where the plans leave out pieces that those do not tell it
    plans every candidate; it beats 0° and the edge."""
    monkeypatch.setattr(angle, "PLAN_WORK", 0)
    scene, values, start = GARDENS[name]()
    ranked = search_angle(scene, values, start, workers=1, progress=False)
    every = search_angle_exhaustive(scene, values, start, workers=1)
    assert ranked.best.missed == every.best.missed
    if ranked.plans < every.plans:
        assert ranked.plans <= angle.MIN_PLANS
    else:
        assert ranked.best.rank <= every.best.rank
    assert ranked.best.rank <= min(ranked.at_zero.rank, ranked.along_edge.rank)


@pytest.mark.parametrize("show, shown", [(True, True), (False, False), (None, False)])
def test_progress_bar_on_standard_error_only_when_asked_or_a_terminal(show, shown, monkeypatch):
    err = io.StringIO()
    monkeypatch.setattr(sys, "stderr", err)  # not a terminal
    scene, values, start = rectangle(12, 5, 20)
    search_angle(scene, values, start, workers=1, progress=show)
    assert ("lane angle" in err.getvalue()) == shown


def test_threads_plan_as_one_does(coarse_candidates):
    """Two threads share the companion module's scene (its calls release the
    interpreter lock): the same plans, prices and choice as one thread."""
    scene, values, start = GARDENS["larger-park-0"]()
    one = search_angle(scene, values, start, workers=1, progress=False)
    two = search_angle(scene, values, start, workers=2, progress=False)
    assert (one.best, one.at_zero, one.along_edge, one.plans) == (two.best, two.at_zero, two.along_edge, two.plans)
    assert one.plans < 84  # the ranked way, not every candidate

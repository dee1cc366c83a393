"""Lawn enclosed by obstacles stays lawn; neighbours off the lawn change
nothing; outlines meeting at a point close the gap between them."""
import random

import pytest

from enclosure_gardens import KINDS, box, garden, judge, plan


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("seed", range(6))
def test_route_keeps_to_its_part_of_the_free_lawn_and_loses_none(kind, seed):
    g = garden(kind, random.Random(1000 * seed + KINDS.index(kind)))
    path, slices = plan(g)
    assert judge(g, path, slices) == []


# Gardens of the `python enclosure_gardens.py N` run that once failed: a bed
# touching the lawn's edge with its tip, merged with the square that closes
# the point, where the crossing of their outlines was truncated into the bed.
@pytest.mark.parametrize("index", [366])
def test_gardens_that_once_crossed_a_pinch(index):
    g = garden(KINDS[index % len(KINDS)], random.Random(index))
    path, slices = plan(g)
    assert judge(g, path, slices) == []


def pieces(lawn, obstacles, start, **settings):
    return plan(dict(lawn=lawn, obstacles=obstacles, start=start, settings=settings))


@pytest.mark.parametrize("gap", [0.01, 0.0, -0.05])
def test_neighbours_round_the_lawn_enclose_nothing(gap):
    lawn = box(0, 0, 20, 10)
    ring = [box(-5, -5, 25, -gap), box(-5, 10 + gap, 25, 15),
            box(-5, -5, -gap, 15), box(20 + gap, -5, 25, 15)]
    bare_path, bare = pieces(lawn, [], (10, 5))
    path, slices = pieces(lawn, ring, (10, 5))
    if gap >= 0:  # nothing of them on the lawn: as if they were not there
        assert (path, slices) == (bare_path, bare)
    else:
        assert len([s for s in slices if len(s) == 2]) == len([s for s in bare if len(s) == 2])


def inside(points, x0, y0, x1, y1):
    return all(x0 < x < x1 and y0 < y < y1 for x, y in points)


@pytest.mark.parametrize("start, driven", [((10, 10), True), ((1, 1), False)])
def test_a_closed_pen_is_mowed_from_a_dock_inside_it_only(start, driven):
    hedges = [box(5, 5, 15, 5.3), box(5, 14.7, 15, 15), box(5, 5, 5.3, 15), box(14.7, 5, 15, 15)]
    path, slices = pieces(box(0, 0, 20, 20), hedges, start, offset=0.5, distanceToBorder=0.2)
    lanes = [s for s in slices if len(s) == 2 and inside(s, 5.3, 5.3, 14.7, 14.7)]
    assert len(lanes) >= 16
    assert any(inside([p], 5.3, 5.3, 14.7, 14.7) for p in path[1:]) == driven


@pytest.mark.parametrize("opening", [0.01, 0.3, 0.39])
def test_a_courtyard_with_an_opening_narrower_than_the_border_gets_lanes(opening):
    g = opening / 2
    bed = [(5, 5), (15, 5), (15, 15), (5, 15), (5, 10 + g), (5.3, 10 + g), (5.3, 14.7),
           (14.7, 14.7), (14.7, 5.3), (5.3, 5.3), (5.3, 10 - g), (5, 10 - g)]
    path, slices = pieces(box(0, 0, 20, 20), [bed], (10, 10), offset=0.5, distanceToBorder=0.2)
    lanes = [s for s in slices if len(s) == 2 and inside(s, 5.3, 5.3, 14.7, 14.7)]
    assert len(lanes) >= 16
    steps = set(zip(path, path[1:]))
    assert all((a, b) in steps or (b, a) in steps for a, b in lanes)

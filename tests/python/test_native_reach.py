"""The companion module's reach of a start: the pieces it rules out are the
pieces the plan leaves out, at every lane angle, on gardens with pockets
(courtyards, pens, path strips, walls across the lawn, slivers) and on
real-style gardens.  Where beds meet at a point, the pocket they shut is
not ruled out (the corners at the closed point may join the parts), and
the plan leaves out more."""

import math
import random
import sys
from pathlib import Path

import pytest

from swathwise_tools import _native

sys.path.insert(0, str(Path(__file__).resolve().parent))
import enclosure_gardens  # noqa: E402
import real_style_gardens  # noqa: E402

LAPS = dict(mowBorder=True, borderLaps=2, mowExclusionsBoder=True, exclusionsBorderLaps=1)


def enclosure(kind, seed):
    g = enclosure_gardens.garden(kind, random.Random(seed))
    values = {**g["settings"], **LAPS}
    return _native.Scene(g["lawn"], g["obstacles"]), values, g["start"]


def real_style(seed):
    g = real_style_gardens.garden(seed)
    scene = _native.Scene(g["lawn"], g["obstacles"], mow_areas=g["mow_areas"], virtual_wire=g["wire"])
    return scene, {k: v for k, v in g["values"].items() if k != "angle"}, g["start"]


def missed(task):
    on = set(task.path)
    return sum(1 for piece in task.slices if piece and tuple(piece[0]) not in on)


GARDENS = {**{f"{kind}-{seed}": (lambda k=kind, s=seed: enclosure(k, s))
              for kind in enclosure_gardens.KINDS for seed in range(4)},
           **{f"real-style-{seed}": (lambda s=seed: real_style(s)) for seed in range(24)}}


@pytest.mark.parametrize("name", GARDENS)
def test_pieces_cut_off_are_the_pieces_the_plan_leaves_out(name):
    scene, values, start = GARDENS[name]()
    reach = scene.reach(start)
    for degrees in (0.0, 17.0, 90.0, 133.3):
        settings = {**values, "angle": math.radians(degrees)}
        figures = scene.figures(settings, reach)
        assert {k: v[:2] for k, v in figures.items()} == scene.figures(settings)
        cut = sum(cut for _, _, cut in figures.values())
        left_out = missed(scene.plan(settings, start))
        assert cut <= left_out if name.startswith("pointy") else cut == left_out, degrees


def test_reach_of_a_closed_pen_holds_only_the_pen():
    lawn = enclosure_gardens.box(0, 0, 20, 12)
    pen = [enclosure_gardens.box(2, 2, 8, 2.3), enclosure_gardens.box(2, 5.7, 8, 6),
           enclosure_gardens.box(2, 2, 2.3, 6), enclosure_gardens.box(7.7, 2, 8, 6)]
    scene = _native.Scene(lawn, pen)
    inside, outside = scene.reach((5, 4)), scene.reach((15, 8))
    assert not inside.whole and not outside.whole
    assert inside.holds((4, 3)) and not inside.holds((15, 8))
    assert outside.holds((1, 1)) and not outside.holds((5, 4))
    assert _native.Scene(lawn, pen[:3]).reach((5, 4)).whole  # the pen is open

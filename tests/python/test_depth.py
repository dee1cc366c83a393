"""Nothing of the result deeper than 1.5 mm into an obstacle as given or
beyond the lawn as given, no lap dropped for a vertex that rounds into a bed,
and no reachable lane given up; judged with shapely, on the outlines as the
caller drew them."""
import math
import random

import pytest
import shapely
import shapely.geometry as sg
import swathwise as sw

from conftest import coords
from real_style_gardens import garden

DEPTH = 1.5e-3  # metres: 1 mm of grid plus rounding


def build(g):
    def polygon(points):
        return sw.Polygon([sw.Point(x, y) for x, y in points])
    env = sw.Environment(polygon(g["lawn"]))
    for o in g["obstacles"]:
        env.addObstacle(polygon(o))
    for m in g["mow_areas"]:
        env.addMowArea(polygon(m))
    if g["wire"]:
        env.setVirtualWire(sw.LineString([sw.Point(x, y) for x, y in g["wire"]]))
    s = sw.PathSettings()
    for k, v in g["values"].items():
        setattr(s, k, v)
    return sw.PathService().computeFullTask(env, s, sw.Point(*g["start"]))


def piece_segments(pts):
    if len(pts) == 2:
        return [tuple(pts)]
    return [(a, b) for a, b in zip(pts, pts[1:] + pts[:1]) if a != b]


def too_deep(g, result):
    """The pieces (lanes and laps, driven or not) that reach deeper than DEPTH."""
    allowed = sg.Polygon(g["lawn"]).buffer(DEPTH)
    cores = [shapely.make_valid(sg.Polygon(o)).buffer(-DEPTH) for o in g["obstacles"]]
    bad = []
    for k, piece in enumerate(result.slices):
        for a, b in piece_segments(coords(piece.getPoints())):
            seg = sg.LineString([a, b])
            if not allowed.covers(seg) or any(seg.intersects(c) for c in cores if not c.is_empty):
                bad.append(k)
                break
    return bad


def lanes_given_up(g, result):
    """Lanes in the start's part of the free lawn that the path does not drive."""
    free = sg.Polygon(g["lawn"])
    for o in g["obstacles"]:
        free = free.difference(shapely.make_valid(sg.Polygon(o)))
    start = sg.Point(g["start"])
    parts = [p for p in getattr(free, "geoms", [free]) if p.buffer(1e-6).covers(start)]
    if not parts:
        return []
    home = parts[0].buffer(1e-3)
    path = coords(result.path.getPoints())
    steps = {frozenset(s) for s in zip(path, path[1:])}
    return [pts for pts in (coords(p.getPoints()) for p in result.slices)
            if len(pts) == 2 and frozenset(pts) not in steps
            and home.covers(sg.Point(pts[0])) and home.covers(sg.Point(pts[1]))]


@pytest.mark.parametrize("seeds", [range(k, k + 50) for k in range(0, 400, 50)],
                         ids=lambda r: f"{r.start}-{r.stop - 1}")
def test_real_style_gardens_keep_every_piece_within_the_outlines(seeds):
    for seed in seeds:
        g = garden(seed)
        if not sg.Polygon(g["lawn"]).is_valid:
            continue
        result = build(g)
        assert too_deep(g, result) == [], f"garden {seed}"


def crossing_garden(seed):
    """Beds whose outlines cross one another at sharp angles, one of them
    reaching over the lawn's edge, and a mow area across the edge, at map
    coordinates of either sign: where outlines cross, the grid places the
    crossing by truncation."""
    rnd = random.Random(seed)
    ox, oy = rnd.choice([-1, 1]) * rnd.uniform(0, 3000), rnd.choice([-1, 1]) * rnd.uniform(0, 3000)
    w, h = rnd.uniform(15, 60), rnd.uniform(10, 40)
    lawn = [(0, 0), (w, rnd.uniform(-0.3, 0.3) * h), (rnd.uniform(0.3, 0.7) * w, h)]
    cx, cy = rnd.uniform(0.3, 0.6) * w, rnd.uniform(0.2, 0.4) * h
    beds = []
    for _ in range(rnd.randint(2, 4)):
        a, r = rnd.uniform(0, 2 * math.pi), rnd.uniform(2, 6)
        spread = rnd.uniform(0.05, 0.8)
        beds.append([(cx + rnd.uniform(-1, 1), cy + rnd.uniform(-1, 1)),
                     (cx + r * math.cos(a), cy + r * math.sin(a)),
                     (cx + r * math.cos(a + spread), cy + r * math.sin(a + spread))])
    if rnd.random() < 0.5:  # a bed across the lawn's edge
        x = rnd.uniform(0.2, 0.8) * w
        beds.append([(x, -2), (x + rnd.uniform(1, 5), rnd.uniform(1, 4)), (x - rnd.uniform(0.5, 3), 3)])
    mow = []
    if rnd.random() < 0.4:  # across the lawn's edge
        x, y = rnd.uniform(0.2, 0.6) * w, rnd.uniform(-0.1, 0.1) * h
        a = rnd.uniform(0, math.pi / 2)
        s = rnd.uniform(4, 12)
        mow.append([(x + s * math.cos(a + k * math.pi / 2), y + s * math.sin(a + k * math.pi / 2))
                    for k in range(4)])
    values = dict(pattern=rnd.choice(["lines", "rings"]), offset=rnd.uniform(0.15, 0.9),
                  angle=rnd.choice([0.0, rnd.uniform(-3.2, 3.2)]),
                  distanceToBorder=rnd.choice([0.0, 0.0, rnd.uniform(0.05, 0.5)]),
                  mowBorder=True, borderLaps=rnd.randint(1, 2),
                  mowExclusionsBoder=True, exclusionsBorderLaps=rnd.randint(1, 2))

    def shift(ring):
        return [(x + ox, y + oy) for x, y in ring]
    return dict(lawn=shift(lawn), obstacles=[shift(b) for b in beds], mow_areas=[shift(m) for m in mow],
                wire=[], values=values, start=(cx + ox, cy + oy - 3))


@pytest.mark.parametrize("seeds", [range(k, k + 100) for k in range(0, 300, 100)],
                         ids=lambda r: f"{r.start}-{r.stop - 1}")
def test_laps_keep_off_the_beds_where_outlines_cross(seeds):
    for seed in seeds:
        g = crossing_garden(seed)
        assert too_deep(g, build(g)) == [], f"garden {seed}"


def moves_too_deep(g, result):
    """The moves of the path (neither a piece's own step nor a step along the
    virtual wire, nor the drive out of a start inside an obstacle) that run
    deeper than DEPTH into an obstacle or beyond the lawn: (from, to)."""
    allowed = sg.Polygon(g["lawn"]).buffer(DEPTH)
    cores = [c for c in (shapely.make_valid(sg.Polygon(o)).buffer(-DEPTH) for o in g["obstacles"])
             if not c.is_empty]
    wire = [tuple(w) for w in g["wire"]]

    def along_wire(a, b):  # the path holds the wire's points turned there and back
        near = [k for k, w in enumerate(wire) if math.dist(w, a) < 1e-6]
        return any(math.dist(wire[k + d], b) < 1e-6 for k in near for d in (-1, 1) if 0 <= k + d < len(wire))
    driven = set()
    for piece in result.slices:
        driven |= {frozenset(s) for s in piece_segments(coords(piece.getPoints()))}
    path = coords(result.path.getPoints())
    inside = any(shapely.make_valid(sg.Polygon(o)).contains(sg.Point(g["start"])) for o in g["obstacles"])
    bad = []
    for k, (a, b) in enumerate(zip(path, path[1:])):
        if a == b or frozenset((a, b)) in driven or (k == 0 and inside) or along_wire(a, b):
            continue
        seg = sg.LineString([a, b])
        if not allowed.covers(seg) or any(seg.intersects(c) for c in cores):
            bad.append((a, b))
    return bad


@pytest.mark.parametrize("seeds", [range(k, k + 100) for k in range(0, 600, 100)],
                         ids=lambda r: f"{r.start}-{r.stop - 1}")
def test_real_style_gardens_move_nowhere_deeper_than_the_outlines_allow(seeds):
    for seed in seeds:
        g = garden(seed)
        if not sg.Polygon(g["lawn"]).is_valid:
            continue
        assert moves_too_deep(g, build(g)) == [], f"garden {seed}"


# Moves from a lane end at a concave corner of the lawn whose first
# centimetre ran up to 4 mm beyond the edge: a star-shaped lawn, and a comb
# with a mow area.
CORNERS = [
    dict(lawn=[(19.153174196688713, -30.119750571599376), (-2.0907872888537096, -25.79080701481182),
               (10.348544824708565, -39.02534428791293), (-0.3163540950916719, -35.884168182060414),
               (-1.3139956670173412, -41.801539059747185), (-10.322392110434851, -33.06871822872259),
               (-2.158394524913149, -76.5715289712334), (-15.287553393121074, -39.203742758912895),
               (-19.956676926929568, -52.51233956050032), (-24.75077645752333, -48.011910733824266),
               (-37.97466624131397, -65.34025801998823), (-31.626327272486982, -39.963079452887186),
               (-35.02458678478041, -31.65812262338187), (-76.15122691759096, -37.966432695266874),
               (-75.25132047557962, -27.392694895358957), (-74.28767897761242, -17.684070519039274),
               (-32.39128939502571, -5.7595960422816415), (-37.16824201850174, 4.1476534923693755),
               (-50.38482637430839, 33.3069587358415), (-33.08561685324081, 18.82620705235388),
               (-29.607540929878787, 31.82269886969604), (-20.76977226962075, 26.956800029822723),
               (-14.178040883453804, 17.225426447669676), (-6.690365165466643, 23.307040595676483),
               (0.6490658267883944, 22.7129819052534), (-3.935501610618802, 2.420884466301839),
               (12.949895013779194, 14.92701525179924), (10.222080876003645, 3.5587724075869076),
               (5.26717349046082, -5.595404777306172), (1.9408638241944374, -17.68407051903928)],
         obstacles=[[(-6.595241223477231, -29.197769201693184), (-7.1844071042299245, -28.45523327736182),
                     (-10.655317206508967, -33.87211058390169)]],
         mow_areas=[], wire=[], start=(-27.35283838984447, 21.80459673095811),
         values=dict(pattern="squares", offset=0.5416098927216976, angle=0.0, distanceToBorder=0.0,
                     mowBorder=False, mowExclusionsBoder=False)),
    dict(lawn=[(-16.222876575911407, 4.70367207842251), (51.66929972726724, 4.70367207842251),
               (30.779399326289195, 72.59584838160116), (25.556924226044686, 72.59584838160116),
               (25.556924226044686, 24.33313631420192), (20.334449125800177, 24.33313631420192),
               (20.334449125800177, 72.59584838160116)],
         obstacles=[], wire=[], start=(19.933048869902187, 31.053374356796144),
         mow_areas=[[(42.61560599823331, 12.048031882438043), (20.550951666443787, 15.804563545219981),
                     (22.748959322345918, 28.714950971634362), (44.813613654135445, 24.958419308852424)]],
         values=dict(pattern="lines", offset=0.19272879591288455, angle=0.9428438218587756,
                     distanceToBorder=0.0, mowBorder=False, mowExclusionsBoder=False)),
]


@pytest.mark.parametrize("g", CORNERS, ids=["star", "comb"])
def test_no_move_leaves_the_lawn_near_its_ends(g):
    assert moves_too_deep(g, build(g)) == []


WALL = [(9.7, -1), (10.3, -1), (10.3, 21), (9.7, 21)]


@pytest.mark.parametrize("inside", [0.002, 0.005, 0.008, 0.02])
def test_a_wire_ending_inside_a_wall_leads_nowhere_beyond_it(inside):
    # The wire runs into the wall from the left half and ends `inside` short
    # of its right face: the mower follows it in and back, and the right
    # half, which no wire reaches, is not mowed.
    g = dict(lawn=[(0, 0), (20, 0), (20, 20), (0, 20)], obstacles=[WALL], mow_areas=[],
             wire=[(5, 10), (10.3 - inside, 10.0)], start=(1, 1),
             values=dict(offset=0.5, distanceToBorder=0.0))
    result = build(g)
    assert moves_too_deep(g, result) == []
    assert all(x < 10.3 for x, _ in coords(result.path.getPoints()))


@pytest.mark.parametrize("depth", [0.0015, 0.004, 0.009])
def test_a_start_just_inside_a_tree_drives_out_by_the_shortest_way(depth):
    tree = [(10 + 1.5 * math.cos(2 * math.pi * k / 32), 5 + 1.5 * math.sin(2 * math.pi * k / 32))
            for k in range(32)]
    g = dict(lawn=[(0, 0), (20, 0), (20, 10), (0, 10)], obstacles=[tree], mow_areas=[], wire=[],
             start=(11.5 - depth, 5.0), values=dict(offset=0.5, distanceToBorder=0.0))
    path = coords(build(g).path.getPoints())
    assert len(path) > 10
    assert sg.Point(path[1]).distance(sg.Polygon(tree).exterior) < 1e-9
    assert math.dist(path[0], path[1]) < depth + 1e-4
    assert moves_too_deep(g, build(g)) == []


BED_ON_A_VERTEX = dict(
    lawn=[(4.260305713418758, 12.651200368496935), (11.215576844188561, 9.442456776719766),
          (-11.215644435155387, -12.6511805185335)],
    obstacles=[[(11.215576844188561, 9.442456776719766), (-0.9297774083137572, -2.5235545213852113),
                (0.5134593310432254, -3.704555888615882), (22.82807568242092, 4.105721797633089)]],
    mow_areas=[], wire=[], start=(0, 0),
    values=dict(mowArea=False, mowExclusionsBoder=False, borderLaps=3))


@pytest.mark.parametrize("degrees", [0, 34, 36, 36.8, 37, 90, 151])
def test_a_bed_touching_the_lawn_at_a_vertex_drops_no_lap(degrees):
    g = dict(BED_ON_A_VERTEX, values=dict(BED_ON_A_VERTEX["values"], angle=math.radians(degrees)))
    result = build(g)
    assert len(result.slices) == 3
    assert too_deep(g, result) == []


@pytest.mark.parametrize("poke", [0.0005, 0.002, 0.005])
def test_a_mow_area_poking_out_of_a_wall_gives_no_lap_beyond_the_lawn(poke):
    g = dict(lawn=[(0, 0), (20, 0), (20, 20), (0, 20)],
             obstacles=[[(-10, 9.5), (30, 9.5), (30, 10), (-10, 10)]],
             mow_areas=[[(5, 9.6), (15, 9.6), (15, 10 + poke), (5, 10 + poke)]], wire=[],
             start=(1, 15), values=dict(offset=0.5, distanceToBorder=0.0))
    result = build(g)
    assert too_deep(g, result) == []


def test_merged_beds_hold_the_beds_as_given():
    g = dict(lawn=[(1022.5, -1836.0), (1152.5, -1836.0), (1144.0, -1706.0)],
             obstacles=[[(1141.5, -1811.0), (1147.0, -1809.5), (1148.5, -1804.0)],
                        [(1148.0, -1793.0), (1155.0, -1808.0), (1148.0, -1808.0)]],
             mow_areas=[], wire=[], start=(1028.7624276589306, -1813.360659696296),
             values=dict(offset=0.5, angle=-728.6916401267747, distanceToBorder=0.0,
                         mowBorder=False, mowExclusionsBoder=False))
    assert too_deep(g, build(g)) == []


# Narrow lawns with a distance to the border wider than they allow: a lane
# end a fraction of a millimetre beyond the edge or inside a bed stranded
# the route there.
STRANDED = [
    dict(lawn=[(5.332780343109672, 7.571859736951506), (-18.55390054802242, 35.27136765040523),
               (-19.139476636729427, 34.76639589379046), (4.747204254402664, 7.066887980336732)],
         obstacles=[[(-9.515834142373642, 51.45018194905226), (-9.770064313791998, 51.44347714170882),
                     (-8.28290902499008, -4.9458752484740165)],
                    [(0.1961035400421894, 13.444024568220328), (0.21058578114364004, 13.431644131689904),
                     (-0.5382079902808757, 12.555728980686432)]],
         values=dict(offset=1.40792039779597, angle=-1.2124306054345972,
                     distanceToBorder=0.6138161581424759, mowBorder=True, borderLaps=1,
                     mowExclusionsBoder=False),
         start=(-4.092439287050708, 17.858141081039122)),
    dict(lawn=[(-2106.5866558293396, 2215.654352719218), (-2104.7331947959105, 2215.654352719218),
               (-2104.7331947959105, 2222.196277188602), (-2104.1153744514345, 2215.654352719218),
               (-2100.408452384577, 2214.1646127104104)],
         obstacles=[[(-2104.2826932322073, 2216.2180042341556), (-2104.2826932322073, 2217.2997676749233),
                     (-2104.766973629337, 2217.2997676749233)]],
         values=dict(offset=0.5477413285096197, angle=0.0, distanceToBorder=1.126566915511715,
                     mowBorder=False, mowExclusionsBoder=False),
         start=(-2103.5335375625127, 2215.024644649105)),
]


@pytest.mark.parametrize("g", STRANDED, ids=["fence-and-bed", "spike"])
def test_a_lane_end_rounded_into_an_outline_is_still_reached(g):
    g = dict(g, mow_areas=[], wire=[])
    result = build(g)
    assert any(len(p.getPoints()) == 2 for p in result.slices)
    assert lanes_given_up(g, result) == []

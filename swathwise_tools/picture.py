"""Pictures of a plan: PNG, SVG, PDF or JPEG, by the file name's suffix.

Drawn in the planning frame (metres around the lawn centre, north up) with
matplotlib's Agg backend, so no display is needed.
"""

from __future__ import annotations

import math
from pathlib import Path
from typing import Any, Mapping, Sequence

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.collections import LineCollection  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.patches import Patch  # noqa: E402
from matplotlib.patches import Polygon as PolygonPatch  # noqa: E402
from matplotlib.patches import PathPatch  # noqa: E402
from matplotlib.path import Path as MplPath  # noqa: E402
from mpl_toolkits.axes_grid1.anchored_artists import AnchoredSizeBar  # noqa: E402
import numpy as np  # noqa: E402
from shapely.geometry import LineString as ShapelyLine  # noqa: E402
from shapely.geometry import Polygon as ShapelyPolygon  # noqa: E402
from shapely.geometry.polygon import orient  # noqa: E402

from .frame import XY  # noqa: E402
from .pieces import AREA, OBSTACLE, PERIMETER, path_length as _length  # noqa: E402
from .plan import Plan  # noqa: E402
from .sessions import Sessions  # noqa: E402
from .summary import title_line  # noqa: E402

LAWN = "#d4ebc0"
LAWN_EDGE = "#4c7a34"
OBSTACLE_FILL = "#b59b7c"
OBSTACLE_EDGE = "#5a4630"
MOW_AREA_EDGE = "#2b6cb0"
VIRTUAL_WIRE = "#ff8c00"
DOCKING_WIRE = "#8e44ad"
PIECE_COLOURS = {AREA: "#7aa35a", PERIMETER: "#3b82c4", OBSTACLE: "#a0522d"}
PATH = "#1c2e1c"
TRANSIT = "#1f4fd6"
GAP = "#e3342f"
ORDER_MAP = "viridis"
SESSION_MAP = "tab10"
SESSIONS_IN_LEGEND = 10
UNREACHED = "#d61fbf"
START = "#ffd400"

ARROWS = 10


def _nice_length(span: float) -> float:
    """A round length of roughly a fifth of ``span``."""
    target = max(span / 5.0, 1e-3)
    power: float = 10 ** math.floor(math.log10(target))
    for step in (1, 2, 5, 10):
        if step * power >= target * 0.7:
            return step * power
    return 10 * power


def _segments(lines: Sequence[Sequence[XY]]) -> list[list[XY]]:
    return [list(line) for line in lines if len(line) >= 2]


def _halfway(line: Sequence[XY]) -> XY:
    if len(line) < 2:
        return line[0]
    p = ShapelyLine(line).interpolate(0.5, normalized=True)
    return (p.x, p.y)


def _arrow_points(path: list[XY], mowing: list[bool], count: int, size: float) -> list[tuple[XY, XY]]:
    """Up to ``count`` short (tail, head) pairs spread evenly along the path."""
    total = _length(path)
    if total <= 0:
        return []
    marks = [total * (i + 0.5) / count for i in range(count)]
    arrows: list[tuple[XY, XY]] = []
    walked = 0.0
    m = 0
    for i in range(len(path) - 1):
        a, b = path[i], path[i + 1]
        d = math.dist(a, b)
        while m < len(marks) and marks[m] <= walked + d:
            if d > 2 * size and mowing[i]:
                t = min(max((marks[m] - walked) / d, size / d), 1 - size / d)
                ux, uy = (b[0] - a[0]) / d, (b[1] - a[1]) / d
                cx, cy = a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])
                arrows.append(((cx - ux * size, cy - uy * size), (cx + ux * size, cy + uy * size)))
                m += 1
            else:
                # Too short to carry an arrow: try the next segment.
                marks[m] = walked + d + 1e-9
                break
        walked += d
    return arrows


def polygon_path(polygon: ShapelyPolygon) -> MplPath:
    """A shapely polygon as a matplotlib path, holes cut out (outer ring
    counter-clockwise, holes clockwise, so either fill rule leaves them open)."""
    polygon = orient(polygon, 1.0)
    return MplPath.make_compound_path(*(MplPath(np.asarray(ring.coords)[:, :2], closed=True)
                                        for ring in (polygon.exterior, *polygon.interiors)))


def _draw_pieces_and_gaps(ax: Any, plan: Plan, thin: float, handles: list[Any]) -> None:
    """The planned pieces as wide pale strokes and the unmown gaps in red."""
    for category, label in ((AREA, "area pieces"), (PERIMETER, "perimeter laps"), (OBSTACLE, "obstacle laps")):
        lines = [p.points + p.points[:1] if p.is_lap else p.points for p in plan.pieces if p.kind == category]
        if lines:
            ax.add_collection(LineCollection(_segments(lines), colors=PIECE_COLOURS[category], linewidths=thin * 3.2,
                                             alpha=0.35, capstyle="round", zorder=3))
            handles.append(Line2D([], [], color=PIECE_COLOURS[category], lw=4, alpha=0.5, label=f"planned {label}"))

    gaps = list(plan.coverage.gaps.geoms)
    for gap in gaps:
        ax.add_patch(PathPatch(polygon_path(gap), facecolor=GAP, edgecolor=GAP, lw=0.3, alpha=0.85, zorder=3.5))
    if gaps:
        handles.append(Patch(facecolor=GAP, label=f"unmown ({plan.coverage.gap_area:.1f} m²)"))


def _draw_route(fig: Figure, ax: Any, plan: Plan, thin: float, span: float, handles: list[Any]) -> None:
    """The route coloured by the order of work, transit dashed, its end and unreached pieces."""
    kinds = plan.segment_kinds()
    drive = [i for i, k in enumerate(kinds) if k != "transit"]
    route = LineCollection([[plan.path[i], plan.path[i + 1]] for i in drive], cmap=ORDER_MAP,
                           linewidths=thin * 1.1, capstyle="round", zorder=4)
    route.set_array([i / max(len(kinds) - 1, 1) for i in drive])
    route.set_clim(0.0, 1.0)
    ax.add_collection(route)
    # Beside the drawing, above the scale bar.
    ramp = fig.colorbar(route, cax=ax.inset_axes((1.05, 0.32, 0.22, 0.03)), orientation="horizontal")
    ramp.set_ticks([0.0, 1.0], labels=["start", "end"])
    ramp.set_label("order of work (mowing and turns)", fontsize=8)
    ramp.ax.tick_params(labelsize=8)
    transit = [[plan.path[i], plan.path[i + 1]] for i, k in enumerate(kinds) if k == "transit"]
    if transit:
        ax.add_collection(LineCollection(transit, colors=TRANSIT, linewidths=max(thin * 1.6, 0.8),
                                         linestyles=(0, (3, 2)), zorder=5))
        handles.append(Line2D([], [], color=TRANSIT, lw=1.0, ls="--", label="transit"))
    size = span / 80.0
    for tail, head in _arrow_points(plan.path, plan.mowing, ARROWS, size):
        ax.annotate("", xy=head, xytext=tail, zorder=7,
                    arrowprops=dict(arrowstyle="-|>", color=PATH, lw=1.2, mutation_scale=14))
    handles.append(Line2D([], [], color=PATH, marker=">", ls="none", ms=8, label="driving direction"))
    ex, ey = plan.path[-1]
    ax.plot([ex], [ey], marker="s", ms=8, color=PATH, mec="white", zorder=8)
    handles.append(Line2D([], [], color=PATH, marker="s", mec="white", ls="none", ms=8, label="end"))
    _draw_unreached(ax, plan, handles)


def _draw_unreached(ax: Any, plan: Plan, handles: list[Any]) -> None:
    unreached = [p for p in plan.pieces if not p.reached and p.points]
    if unreached:
        lines = [p.points + p.points[:1] if p.is_lap else p.points for p in unreached]
        ax.add_collection(LineCollection(_segments(lines), colors=UNREACHED, linewidths=2.4, alpha=0.9, zorder=6))
        mids = [_halfway(line) for line in lines]
        ax.plot([m[0] for m in mids], [m[1] for m in mids], "x", color=UNREACHED, ms=10, mew=2.2, zorder=6)
        handles.append(Line2D([], [], color=UNREACHED, lw=2.4, marker="x", mew=2, ms=8, label=f"not reached ({len(unreached)})"))


def _draw_sessions(ax: Any, sessions: Sessions, thin: float, handles: list[Any]) -> None:
    """Each battery session in its own colour: mowing solid, its trips dashed."""
    colours = matplotlib.colormaps[SESSION_MAP]
    for s in sessions.sessions:
        colour = colours((s.number - 1) % colours.N)
        for mowing, width, style in ((True, thin * 1.1, "solid"), (False, max(thin * 1.6, 0.8), (0, (3, 2)))):
            lines = [[s.path[i], s.path[i + 1]] for i, m in enumerate(s.mowing) if m == mowing]
            ax.add_collection(LineCollection(lines, colors=[colour], linewidths=width, linestyles=style,
                                             capstyle="round", zorder=4 if mowing else 5))
        if s.number <= SESSIONS_IN_LEGEND:
            handles.append(Line2D([], [], color=colour, lw=2, label=f"session {s.number} ({s.minutes:.0f} min)"))
    if len(sessions.sessions) > SESSIONS_IN_LEGEND:
        handles.append(Line2D([], [], color="none", label=f"… {len(sessions.sessions)} sessions in all"))
    handles.append(Line2D([], [], color=PATH, lw=1.0, ls="--", label="trips: out, between pieces, home"))


def draw_plan(plan: Plan, summary: Mapping[str, Any] | None = None,
              sessions: Sessions | None = None) -> Figure:
    """The plan as a matplotlib Figure, in the planning frame (metres, north up).

    Lawn, mow areas, obstacles, planned pieces by kind, the path with its
    direction and transit stretches, pieces not reached, wires, start and
    end, a scale bar and a legend; ``summary`` adds its figures to the title.
    With ``sessions`` the route is drawn session by session, one colour each.
    """
    garden = plan.garden
    xs = [p[0] for p in garden.lawn]
    ys = [p[1] for p in garden.lawn]
    width, height = max(xs) - min(xs), max(ys) - min(ys)
    span = max(width, height, 1.0)
    # Dense plans get a larger canvas, so that neighbouring lanes stay apart.
    inches = min(max(9.0, span / float(plan.settings.offset) * 4.0 / 150.0), 24.0)
    scale = inches / span
    fig = plt.figure(figsize=(max(width * scale, 4.0) + 3.2, max(height * scale, 4.0) + 1.0))
    ax = fig.add_subplot(1, 1, 1)
    ax.set_aspect("equal")
    handles: list[Any] = []

    ax.add_patch(PolygonPatch(garden.lawn, closed=True, facecolor=LAWN, edgecolor=LAWN_EDGE, lw=1.4, zorder=1))
    handles.append(Patch(facecolor=LAWN, edgecolor=LAWN_EDGE, label="lawn"))
    for ring in garden.mow_areas:
        ax.add_patch(PolygonPatch(ring, closed=True, facecolor=MOW_AREA_EDGE, alpha=0.08, zorder=1.5))
        ax.add_patch(PolygonPatch(ring, closed=True, fill=False, edgecolor=MOW_AREA_EDGE, lw=1.2, ls="--", zorder=2))
    if garden.mow_areas:
        handles.append(Patch(facecolor="none", edgecolor=MOW_AREA_EDGE, ls="--", label="mow area"))
    for ring in garden.obstacles:
        ax.add_patch(PolygonPatch(ring, closed=True, facecolor=OBSTACLE_FILL, edgecolor=OBSTACLE_EDGE, lw=0.8, hatch="///", zorder=2))
    if garden.obstacles:
        handles.append(Patch(facecolor=OBSTACLE_FILL, edgecolor=OBSTACLE_EDGE, hatch="///", label="obstacle"))

    thin = max(0.15, min(1.0, 40.0 / span))
    _draw_pieces_and_gaps(ax, plan, thin, handles)
    has_path = len(plan.path) >= 2
    if has_path and sessions is not None:
        _draw_sessions(ax, sessions, thin, handles)
        _draw_unreached(ax, plan, handles)
    elif has_path:
        _draw_route(fig, ax, plan, thin, span, handles)

    if garden.virtual_wire:
        vx, vy = zip(*garden.virtual_wire)
        ax.plot(vx, vy, color=VIRTUAL_WIRE, lw=2.2, ls=":", zorder=5.5)
        handles.append(Line2D([], [], color=VIRTUAL_WIRE, lw=2.2, ls=":", label="virtual wire"))
    if garden.docking_wire:
        dx, dy = zip(*garden.docking_wire)
        ax.plot(dx, dy, color=DOCKING_WIRE, lw=2.2, ls="-.", zorder=5.5)
        handles.append(Line2D([], [], color=DOCKING_WIRE, lw=2.2, ls="-.", label="docking wire"))

    sx, sy = plan.start
    ax.plot([sx], [sy], marker="*", ms=17, color=START, mec="black", mew=1.0, zorder=9)
    handles.append(Line2D([], [], color=START, marker="*", mec="black", ls="none", ms=13, label="start"))

    margin = span * 0.04
    ax.set_xlim(min(xs) - margin, max(xs) + margin)
    ax.set_ylim(min(ys) - margin, max(ys) + margin)
    ax.set_xlabel("metres east of the lawn centre")
    ax.set_ylabel("metres north of the lawn centre")
    ax.tick_params(labelsize=8)
    bar = _nice_length(width or span)
    # Beside the drawing, under the legend, where it hides nothing.
    ax.add_artist(AnchoredSizeBar(ax.transData, bar, f"{bar:g} m", "lower left", pad=0.2,
                                  borderpad=0.0, sep=4, color="black", frameon=False,
                                  size_vertical=span / 250.0,
                                  bbox_to_anchor=(1.04, 0.0), bbox_transform=ax.transAxes))
    ax.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.02, 1.0), fontsize=9, frameon=False)

    title = garden.name or "mowing plan"
    if summary is not None:
        title = f"{title}\n{title_line(summary)}"
    ax.set_title(title, fontsize=11)
    return fig


# File suffix -> matplotlib format.
PICTURE_FORMATS = {".png": "png", ".svg": "svg", ".pdf": "pdf", ".jpg": "jpg", ".jpeg": "jpg"}


def picture_format(path: str | Path) -> str:
    """The picture format for a file name; ValueError for an unknown suffix."""
    suffix = Path(path).suffix.lower()
    if suffix not in PICTURE_FORMATS:
        known = ", ".join(sorted(set(PICTURE_FORMATS)))
        raise ValueError(f"cannot tell the picture format from {str(path)!r}; end the name in {known}")
    return PICTURE_FORMATS[suffix]


def write_picture(path: str | Path, plan: Plan, summary: Mapping[str, Any] | None = None,
                  sessions: Sessions | None = None) -> None:
    """Draw the plan into ``path``; the suffix picks the format (.png, .svg, .pdf, .jpg).

    ``summary`` (from :func:`~swathwise_tools.summary.summarise`) adds its
    figures to the title.  Raises ValueError for an unknown suffix.
    """
    fmt = picture_format(path)
    fig = draw_plan(plan, summary, sessions)
    try:
        fig.savefig(path, format=fmt, dpi=100 if fmt in ("svg", "pdf") else 150, bbox_inches="tight")
    finally:
        plt.close(fig)

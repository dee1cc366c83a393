"""An interactive page of a plan: one self-contained HTML file.

Nothing is loaded from the network: the plan travels inside the page as JSON
and a small script draws it as SVG.  The page zooms (mouse wheel) and pans
(drag), tells each piece's order in the route, kind and length on hover, and
plays the route with a slider.  Coordinates are the planning frame's metres
(x east, y north of the lawn centre).

Once drawn, every layer is a ``<g id="layer-NAME" data-count="N">`` and the
body carries ``data-ready="1"``, which is what the tests look for.
"""

from __future__ import annotations

import html
import json
import re
from pathlib import Path
from typing import Any, Iterable, Mapping, Sequence

from .garden import XY
from .plan import Plan
from .sessions import Sessions



def _pts(points: Iterable[Sequence[float]]) -> list[list[float]]:
    return [[round(x, 3), round(y, 3)] for x, y in points]


def page_data(plan: Plan, summary: Mapping[str, Any] | None = None,
              sessions: Sessions | None = None) -> dict[str, Any]:
    garden = plan.garden
    pieces = [{
        "points": _pts(p.points + p.points[:1] if p.is_lap else p.points),
        "kind": p.kind,
        "order": p.order,
        "length": round(p.length, 2),
    } for p in plan.pieces if p.points]
    gaps = [{"outer": _pts(list(g.exterior.coords)), "holes": [_pts(list(h.coords)) for h in g.interiors],
             "area": round(g.area, 3)} for g in plan.coverage.gaps.geoms]
    data: dict[str, Any] = {
        "name": garden.name or "mowing plan",
        "lawn": _pts(garden.lawn),
        "obstacles": [_pts(r) for r in garden.obstacles],
        "mowAreas": [_pts(r) for r in garden.mow_areas],
        "pieces": pieces,
        "gaps": gaps,
        "path": _pts(plan.path),
        "kinds": plan.segment_kinds(),
        "sessions": [],
        "start": _pts([plan.start])[0],
        "summary": _summary_lines(summary),
    }
    if sessions is not None:
        # The route played session by session, each in its own colour.
        data["path"] = _pts([p for s in sessions.sessions for p in s.path])
        data["kinds"], data["sessions"] = [], []
        for s in sessions.sessions:
            if data["sessions"]:  # the charge at the dock between two sessions
                data["kinds"].append("transit")
                data["sessions"].append(s.number)
            data["kinds"] += ["mow" if m else "transit" for m in s.mowing]
            data["sessions"] += [s.number] * len(s.mowing)
    return data


def _summary_lines(summary: Mapping[str, Any] | None) -> list[str]:
    if summary is None:
        return []
    from .summary import format_summary

    return format_summary(summary).splitlines()


_STYLE = """
body{margin:0;font:13px system-ui,sans-serif;background:#f4f6f2;color:#1c2e1c;display:flex;flex-direction:column;height:100vh}
header{padding:6px 10px;display:flex;gap:12px;align-items:center;flex-wrap:wrap;background:#fff;border-bottom:1px solid #ccd}
header h1{font-size:15px;margin:0}
#stage{flex:1;position:relative;overflow:hidden}
svg{width:100%;height:100%;cursor:grab;background:#eef2ea}
#tip{position:absolute;pointer-events:none;background:#fff;border:1px solid #888;padding:3px 6px;border-radius:3px;display:none;white-space:nowrap}
#legend span{display:inline-block;margin-right:10px}
#legend i{display:inline-block;width:14px;height:4px;margin-right:4px;vertical-align:middle}
pre{margin:0;padding:6px 10px;background:#fff;border-top:1px solid #ccd;font-size:11px;max-height:22vh;overflow:auto;
  white-space:pre-wrap;overflow-wrap:anywhere}
pre div{padding-left:var(--hang,0ch);text-indent:calc(-1 * var(--hang,0ch))}
pre span{white-space:nowrap}
input[type=range]{width:28vw}
"""

_SCRIPT = r"""
(function(){
const D = JSON.parse(document.getElementById('plan-data').textContent);
const NS = 'http://www.w3.org/2000/svg';
const svg = document.getElementById('map');
const tip = document.getElementById('tip');
const xs = D.lawn.map(p => p[0]), ys = D.lawn.map(p => p[1]);
const minX = Math.min(...xs), maxX = Math.max(...xs), minY = Math.min(...ys), maxY = Math.max(...ys);
const span = Math.max(maxX - minX, maxY - minY, 1), pad = span * 0.04;
let view = [minX - pad, -maxY - pad, maxX - minX + 2 * pad, maxY - minY + 2 * pad];
const px = span / 900;
function setView(){ svg.setAttribute('viewBox', view.join(' ')); }
setView();
function el(name, attrs, parent){ const e = document.createElementNS(NS, name);
  for (const k in attrs) e.setAttribute(k, attrs[k]); if (parent) parent.appendChild(e); return e; }
function pts(list){ return list.map(p => p[0] + ',' + (-p[1])).join(' '); }
function ring(list){ return 'M' + list.map(p => p[0] + ' ' + (-p[1])).join('L') + 'Z'; }
function layer(id, count){ const g = el('g', {id: 'layer-' + id, 'data-count': count}, svg); return g; }
const lawn = layer('lawn', 1);
el('polygon', {points: pts(D.lawn), fill: '#cfe6b8', stroke: '#4c7a34', 'stroke-width': 2 * px}, lawn);
const areas = layer('mow-areas', D.mowAreas.length);
D.mowAreas.forEach(r => el('polygon', {points: pts(r), fill: 'none', stroke: '#2b6cb0', 'stroke-dasharray': 6 * px, 'stroke-width': 1.5 * px}, areas));
const obstacles = layer('obstacles', D.obstacles.length);
D.obstacles.forEach(r => el('polygon', {points: pts(r), fill: '#b59b7c', stroke: '#5a4630', 'stroke-width': px}, obstacles));
const gaps = layer('gaps', D.gaps.length);
D.gaps.forEach(g => { const p = el('path', {d: ring(g.outer) + g.holes.map(ring).join(''), fill: '#e3342f', 'fill-rule': 'evenodd', opacity: 0.85}, gaps);
  p.dataset.tip = 'unmown: ' + g.area.toFixed(2) + ' m²'; });
const colours = {area: '#7aa35a', perimeter: '#3b82c4', obstacle: '#a0522d'};
const pieces = layer('pieces', D.pieces.length);
D.pieces.forEach(p => { const e = el('polyline', {points: pts(p.points), fill: 'none', stroke: p.order ? colours[p.kind] : '#d61fbf',
    'stroke-width': (p.order ? 4 : 5) * px, 'stroke-opacity': p.order ? 0.35 : 0.9, 'stroke-linecap': 'round'}, pieces);
  e.dataset.tip = (p.order ? '#' + p.order + ' in the route' : 'not reached') + ' · ' + p.kind + (p.points.length > 3 ? ' lap' : ' lane') + ' · ' + p.length.toFixed(1) + ' m'; });
const route = layer('route', Math.max(D.path.length - 1, 0));
const n = D.path.length - 1;
function hue(i){ if (D.sessions.length) return 'hsl(' + ((D.sessions[i] - 1) * 137.5 % 360) + ',70%,40%)';
  const t = n > 0 ? i / n : 0; return 'hsl(' + (250 - 200 * t) + ',75%,' + (35 + 15 * t) + '%)'; }
const segs = [];
for (let i = 0; i < n; i++) { const k = D.kinds[i];
  const a = D.path[i], b = D.path[i + 1];
  const s = el('line', {x1: a[0], y1: -a[1], x2: b[0], y2: -b[1], stroke: k === 'transit' && !D.sessions.length ? '#1f4fd6' : hue(i),
    'stroke-width': (k === 'transit' ? 1.5 : 1.2) * px, 'stroke-dasharray': k === 'transit' ? 5 * px : 'none', 'stroke-linecap': 'round'}, route);
  s.dataset.tip = (D.sessions.length ? 'session ' + D.sessions[i] + ' · ' : '') + k + ' · step ' + (i + 1) + ' of ' + n; segs.push(s); }
const marks = layer('marks', 2);
el('circle', {cx: D.start[0], cy: -D.start[1], r: 5 * px, fill: '#ffd400', stroke: '#000', 'stroke-width': px}, marks).dataset.tip = 'start';
const mower = el('circle', {cx: D.start[0], cy: -D.start[1], r: 4 * px, fill: '#111', stroke: '#fff', 'stroke-width': px}, marks);
mower.dataset.tip = 'mower';
const slider = document.getElementById('slider'), play = document.getElementById('play'), step = document.getElementById('step');
slider.max = Math.max(n, 0); slider.value = slider.max;
function show(k){ segs.forEach((s, i) => s.style.visibility = i < k ? 'visible' : 'hidden');
  const p = D.path[Math.min(k, n)] || D.start; mower.setAttribute('cx', p[0]); mower.setAttribute('cy', -p[1]);
  step.textContent = k + ' / ' + n; }
slider.addEventListener('input', () => show(+slider.value));
let timer = null;
play.addEventListener('click', () => { if (timer) { clearInterval(timer); timer = null; play.textContent = 'play'; return; }
  if (+slider.value >= n) slider.value = 0; play.textContent = 'pause';
  const by = Math.max(1, Math.round(n / 600));
  timer = setInterval(() => { slider.value = Math.min(n, +slider.value + by); show(+slider.value);
    if (+slider.value >= n) { clearInterval(timer); timer = null; play.textContent = 'play'; } }, 30); });
show(n);
function at(ev){ const r = svg.getBoundingClientRect(), s = Math.max(view[2] / r.width, view[3] / r.height);
  return [view[0] + (ev.clientX - r.left - (r.width - view[2] / s) / 2) * s, view[1] + (ev.clientY - r.top - (r.height - view[3] / s) / 2) * s, s]; }
svg.addEventListener('wheel', ev => { ev.preventDefault(); const [x, y] = at(ev), f = ev.deltaY > 0 ? 1.2 : 1 / 1.2;
  view = [x - (x - view[0]) * f, y - (y - view[1]) * f, view[2] * f, view[3] * f]; setView(); }, {passive: false});
let drag = null;
svg.addEventListener('mousedown', ev => { drag = at(ev); svg.style.cursor = 'grabbing'; });
window.addEventListener('mouseup', () => { drag = null; svg.style.cursor = 'grab'; });
svg.addEventListener('mousemove', ev => { const t = ev.target.dataset && ev.target.dataset.tip;
  const r = document.getElementById('stage').getBoundingClientRect();
  if (t) { tip.textContent = t; tip.style.display = 'block'; tip.style.left = (ev.clientX - r.left + 12) + 'px'; tip.style.top = (ev.clientY - r.top + 12) + 'px'; }
  else tip.style.display = 'none';
  if (drag) { const [x, y] = at(ev); view[0] += drag[0] - x; view[1] += drag[1] - y; setView(); } });
document.body.dataset.ready = '1';
})();
"""


def _summary_markup(lines: Sequence[str]) -> tuple[str, int]:
    """The summary's lines as blocks that wrap within the page, and the width of
    their label column (a wrapped line goes on under its value, not its label).
    Option names (``--border-laps``) are kept whole."""
    label = re.match(r"\S.*?\s{2,}", lines[0]) if lines else None
    blocks = (re.sub(r"\S*--[\w-]+\S*", r"<span>\g<0></span>", html.escape(line)) for line in lines)
    return "".join(f"<div>{block}</div>" for block in blocks), label.end() if label else 0


def render_page(plan: Plan, summary: Mapping[str, Any] | None = None,
                sessions: Sessions | None = None) -> str:
    """The page as one HTML text; with ``sessions``, the route session by session."""
    data = json.dumps(page_data(plan, summary, sessions), separators=(",", ":")).replace("</", "<\\/")
    name = html.escape(plan.garden.name or "mowing plan")
    summary_text, hang = _summary_markup(_summary_lines(summary))
    legend = "".join(f'<span><i style="background:{c}"></i>{html.escape(t)}</span>' for c, t in (
        ("#7aa35a", "area lanes"), ("#3b82c4", "perimeter laps"), ("#a0522d", "obstacle laps"),
        ("linear-gradient(90deg,hsl(250,75%,35%),hsl(50,75%,50%))", "route, start to end")
        if sessions is None else ("linear-gradient(90deg,hsl(0,70%,40%),hsl(137,70%,40%),hsl(275,70%,40%))",
                                  f"{len(sessions.sessions)} sessions, one colour each"),
        ("#1f4fd6", "transit (dashed)"), ("#e3342f", "unmown"), ("#d61fbf", "not reached")))
    return f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>{name}</title>
<meta name="viewport" content="width=device-width,initial-scale=1"><style>{_STYLE}</style></head>
<body><header><h1>{name}</h1>
<button id="play" type="button">play</button><input id="slider" type="range" min="0" value="0"><span id="step"></span>
<span id="legend">{legend}</span></header>
<div id="stage"><svg id="map" xmlns="http://www.w3.org/2000/svg" preserveAspectRatio="xMidYMid meet"></svg><div id="tip"></div></div>
<pre id="summary" style="--hang:{hang}ch">{summary_text}</pre>
<script type="application/json" id="plan-data">{data}</script>
<script>{_SCRIPT}</script>
</body></html>
"""


def write_page(path: str | Path, plan: Plan, summary: Mapping[str, Any] | None = None,
               sessions: Sessions | None = None) -> None:
    """Write the interactive page of the plan to ``path`` (see :func:`render_page`)."""
    Path(path).write_text(render_page(plan, summary, sessions), encoding="utf-8")

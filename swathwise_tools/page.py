"""An interactive page of a plan: one self-contained HTML file.

Nothing is loaded from the network: the plan travels inside the page as JSON
and a small script draws it as SVG.  The page zooms (mouse wheel) and pans
(drag), or by touch (one finger pans, two pinch), tells each piece's order in
the route, kind and length on hover, and plays the route with a slider in
minutes of the job (driving and turns, as the summary's job time).  It draws
what the picture draws, with the picture's legend: wires, start and end
marks, unmown gaps with their holes, and a scale bar that follows the zoom.
Coordinates are the planning frame's metres (x east, y north of the lawn
centre).

Once drawn, every layer is a ``<g id="layer-NAME" data-count="N">`` and the
body carries ``data-ready="1"``, which is what the tests look for.
"""

from __future__ import annotations

import html
import json
import math
import re
from pathlib import Path
from typing import Any, Iterable, Mapping, Sequence

from .angle import DEFAULT_TURN_TIME_S
from .frame import XY
from .plan import Plan
from .sessions import Sessions
from .summary import DEFAULT_SPEED, job_timeline


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
    speed = float(summary["speed"]) if summary is not None else DEFAULT_SPEED
    turn = float(summary["turnTime"]) if summary is not None and "turnTime" in summary else (
        plan.turn_time if plan.turn_time is not None else DEFAULT_TURN_TIME_S)
    arrivals, waits = job_timeline(plan, speed, turn)
    data: dict[str, Any] = {
        "name": garden.name or "mowing plan",
        "lawn": _pts(garden.lawn),
        "virtualWire": _pts(garden.virtual_wire or []),
        "dockingWire": _pts(garden.docking_wire or []),
        "end": _pts(plan.path[-1:])[0] if plan.path else None,
        "arrivals": [round(t, 2) for t in arrivals],
        "waits": [round(t, 2) for t in waits],
        "legend": legend(plan),
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
        data.update(_session_data(sessions))
    return data


def _session_data(sessions: Sessions) -> dict[str, Any]:
    """The route played session by session, each in its own colour; the
    slider's clock charges at the dock between two sessions."""
    path: list[XY] = []
    kinds: list[str] = []
    numbers: list[int] = []
    arrivals: list[float] = []
    waits: list[float] = []
    clock = 0.0
    for s in sessions.sessions:
        if path:  # the charge at the dock between two sessions
            kinds.append("transit")
            numbers.append(s.number)
            waits[-1] += sessions.charge_s
        for k, point in enumerate(s.path):
            if k or path:
                clock += waits[-1] + math.dist(path[-1], point) / sessions.speed
            path.append(point)
            arrivals.append(clock)
            waits.append(s.waits[k])
        kinds += ["mow" if m else "transit" for m in s.mowing]
        numbers += [s.number] * len(s.mowing)
    return {"path": _pts(path), "kinds": kinds, "sessions": numbers,
            "arrivals": [round(t, 2) for t in arrivals], "waits": [round(t, 2) for t in waits],
            "end": _pts(path[-1:])[0] if path else None}


# The picture's colours and legend, drawn alike on the page.
LEGEND_STYLE = {
    "lawn": "background:#cfe6b8;border:1px solid #4c7a34",
    "mow area": "border:1px dashed #2b6cb0",
    "obstacle": "background:#b59b7c;border:1px solid #5a4630",
    "planned area pieces": "background:#7aa35a;opacity:.6",
    "planned perimeter laps": "background:#3b82c4;opacity:.6",
    "planned obstacle laps": "background:#a0522d;opacity:.6",
    "unmown": "background:#e3342f",
    "transit": "border-top:2px dashed #1f4fd6;height:0",
    "route": "background:linear-gradient(90deg,hsl(250,75%,35%),hsl(50,75%,50%))",
    "not reached": "background:#d61fbf",
    "end": "background:#1c2e1c;border:1px solid #fff;width:9px;height:9px",
    "virtual wire": "border-top:2px dotted #ff8c00;height:0",
    "docking wire": "border-top:2px dashed #8e44ad;height:0",
    "start": "background:#ffd400;border:1px solid #000;width:9px;height:9px;border-radius:50%",
}


def legend(plan: Plan) -> list[list[str]]:
    """The picture's legend entries for this plan, as (label, style key) pairs."""
    garden = plan.garden
    kinds = {p.kind for p in plan.pieces}
    unreached = sum(1 for p in plan.pieces if not p.reached and p.points)
    entries = [("lawn", "lawn", True), ("mow area", "mow area", bool(garden.mow_areas)),
               ("obstacle", "obstacle", bool(garden.obstacles)),
               ("planned area pieces", "planned area pieces", "area" in kinds),
               ("planned perimeter laps", "planned perimeter laps", "perimeter" in kinds),
               ("planned obstacle laps", "planned obstacle laps", "obstacle" in kinds),
               (f"unmown ({plan.coverage.gap_area:.1f} m²)", "unmown", not plan.coverage.gaps.is_empty),
               ("transit", "transit", bool(plan.transit_stretches())),
               ("route, start to end", "route", len(plan.path) >= 2),
               ("end", "end", len(plan.path) >= 2),
               (f"not reached ({unreached})", "not reached", unreached > 0),
               ("virtual wire", "virtual wire", bool(garden.virtual_wire)),
               ("docking wire", "docking wire", bool(garden.docking_wire)),
               ("start", "start", True)]
    return [[label, key] for label, key, shown in entries if shown]


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
svg{width:100%;height:100%;cursor:grab;background:#eef2ea;touch-action:none}
#scalebar{position:absolute;left:12px;bottom:10px;pointer-events:none;font-size:12px}
#scalebar i{display:block;height:5px;background:#000;margin-bottom:2px}
#tip{position:absolute;pointer-events:none;background:#fff;border:1px solid #888;padding:3px 6px;border-radius:3px;display:none;white-space:nowrap}
#legend span{display:inline-block;margin-right:10px}
#legend i{display:inline-block;width:14px;height:6px;margin-right:4px;vertical-align:middle;box-sizing:border-box}
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
const wires = layer('wires', (D.virtualWire.length > 1 ? 1 : 0) + (D.dockingWire.length > 1 ? 1 : 0));
if (D.virtualWire.length > 1) el('polyline', {points: pts(D.virtualWire), fill: 'none', stroke: '#ff8c00', 'stroke-width': 2.2 * px, 'stroke-dasharray': 1 * px + ' ' + 3 * px, 'stroke-linecap': 'round'}, wires).dataset.tip = 'virtual wire';
if (D.dockingWire.length > 1) el('polyline', {points: pts(D.dockingWire), fill: 'none', stroke: '#8e44ad', 'stroke-width': 2.2 * px, 'stroke-dasharray': 8 * px + ' ' + 3 * px + ' ' + 2 * px + ' ' + 3 * px}, wires).dataset.tip = 'docking wire';
const marks = layer('marks', D.end ? 3 : 2);
if (D.end) el('rect', {x: D.end[0] - 4 * px, y: -D.end[1] - 4 * px, width: 8 * px, height: 8 * px, fill: '#1c2e1c', stroke: '#fff', 'stroke-width': px}, marks).dataset.tip = 'end';
el('polygon', {points: star(D.start, 8 * px), fill: '#ffd400', stroke: '#000', 'stroke-width': px}, marks).dataset.tip = 'start';
function star(c, r){ const out = []; for (let i = 0; i < 10; i++) { const a = Math.PI / 2 + i * Math.PI / 5, q = i % 2 ? r * 0.45 : r;
  out.push((c[0] + q * Math.cos(a)) + ',' + (-(c[1] + q * Math.sin(a)))); } return out.join(' '); }
const mower = el('circle', {cx: D.start[0], cy: -D.start[1], r: 4 * px, fill: '#111', stroke: '#fff', 'stroke-width': px}, marks);
mower.dataset.tip = 'mower';
/* The slider runs in minutes of the job: arrivals[k] is when the mower reaches */
/* path point k, waits[k] how long it turns there. */
const A = D.arrivals, W = D.waits, total = n >= 0 && A.length ? A[A.length - 1] + W[W.length - 1] : 0;
const slider = document.getElementById('slider'), play = document.getElementById('play'), step = document.getElementById('step');
slider.max = (total / 60).toFixed(2); slider.step = 'any'; slider.value = slider.max;
function clock(m){ const r = Math.round(m); return r < 60 ? r + ' min' : Math.floor(r / 60) + ' h ' + String(r % 60).padStart(2, '0') + ' min'; }
function where(t){ let lo = 0, hi = A.length - 1;
  while (lo < hi) { const mid = (lo + hi + 1) >> 1; if (A[mid] <= t) lo = mid; else hi = mid - 1; }
  const leave = A[lo] + W[lo];
  if (lo >= n || t <= leave) return [lo, D.path[lo]];
  const f = Math.min(1, (t - leave) / Math.max(A[lo + 1] - leave, 1e-9)), a = D.path[lo], b = D.path[lo + 1];
  return [lo + f, [a[0] + f * (b[0] - a[0]), a[1] + f * (b[1] - a[1])]]; }
function show(minutes){ const t = minutes * 60, [k, p] = n > 0 ? where(t) : [0, D.start];
  segs.forEach((s, i) => s.style.visibility = i < k ? 'visible' : 'hidden');
  mower.setAttribute('cx', p[0]); mower.setAttribute('cy', -p[1]);
  step.textContent = clock(minutes) + ' of ' + clock(total / 60); step.dataset.segments = Math.ceil(k); }
slider.addEventListener('input', () => show(+slider.value));
let timer = null;
play.addEventListener('click', () => { if (timer) { clearInterval(timer); timer = null; play.textContent = 'play'; return; }
  if (+slider.value >= +slider.max) slider.value = 0; play.textContent = 'pause';
  const by = +slider.max / 600;
  timer = setInterval(() => { slider.value = Math.min(+slider.max, +slider.value + by); show(+slider.value);
    if (+slider.value >= +slider.max) { clearInterval(timer); timer = null; play.textContent = 'play'; } }, 30); });
show(+slider.max);
/* The scale bar: a round length of about a sixth of the view, redrawn on every zoom. */
const bar = document.getElementById('scalebar');
function scale(){ const r = svg.getBoundingClientRect(), s = Math.max(view[2] / r.width, view[3] / r.height);
  const target = 140 * s, power = Math.pow(10, Math.floor(Math.log10(target)));
  const len = [1, 2, 5, 10].map(k => k * power).filter(v => v <= target).pop() || power;
  bar.querySelector('i').style.width = (len / s) + 'px'; bar.querySelector('span').textContent = (+len.toPrecision(3)) + ' m';
  bar.dataset.metres = len; }
function setView(){ svg.setAttribute('viewBox', view.join(' ')); scale(); }
setView();
function at(ev){ const r = svg.getBoundingClientRect(), s = Math.max(view[2] / r.width, view[3] / r.height);
  return [view[0] + (ev.clientX - r.left - (r.width - view[2] / s) / 2) * s, view[1] + (ev.clientY - r.top - (r.height - view[3] / s) / 2) * s, s]; }
function zoom(x, y, f){ view = [x - (x - view[0]) * f, y - (y - view[1]) * f, view[2] * f, view[3] * f]; setView(); }
svg.addEventListener('wheel', ev => { ev.preventDefault(); const [x, y] = at(ev); zoom(x, y, ev.deltaY > 0 ? 1.2 : 1 / 1.2); }, {passive: false});
/* Pointers (mouse, pen, fingers): one pans, two pinch about their midpoint. */
const down = new Map();
let grip = null;
function gripOf(){ const ps = [...down.values()];
  if (ps.length === 1) return {at: at(ps[0])};
  const m = {clientX: (ps[0].clientX + ps[1].clientX) / 2, clientY: (ps[0].clientY + ps[1].clientY) / 2};
  return {at: at(m), gap: Math.hypot(ps[0].clientX - ps[1].clientX, ps[0].clientY - ps[1].clientY), view: view.slice(), mid: m}; }
svg.addEventListener('pointerdown', ev => { if (down.size >= 2) return; down.set(ev.pointerId, ev);
  try { svg.setPointerCapture(ev.pointerId); } catch (e) {}
  grip = gripOf(); svg.style.cursor = 'grabbing'; });
function release(ev){ if (!down.delete(ev.pointerId)) return; grip = down.size ? gripOf() : null; if (!grip) svg.style.cursor = 'grab'; }
svg.addEventListener('pointerup', release); svg.addEventListener('pointercancel', release);
svg.addEventListener('pointermove', ev => { const t = ev.target.dataset && ev.target.dataset.tip;
  const r = document.getElementById('stage').getBoundingClientRect();
  if (t && !down.size) { tip.textContent = t; tip.style.display = 'block'; tip.style.left = (ev.clientX - r.left + 12) + 'px'; tip.style.top = (ev.clientY - r.top + 12) + 'px'; }
  else tip.style.display = 'none';
  if (!down.has(ev.pointerId) || !grip) return;
  down.set(ev.pointerId, ev);
  if (down.size === 1) { const [x, y] = at(ev); view[0] += grip.at[0] - x; view[1] += grip.at[1] - y; setView(); return; }
  const ps = [...down.values()], gap = Math.hypot(ps[0].clientX - ps[1].clientX, ps[0].clientY - ps[1].clientY);
  const m = {clientX: (ps[0].clientX + ps[1].clientX) / 2, clientY: (ps[0].clientY + ps[1].clientY) / 2};
  /* The point under the fingers' first midpoint stays under their midpoint now. */
  const f = grip.gap / Math.max(gap, 1), [gx, gy] = grip.at, v = grip.view;
  view = [gx - (gx - v[0]) * f, gy - (gy - v[1]) * f, v[2] * f, v[3] * f];
  const [x, y] = at(m); view[0] += gx - x; view[1] += gy - y; setView(); });
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
    legend_markup = "".join(f'<span><i style="{LEGEND_STYLE[key]}"></i>{html.escape(label)}</span>'
                            for label, key in legend(plan))
    if sessions is not None:
        legend_markup += ('<span><i style="background:linear-gradient(90deg,hsl(0,70%,40%),hsl(137,70%,40%),'
                          f'hsl(275,70%,40%))"></i>{len(sessions.sessions)} sessions, one colour each</span>')
    return f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>{name}</title>
<meta name="viewport" content="width=device-width,initial-scale=1"><style>{_STYLE}</style></head>
<body><header><h1>{name}</h1>
<button id="play" type="button">play</button><input id="slider" type="range" min="0" value="0"><span id="step"></span>
<span id="legend">{legend_markup}</span></header>
<div id="stage"><svg id="map" xmlns="http://www.w3.org/2000/svg" preserveAspectRatio="xMidYMid meet"></svg><div id="tip"></div><div id="scalebar"><i></i><span></span></div></div>
<pre id="summary" style="--hang:{hang}ch">{summary_text}</pre>
<script type="application/json" id="plan-data">{data}</script>
<script>{_SCRIPT}</script>
</body></html>
"""


def write_page(path: str | Path, plan: Plan, summary: Mapping[str, Any] | None = None,
               sessions: Sessions | None = None) -> None:
    """Write the interactive page of the plan to ``path`` (see :func:`render_page`)."""
    Path(path).write_text(render_page(plan, summary, sessions), encoding="utf-8")

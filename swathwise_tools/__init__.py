"""Companion tools for the swathwise planner, one way through.

``garden`` (any source and CRS in, a Garden in true metres out) ->
``settings`` (typed, degrees) -> ``plan`` (the one call of the module; a Plan
with shapely pieces and GIS output) -> ``summary`` -> outputs (``route``,
``picture``, ``cli``, the ``swathwise`` command).
"""

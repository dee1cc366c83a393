"""Companion tools for the swathwise planner, one way through.

``garden`` (any source and CRS in, a Garden in true metres out) ->
``settings`` (typed, degrees) -> ``plan`` (the one call of the module; a Plan
with shapely pieces and GIS output) -> ``summary`` -> outputs (``route``,
``picture``, ``cli``, the ``swathwise`` command).
"""

# The native companion module (_native) is built with the package and
# installed beside it.  Where this package is imported from a source checkout
# (a test run from the repository's root), its modules are looked up in the
# installed package's folder too, so that _native is found there.
from pkgutil import extend_path

__path__ = extend_path(__path__, __name__)

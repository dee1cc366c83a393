"""Calls that fail at run time; the type checker must reject each marked line."""

import swathwise as sw

sw.Point(1)  # reject
sw.Point("1", 2)  # reject
sw.Point(x=1, y=2)  # reject
sw.LineString([(0, 0), (1, 1)])  # reject
sw.Environment(sw.LineString())  # reject
sw.Environment()  # reject
settings = sw.PathSettings()
settings.borderLaps = 2.0  # reject
settings.pattern = 3  # reject
settings.offsett = 0.5  # reject
sw.PathService().computeFullTask(sw.Environment(sw.Polygon()), settings)  # reject
sw.mowGarden()  # reject

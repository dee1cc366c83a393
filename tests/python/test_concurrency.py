"""Several Python threads planning at once get the results of sequential calls."""
import threading

import swathwise as sw

from conftest import coords, polygon


def garden(k):
    w = 12 + k
    env = sw.Environment(polygon((0, 0), (w, 0), (w, 9), (w / 2, 12), (0, 9)))
    env.addObstacle(polygon((3, 3), (5, 3), (5, 5), (3, 5)))
    env.addObstacle(polygon((w - 4, 2), (w - 2, 2), (w - 3, 6)))
    env.setVirtualWire(sw.LineString([sw.Point(1, 1), sw.Point(w - 1, 1)]))
    return env


def snapshot(result):
    return (coords(result.path.getPoints()), [coords(s.getPoints()) for s in result.slices])


def test_eight_threads_match_sequential_results():
    service = sw.PathService()
    settings = sw.PathSettings()
    settings.offset = 0.4
    settings.angle = 0.3
    gardens = [garden(k) for k in range(8)]
    starts = [sw.Point(0.5 + k * 0.1, 0.5) for k in range(8)]
    expected = [snapshot(service.computeFullTask(g, settings, s))
                for g, s in zip(gardens, starts)]
    before = [coords(g.getPerimeter().getPoints()) for g in gardens]

    got = [None] * 8
    barrier = threading.Barrier(8)

    def work(k):
        barrier.wait()
        for _ in range(3):
            got[k] = snapshot(service.computeFullTask(gardens[k], settings, starts[k]))

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == expected
    assert [coords(g.getPerimeter().getPoints()) for g in gardens] == before
    assert (settings.offset, settings.angle, settings.pattern) == (0.4, 0.3, "lines")

"""Ten thousand planning calls leave the process no bigger than a few hundred did."""
import gc
import os

import pytest
import swathwise as sw

from conftest import polygon


def resident_kib():
    with open(f"/proc/{os.getpid()}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
@pytest.mark.skipif("LD_PRELOAD" in os.environ, reason="the sanitizer runtime keeps freed memory")
def test_repeated_calls_do_not_grow_the_process():
    env = sw.Environment(polygon((0, 0), (12, 0), (12, 8), (6, 11), (0, 8)))
    env.addObstacle(polygon((3, 3), (5, 3), (5, 5), (3, 5)))
    env.setVirtualWire(sw.LineString([sw.Point(1, 1), sw.Point(11, 1)]))
    s = sw.PathSettings()
    s.offset = 1.0
    service = sw.PathService()

    def calls(n):
        for k in range(n):
            s.pattern = ("lines", "squares", "rings")[k % 3]
            r = service.computeFullTask(env, s, sw.Point(1, 1))
            r.slices = r.slices  # exercise the replaced-slices keeping too
            assert r.path.getPoints()

    calls(1000)
    gc.collect()
    before = resident_kib()
    calls(10_000)
    gc.collect()
    grown = resident_kib() - before
    assert grown < 4096, f"grew by {grown} KiB over 10000 calls"


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
@pytest.mark.skipif("LD_PRELOAD" in os.environ, reason="the sanitizer runtime keeps freed memory")
def test_replaced_slice_lists_are_freed():
    env = sw.Environment(polygon((0, 0), (40, 0), (40, 40), (0, 40)))
    s = sw.PathSettings()
    r = sw.PathService().computeFullTask(env, s, sw.Point(1, 1))
    for _ in range(1000):
        r.slices = r.slices
    gc.collect()
    before = resident_kib()
    for _ in range(20_000):
        r.slices = r.slices
    gc.collect()
    grown = resident_kib() - before
    assert grown < 4096, f"grew by {grown} KiB over 20000 assignments"

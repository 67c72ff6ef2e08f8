"""A 6000 x 6000 picture: rows in constant memory, Dask over row chunks."""
import os
import subprocess
import sys

import numpy as np
import pytest
from osgeo import gdal

import vtfmt
import vtfmt.dask

SIZE = 6000


def pattern(y0, rows, width, bands):
    y, x = np.mgrid[y0:y0 + rows, 0:width]
    return np.stack([(x * 7 + y * 3 + b * 101) % 251 for b in range(bands)], -1).astype(np.uint8)


@pytest.fixture(scope="module", params=["GTiff", "BMP"])
def big_picture(request, tmp_path_factory):
    """A 6000 x 6000 RGB file written a band of rows at a time."""
    path = str(tmp_path_factory.mktemp("big") / ("big.tif" if request.param == "GTiff" else "big.bmp"))
    ds = gdal.GetDriverByName(request.param).Create(path, SIZE, SIZE, 3, gdal.GDT_Byte)
    for y0 in range(0, SIZE, 500):
        block = pattern(y0, 500, SIZE, 3)
        for b in range(3):
            ds.GetRasterBand(b + 1).WriteArray(block[..., b], 0, y0)
    ds = None
    return path


PEAK = """
import resource, sys
import numpy, vtfmt
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
total = 0
with vtfmt.open(sys.argv[1]) as r:
    for row in r.rows():
        total += int(row.sum(dtype=numpy.uint64))
print(base, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, total)
"""


def test_rows_keep_memory_flat(big_picture):
    out = subprocess.run([sys.executable, "-c", PEAK, big_picture], capture_output=True, text=True, check=True,
                         env=dict(os.environ))
    base_kib, peak_kib, total = (int(v) for v in out.stdout.split())
    image_kib = SIZE * SIZE * 3 // 1024
    # The image is 105 MiB; iterating its rows may add a few rows' worth.
    assert peak_kib - base_kib < image_kib // 10, (base_kib, peak_kib)
    expected = sum(int(pattern(y0, 500, SIZE, 3).sum(dtype=np.uint64)) for y0 in range(0, SIZE, 500))
    assert total == expected


def test_dask_mean_and_histogram_equal_numpy(big_picture):
    import dask.array as da

    whole = np.moveaxis(gdal.Open(big_picture).ReadAsArray(), 0, -1)
    lazy = vtfmt.dask.open(big_picture, chunk_rows=700)
    assert lazy.shape == whole.shape and lazy.dtype == whole.dtype
    assert lazy.chunks[0] == (700,) * 8 + (400,)
    mean, (counts, edges) = da.compute(lazy.mean(), da.histogram(lazy, bins=32, range=(0, 256)))
    assert mean == pytest.approx(whole.mean(), rel=1e-12)
    np_counts, np_edges = np.histogram(whole, bins=32, range=(0, 256))
    np.testing.assert_array_equal(counts, np_counts)
    np.testing.assert_array_equal(edges, np_edges)
    # A band of rows through the graph equals the same rows read directly.
    np.testing.assert_array_equal(lazy[2990:3010].compute(), whole[2990:3010])


def test_dask_processes_scheduler(tmp_path):
    # Only the path travels to the worker processes; each opens the file.
    data = pattern(0, 300, 200, 1)[..., 0]
    path = str(tmp_path / "g.tif")
    vtfmt.write(path, data)
    lazy = vtfmt.dask.open(path, chunk_rows=64)
    np.testing.assert_array_equal(lazy.compute(scheduler="processes", num_workers=2), data)
    assert lazy.sum().compute(scheduler="processes", num_workers=2) == data.sum()
    with pytest.raises(ValueError):
        vtfmt.dask.open(path, chunk_rows=0)

"""Shared fixtures: files written by GDAL, the bundled samples."""
import os

import numpy as np
import pytest
from osgeo import gdal

gdal.UseExceptions()

SAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "samples")


def sample(name):
    return os.path.join(SAMPLES, name)


def gdal_write(path, driver, array, geotransform=None, nodata=None, palette=None, options=()):
    """Writes a (rows, columns[, bands]) array with GDAL's `driver`, through an
    in-memory copy for drivers that only copy."""
    array = np.asarray(array)
    bands = array.shape[2] if array.ndim == 3 else 1
    gdal_type = gdal.GetDataTypeByName({"uint8": "Byte", "uint16": "UInt16", "int16": "Int16", "int32": "Int32",
                                        "float32": "Float32", "float64": "Float64"}[array.dtype.name])
    mem = gdal.GetDriverByName("MEM").Create("", array.shape[1], array.shape[0], bands, gdal_type)
    for b in range(bands):
        band = mem.GetRasterBand(b + 1)
        band.WriteArray(array[..., b] if array.ndim == 3 else array)
        if nodata is not None:
            band.SetNoDataValue(nodata)
    if geotransform:
        mem.SetGeoTransform(geotransform)
    if palette is not None:
        table = gdal.ColorTable()
        for i, entry in enumerate(palette):
            table.SetColorEntry(i, tuple(int(v) for v in entry[:3]) + (255,))
        mem.GetRasterBand(1).SetColorTable(table)
    gdal.GetDriverByName(driver).CreateCopy(path, mem, options=list(options))
    return path


def gdal_read(path):
    """GDAL's array of the file with its bands last."""
    array = gdal.Open(path).ReadAsArray()
    return np.ascontiguousarray(np.moveaxis(array, 0, -1)) if array.ndim == 3 else array


@pytest.fixture
def rng():
    return np.random.default_rng(20261207)

"""Colour arrays of the Python module: files whose rows are stored blue first
(bitmaps, bottom row first, and PNG rows as our reader hands them on) come
out red first and top first, whole, in row ranges and row by row, at widths
that end a row on any byte of a word.

    PYTHONPATH=build/python /usr/bin/python3 tests/python/test_colour_arrays.py
"""
import os
import shutil
import tempfile
import unittest

import numpy as np
from osgeo import gdal

import vtfmt

gdal.UseExceptions()


def write_with_gdal(path, driver, picture):
    height, width, bands = picture.shape
    mem = gdal.GetDriverByName("MEM").Create("", width, height, bands, gdal.GDT_Byte)
    for band in range(bands):
        mem.GetRasterBand(band + 1).WriteArray(picture[..., band])
    gdal.GetDriverByName(driver).CreateCopy(path, mem)


class ColourArrays(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vtfmt-pytest-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_rows_come_red_first_and_top_first(self):
        rng = np.random.default_rng(7)
        for driver, bands in (("BMP", 3), ("PNG", 3), ("PNG", 4)):
            for width in (1, 2, 3, 5, 8, 33):
                with self.subTest(driver=driver, bands=bands, width=width):
                    picture = rng.integers(0, 256, (4, width, bands), dtype=np.uint8)
                    path = os.path.join(self.dir, f"p{width}x{bands}.{driver.lower()}")
                    write_with_gdal(path, driver, picture)
                    with vtfmt.open(path) as r:
                        self.assertEqual(r.shape, picture.shape)
                        np.testing.assert_array_equal(r.read(), picture)
                        np.testing.assert_array_equal(r.read(rows=(1, 3)), picture[1:3])
                        np.testing.assert_array_equal(np.stack(list(r.rows())), picture)


if __name__ == "__main__":
    unittest.main()

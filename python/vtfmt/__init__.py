"""vtfmt: raster files as numpy arrays, E00 interchange, GML and text.

    import vtfmt
    with vtfmt.open("hill.bil") as r:
        heights = r.read()               # picture order: top row first
    vtfmt.write("hill.asc", heights, bounds=r.bounds)

Arrays are (rows, columns) for single samples and (rows, columns, samples)
for colours, red first; grids keep their cell type. Failures of a file
raise vtfmt.Error with the library's message; bad arguments raise
ValueError.
"""
import os

import numpy as _np

from ._vtfmt import Error, formats
from . import _vtfmt

__all__ = ["Error", "RowRangeError", "Reader", "formats", "open", "write"]

Error.__module__ = "vtfmt"


class RowRangeError(ValueError, IndexError):
    """rows=(start, stop) outside the image: a ValueError, and an IndexError
    as it was before."""


def _path(path):
    """A path as the library takes it: its bytes, whatever they are, but
    never a NUL, which would cut the name short (ValueError, as open())."""
    path = os.fsencode(path)
    if b"\0" in path:
        raise ValueError("embedded null byte in path")
    return path


class Reader:
    """An open raster file. Use it as a context manager, or call close()."""

    def __init__(self, handle, path):
        self._handle = handle
        self.path = path

    driver = property(lambda self: self._handle.driver, doc="name of the driver that reads the file")
    width = property(lambda self: self._handle.width)
    height = property(lambda self: self._handle.height)
    bands = property(lambda self: self._handle.bands, doc="samples a pixel")
    dtype = property(lambda self: self._handle.dtype, doc="numpy type of the samples")
    pixel_format = property(lambda self: self._handle.pixel_format, doc="the library's pixel format, as vtfmt info")
    row_order = property(lambda self: self._handle.row_order, doc="'top-down' or 'bottom-up': the file's row order")
    bounds = property(lambda self: self._handle.bounds, doc="(left, top, right, bottom), or None")
    nodata = property(lambda self: self._handle.nodata, doc="the value of cells without data, or None")
    palette = property(lambda self: self._handle.palette, doc="N x 4 uint8 (red, green, blue, 255), or None")

    @property
    def shape(self):
        return (self.height, self.width) + ((self.bands,) if self.bands > 1 else ())

    def read(self, rows=None):
        """The image, or the picture rows range(start, stop) of rows=(start, stop)."""
        start, stop = (0, self.height) if rows is None else (int(v) for v in rows)
        if not 0 <= start <= stop <= self.height:
            raise RowRangeError(f"rows ({start}, {stop}) are not within (0, {self.height})")
        return self._handle._read(start, stop)

    def rows(self):
        """An iterator of the picture rows, top first, one array each."""
        return self._handle._rows()

    def close(self):
        self._handle.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        return f"<vtfmt.Reader {self.path!r} driver={self.driver} shape={self.shape} dtype={self.dtype}>"


def open(path, driver=None, **options):
    """Opens a raster file with the named driver, or the one that recognises it.
    Keyword options go to the driver, as vtfmt's -oo KEY=VALUE."""
    return Reader(_vtfmt._open(_path(path), driver, **options), os.fsdecode(path))


def write(path, array, driver=None, bounds=None, palette=None, **options):
    """Writes an array through the named driver, or the one that claims the
    extension: uint8 (grey or indexed with `palette`, or rows x columns x 3
    or 4 colours), uint16, int16, int32, float32 and float64 cells."""
    array = _np.asarray(array)
    if array.dtype == _np.bool_:
        array = array.astype(_np.uint8)
    elif not array.dtype.isnative:
        array = array.astype(array.dtype.newbyteorder("="))
    if bounds is not None:
        bounds = [float(v) for v in bounds]  # the module refuses NaN and infinity
    if palette is not None:
        palette = _np.asarray(palette)
    _vtfmt._write(_path(path), array, driver, bounds, palette, **options)

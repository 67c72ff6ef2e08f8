"""E00 interchange files, plain or compressed, in one volume or several."""
import os

from . import _vtfmt


def open(path):
    """An iterator of the plain lines of the set (without line ends), read
    across its volumes and decompressed."""
    return _vtfmt._e00_open(os.fsencode(path))


def write(path, lines, level="full"):
    """Writes the lines (the first is the header, "EXP ...") as an E00 set
    compressed at `level`: "none", "partial" or "full"."""
    _vtfmt._e00_write(os.fsencode(path), lines, level)

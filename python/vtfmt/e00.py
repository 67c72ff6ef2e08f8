"""E00 interchange files, plain or compressed, in one volume or several."""
from . import _path, _vtfmt


def open(path):
    """An iterator of the plain lines of the set (without line ends), read
    across its volumes and decompressed."""
    return _vtfmt._e00_open(_path(path))


def write(path, lines, level="full"):
    """Writes the lines (the first is the header, "EXP ...") as an E00 set
    compressed at `level`: "none", "partial" or "full"."""
    _vtfmt._e00_write(_path(path), lines, level)

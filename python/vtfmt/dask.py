"""Rasters as Dask arrays whose chunks are ranges of rows. Each chunk opens
the file by itself and reads only its rows, so any Dask scheduler (threads,
processes, a distributed cluster) can run them; only the path travels."""
import os

import dask.array as _da
from dask.base import tokenize as _tokenize
from dask.highlevelgraph import HighLevelGraph as _HighLevelGraph

import vtfmt as _vtfmt

# Rows a chunk takes when not told: about this many bytes.
_CHUNK_BYTES = 64 << 20


def _read_rows(path, driver, options, start, stop):
    with _vtfmt.open(path, driver, **options) as reader:
        return reader.read(rows=(start, stop))


def open(path, chunk_rows=None, driver=None, **options):
    """A dask.array of the raster at `path`, chunked by `chunk_rows` rows."""
    path = os.fsdecode(os.fspath(path))
    with _vtfmt.open(path, driver, **options) as reader:
        height, width, bands, dtype = reader.height, reader.width, reader.bands, reader.dtype
    row_bytes = width * bands * dtype.itemsize
    if chunk_rows is None:
        chunk_rows = max(1, _CHUNK_BYTES // max(row_bytes, 1))
    chunk_rows = int(chunk_rows)
    if chunk_rows < 1:
        raise ValueError("chunk_rows must be at least 1")
    starts = range(0, height, chunk_rows)
    row_chunks = tuple(min(chunk_rows, height - s) for s in starts)
    chunks = (row_chunks, (width,)) + (((bands,),) if bands > 1 else ())
    stat = os.stat(path)
    name = "vtfmt-" + _tokenize(path, stat.st_mtime_ns, stat.st_size, driver, options, chunk_rows)
    tail = (0, 0) if bands > 1 else (0,)
    layer = {(name, i) + tail: (_read_rows, path, driver, options, s, s + n)
             for i, (s, n) in enumerate(zip(starts, row_chunks))}
    graph = _HighLevelGraph.from_collections(name, layer, dependencies=())
    return _da.Array(graph, name, chunks, dtype=dtype)

#!/usr/bin/python3
"""Throughput of the Python module's reads beside GDAL's, in one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_read.py [--passes N] [--size N]

Writes a size x size RGB bitmap and an uncompressed stripped GeoTIFF (as
GDAL writes them by default) into a temporary directory, then times, best
of N passes, each from opening the file to holding the array:

  read         vtfmt.open(p).read()      ds.ReadAsArray(interleave='pixel')
  rows         for row in r.rows()       ReadAsArray one row at a time
  chunks       r.read(rows=(y, y + n))   ReadAsArray n rows at a time
  2 threads    one reader a thread, each reading half of the rows, both ways

GDAL's arrays are the same bands-last (rows, columns, 3) arrays ours are:
ReadAsArray(interleave='pixel'). Before timing, both arrays of each file are
checked to be equal. One line a case: both throughputs in MB/s of array
bytes and the ratio ours / GDAL's (above 1 means we are faster).
"""
import argparse
import os
import shutil
import sys
import tempfile
import threading
import time

import numpy as np
from osgeo import gdal

import vtfmt

CHUNK_ROWS = 256


def best_seconds(passes, run):
    best = float("inf")
    for _ in range(passes):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def report(what, nbytes, ours, theirs):
    print(f"{what:<34} vtfmt {nbytes / ours / 1e6:8.1f} MB/s   GDAL {nbytes / theirs / 1e6:8.1f} MB/s"
          f"   ratio {theirs / ours:.2f}", flush=True)


def make_files(directory, size):
    """An RGB picture of varied samples, as a bitmap and as a GeoTIFF."""
    y, x = np.mgrid[0:size, 0:size].astype(np.uint32)
    picture = np.empty((size, size, 3), np.uint8)
    picture[..., 0] = (x * 7 + y * 13) & 0xFF
    picture[..., 1] = (x * 3 ^ y * 5) & 0xFF
    picture[..., 2] = (x + y * 11) & 0xFF
    mem = gdal.GetDriverByName("MEM").Create("", size, size, 3, gdal.GDT_Byte)
    mem.SetGeoTransform([500000.0, 10.0, 0.0, 4200000.0, 0.0, -10.0])
    for band in range(3):
        mem.GetRasterBand(band + 1).WriteArray(picture[..., band])
    paths = {}
    for name, driver in (("bmp", "BMP"), ("tiff", "GTiff")):
        path = os.path.join(directory, "picture." + ("bmp" if name == "bmp" else "tif"))
        gdal.GetDriverByName(driver).CreateCopy(path, mem)
        paths[name] = path
    return paths


# Whole-image reads, each from open to array.
def ours_read(path):
    with vtfmt.open(path) as r:
        return r.read()


def gdal_read(path):
    return gdal.Open(path).ReadAsArray(interleave="pixel")


def ours_rows(path):
    with vtfmt.open(path) as r:
        for _ in r.rows():
            pass


def gdal_rows(path):
    ds = gdal.Open(path)
    for y in range(ds.RasterYSize):
        ds.ReadAsArray(0, y, ds.RasterXSize, 1, interleave="pixel")


def ours_chunks(path):
    with vtfmt.open(path) as r:
        for y in range(0, r.height, CHUNK_ROWS):
            r.read(rows=(y, min(y + CHUNK_ROWS, r.height)))


def gdal_chunks(path):
    ds = gdal.Open(path)
    for y in range(0, ds.RasterYSize, CHUNK_ROWS):
        ds.ReadAsArray(0, y, ds.RasterXSize, min(CHUNK_ROWS, ds.RasterYSize - y), interleave="pixel")


def ours_half(path, start, stop):
    with vtfmt.open(path) as r:
        r.read(rows=(start, stop))


def gdal_half(path, start, stop):
    ds = gdal.Open(path)
    ds.ReadAsArray(0, start, ds.RasterXSize, stop - start, interleave="pixel")


def threaded(read_half, height):
    """A run of `read_half` on two threads, each its own reader of half the rows."""
    halves = [(0, height // 2), (height // 2, height)]

    def run(path):
        failures = []

        def work(start, stop):
            try:
                read_half(path, start, stop)
            except Exception as e:  # reported once both threads are done
                failures.append(e)

        threads = [threading.Thread(target=work, args=h) for h in halves]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        if failures:
            raise failures[0]

    return run


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--passes", type=int, default=5)
    parser.add_argument("--size", type=int, default=6000)
    args = parser.parse_args()
    if args.passes < 1 or args.size < 2:
        parser.error("--passes must be at least 1 and --size at least 2")
    gdal.UseExceptions()
    directory = tempfile.mkdtemp(prefix="vtfmt-pybench-")
    try:
        paths = make_files(directory, args.size)
        nbytes = args.size * args.size * 3
        status = 0
        for name, path in paths.items():
            ours, theirs = ours_read(path), gdal_read(path)
            if ours.shape != theirs.shape or not np.array_equal(ours, theirs):
                print(f"python {name}: vtfmt and GDAL read different arrays", file=sys.stderr)
                status = 1
                continue
            del ours, theirs
            cases = (
                ("read", ours_read, gdal_read),
                ("rows", ours_rows, gdal_rows),
                (f"chunks of {CHUNK_ROWS} rows", ours_chunks, gdal_chunks),
                ("2 threads", threaded(ours_half, args.size), threaded(gdal_half, args.size)),
            )
            seconds = {}
            for case, ours_run, gdal_run in cases:
                seconds[case] = (best_seconds(args.passes, lambda: ours_run(path)),
                                 best_seconds(args.passes, lambda: gdal_run(path)))
                report(f"python {name} {case}", nbytes, *seconds[case])
            # Above 1: two threads read the image faster than one.
            (one_ours, one_gdal), (two_ours, two_gdal) = seconds["read"], seconds["2 threads"]
            print(f"{'':34} 2 threads / 1: vtfmt {one_ours / two_ours:.2f}   GDAL {one_gdal / two_gdal:.2f}",
                  flush=True)
        return status
    finally:
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

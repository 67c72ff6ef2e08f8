"""Reads and writes through the Python module on many threads at once, for a
run under ThreadSanitizer (scripts/tsan-threads runs it). Every raster kind
the raster suite makes with GDAL, and the bundled samples, is read by 8
threads together; bmp, tif, png, gif, jpg and asc files are written by 8
threads together; one reader and one iterator of its rows, and one of an
E00 set's lines, are shared by all threads; E00 sets, GML and text
are converted on several threads, failures included; ASCII grids of
several megabytes are read together, each parsed on threads of its own.
Threads start each round together, the first round before anything has
been read, so that tables built on first use are built on several threads
at once. Results are checked against a single-threaded pass afterwards."""
import concurrent.futures
import os
import re
import shutil
import sys
import tempfile
import threading

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "python"))

import vtfmt  # noqa: E402
import vtfmt.e00  # noqa: E402
import vtfmt.gml  # noqa: E402
import vtfmt.text  # noqa: E402
from conftest import gdal_write, sample  # noqa: E402
from test_raster import GDAL_FILES, GT, image, palette  # noqa: E402

THREADS = 8
SCALE = 6  # pictures 6 times the suite's on each side: reads overlap in time
SAMPLES = ["plasma-rle8.bmp", "plasma.gif", "plasma-trns.png", "plasma-progressive.jpg", "plasma.jp2",
           "hill-aig", "hill.bil", "hill-hfa.img", "hill.asc", "hill.nsdtf", "dem.bmp", "dem-feet.tif"]


def together(pool, fn, jobs):
    """fn(job) for every job, THREADS at a time, each batch released at once."""
    results = []
    for i in range(0, len(jobs), THREADS):
        batch = jobs[i:i + THREADS]
        gate = threading.Barrier(len(batch))

        def run(job):
            gate.wait()
            return fn(job)

        results += list(pool.map(run, batch))
    return results


def read_all(path):
    try:
        with vtfmt.open(path) as r:
            whole = r.read()
            rows = np.stack(list(r.rows()))
            part = r.read(rows=(r.height // 3, r.height // 2))
            return whole, rows, part, r.bounds, r.nodata, r.palette
    except (vtfmt.Error, ValueError) as e:
        return str(e).replace(path, "<path>")


def same(a, b):
    assert type(a) is type(b), (a, b)
    if isinstance(a, str):
        # GDAL's messages may name its file handles.
        a, b = (re.sub(r"0x[0-9a-f]+", "0x", m) for m in (a, b))
        assert a == b, (a, b)
        return
    for x, y in zip(a, b):
        if isinstance(x, np.ndarray) or isinstance(y, np.ndarray):
            np.testing.assert_array_equal(x, y)
        else:
            assert x == y, (x, y)


def e00_job(job):
    kind, path, out = job
    try:
        if kind == "read":
            with vtfmt.e00.open(path) as lines:
                return list(lines)
        lines = list(vtfmt.e00.open(path))
        vtfmt.e00.write(out, iter(lines), level=kind)
        with vtfmt.e00.open(out) as back:
            return list(back)
    except vtfmt.Error as e:
        return str(e).replace(path, "<path>")


def gml_job(job):
    kind, source, target = job
    try:
        return (vtfmt.gml.export if kind == "export" else vtfmt.gml.import_)(source, target)
    except (vtfmt.Error, ValueError) as e:
        return str(e).replace(source, "<path>")


def text_job(job):
    data, src, dst = job
    try:
        return vtfmt.text.convert(data, src, dst)
    except (vtfmt.Error, ValueError) as e:
        return str(e)


def main():
    rng = np.random.default_rng(11)
    folder = tempfile.mkdtemp(prefix="vtfmt-tsan-")
    paths = []
    for name, driver, dtype, shape, options, _ in GDAL_FILES:
        big = (shape[0] * SCALE, shape[1] * SCALE) + shape[2:]
        paths.append(gdal_write(os.path.join(folder, name), driver, image(rng, dtype, big), GT, options=options))
    indices = rng.integers(0, 16, (29 * SCALE, 47 * SCALE), dtype=np.uint8)
    for name, driver in (("indexed.bmp", "BMP"), ("indexed.gif", "GIF"), ("indexed.tif", "GTiff")):
        paths.append(gdal_write(os.path.join(folder, name), driver, indices, palette=palette(16)))
    paths += [sample(s) for s in SAMPLES]
    # Failures: no file, not a raster, cut short.
    with open(os.path.join(folder, "notes.txt"), "w") as f:
        f.write("not a raster\n")
    for name in ("rgb.bmp", "rgb.png", "rgb.tif", "rgb.jpg", "f32.img", "rgb.jp2"):
        cut = os.path.join(folder, "cut-" + name)
        with open(os.path.join(folder, name), "rb") as src, open(cut, "wb") as dst:
            dst.write(src.read()[:600])
        paths.append(cut)
    paths += [os.path.join(folder, "notes.txt"), os.path.join(folder, "missing.tif")]

    with open(sample("roads.e00"), "rb") as src, open(os.path.join(folder, "cut.e00"), "wb") as dst:
        dst.write(src.read()[:1500])
    out = os.path.join(folder, "out")
    os.mkdir(out)
    with concurrent.futures.ThreadPoolExecutor(max_workers=THREADS) as pool:
        # First use on all threads at once: E00 sets read, written at each
        # level, one cut short and one missing.
        e00 = []
        for i in range(THREADS):
            e00.append(("read", sample("roads.e00"), None))
            e00.append((("none", "partial", "full")[i % 3], sample("roads.e00"), os.path.join(out, f"{i}.e00")))
            e00.append(("read", os.path.join(folder, ("missing.e00", "cut.e00")[i % 2]), None))
        parallel = together(pool, e00_job, e00)
        expected = {job[1]: e00_job(("read", job[1], None)) for job in e00}
        for job, got in zip(e00, parallel):
            assert got == expected[job[1]], job
        # One set's lines drained by all threads together: each line once.
        with vtfmt.e00.open(sample("roads.e00")) as lines:
            got = sum(together(pool, lambda _: list(lines), list(range(THREADS))), [])
        assert sorted(got) == sorted(expected[sample("roads.e00")])

        # Rasters, also first read on all threads at once: every kind
        # mixed, then each kind on all threads.
        mixed = together(pool, read_all, paths)
        each = {p: together(pool, read_all, [p] * THREADS) for p in paths}
        for p, got in zip(paths, mixed):
            expected = read_all(p)
            same(got, expected)
            for other in each[p]:
                same(other, expected)

        # One reader shared by threads, reading ranges.
        for p in paths[:len(GDAL_FILES):3]:
            with vtfmt.open(p) as r:
                whole = r.read()
                spans = [(s, min(s + 16, r.height)) for s in range(0, r.height, 16)]
                for (s, e), part in zip(spans, together(pool, lambda span: r.read(rows=span), spans)):
                    np.testing.assert_array_equal(part, whole[s:e])
                # And its row iterator drained by all threads: each row once.
                rows = r.rows()
                got = sum(together(pool, lambda _: [row.tobytes() for row in rows], list(range(THREADS))), [])
                assert sorted(got) == sorted(row.tobytes() for row in whole), p

        # Writers on all threads at once, each file read back.
        rgb = image(rng, "uint8", (23 * SCALE, 31 * SCALE, 3))
        grid = image(rng, "float32", (23 * SCALE, 31 * SCALE))
        grey = image(rng, "uint8", (23 * SCALE, 31 * SCALE))
        cases = {"bmp": rgb, "tif": rgb, "png": rgb, "gif": rgb, "jpg": rgb, "asc": grid,
                 "p.png": grey, "p.bmp": grey, "p.tif": grey, "g.tif": grid, "g.img": grid}

        def write(job):
            i, ext = job
            path = os.path.join(out, f"{i}.{ext}")
            extra = {"palette": palette(256)} if ext.startswith("p.") else {}
            bounds = (0.0, 23.0, 31.0, 0.0) if ext in ("asc", "g.tif", "g.img") else None
            try:
                vtfmt.write(path, cases[ext], bounds=bounds, **extra)
            except (vtfmt.Error, ValueError) as e:
                return ext, str(e).replace(path, "<path>"), None
            with vtfmt.open(path) as r:
                return ext, r.read(), r.palette

        jobs = [(i, ext) for i in range(THREADS) for ext in cases]
        parallel = together(pool, write, jobs)
        serial = {ext: write((99, ext)) for ext in cases}
        for ext, back, table in parallel:
            if isinstance(back, str):
                assert back == serial[ext][1], (back, serial[ext][1])
                continue
            np.testing.assert_array_equal(back, serial[ext][1])
            if table is not None:
                np.testing.assert_array_equal(table, serial[ext][2])

        # GML both ways through OGR, and a failure.
        gml = []
        for i in range(THREADS):
            gml.append(("import", sample("wells.gml"), os.path.join(out, f"w{i}.gpkg")))
            gml.append(("export", os.path.join(out, f"w{i}.gpkg"), os.path.join(out, f"w{i}.gml")))
            gml.append(("import", os.path.join(folder, "notes.txt"), os.path.join(out, f"n{i}.geojson")))
        imports = [j for j in gml if j[0] == "import"]
        exports = [j for j in gml if j[0] == "export"]
        got = together(pool, gml_job, imports) + together(pool, gml_job, exports)
        for job, result in zip(imports + exports, got):
            if job[1].endswith("notes.txt"):
                assert isinstance(result, str), result
            else:
                assert result == (2, 4), (job, result)

        # ASCII grids of several megabytes, each parsed on several threads
        # while the pool's threads read them together: cells, cell format
        # and failures as with one parsing thread. One grid widens to
        # doubles on its last line, one holds a token that is no number.
        bigs = []
        for name, last in (("wide.asc", "0.1"), ("bad.asc", "x")):
            bigs.append(os.path.join(folder, name))
            cells = rng.integers(-30000, 30000, (1100, 1000))
            with open(bigs[-1], "w") as f:
                f.write("ncols 1000\nnrows 1100\nxllcorner 0\nyllcorner 0\ncellsize 1\n")
                np.savetxt(f, cells[:-1], fmt="%d")
                f.write(" ".join(map(str, cells[-1][:-1])) + " " + last + "\n")

        def grid_job(job):
            path, options = job
            try:
                with vtfmt.open(path, **options) as r:
                    return r.read()
            except vtfmt.Error as e:
                return str(e)

        grid_jobs = [(p, dict(threads="3", **extra)) for p in bigs for extra in ({}, {"pixel_format": "6400"})]
        grid_jobs = (grid_jobs * THREADS)[:THREADS]
        for job, result in zip(grid_jobs, together(pool, grid_job, grid_jobs)):
            same(result, grid_job((job[0], dict(job[1], threads="1"))))

        # Text in several character sets, failures included.
        places = open(sample("places-gb18030.txt"), "rb").read()
        texts = [(places, "GB18030", "UTF-8"), ("Zürich\n".encode() * 50000, "UTF-8", "CP1250"),
                 (b"abc\xff", "UTF-8", "UTF-16LE"), (b"x", "NO-SUCH-SET", "UTF-8")] * (THREADS // 2)
        for job, result in zip(texts, together(pool, text_job, texts)):
            assert result == text_job(job), job[1:]
    shutil.rmtree(folder)
    print(f"ok: {len(paths)} rasters read on {THREADS} threads, {len(jobs)} written; E00, GML and text")


if __name__ == "__main__":
    main()

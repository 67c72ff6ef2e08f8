"""Rasters through the Python module, against GDAL on the same files."""
import concurrent.futures
import os
import threading

import numpy as np
import pytest
from osgeo import gdal

import vtfmt
from conftest import gdal_read, gdal_write, sample

GT = (440000.0, 30.0, 0.0, 3750360.0, 0.0, -30.0)


def image(rng, dtype, shape):
    if np.dtype(dtype).kind == "f":
        return (rng.normal(size=shape) * 1000).astype(dtype)
    info = np.iinfo(dtype)
    return rng.integers(info.min, info.max, size=shape, endpoint=True, dtype=dtype)


def palette(n):
    return np.array([[(i * 37) % 256, (i * 91) % 256, (i * 13) % 256, 255] for i in range(n)], np.uint8)


# name, GDAL driver, dtype, shape, creation options, whether the format keeps bounds
GDAL_FILES = [
    ("rgb.tif", "GTiff", "uint8", (29, 47, 3), [], True),
    ("grey.tif", "GTiff", "uint8", (29, 47), [], True),
    ("i16.tif", "GTiff", "int16", (29, 47), [], True),
    ("u16.tif", "GTiff", "uint16", (29, 47), [], True),
    ("i32.tif", "GTiff", "int32", (29, 47), [], True),
    ("f32.tif", "GTiff", "float32", (29, 47), ["COMPRESS=DEFLATE", "PREDICTOR=3"], True),
    ("f64.tif", "GTiff", "float64", (29, 47), [], True),
    ("rgba.tif", "GTiff", "uint8", (29, 47, 4), [], True),
    ("rgb16.tif", "GTiff", "uint16", (29, 47, 3), [], True),
    ("tiled.tif", "GTiff", "uint8", (40, 50, 3), ["TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"], True),
    ("planar.tif", "GTiff", "uint8", (29, 47, 3), ["INTERLEAVE=BAND", "COMPRESS=LZW"], True),
    ("rgb.bmp", "BMP", "uint8", (29, 47, 3), [], False),
    ("rgb.png", "PNG", "uint8", (29, 47, 3), [], False),
    ("grey.png", "PNG", "uint8", (29, 47), [], False),
    ("rgba.png", "PNG", "uint8", (29, 47, 4), [], False),
    ("rgb.jpg", "JPEG", "uint8", (29, 47, 3), [], False),
    ("grey.jpg", "JPEG", "uint8", (29, 47), [], False),
    ("f32.asc", "AAIGrid", "float32", (29, 47), [], True),
    ("i32.asc", "AAIGrid", "int32", (29, 47), [], True),
    ("f32.img", "HFA", "float32", (29, 47), [], True),
    ("i16.img", "HFA", "int16", (29, 47), [], True),
    ("u16.img", "HFA", "uint16", (29, 47), [], True),
    ("u8.img", "HFA", "uint8", (29, 47), [], True),
    ("i16.bil", "EHdr", "int16", (29, 47), [], True),
    ("grey.jp2", "JP2OpenJPEG", "uint8", (29, 47), ["REVERSIBLE=YES", "QUALITY=100"], False),
    ("rgb.jp2", "JP2OpenJPEG", "uint8", (29, 47, 3), ["REVERSIBLE=YES", "QUALITY=100"], False),
]


@pytest.fixture(scope="module")
def gdal_files(tmp_path_factory):
    rng = np.random.default_rng(7)
    folder = tmp_path_factory.mktemp("gdal")
    files = {}
    for name, driver, dtype, shape, options, _ in GDAL_FILES:
        data = image(rng, dtype, shape)
        if driver == "JPEG":
            data = np.repeat(np.repeat(data[::4, ::4], 4, 0), 4, 1)[: shape[0], : shape[1]]
        files[name] = gdal_write(str(folder / name), driver, data, GT, options=options)
    # Indexed pictures with their colour tables.
    indices = rng.integers(0, 16, (29, 47), dtype=np.uint8)
    for name, driver in (("indexed.bmp", "BMP"), ("indexed.gif", "GIF"), ("indexed.tif", "GTiff")):
        files[name] = gdal_write(str(folder / name), driver, indices, palette=palette(16))
    return files


@pytest.mark.parametrize("name", [f[0] for f in GDAL_FILES] + ["indexed.bmp", "indexed.gif", "indexed.tif"])
def test_read_equals_gdal(gdal_files, name):
    path = gdal_files[name]
    expected = gdal_read(path)
    with vtfmt.open(path) as r:
        array = r.read()
        assert r.shape == expected.shape
        bounds, nodata, table = r.bounds, r.nodata, r.palette
    if name.endswith(".asc"):
        # Text cells come out in the narrowest type that holds every value
        # exactly; GDAL reads reals as float32.
        assert array.dtype.kind == expected.dtype.kind and array.dtype.itemsize >= expected.dtype.itemsize
        array = array.astype(expected.dtype)
    assert array.dtype == expected.dtype
    np.testing.assert_array_equal(array, expected)
    keeps_bounds = next((f[5] for f in GDAL_FILES if f[0] == name), False)
    if keeps_bounds:
        ds = gdal.Open(path)
        left, dx, _, top, _, dy = ds.GetGeoTransform()
        assert bounds == pytest.approx((left, top, left + dx * ds.RasterXSize, top + dy * ds.RasterYSize))
    if name.startswith("indexed"):
        assert table is not None
        np.testing.assert_array_equal(table[:16], palette(16))


def test_grid_nodata_matches_gdal(tmp_path, rng):
    data = image(rng, "float32", (12, 20))
    data[3, 4] = -9999
    for name, driver, dtype in (("n.asc", "AAIGrid", "float32"), ("n.img", "HFA", "float32"), ("n.bil", "EHdr", "int16")):
        path = gdal_write(str(tmp_path / name), driver, data.astype(dtype), GT, nodata=-9999)
        with vtfmt.open(path) as r:
            ds = gdal.Open(path)
            assert r.nodata == ds.GetRasterBand(1).GetNoDataValue() == -9999
            assert r.read()[3, 4] == -9999


def test_samples_match_gdal():
    # Files from elsewhere: a bottom-up run-length bitmap, a GIF, an
    # Arc/Info grid, a BIL, an Imagine file.
    for name in ("plasma-rle8.bmp", "plasma.gif", "hill-aig", "hill.bil", "hill-hfa.img", "dem.bmp"):
        with vtfmt.open(sample(name)) as r:
            ours, nodata = r.read(), r.nodata
        ds = gdal.Open(sample(name))
        theirs, their_nodata = gdal_read(sample(name)), ds.GetRasterBand(1).GetNoDataValue()
        # Empty cells carry each reader's own no-data value.
        if nodata is not None:
            np.testing.assert_array_equal(ours == nodata, theirs == their_nodata)
            ours, theirs = np.where(ours == nodata, 0, ours), np.where(theirs == their_nodata, 0, theirs)
        np.testing.assert_array_equal(ours, theirs)


ROW_CASES = ["rgb.bmp", "rgb.png", "rgb.jpg", "f32.asc", "tiled.tif", "planar.tif", "u16.img", "i16.bil", "rgb.jp2"]


@pytest.mark.parametrize("name", ROW_CASES)
def test_row_ranges_and_rows_agree_with_read(gdal_files, name):
    # Bottom-up bitmaps, forward-only PNG, JPEG and ASCII grids, tiles,
    # planes and blocks: every range comes out as the same picture rows.
    with vtfmt.open(gdal_files[name]) as r:
        whole = r.read()
        for start, stop in ((0, 1), (5, 17), (28, 29), (3, 3), (0, 29), (20, 25), (2, 9)):
            part = r.read(rows=(start, stop))
            assert part.shape == (stop - start,) + whole.shape[1:]
            np.testing.assert_array_equal(part, whole[start:stop])
        np.testing.assert_array_equal(np.stack(list(r.rows())), whole)
        # A ValueError, as the README says, and still the IndexError it was.
        for bad in ((-1, 3), (5, 4), (0, r.height + 1)):
            with pytest.raises(ValueError, match="not within") as error:
                r.read(rows=bad)
            assert isinstance(error.value, IndexError)


# name, array maker, GDAL's type of the file when it differs
WRITE_CASES = [
    ("rgb.bmp", lambda rng: image(rng, "uint8", (31, 45, 3))),
    ("grey.bmp", lambda rng: image(rng, "uint8", (31, 45))),
    ("rgb.tif", lambda rng: image(rng, "uint8", (31, 45, 3))),
    ("rgba.tif", lambda rng: image(rng, "uint8", (31, 45, 4))),
    ("rgb16.tif", lambda rng: image(rng, "uint16", (31, 45, 3))),
    ("i16.tif", lambda rng: image(rng, "int16", (31, 45))),
    ("u16.tif", lambda rng: image(rng, "uint16", (31, 45))),
    ("i32.tif", lambda rng: image(rng, "int32", (31, 45))),
    ("u32.tif", lambda rng: image(rng, "uint32", (31, 45))),
    ("f32.tif", lambda rng: image(rng, "float32", (31, 45))),
    ("f64.tif", lambda rng: image(rng, "float64", (31, 45))),
    ("rgb.png", lambda rng: image(rng, "uint8", (31, 45, 3))),
    ("rgba.png", lambda rng: image(rng, "uint8", (31, 45, 4))),
    ("grey.png", lambda rng: image(rng, "uint8", (31, 45))),
    ("f32.asc", lambda rng: image(rng, "float32", (31, 45))),
    ("i32.asc", lambda rng: image(rng, "int32", (31, 45))),
    ("u16.asc", lambda rng: image(rng, "uint16", (31, 45))),
]


@pytest.mark.parametrize("name,make", WRITE_CASES, ids=[c[0] for c in WRITE_CASES])
def test_written_files_read_back_in_gdal(tmp_path, rng, name, make):
    data = make(rng)
    path = str(tmp_path / name)
    bounds = (1000.0, 2000.0, 1000.0 + 2.5 * data.shape[1], 2000.0 - 2.5 * data.shape[0])
    vtfmt.write(path, data, bounds=bounds)
    back = gdal_read(path)
    assert back.shape == data.shape
    np.testing.assert_array_equal(back.astype(np.float64), data.astype(np.float64))
    if name.endswith((".tif", ".asc")):
        assert gdal.Open(path).GetGeoTransform() == pytest.approx((1000.0, 2.5, 0, 2000.0, 0, -2.5))
    with vtfmt.open(path) as r:
        np.testing.assert_array_equal(r.read().astype(np.float64), data.astype(np.float64))


def test_rgba_to_gif_keeps_transparency_and_refuses_partial_opacity(tmp_path, rng):
    data = image(rng, "uint8", (9, 14, 4))
    data[..., 3] = np.where(rng.integers(0, 2, (9, 14)) == 0, 0, 255)
    path = str(tmp_path / "a.gif")
    vtfmt.write(path, data)
    ds = gdal.Open(path)
    band = ds.GetRasterBand(1)
    table = band.GetColorTable()
    indices = band.ReadAsArray()
    transparent = band.GetNoDataValue()
    assert transparent is not None
    np.testing.assert_array_equal(indices == transparent, data[..., 3] == 0)
    colours = np.array([table.GetColorEntry(int(i))[:3] for i in indices.ravel()]).reshape(9, 14, 3)
    opaque = data[..., 3] == 255
    np.testing.assert_array_equal(colours[opaque], data[..., :3][opaque])
    data[4, 6, 3] = 128
    with pytest.raises(vtfmt.Error, match="row 4, column 6"):
        vtfmt.write(str(tmp_path / "b.gif"), data)
    assert not (tmp_path / "b.gif").exists()


def test_views_and_byte_orders_are_written_as_they_read(tmp_path, rng):
    data = image(rng, "int16", (40, 60))
    cases = {"view.tif": data[::2, 5:50], "swapped.tif": data.astype(">i2"), "flipped.tif": data[::-1],
             "mask.tif": data > 0}
    for name, array in cases.items():
        path = str(tmp_path / name)
        vtfmt.write(path, array)
        np.testing.assert_array_equal(gdal_read(path), np.asarray(array).astype(gdal_read(path).dtype))


def test_palette_written_and_read(tmp_path, rng):
    indices = rng.integers(0, 16, (20, 33), dtype=np.uint8)
    for name in ("p.bmp", "p.tif", "p.png"):
        path = str(tmp_path / name)
        vtfmt.write(path, indices, palette=palette(16))
        ds = gdal.Open(path)
        table = ds.GetRasterBand(1).GetColorTable()
        colours = np.array([table.GetColorEntry(int(i))[:3] for i in range(16)])
        np.testing.assert_array_equal(colours, palette(16)[:, :3])
        # PNG's reader hands out the colours, the others the indices.
        np.testing.assert_array_equal(gdal_read(path), indices)


def test_jpeg_written_decodes_alike(tmp_path, rng):
    y, x = np.mgrid[0:32, 0:48]
    smooth = np.stack([x * 5, y * 7, (x + y) * 3], -1).astype(np.uint8)
    path = str(tmp_path / "a.jpg")
    vtfmt.write(path, smooth)
    with vtfmt.open(path) as r:
        ours = r.read()
    np.testing.assert_array_equal(ours, gdal_read(path))
    assert np.abs(ours.astype(int) - smooth).mean() < 3


def test_errors_raise_with_the_message(tmp_path, gdal_files):
    missing = str(tmp_path / "missing.tif")
    with pytest.raises(vtfmt.Error, match="missing.tif: No such file"):
        vtfmt.open(missing)
    text = tmp_path / "notes.txt"
    text.write_text("not a raster\n")
    with pytest.raises(vtfmt.Error, match="notes.txt: format not recognised"):
        vtfmt.open(text)
    cut = tmp_path / "cut.bmp"
    cut.write_bytes(open(gdal_files["rgb.bmp"], "rb").read()[:200])
    with pytest.raises(vtfmt.Error, match="cut.bmp: driver bmp"):
        vtfmt.open(cut).read()
    with pytest.raises(ValueError, match="unknown driver nosuch"):
        vtfmt.open(gdal_files["rgb.tif"], driver="nosuch")
    with pytest.raises(ValueError, match="grid must be 0 or 1"):
        vtfmt.open(gdal_files["rgb.tif"], grid=7)
    with pytest.raises(vtfmt.Error, match="driver png"):
        vtfmt.open(gdal_files["rgb.tif"], driver="png")


def test_tiff_sample_layouts(tmp_path):
    def gdal_tiff(name, gdal_type, values, options=()):
        ds = gdal.GetDriverByName("GTiff").Create(str(tmp_path / name), len(values), 1, 1, gdal_type,
                                                  options=list(options))
        ds.GetRasterBand(1).WriteArray(np.array([values]))
        ds = None
        return str(tmp_path / name)

    # Complex integers and 24-bit samples have no array type: the open is
    # refused, naming the layout.
    for name, gdal_type, options, layout in (
        ("ci16.tif", gdal.GDT_CInt16, (), "1 sample of 32-bit complex integer per pixel"),
        ("ci32.tif", gdal.GDT_CInt32, (), "1 sample of 64-bit complex integer per pixel"),
        ("u24.tif", gdal.GDT_UInt32, ("NBITS=24",), "1 sample of 24-bit unsigned integer per pixel"),
    ):
        path = gdal_tiff(name, gdal_type, [1, 2, 300, 4], options)
        with pytest.raises(vtfmt.Error, match=name + ": driver tiff: " + layout):
            vtfmt.open(path)
    # Complex floats come out as GDAL reads them.
    path = gdal_tiff("cf32.tif", gdal.GDT_CFloat32, [1 + 2j, -3 - 4j, 0, 5])
    with vtfmt.open(path) as r:
        ours = r.read()
    assert ours.dtype == np.complex64
    np.testing.assert_array_equal(ours, gdal_read(path))
    # 32-bit unsigned cells are uint32, or int32 under the grid option.
    path = gdal_tiff("u32.tif", gdal.GDT_UInt32, [0, 1, 3000000000, 4294967295])
    with vtfmt.open(path) as r:
        ours = r.read()
    assert ours.dtype == np.uint32
    np.testing.assert_array_equal(ours, gdal_read(path))
    with vtfmt.open(path, grid=1) as r:
        ours = r.read()
    assert ours.dtype == np.int32
    np.testing.assert_array_equal(ours, [[0, 1, 3000000000 - 2**32, -1]])


def test_file_names_of_any_bytes(tmp_path, rng):
    data = image(rng, "uint8", (5, 7, 3))
    name = os.fsdecode(b"caf\xe9 \xff.tif")  # not UTF-8
    vtfmt.write(tmp_path / name, data)
    assert os.path.exists(os.fsencode(tmp_path) + b"/caf\xe9 \xff.tif")
    with vtfmt.open(tmp_path / name) as r:
        np.testing.assert_array_equal(r.read(), data)
    with vtfmt.open(os.fsencode(tmp_path / name)) as r:
        assert r.path == str(tmp_path / name)
    with pytest.raises(vtfmt.Error) as error:
        vtfmt.open(tmp_path / os.fsdecode(b"gone\xe9.tif"))
    assert os.fsdecode(b"gone\xe9.tif") in str(error.value)


def test_paths_with_a_nul_are_refused(tmp_path, gdal_files):
    # The name would be cut at the NUL and name another file: ValueError, as
    # open() raises, and nothing written, whichever entry takes the path.
    import vtfmt.dask
    import vtfmt.e00
    import vtfmt.gml

    data = np.zeros((3, 4), np.uint8)
    cut = str(tmp_path / "x.tif")
    calls = [
        lambda: vtfmt.write(cut + "\0.bmp", data),
        lambda: vtfmt.write(os.fsencode(cut) + b"\0.bmp", data),
        lambda: vtfmt.open(gdal_files["rgb.tif"] + "\0.bmp"),
        lambda: vtfmt.dask.open(gdal_files["rgb.tif"] + "\0.bmp"),
        lambda: vtfmt.e00.open(sample("roads.e00") + "\0x"),
        lambda: vtfmt.e00.write(cut + "\0.e00", ["EXP  0 X", "EOS"]),
        lambda: vtfmt.gml.export(gdal_files["rgb.tif"] + "\0", cut + ".gml"),
        lambda: vtfmt.gml.import_(cut + ".gml\0", cut + ".shp"),
        # The compiled module refuses them too.
        lambda: vtfmt._vtfmt._open(os.fsencode(gdal_files["rgb.tif"]) + b"\0.bmp"),
        lambda: vtfmt._vtfmt._write(os.fsencode(cut) + b"\0.bmp", data),
        lambda: vtfmt._vtfmt._e00_write(os.fsencode(cut) + b"\0.e00", ["EXP  0 X", "EOS"]),
    ]
    for i, call in enumerate(calls):
        with pytest.raises(ValueError, match="null byte"):
            call()
        assert os.listdir(tmp_path) == [], i


def test_write_refusals_leave_no_file(tmp_path):
    cells = np.zeros((4, 5), np.float32)
    cases = [
        ("c.png", cells, {}, ValueError, "cells, not colours"),
        ("c.tif", np.zeros((4, 5), np.int8), {}, ValueError, "fit no pixel format"),
        ("c.tif", np.zeros(5, np.uint8), {}, ValueError, "2-d array"),
        ("c.tif", np.zeros((4, 5, 3), np.uint8), {"palette": palette(4)}, ValueError, "palette"),
        ("c.raw", np.zeros((4, 5), np.uint8), {}, ValueError, "no writing driver claims"),
        ("c.tif", np.zeros((4, 5), np.uint8), {"driver": "raw"}, ValueError, "cannot write"),
        ("c.tif", np.zeros((0, 5), np.uint8), {}, ValueError, "no pixels"),
        ("no/such/dir/c.tif", np.zeros((4, 5), np.uint8), {}, vtfmt.Error, "driver tiff"),
        ("n.tif", np.zeros((4, 5), np.uint8), {"bounds": (0, float("nan"), 5, 0)}, ValueError, "finite.*nan"),
        ("i.asc", cells, {"bounds": (0, 4, float("inf"), 0)}, ValueError, "finite.*inf"),
        ("m.tif", cells, {"bounds": (float("-inf"), 4, 5, 0)}, ValueError, "finite"),
    ]
    for name, data, kwargs, error, message in cases:
        path = tmp_path / name
        with pytest.raises(error, match=message):
            vtfmt.write(path, data, **kwargs)
        assert not path.exists(), name


def test_reader_closes(gdal_files):
    with vtfmt.open(gdal_files["grey.tif"]) as r:
        rows = r.rows()
        next(rows)
    with pytest.raises(ValueError, match="closed"):
        r.read()
    with pytest.raises(ValueError, match="closed"):
        next(rows)


def test_readers_on_several_threads_agree(gdal_files):
    names = ["rgb.tif", "tiled.tif", "rgb.bmp", "rgb.png", "rgb.jpg", "f32.asc", "f32.img", "i16.bil", "rgb.jp2"]
    expected = {n: vtfmt.open(gdal_files[n]).read() for n in names}

    def read(name):
        with vtfmt.open(gdal_files[name]) as r:
            return name, r.read(), np.stack(list(r.rows()))

    with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
        for name, whole, rows in pool.map(read, names * 6):
            np.testing.assert_array_equal(whole, expected[name])
            np.testing.assert_array_equal(rows, expected[name])


def test_writers_on_several_threads_agree(tmp_path, rng):
    pictures = [image(rng, "uint8", (23, 31, 3)) for _ in range(4)]
    names = [f"{i}.{ext}" for i in range(4) for ext in ("bmp", "tif", "png", "gif")]

    def write(name, folder="serial"):
        data = pictures[int(name[0])]
        path = tmp_path / folder / name
        path.parent.mkdir(exist_ok=True)
        vtfmt.write(str(path), data)
        with vtfmt.open(str(path)) as r:
            back = r.read()
            return name, back if r.palette is None else r.palette[back][..., :3]

    # GIF reduces the colours to a palette of its own: as it does on one thread.
    serial = {name: write(name)[1] for name in names if name.endswith(".gif")}
    # Each name twice at once, each write to a file of its own.
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        results = list(pool.map(write, names * 2, ["a"] * len(names) + ["b"] * len(names)))
    for name, back in results:
        np.testing.assert_array_equal(back, serial.get(name, pictures[int(name[0])]))


def test_one_reader_shared_by_threads(gdal_files):
    with vtfmt.open(gdal_files["rgb.png"]) as r:
        whole = r.read()
        ranges = [(s, min(s + 3, r.height)) for s in range(0, r.height, 3)] * 4
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            parts = list(pool.map(lambda span: (span, r.read(rows=span)), ranges))
    for (start, stop), part in parts:
        np.testing.assert_array_equal(part, whole[start:stop])
    # One row iterator drained by several threads hands out every row once.
    for name in ("rgb.png", "tiled.tif", "rgb.bmp"):
        with vtfmt.open(gdal_files[name]) as r:
            whole, rows, start = r.read(), r.rows(), threading.Barrier(4)

            def drain(_):
                start.wait()
                return [row.tobytes() for row in rows]

            with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
                got = sum(pool.map(drain, range(4)), [])
        assert sorted(got) == sorted(row.tobytes() for row in whole), name


def test_formats_lists_the_drivers():
    names = [f["name"] for f in vtfmt.formats()]
    assert names[:4] == ["raw", "bmp", "aaigrid", "nsdtf"]
    assert {"tiff", "png", "jpeg", "gif", "hfa", "ecw", "mrsid"} <= set(names)
    assert next(f for f in vtfmt.formats() if f["name"] == "tiff")["write"]


def test_compressed_writes_on_several_threads_are_one_file(tmp_path, rng):
    # Past the size that compresses on several threads, from several Python
    # threads at once: every copy the same bytes as one written on one thread,
    # with GDAL's pixels.
    picture = image(rng, "uint8", (700, 600, 3))
    picture[350:] = np.arange(600, dtype=np.uint8)[None, :, None]
    cells = image(rng, "int16", (800, 700))
    cases = [("p.png", picture, {}), ("d.tif", picture, {"compress": "deflate", "predictor": 2}),
             ("c.tif", cells, {"compress": "deflate", "zlevel": 9}), ("l.tif", cells, {"compress": "lzw"})]
    for name, data, kwargs in cases:
        vtfmt.write(str(tmp_path / ("one-" + name)), data, threads=1, **kwargs)
        np.testing.assert_array_equal(gdal_read(str(tmp_path / ("one-" + name))), data)

    def write(job):
        (name, data, kwargs), copy = job
        path = tmp_path / f"{copy}-{name}"
        vtfmt.write(str(path), data, **kwargs)
        return name, path.read_bytes()

    jobs = [(case, copy) for case in cases for copy in range(3)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        for name, written in pool.map(write, jobs):
            assert written == (tmp_path / ("one-" + name)).read_bytes(), name


def test_compressed_tiffs_decoded_on_several_threads_read_as_on_one(tmp_path, rng):
    # Past the size that decodes ahead on worker threads, each read from
    # several Python threads at once, whole and in parts: GDAL's pixels, and
    # the same as with threads=1.
    picture = image(rng, "uint8", (700, 650, 3))
    picture[350:] = np.arange(650, dtype=np.uint8)[None, :, None]
    cells = image(rng, "uint16", (720, 800))
    cases = [("ds.tif", picture, ["COMPRESS=DEFLATE", "PREDICTOR=2", "BLOCKYSIZE=5"]),
             ("dt.tif", picture, ["COMPRESS=DEFLATE", "TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=64"]),
             ("lp.tif", picture, ["COMPRESS=LZW", "INTERLEAVE=BAND"]),
             ("lt.tif", cells, ["COMPRESS=LZW", "PREDICTOR=2", "TILED=YES"])]
    for name, data, options in cases:
        gdal_write(str(tmp_path / name), "GTiff", data, options=options)

    def read(job):
        (name, data, _), threads = job
        with vtfmt.open(str(tmp_path / name), threads=threads) as r:
            return name, r.read(), r.read(rows=(r.height // 3, r.height // 2))

    jobs = [(case, threads) for case in cases for threads in (1, 2, 3, 4)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        for (name, data, _), (_, whole, part) in zip([job[0] for job in jobs], pool.map(read, jobs)):
            np.testing.assert_array_equal(whole, data, err_msg=name)
            np.testing.assert_array_equal(part, data[len(data) // 3:len(data) // 2], err_msg=name)

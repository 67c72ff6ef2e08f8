"""E00, GML and text conversion through the Python module."""
import concurrent.futures
import json
import os
import shutil
import subprocess
import threading

import pytest
from osgeo import ogr

import vtfmt
import vtfmt.e00
import vtfmt.gml
import vtfmt.text
from conftest import sample

TOOL = os.environ.get("VTFMT_TOOL")


def roads_lines():
    return list(vtfmt.e00.open(sample("roads.e00")))


def test_e00_lines_across_volumes_match_the_tool():
    lines = roads_lines()
    assert lines[0].startswith("EXP ") and lines[-1].startswith("EOS")
    if not TOOL:
        pytest.skip("VTFMT_TOOL names no vtfmt tool to compare with")
    cat = subprocess.run([TOOL, "e00", "cat", sample("roads.e00")], capture_output=True, text=True, check=True)
    assert cat.stdout.split("\n")[:-1] == lines


def test_e00_volume_cut_at_a_line_end_raises_naming_both_volumes(tmp_path):
    # The sample's first volume cut after its fourth line runs on into the
    # whole second volume: the lines before the join come out, then the error.
    (tmp_path / "roads.e00").write_bytes(open(sample("roads.e00"), "rb").read()[:281])
    shutil.copy(sample("roads.E01"), str(tmp_path / "roads.E01"))
    got = []
    with pytest.raises(vtfmt.Error, match=r"roads\.E01 is truncated or damaged: .* follows on from .*roads\.e00"):
        for line in vtfmt.e00.open(str(tmp_path / "roads.e00")):
            got.append(line)
    assert got == roads_lines()[:9]


@pytest.mark.parametrize("level", ["none", "partial", "full"])
def test_e00_written_reads_back_and_decodes_with_e00conv(tmp_path, level):
    lines = roads_lines()
    path = str(tmp_path / "out.e00")
    vtfmt.e00.write(path, iter(lines), level=level)
    with vtfmt.e00.open(path) as back:
        assert list(back) == lines
    if not shutil.which("e00conv"):
        pytest.skip("e00conv is not installed")
    plain = str(tmp_path / "plain.e00")
    subprocess.run(["e00conv", path, plain, "NONE"], check=True, capture_output=True)
    with open(plain) as f:
        assert f.read().splitlines() == lines


def test_e00_lines_shared_by_threads(tmp_path):
    # Several threads draining one iterator of a compressed set get every
    # line once and whole.
    lines = roads_lines()
    lines = lines[:1] + lines[1:-1] * 100 + lines[-1:]
    path = str(tmp_path / "big.e00")
    vtfmt.e00.write(path, lines, level="full")
    with vtfmt.e00.open(path) as shared:
        start = threading.Barrier(8)

        def drain(_):
            start.wait()
            return list(shared)

        with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
            got = sum(pool.map(drain, range(8)), [])
    assert sorted(got) == sorted(lines)


def test_e00_lines_keep_bytes_of_any_character_set(tmp_path):
    # Attribute text in Latin-1 is not UTF-8: it reads as escaped bytes and
    # writes back byte for byte.
    lines = roads_lines()
    lines.insert(1, "Caf\udce9 Stra\udcdfe")
    raw = "\n".join(lines).encode("utf-8", "surrogateescape") + b"\n"
    assert b"Caf\xe9 Stra\xdfe" in raw
    plain = tmp_path / "latin.e00"
    plain.write_bytes(raw)
    assert list(vtfmt.e00.open(plain)) == lines
    for level in ("none", "full"):
        out = str(tmp_path / f"back-{level}.e00")
        vtfmt.e00.write(out, vtfmt.e00.open(plain), level=level)
        assert list(vtfmt.e00.open(out)) == lines
    vtfmt.e00.write(str(tmp_path / "bytes.e00"), [line.encode("utf-8", "surrogateescape") for line in lines], "none")
    assert (tmp_path / "bytes.e00").read_bytes() == open(str(tmp_path / "back-none.e00"), "rb").read()


def test_e00_errors(tmp_path):
    with pytest.raises(vtfmt.Error, match="missing.e00"):
        vtfmt.e00.open(str(tmp_path / "missing.e00"))
    cases = [(["EXP  0 X", 7], TypeError), (["EXP  0 X", "two\nlines"], ValueError)]
    for lines, error in cases:
        with pytest.raises(error):
            vtfmt.e00.write(str(tmp_path / "bad.e00"), lines)
        assert not (tmp_path / "bad.e00").exists()
    with pytest.raises(ValueError, match="level"):
        vtfmt.e00.write(str(tmp_path / "bad.e00"), ["EXP  0 X"], level="most")


def features(path):
    ds = ogr.Open(path)
    out = []
    for layer in ds:
        for f in layer:
            g = f.GetGeometryRef()
            out.append((layer.GetName(), g.ExportToWkt() if g else None,
                        {k: v for k, v in f.items().items() if v is not None}))
    return sorted(out, key=repr)


def test_gml_export_and_import_round_trip(tmp_path):
    source = tmp_path / "wells.geojson"
    source.write_text(json.dumps({"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"name": "A & <B>", "depth": 12.5},
         "geometry": {"type": "Point", "coordinates": [440010.25, 3750020.5]}},
        {"type": "Feature", "properties": {"name": "C", "depth": 0.1},
         "geometry": {"type": "Point", "coordinates": [440600.0, 3750300.75]}}]}))
    gml = str(tmp_path / "wells.gml")
    assert vtfmt.gml.export(source, gml) == (1, 2)
    back = str(tmp_path / "back.geojson")
    assert vtfmt.gml.import_(gml, back) == (1, 2)
    assert [f[1:] for f in features(back)] == [f[1:] for f in features(str(source))]
    # The bundled sample: two layers, four features.
    assert vtfmt.gml.import_(sample("wells.gml"), str(tmp_path / "w.gpkg")) == (2, 4)


def test_gml_errors(tmp_path):
    with pytest.raises(vtfmt.Error, match="missing.shp"):
        vtfmt.gml.export(tmp_path / "missing.shp", tmp_path / "out.gml")
    with pytest.raises(ValueError, match="no OGR driver Nosuch"):
        vtfmt.gml.import_(sample("wells.gml"), tmp_path / "out.x", driver="Nosuch")
    (tmp_path / "notes.gml").write_text("<a>not the schema</a>")
    with pytest.raises(vtfmt.Error, match="notes.gml"):
        vtfmt.gml.import_(tmp_path / "notes.gml", tmp_path / "out.geojson")


@pytest.mark.parametrize("encoding, charset, text", [
    ("windows-1251", 204, "Москва, ул. Тверская"),
    ("gb2312", 134, "北京市海淀区"),
    ("big5", 136, "臺北市信義區"),
    ("shift_jis", 128, "東京都千代田"),
])
def test_gml_texts_in_foreign_sets_travel_as_utf8(tmp_path, encoding, charset, text):
    # A document others wrote in that set comes into OGR as UTF-8.
    doc = ('<?xml version="1.0" encoding="%s"?>\n<vtl:Veltram gml:version="3.0.0">'
           '<vtl:FeatureCollectionInfo Name="towns" Type="Point"><vtl:UserPorpertyDefines>'
           '<vtl:UserPorpertyDefine Name="name" Size="40" Type="xs:string"/></vtl:UserPorpertyDefines>'
           '</vtl:FeatureCollectionInfo><vtl:FeatureCollection><gml:featureMember><towns><name>%s</name>'
           '</towns></gml:featureMember></vtl:FeatureCollection></vtl:Veltram>\n') % (encoding, text)
    (tmp_path / "in.gml").write_bytes(doc.encode(encoding))
    assert vtfmt.gml.import_(tmp_path / "in.gml", tmp_path / "in.geojson") == (1, 1)
    assert [f[2] for f in features(str(tmp_path / "in.geojson"))] == [{"name": text}]
    # Our export writes that set's bytes and reads back the same text.
    source = tmp_path / "src.geojson"
    source.write_text(json.dumps({"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"name": text}, "geometry": {"type": "Point", "coordinates": [1, 2]}}]}),
        encoding="utf-8")
    assert vtfmt.gml.export(source, tmp_path / "out.gml", charset) == (1, 1)
    assert ("<name>%s</name>" % text).encode(encoding) in (tmp_path / "out.gml").read_bytes()
    assert vtfmt.gml.import_(tmp_path / "out.gml", tmp_path / "back.geojson") == (1, 1)
    assert [f[2] for f in features(str(tmp_path / "back.geojson"))] == [{"name": text}]


def test_gml_export_refuses_control_characters(tmp_path):
    source = tmp_path / "src.geojson"
    source.write_text(json.dumps({"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"note": "bell\u0001"}, "geometry": None}]}))
    with pytest.raises(vtfmt.Error, match=r'out.gml: feature 0 of layer src, field "note": .*U\+0001'):
        vtfmt.gml.export(source, tmp_path / "out.gml")
    assert not (tmp_path / "out.gml").exists()

def test_text_convert_matches_python_codecs():
    data = open(sample("places-gb18030.txt"), "rb").read()
    utf8 = vtfmt.text.convert(data, "GB18030", "UTF-8")
    assert utf8 == data.decode("gb18030").encode("utf-8")
    assert vtfmt.text.convert(utf8, "UTF-8", "GB18030") == data
    assert vtfmt.text.convert(utf8, "UTF-8", "UTF-16LE") == data.decode("gb18030").encode("utf-16-le")
    big = "Zürich, Łódź\n".encode() * 200000  # more than one piece; characters cut between pieces
    assert vtfmt.text.convert(big, "UTF-8", "CP1250") == big.decode().encode("cp1250")
    latin = "Ärger über Öl\n".encode("latin-1") * 100000
    assert vtfmt.text.convert(latin, "ISO-8859-1", "UTF-8") == latin.decode("latin-1").encode()
    assert vtfmt.text.convert(b"", "UTF-8", "CP1252") == b""


def test_text_errors():
    with pytest.raises(vtfmt.Error, match="at byte 3"):
        vtfmt.text.convert(b"abc\xff\xfe", "UTF-8", "UTF-16LE")
    with pytest.raises(vtfmt.Error, match="at byte 7"):
        vtfmt.text.convert("Preis 5€".encode(), "UTF-8", "ISO-8859-1")
    with pytest.raises(ValueError, match="iconv cannot convert"):
        vtfmt.text.convert(b"abc", "NO-SUCH-SET", "UTF-8")

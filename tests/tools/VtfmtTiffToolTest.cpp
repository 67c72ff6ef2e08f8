// The vtfmt tool on TIFF files: info keys, dumps that are the same image
// whatever the layout, and conversions to and from the other drivers that
// GDAL reads back with the same pixels and places.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/GdalTiff.h"
#include "support/ToolRun.h"

namespace {

// A GeoTIFF of one band of `type`, GDAL's: its first row `values`, its
// second the same reversed.
bool GdalCells(const std::string& path, GDALDataType type, std::vector<double> values) {
  GDALAllRegister();
  const int width = static_cast<int>(values.size());
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), width, 2, 1, type, nullptr);
  if (!ds) return false;
  double gt[6] = {1000, 10, 0, 2000, 0, -10};
  GDALSetGeoTransform(ds, gt);
  values.insert(values.end(), values.rbegin(), values.rend());
  const bool ok = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, width, 2, values.data(), width, 2,
                               GDT_Float64, 0, 0) == CE_None;
  GDALClose(ds);
  return ok;
}

// A one-row TIFF of single `bits`-bit samples of `sampleFormat`, which GDAL
// writes only for some kinds, straight through libtiff.
bool LibTiffSamples(const std::string& path, uint16_t bits, uint16_t sampleFormat) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) return false;
  const uint32_t width = 4;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1u);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, sampleFormat);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1u);
  std::vector<unsigned char> row(width * bits / 8);
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<unsigned char>(i * 37 + 1);
  const bool ok = TIFFWriteScanline(t, row.data(), 0, 0) == 1;
  TIFFClose(t);
  return ok;
}

// A 6 x 4 grey GeoTIFF in UTM 33N written straight through libtiff, placed
// by `matrix` (16 values) or else by `tie` (6) and `scale` (3), with
// GTRasterTypeGeoKey `rasterType` (1 area, 2 point).
struct GeoPlacement {
  std::vector<double> tie, scale, matrix;
  uint16_t rasterType = 1;
};
bool LibTiffGeo(const std::string& path, const GeoPlacement& p) {
  static const TIFFFieldInfo geoFields[] = {
      {33550, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelPixelScale")},
      {33922, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTiepoint")},
      {34264, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("ModelTransformation")},
      {34735, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoKeyDirectory")}};
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) return false;
  if (TIFFMergeFieldInfo(t, geoFields, 4) != 0) {
    TIFFClose(t);
    return false;
  }
  const uint32_t width = 6, height = 4;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, height);
  // Projected (1024 = 1), the raster type (1025), EPSG 32633 (3072).
  const uint16_t keys[] = {1, 1, 0, 3, 1024, 0, 1, 1, 1025, 0, 1, p.rasterType, 3072, 0, 1, 32633};
  TIFFSetField(t, 34735, uint16_t(16), keys);
  if (!p.matrix.empty()) {
    TIFFSetField(t, 34264, static_cast<uint16_t>(p.matrix.size()), p.matrix.data());
  } else {
    TIFFSetField(t, 33922, static_cast<uint16_t>(p.tie.size()), p.tie.data());
    TIFFSetField(t, 33550, static_cast<uint16_t>(p.scale.size()), p.scale.data());
  }
  bool ok = true;
  for (uint32_t y = 0; y < height && ok; ++y) {
    unsigned char row[width];
    for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<unsigned char>(y * width + x);
    ok = TIFFWriteScanline(t, row, y, 0) == 1;
  }
  TIFFClose(t);
  return ok;
}

// The corners GDAL gives `path`: left, top, right, bottom.
std::vector<double> GdalCorners(const std::string& path) {
  GdalPixels g;
  if (!GdalReadPixels(path, g) || !g.hasGeoTransform) return {};
  return {g.gt[0], g.gt[3], g.gt[0] + g.width * g.gt[1], g.gt[3] + g.height * g.gt[5]};
}

// The corners `vtfmt info` prints, or nothing for "bounds: none".
std::vector<double> InfoCorners(const std::string& out) {
  std::istringstream in(KeyValues(out)["bounds"]);
  std::vector<double> corners(4);
  for (double& c : corners)
    if (!(in >> c)) return {};
  return corners;
}

// A little-endian TIFF of 7 x 5 pixels of `planes` 8-bit planes (grey, or
// RGB planar-separate), uncompressed, `rowsPerStrip` rows a strip, its
// strips last in the file. The last strip of each plane counts `extra` bytes
// more than its rows, and a full RowsPerStrip of rows, as some writers do;
// the file ends with the last plane's rows.
std::string OverCountedStrips(uint32_t rowsPerStrip, uint32_t extra, uint16_t planes) {
  const uint32_t width = 7, height = 5;
  const uint32_t perPlane = (height + rowsPerStrip - 1) / rowsPerStrip, strips = perPlane * planes;
  const uint16_t entries = 11;
  const uint32_t arrays = 8 + 2 + 12 * entries + 4, pixels = arrays + 8 * strips + 6;
  std::string out("II*\0\x08\0\0\0", 8);
  auto put = [&out](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    put(tag, 2), put(type, 2), put(count, 4), put(value, 4);
  };
  put(entries, 2);
  entry(256, 4, 1, width);
  entry(257, 4, 1, height);
  entry(258, 3, planes, planes == 1 ? 8 : pixels - 6);  // three 8s before the pixels
  entry(259, 3, 1, 1);
  entry(262, 3, 1, planes == 1 ? 1 : 2);
  entry(273, 4, strips, strips == 1 ? pixels : arrays);
  entry(277, 3, 1, planes);
  entry(278, 4, 1, rowsPerStrip);
  entry(279, 4, strips, strips == 1 ? 0 : arrays + 4 * strips);  // one strip: patched below
  entry(284, 3, 1, planes == 1 ? 1 : 2);
  entry(296, 3, 1, 1);
  put(0, 4);
  std::vector<uint32_t> counts;
  for (uint32_t p = 0; p < planes; ++p)
    for (uint32_t k = 0; k < perPlane; ++k) {
      const uint32_t rows = std::min(rowsPerStrip, height - k * rowsPerStrip);
      counts.push_back(k + 1 == perPlane ? rowsPerStrip * width + extra : rows * width);
      put(pixels + p * width * height + k * rowsPerStrip * width, 4);
    }
  for (uint32_t c : counts) put(c, 4);
  if (strips == 1)
    out.replace(8 + 2 + 12 * 8 + 8, 4, std::string(reinterpret_cast<const char*>(&counts[0]), 4));
  put(8, 2), put(8, 2), put(8, 2);
  for (uint32_t i = 0; i < width * height * planes; ++i) out.push_back(static_cast<char>(i * 7 + i / 35));
  return out;
}

class VtfmtTiffTest : public ::testing::Test {
 protected:
  ToolResult Run(const std::string& args) { return RunTool(dir, args); }
  std::string Path(const std::string& name) const { return Quote(dir / name); }
  ScratchDir dir;
};

TEST_F(VtfmtTiffTest, InfoReportsLayoutSamplesAndBoundsInMetres) {
  TiffFixture fixture;
  fixture.options = {"TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=32", "COMPRESS=DEFLATE"};
  fixture.geo = true;
  fixture.epsg = 2222;  // feet
  ASSERT_TRUE(GdalWriteTiff(dir / "t.tif", fixture));
  const ToolResult r = Run("info " + Path("t.tif"));
  ASSERT_EQ(r.status, 0) << r.err;
  auto keys = KeyValues(r.out);
  EXPECT_EQ(keys["driver"], "tiff");
  EXPECT_EQ(keys["pixel_format"], "24");
  EXPECT_EQ(keys["tiled"], "1");
  EXPECT_EQ(keys["bands"], "3");
  EXPECT_EQ(keys["bits_per_sample"], "8");
  EXPECT_EQ(keys["compression"], "8");
  EXPECT_EQ(keys["row_order"], "top-down");
  double l, t, rr, b;
  std::istringstream(keys["bounds"]) >> l >> t >> rr >> b;
  EXPECT_NEAR(l, fixture.gt[0] * 0.3048, 1e-6);
  EXPECT_NEAR(t, fixture.gt[3] * 0.3048, 1e-6);
  EXPECT_NEAR(rr, (fixture.gt[0] + 75 * fixture.gt[1]) * 0.3048, 1e-6);
  EXPECT_NEAR(b, (fixture.gt[3] + 45 * fixture.gt[5]) * 0.3048, 1e-6);

  fixture.geo = false;
  fixture.options = {"INTERLEAVE=BAND"};
  ASSERT_TRUE(GdalWriteTiff(dir / "p.tif", fixture));
  keys = KeyValues(Run("info " + Path("p.tif")).out);
  EXPECT_EQ(keys["bounds"], "none");
  EXPECT_EQ(keys["planar"], "separate");
  EXPECT_EQ(keys["tiled"], "0");
}

TEST_F(VtfmtTiffTest, EveryLayoutDumpsAsGdalsPixels) {
  const std::vector<std::vector<std::string>> layouts = {
      {},
      {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=32"},
      {"INTERLEAVE=BAND"},
      {"INTERLEAVE=BAND", "TILED=YES", "BLOCKXSIZE=48", "BLOCKYSIZE=16"},
      {"COMPRESS=LZW", "PREDICTOR=2"},
      {"INTERLEAVE=BAND", "COMPRESS=DEFLATE", "BLOCKYSIZE=16"},
  };
  std::string first;
  for (size_t i = 0; i < layouts.size(); ++i) {
    TiffFixture fixture;
    fixture.options = layouts[i];
    const std::string name = "l" + std::to_string(i) + ".tif";
    ASSERT_TRUE(GdalWriteTiff(dir / name, fixture));
    const ToolResult r = Run("dump " + Path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    GdalPixels g;
    ASSERT_TRUE(GdalReadPixels(dir / name, g));
    EXPECT_EQ(r.out, std::string(g.bytes.begin(), g.bytes.end())) << name;
    if (i == 0) first = r.out;
    EXPECT_EQ(r.out, first) << name;
  }
}

TEST_F(VtfmtTiffTest, ConversionsKeepColoursPalettesAndPlaces) {
  // A true-colour and a paletted bitmap from GDAL, through TIFF and back.
  Picture rgb;
  rgb.width = 23, rgb.height = 9, rgb.bands = 3;
  for (int i = 0; i < 23 * 9 * 3; ++i) rgb.pixels.push_back(static_cast<unsigned char>(i * 29 + i / 7));
  Picture pal = rgb;
  pal.bands = 1;
  pal.pixels.resize(23 * 9);
  for (short i = 0; i < 256; ++i)
    pal.colors.push_back(GDALColorEntry{static_cast<short>(i ^ 0x55), i, static_cast<short>(255 - i), 255});
  for (const Picture* p : {&rgb, &pal}) {
    ASSERT_TRUE(GdalWrite(dir / "in.bmp", *p));
    ToolResult r = Run("convert " + Path("in.bmp") + " " + Path("mid.tif"));
    ASSERT_EQ(r.status, 0) << r.err;
    Picture mid, back;
    ASSERT_TRUE(GdalRead(dir / "mid.tif", mid));
    EXPECT_EQ(mid.pixels, p->pixels) << p->bands;
    ASSERT_EQ(mid.colors.size(), p->colors.size());
    for (size_t i = 0; i < mid.colors.size(); ++i) {
      EXPECT_EQ(mid.colors[i].c1, p->colors[i].c1);
      EXPECT_EQ(mid.colors[i].c3, p->colors[i].c3);
    }
    r = Run("convert " + Path("mid.tif") + " " + Path("out.bmp"));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(GdalRead(dir / "out.bmp", back));
    EXPECT_EQ(back.pixels, p->pixels);
  }

  // A float grid with its place: ASCII grid to GeoTIFF and back.
  dir.Put("g.asc",
          "ncols 3\nnrows 2\nxllcorner 440000\nyllcorner 3750000\ncellsize 30\nNODATA_value -9999\n"
          "1.5 2.25 -9999\n4 5.75 6\n");
  ToolResult r = Run("convert -oo pixel_format=3200 -oo grid=1 " + Path("g.asc") + " " + Path("g.tif"));
  ASSERT_EQ(r.status, 0) << r.err;
  GdalGrid tif;
  ASSERT_TRUE(GdalReadGrid(dir / "g.tif", tif));
  EXPECT_EQ(tif.values, (std::vector<double>{1.5, 2.25, -9999, 4, 5.75, 6}));
  EXPECT_EQ(tif.gt[0], 440000);
  EXPECT_EQ(tif.gt[3], 3750060);
  EXPECT_EQ(tif.gt[1], 30);
  r = Run("convert -oo grid=1 " + Path("g.tif") + " " + Path("back.asc"));
  ASSERT_EQ(r.status, 0) << r.err;
  GdalGrid asc;
  ASSERT_TRUE(GdalReadGrid(dir / "back.asc", asc));
  EXPECT_EQ(asc.values, tif.values);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(asc.gt[i], tif.gt[i], 1e-9) << i;
}

TEST_F(VtfmtTiffTest, DamagedFilesAndBadOptionsFailCleanly) {
  TiffFixture fixture;
  fixture.options = {"COMPRESS=DEFLATE"};
  ASSERT_TRUE(GdalWriteTiff(dir / "whole.tif", fixture));
  const std::string whole = dir.Get("whole.tif");
  dir.Put("cut.tif", whole.substr(0, whole.size() / 2));
  ToolResult r = Run("dump " + Path("cut.tif"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cut.tif"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("TIFFReadDirectory"), std::string::npos);  // one line of ours, not libtiff's
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

  dir.Put("bad.tif", "II*\0garbage");
  r = Run("info " + Path("bad.tif"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

  // 16-bit grey samples have no bitmap form.
  fixture.bands = 1;
  fixture.type = GDT_UInt16;
  ASSERT_TRUE(GdalWriteTiff(dir / "u16.tif", fixture));
  r = Run("convert " + Path("u16.tif") + " " + Path("u16.bmp"));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(dir.Exists("u16.bmp"));

  EXPECT_EQ(Run("info -oo grid=2 " + Path("whole.tif")).status, 2);
  EXPECT_EQ(Run("convert -oo nosuch=1 " + Path("whole.tif") + " " + Path("x.tif")).status, 2);
  EXPECT_FALSE(dir.Exists("x.tif"));
}

// A file cut inside its GeoTIFF tags never has bounds in another unit: each
// cut either fails, gives no bounds (with a warning when georeferencing
// tags are cut short), or the whole file's bounds in metres.
TEST_F(VtfmtTiffTest, FilesCutInsideTheirGeoKeysGiveNoBoundsAndAWarning) {
  std::ifstream in(std::string(VTFMT_SOURCE_DIR) + "/samples/dem-feet.tif", std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), {});
  dir.Put("whole.tif", whole);
  const std::string bounds = KeyValues(Run("info " + Path("whole.tif")).out)["bounds"];
  ASSERT_EQ(bounds.rfind("213360 457200 ", 0), 0u) << bounds;  // feet, given in metres
  int warned = 0;
  for (size_t n = 257; n < 620; n += 2) {
    dir.Put("cut.tif", whole.substr(0, n));
    const ToolResult r = Run("info " + Path("cut.tif"));
    if (r.status != 0) {
      EXPECT_EQ(r.status, 1) << n;
      continue;
    }
    auto keys = KeyValues(r.out);
    EXPECT_TRUE(keys["bounds"] == bounds || keys["bounds"] == "none") << n << ": " << keys["bounds"];
    if (!keys["warning"].empty()) {
      ++warned;
      EXPECT_EQ(keys["bounds"], "none") << n;
      EXPECT_NE(keys["bounds_note"].find("GeoKeyDirectory"), std::string::npos) << n;
    }
    if (n == 409) {
      EXPECT_FALSE(keys["warning"].empty());
    }
  }
  EXPECT_GT(warned, 25);
}

TEST_F(VtfmtTiffTest, SingleSampleCellsConvertWithTheirValuesWithoutTheGridOption) {
  struct CellCase {
    const char* name;
    GDALDataType type;
    std::vector<double> values;
  };
  const CellCase cases[] = {
      {"f32", GDT_Float32, {1.5, -2.25, 1e30, 0}},
      {"i32", GDT_Int32, {1, -5, 100000, -2147483648.0}},
      {"f64", GDT_Float64, {0.1, -2.5, 1e300, 0}},
      {"u32", GDT_UInt32, {0, 1, 305419896, 2147483647}},
  };
  for (const CellCase& c : cases) {
    const std::string in = std::string(c.name) + ".tif";
    ASSERT_TRUE(GdalCells(dir / in, c.type, c.values)) << c.name;
    GdalGrid source;
    ASSERT_TRUE(GdalReadGrid(dir / in, source));
    for (const char* ext : {".asc", ".tif"}) {
      const std::string out = std::string(c.name) + "-out" + ext;
      const ToolResult r = Run("convert " + Path(in) + " " + Path(out));
      ASSERT_EQ(r.status, 0) << out << ": " << r.err;
      GdalGrid back;
      ASSERT_TRUE(GdalReadGrid(dir / out, back)) << out;
      ASSERT_EQ(back.values.size(), source.values.size()) << out;
      for (size_t i = 0; i < source.values.size(); ++i) {
        // A text grid holds a single-precision cell as its shortest text,
        // which reads back as that single-precision value.
        const bool single = c.type == GDT_Float32 && std::string(ext) == ".asc";
        if (single)
          EXPECT_EQ(static_cast<float>(back.values[i]), static_cast<float>(source.values[i])) << out << " " << i;
        else
          EXPECT_EQ(back.values[i], source.values[i]) << out << " " << i;
      }
      EXPECT_EQ(back.gt[0], 1000) << out;
      EXPECT_EQ(back.gt[3], 2000) << out;
    }
  }
}

// Unsigned cells that signed ones cannot hold: once convert tells writers
// which cells are unsigned, enable this.
TEST_F(VtfmtTiffTest, UnsignedCellsAreKeptOrRefusedNeverChanged) {
  ASSERT_TRUE(GdalCells(dir / "u16.tif", GDT_UInt16, {0, 1, 40000, 65535}));
  ToolResult r = Run("convert " + Path("u16.tif") + " " + Path("u16-out.tif"));
  ASSERT_EQ(r.status, 0) << r.err;
  GDALDatasetH ds = GDALOpen((dir / "u16-out.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  EXPECT_EQ(GDALGetRasterDataType(GDALGetRasterBand(ds, 1)), GDT_UInt16);
  GDALClose(ds);
  GdalGrid u16;
  ASSERT_TRUE(GdalReadGrid(dir / "u16-out.tif", u16));
  EXPECT_EQ(u16.values, (std::vector<double>{0, 1, 40000, 65535, 65535, 40000, 1, 0}));

  ASSERT_TRUE(GdalCells(dir / "u32.tif", GDT_UInt32, {0, 1, 3000000000.0, 4294967295.0}));
  for (const char* out : {"u32-out.asc", "u32-out.tif"}) {
    r = Run("convert " + Path("u32.tif") + " " + Path(out));
    if (r.status != 0) {
      EXPECT_EQ(r.status, 1) << out;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_FALSE(dir.Exists(out));
      continue;
    }
    GdalGrid back;
    ASSERT_TRUE(GdalReadGrid(dir / out, back)) << out;
    EXPECT_EQ(back.values, (std::vector<double>{0, 1, 3000000000.0, 4294967295.0, 4294967295.0, 3000000000.0, 1, 0}))
        << out;
  }
}

TEST_F(VtfmtTiffTest, SampleLayoutsNoPixelFormatHoldsAreRefusedByName) {
  struct RefusedCase {
    const char* name;
    const char* layout;  // what the message names
  };
  ASSERT_TRUE(GdalCells(dir / "ci16.tif", GDT_CInt16, {1, -2, 300, 0}));
  ASSERT_TRUE(GdalCells(dir / "ci32.tif", GDT_CInt32, {1, -2, 300, 0}));
  ASSERT_TRUE(LibTiffSamples(dir / "u24.tif", 24, SAMPLEFORMAT_UINT));
  ASSERT_TRUE(LibTiffSamples(dir / "i24.tif", 24, SAMPLEFORMAT_INT));
  ASSERT_TRUE(LibTiffSamples(dir / "f24.tif", 24, SAMPLEFORMAT_IEEEFP));
  const RefusedCase cases[] = {{"ci16", "1 sample of 32-bit complex integer"},
                               {"ci32", "1 sample of 64-bit complex integer"},
                               {"u24", "1 sample of 24-bit unsigned integer"},
                               {"i24", "1 sample of 24-bit signed integer"},
                               {"f24", "1 sample of 24-bit float"}};
  for (const RefusedCase& c : cases) {
    const std::string in = std::string(c.name) + ".tif";
    for (const std::string& command : {"info " + Path(in), "dump " + Path(in),
                                       "convert " + Path(in) + " " + Path("out.asc"),
                                       "convert " + Path(in) + " " + Path("out.tif")}) {
      const ToolResult r = Run(command);
      EXPECT_EQ(r.status, 1) << command;
      EXPECT_NE(r.err.find(in + ": driver tiff: " + c.layout + " per pixel"), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("not a tiff file"), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_TRUE(r.out.empty()) << command;
    }
    EXPECT_FALSE(dir.Exists("out.asc"));
    EXPECT_FALSE(dir.Exists("out.tif"));
  }

  // Complex floats have an array form and still open.
  ASSERT_TRUE(GdalCells(dir / "cf32.tif", GDT_CFloat32, {1, -2, 300, 0}));
  const ToolResult r = Run("info " + Path("cf32.tif"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(KeyValues(r.out)["sample_format"], "6");
}

// Two samples a pixel that are not colours (grey and opacity, two bands of
// cells) are not one grey level or one cell: every writer of one sample
// refuses them, naming them, and -oo band=N takes either band whole.
TEST_F(VtfmtTiffTest, TwoSamplesThatAreNotColoursAreRefusedOrTakenOneBandAtATime) {
  for (GDALDataType type : {GDT_Byte, GDT_UInt16}) {
    TiffFixture fixture;
    fixture.width = 7, fixture.height = 3, fixture.bands = 2, fixture.type = type;
    fixture.options = {"PHOTOMETRIC=MINISBLACK"};
    const std::string in = type == GDT_Byte ? "two8.tif" : "two16.tif";
    ASSERT_TRUE(GdalWriteTiff(dir / in, fixture));
    for (const char* out : {"out.png", "out.bmp", "out.gif", "out.tif", "out.asc", "out.img", "out.nsdtf"}) {
      const ToolResult r = Run("convert " + Path(in) + " " + Path(out));
      EXPECT_EQ(r.status, 1) << in << " to " << out;
      EXPECT_NE(r.err.find("2 samples of"), std::string::npos) << in << " to " << out << ": " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_FALSE(dir.Exists(out)) << in << " to " << out;
    }
    for (int band = 1; band <= 2; ++band) {
      const ToolResult r = Run("convert -oo band=" + std::to_string(band) + " " + Path(in) + " " + Path("band.asc"));
      ASSERT_EQ(r.status, 0) << in << " band " << band << ": " << r.err;
      GdalGrid back;
      ASSERT_TRUE(GdalReadGrid(dir / "band.asc", back));
      ASSERT_EQ(back.values.size(), size_t(7 * 3));
      for (size_t i = 0; i < back.values.size(); ++i)
        EXPECT_EQ(back.values[i], PatternValue(fixture, i, band - 1)) << in << " band " << band << " cell " << i;
    }
  }
}

// -scale reads each cell as a number: cells of types it does not read
// (half floats, 64-bit integers, complex pairs) are refused by name rather
// than read past the row or as other numbers, with or without a range.
TEST_F(VtfmtTiffTest, ScaleRefusesCellsItCannotReadAsNumbers) {
  TiffFixture half;
  half.width = 64, half.height = 3, half.bands = 1, half.type = GDT_Float32;
  half.options = {"NBITS=16"};
  ASSERT_TRUE(GdalWriteTiff(dir / "f16.tif", half));
  ASSERT_TRUE(GdalCells(dir / "i64.tif", GDT_Int64, {1, -2, 300, 0}));
  ASSERT_TRUE(GdalCells(dir / "c64.tif", GDT_CFloat32, {1, -2, 300, 0}));
  const struct {
    const char* in;
    const char* layout;
  } cases[] = {{"f16.tif", "1 sample of 16-bit float"},
               {"i64.tif", "1 sample of 64-bit signed"},
               {"c64.tif", "1 sample of 64-bit complex"}};
  for (const auto& c : cases) {
    ASSERT_NE(KeyValues(Run("info " + Path(c.in)).out)["rows"].find(c.layout), std::string::npos) << c.in;
    for (const char* scale : {"-scale", "-scale 0 100"}) {
      const ToolResult r = Run("convert " + std::string(scale) + " " + Path(c.in) + " " + Path("out.png"));
      EXPECT_EQ(r.status, 1) << c.in << " " << scale << ": " << r.err;
      EXPECT_NE(r.err.find(c.in + std::string(": -scale")), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.layout), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_FALSE(dir.Exists("out.png")) << c.in << " " << scale;
    }
  }
}

TEST_F(VtfmtTiffTest, ModelTransformationPlacesAnUnrotatedImageAndARotatedOneHasNoBounds) {
  // Pixels of 10 x 5 m whose corner is at (500000, 4200000).
  GeoPlacement plain;
  plain.matrix = {10, 0, 0, 500000, 0, -5, 0, 4200000, 0, 0, 0, 0, 0, 0, 0, 1};
  ASSERT_TRUE(LibTiffGeo(dir / "matrix.tif", plain));
  // South up: the matrix's rows run northwards.
  GeoPlacement southUp = plain;
  southUp.matrix[5] = 5;
  ASSERT_TRUE(LibTiffGeo(dir / "south.tif", southUp));
  for (const char* name : {"matrix.tif", "south.tif"}) {
    const ToolResult r = Run("info " + Path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<double> gdal = GdalCorners(dir / name);
    ASSERT_EQ(gdal.size(), 4u) << name;
    EXPECT_EQ(InfoCorners(r.out), gdal) << name << "\n" << r.out;
    EXPECT_EQ(KeyValues(r.out).count("bounds_note"), 0u) << r.out;
  }
  // The same place by tie point and pixel scale converts to the same bounds.
  ToolResult r = Run("convert " + Path("matrix.tif") + " " + Path("copy.tif"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(GdalCorners(dir / "copy.tif"), GdalCorners(dir / "matrix.tif"));

  // GDAL's own rotated GeoTIFF: no upright rectangle holds it.
  GDALAllRegister();
  GDALDatasetH ds =
      GDALCreate(GDALGetDriverByName("GTiff"), (dir / "turned.tif").c_str(), 6, 4, 1, GDT_Byte, nullptr);
  ASSERT_NE(ds, nullptr);
  double gt[6] = {500000, 10, 2, 4200000, 1, -5};
  GDALSetGeoTransform(ds, gt);
  GDALClose(ds);
  r = Run("info " + Path("turned.tif"));
  ASSERT_EQ(r.status, 0) << r.err;
  auto keys = KeyValues(r.out);
  EXPECT_EQ(keys["bounds"], "none");
  EXPECT_EQ(keys["bounds_note"], "the model transformation rotates the image: no bounds");
}

TEST_F(VtfmtTiffTest, PixelIsPointPutsTheCornerHalfAPixelUpAndLeftAsGdalDoes) {
  // GDAL's own: it writes the tie point at the centre of the first pixel.
  GDALAllRegister();
  GDALDatasetH ds =
      GDALCreate(GDALGetDriverByName("GTiff"), (dir / "gdal.tif").c_str(), 6, 4, 1, GDT_Byte, nullptr);
  ASSERT_NE(ds, nullptr);
  GDALSetMetadataItem(ds, "AREA_OR_POINT", "Point", nullptr);
  double gt[6] = {500000, 10, 0, 4200000, 0, -5};
  GDALSetGeoTransform(ds, gt);
  GDALClose(ds);
  // By hand: tie point and scale, and a model transformation, both of
  // points; and the same tie point of an area, which stays where it is.
  GeoPlacement tie;
  tie.tie = {0, 0, 0, 500005, 4199997.5, 0};
  tie.scale = {10, 5, 0};
  tie.rasterType = 2;
  ASSERT_TRUE(LibTiffGeo(dir / "tie.tif", tie));
  GeoPlacement matrix;
  matrix.matrix = {10, 0, 0, 500005, 0, -5, 0, 4199997.5, 0, 0, 0, 0, 0, 0, 0, 1};
  matrix.rasterType = 2;
  ASSERT_TRUE(LibTiffGeo(dir / "matrix.tif", matrix));
  GeoPlacement area = tie;
  area.rasterType = 1;
  ASSERT_TRUE(LibTiffGeo(dir / "area.tif", area));
  const std::vector<double> corner = {500000, 4200000, 500060, 4199980};
  for (const char* name : {"gdal.tif", "tie.tif", "matrix.tif", "area.tif"}) {
    const ToolResult r = Run("info " + Path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<double> gdal = GdalCorners(dir / name);
    EXPECT_EQ(InfoCorners(r.out), gdal) << name << "\n" << r.out;
    if (std::string(name) != "area.tif") {
      EXPECT_EQ(gdal, corner) << name;
    }
  }
  EXPECT_EQ(GdalCorners(dir / "area.tif"), (std::vector<double>{500005, 4199997.5, 500065, 4199977.5}));
}

TEST_F(VtfmtTiffTest, StripsCountingMoreThanTheirRowsReadWholeAsGdalReadsThem) {
  struct StripCase {
    uint32_t rowsPerStrip, extra;
    uint16_t planes;
  };
  // Several strips, the last counted as full; padded; RowsPerStrip beyond
  // the image; one row a strip; and planes each of one over-counted strip.
  const StripCase cases[] = {{3, 0, 1}, {2, 3, 1}, {1000, 0, 1}, {1, 4, 1}, {1000, 0, 3}, {2, 0, 3}};
  for (const StripCase& c : cases) {
    const std::string name = "s" + std::to_string(c.rowsPerStrip) + "-" + std::to_string(c.extra) + "-" +
                             std::to_string(c.planes) + ".tif";
    dir.Put(name, OverCountedStrips(c.rowsPerStrip, c.extra, c.planes));
    GdalPixels g;
    ASSERT_TRUE(GdalReadPixels(dir / name, g)) << name;
    const ToolResult r = Run("dump " + Path(name));
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(r.out, std::string(g.bytes.begin(), g.bytes.end())) << name;
    // Bottom-up writers ask for the rows last first.
    const ToolResult bmp = Run("convert " + Path(name) + " " + Path(name + ".bmp"));
    ASSERT_EQ(bmp.status, 0) << name << ": " << bmp.err;
    GdalPixels back;
    ASSERT_TRUE(GdalReadPixels(dir / (name + ".bmp"), back)) << name;
    EXPECT_EQ(back.bytes, g.bytes) << name;
  }
}

// A 13 x 3 GeoTIFF of GDAL's, `bands` bands of `type` packed in `nbits`
// bits, its values the pattern cut to `nbits`.
bool GdalPacked(const std::string& path, int bands, GDALDataType type, int nbits,
                std::vector<std::string> options = {}) {
  TiffFixture f;
  f.width = 13, f.height = 3, f.bands = bands, f.type = type;
  options.push_back("NBITS=" + std::to_string(nbits));
  f.options = options;
  GDALAllRegister();
  std::vector<const char*> opts;
  for (const std::string& o : f.options) opts.push_back(o.c_str());
  opts.push_back(nullptr);
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), f.width, f.height, bands, type,
                               const_cast<char**>(opts.data()));
  if (!ds) return false;
  bool ok = true;
  std::vector<double> values(static_cast<size_t>(f.width) * f.height);
  for (int b = 0; b < bands && ok; ++b) {
    for (size_t i = 0; i < values.size(); ++i)
      values[i] = static_cast<double>((i * 37 + i / 7 + b * 91) & ((1u << nbits) - 1));
    ok = GDALRasterIO(GDALGetRasterBand(ds, b + 1), GF_Write, 0, 0, f.width, f.height, values.data(), f.width,
                      f.height, GDT_Float64, 0, 0) == CE_None;
  }
  GDALClose(ds);
  return ok;
}

TEST_F(VtfmtTiffTest, PackedSamplesComeOutAsGdalsValues) {
  struct PackedCase {
    const char* name;
    int bands;
    GDALDataType type;
    int nbits;
    std::vector<std::string> options;
    const char* rows;  // what info says of them
  };
  const PackedCase cases[] = {
      {"g2", 1, GDT_Byte, 2, {}, "1 sample of 8-bit unsigned per pixel (grey)"},
      {"g3", 1, GDT_Byte, 3, {"COMPRESS=LZW"}, "1 sample of 8-bit unsigned per pixel (grey)"},
      {"g4", 1, GDT_Byte, 4, {}, "1 sample of 4-bit unsigned per pixel (palette indices)"},
      {"rgb5", 3, GDT_Byte, 5, {}, "3 samples of 8-bit unsigned per pixel (colour, red first)"},
      {"u10",
       1,
       GDT_UInt16,
       10,
       {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"},
       "1 sample of 16-bit unsigned per pixel (grid cells)"},
      {"u12", 1, GDT_UInt16, 12, {"COMPRESS=DEFLATE"}, "1 sample of 16-bit unsigned per pixel (grid cells)"},
  };
  for (const PackedCase& c : cases) {
    const std::string in = std::string(c.name) + ".tif";
    ASSERT_TRUE(GdalPacked(dir / in, c.bands, c.type, c.nbits, c.options)) << c.name;
    ToolResult r = Run("info " + Path(in));
    ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(KeyValues(r.out)["rows"], c.rows) << c.name;
    GdalPixels g;
    ASSERT_TRUE(GdalReadPixels(dir / in, g));
    // Four-bit grey is delivered packed; the others one value a sample.
    if (c.nbits != 4) {
      r = Run("dump " + Path(in));
      ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
      EXPECT_EQ(r.out, std::string(g.bytes.begin(), g.bytes.end())) << c.name;
    }
    // Through a format that keeps the values and one that shows them.
    for (const char* ext : {".tif", c.type == GDT_Byte ? ".png" : ".asc"}) {
      const std::string out = std::string(c.name) + "-out" + ext;
      r = Run("convert " + Path(in) + " " + Path(out));
      ASSERT_EQ(r.status, 0) << out << ": " << r.err;
      GdalPixels back;
      ASSERT_TRUE(GdalReadPixels(dir / out, back)) << out;
      if (back.sampleBytes == g.sampleBytes) {
        EXPECT_EQ(back.bytes, g.bytes) << out;
        // Grey levels shown through a colour table are the values.
        GDALDatasetH ds = GDALOpen((dir / out).c_str(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr);
        GDALColorTableH table = GDALGetRasterColorTable(GDALGetRasterBand(ds, 1));
        for (size_t i = 0; table && i < back.bytes.size(); ++i) {
          const GDALColorEntry* e = GDALGetColorEntry(table, back.bytes[i]);
          ASSERT_NE(e, nullptr);
          EXPECT_EQ(e->c1, g.bytes[i]) << out << " " << i;
          EXPECT_EQ(e->c3, g.bytes[i]) << out << " " << i;
        }
        GDALClose(ds);
      } else {
        GdalGrid cells, source;
        ASSERT_TRUE(GdalReadGrid(dir / out, cells));
        ASSERT_TRUE(GdalReadGrid(dir / in, source));
        EXPECT_EQ(cells.values, source.values) << out;
      }
    }
  }

  // Planes of packed samples, and packed signed ones, are refused by name.
  ASSERT_TRUE(GdalPacked(dir / "planes.tif", 3, GDT_Byte, 5, {"INTERLEAVE=BAND"}));
  ToolResult r = Run("dump " + Path("planes.tif"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("3 samples of 5-bit unsigned integer per pixel"), std::string::npos) << r.err;
  ASSERT_TRUE(LibTiffSamples(dir / "i12.tif", 12, SAMPLEFORMAT_INT));
  r = Run("dump " + Path("i12.tif"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("1 sample of 12-bit signed integer per pixel"), std::string::npos) << r.err;
  // Several samples of float, whatever their count, name their layout.
  for (int bands : {3, 4}) {
    TiffFixture f;
    f.bands = bands, f.type = GDT_Float32;
    ASSERT_TRUE(GdalWriteTiff(dir / "f.tif", f));
    r = Run("info " + Path("f.tif"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find(std::to_string(bands) + " samples of 32-bit float per pixel: no pixel format holds them"),
        std::string::npos)
        << r.err;
  }
}

TEST_F(VtfmtTiffTest, CmykComesOutAsGdalsRgb) {
  const std::vector<std::vector<std::string>> layouts = {
      {"PHOTOMETRIC=CMYK"},
      {"PHOTOMETRIC=CMYK", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=LZW"},
  };
  for (size_t i = 0; i < layouts.size(); ++i) {
    TiffFixture f;
    f.bands = 4;
    f.options = layouts[i];
    const std::string name = "cmyk" + std::to_string(i) + ".tif";
    ASSERT_TRUE(GdalWriteTiff(dir / name, f));
    // GDAL reads the inks as red, green, blue and an opaque alpha.
    GdalPixels g;
    ASSERT_TRUE(GdalReadPixels(dir / name, g));
    ASSERT_EQ(g.bands, 4);
    std::string rgb;
    for (size_t p = 0; p < g.bytes.size(); p += 4) {
      EXPECT_EQ(g.bytes[p + 3], 255);
      rgb.append(reinterpret_cast<const char*>(&g.bytes[p]), 3);
    }
    ToolResult r = Run("info " + Path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(KeyValues(r.out)["rows"], "3 samples of 8-bit unsigned per pixel (colour, red first)");
    EXPECT_EQ(KeyValues(r.out)["inks"], "CMYK, delivered as RGB");
    r = Run("dump " + Path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, rgb) << name;
    r = Run("convert " + Path(name) + " " + Path(name + ".png"));
    ASSERT_EQ(r.status, 0) << r.err;
    GdalPixels png;
    ASSERT_TRUE(GdalReadPixels(dir / (name + ".png"), png));
    EXPECT_EQ(std::string(png.bytes.begin(), png.bytes.end()), rgb) << name;
  }
  // Inks in planes, or of 16 bits, are refused by their layout.
  TiffFixture f;
  f.bands = 4;
  f.options = {"PHOTOMETRIC=CMYK", "INTERLEAVE=BAND"};
  ASSERT_TRUE(GdalWriteTiff(dir / "planes.tif", f));
  f.options = {"PHOTOMETRIC=CMYK"};
  f.type = GDT_UInt16;
  ASSERT_TRUE(GdalWriteTiff(dir / "cmyk16.tif", f));
  for (const char* name : {"planes.tif", "cmyk16.tif"}) {
    const ToolResult r = Run("convert " + Path(name) + " " + Path("out.png"));
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find(": only interleaved 8-bit CMYK is read"), std::string::npos) << r.err;
    EXPECT_FALSE(dir.Exists("out.png"));
  }
}

// A 32 x 24 old-style JPEG TIFF: GDAL's baseline JPEG (YCbCr, 2 x 2
// subsampled) wrapped whole as the single strip, with JPEGInterchangeFormat
// pointing at it, as old writers made them. `rowsPerStrip` may exceed the
// image. Empty when GDAL cannot make the JPEG.
std::string OldStyleJpeg(const std::string& jpegPath, uint32_t rowsPerStrip) {
  const int w = 32, h = 24;
  GDALAllRegister();
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", w, h, 3, GDT_Byte, nullptr);
  if (!mem) return {};
  std::vector<unsigned char> band(w * h);
  for (int b = 0; b < 3; ++b) {
    for (int i = 0; i < w * h; ++i)
      band[i] = static_cast<unsigned char>((i % w) * (3 + b * 2) + (i / w) * (7 - b * 2));
    if (GDALRasterIO(GDALGetRasterBand(mem, b + 1), GF_Write, 0, 0, w, h, band.data(), w, h, GDT_Byte, 0,
                     0) != CE_None)
      return {};
  }
  const char* options[] = {"QUALITY=95", nullptr};
  GDALDatasetH jpeg = GDALCreateCopy(GDALGetDriverByName("JPEG"), jpegPath.c_str(), mem, FALSE,
                                     const_cast<char**>(options), nullptr, nullptr);
  GDALClose(mem);
  if (!jpeg) return {};
  GDALClose(jpeg);
  std::ifstream in(jpegPath, std::ios::binary);
  const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (stream.empty()) return {};
  std::string out("II*\0\x08\0\0\0", 8);
  auto put = [&out](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  const uint16_t entries = 14;
  const uint32_t bitsAt = 8 + 2 + 12 * entries + 4, jpegAt = bitsAt + 6,
                 length = static_cast<uint32_t>(stream.size());
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    put(tag, 2), put(type, 2), put(count, 4), put(value, 4);
  };
  put(entries, 2);
  entry(256, 4, 1, w);
  entry(257, 4, 1, h);
  entry(258, 3, 3, bitsAt);
  entry(259, 3, 1, 6);  // old-style JPEG
  entry(262, 3, 1, 6);  // YCbCr
  entry(273, 4, 1, jpegAt);
  entry(277, 3, 1, 3);
  entry(278, 4, 1, rowsPerStrip);
  entry(279, 4, 1, length);
  entry(284, 3, 1, 1);
  entry(512, 3, 1, 1);  // baseline process
  entry(513, 4, 1, jpegAt);
  entry(514, 4, 1, length);
  entry(530, 3, 2, 2 | (2u << 16));  // 2 x 2 subsampling
  put(0, 4);
  put(8, 2), put(8, 2), put(8, 2);
  return out + stream;
}

TEST_F(VtfmtTiffTest, OldStyleJpegReadsThroughRgbaAsGdalReadsIt) {
  for (uint32_t rowsPerStrip : {24u, 1000u}) {
    const std::string tiff = OldStyleJpeg(dir / "source.jpg", rowsPerStrip);
    ASSERT_FALSE(tiff.empty());
    const std::string name = "ojpeg" + std::to_string(rowsPerStrip) + ".tif";
    dir.Put(name, tiff);
    GdalPixels g;
    ASSERT_TRUE(GdalReadPixels(dir / name, g));
    ASSERT_EQ(g.bands, 3);
    ToolResult r = Run("info " + Path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(KeyValues(r.out)["rows"], "3 samples of 8-bit unsigned per pixel (colour, red first)");
    EXPECT_EQ(KeyValues(r.out)["compression"], "6");
    r = Run("dump " + Path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(g.bytes.begin(), g.bytes.end())) << name;
    // Rows asked for last first, as bottom-up writers do.
    r = Run("convert " + Path(name) + " " + Path(name + ".bmp"));
    ASSERT_EQ(r.status, 0) << r.err;
    GdalPixels bmp;
    ASSERT_TRUE(GdalReadPixels(dir / (name + ".bmp"), bmp));
    EXPECT_EQ(bmp.bytes, g.bytes) << name;
  }
}

// What libtiff's own reader says of `path` on its error stream when it
// decodes every strip (empty for a file it reads cleanly), or why it could
// not run. Plain libtiff does not know the GeoTIFF tags and names each one
// it meets, in GDAL's GeoTIFFs as in ours: those lines are left out.
std::string TiffinfoComplaints(const ScratchDir& dir, const std::string& path) {
  const std::string cmd = "tiffinfo -D " + Quote(path) + " >/dev/null 2>" + Quote(dir / "tiffinfo.err");
  const int raw = std::system(cmd.c_str());
  std::istringstream err(dir.Get("tiffinfo.err"));
  std::string complaints, line;
  while (std::getline(err, line)) {
    bool geoTag = false;
    for (const char* tag : {"33550 (0x830e)", "33922 (0x8482)", "34735 (0x87af)", "34736 (0x87b0)", "34737 (0x87b1)"})
      geoTag = geoTag || line == "TIFFReadDirectory: Warning, Unknown field with tag " + std::string(tag) + " encountered.";
    if (!geoTag) complaints += line + "\n";
  }
  if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) return "tiffinfo failed: " + complaints;
  return complaints;
}

uint16_t TagOf(const std::string& path, uint32_t tag) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  uint16_t value = 0;
  if (tif) {
    if (TIFFGetField(tif, tag, &value) != 1) value = 0;
    TIFFClose(tif);
  }
  return value;
}

TEST_F(VtfmtTiffTest, CompressedWritesKeepEveryPixelForGdalAndLibtiff) {
  // Colour, palette, 16-bit, signed and float samples through each codec,
  // with and without the predictor, over strips that end inside the image.
  struct Source {
    const char* name;
    GDALDataType type;
    int bands;
    const char* extra;  // conversion settings the source needs
  };
  const Source sources[] = {{"rgb", GDT_Byte, 3, ""},
                            {"u16", GDT_UInt16, 1, ""},
                            {"i32", GDT_Int32, 1, " -oo grid=1"},
                            {"f32", GDT_Float32, 1, " -oo grid=1"}};
  const char* settings[] = {"compress=deflate", "compress=deflate -oo predictor=2 -oo zlevel=9",
                            "compress=deflate -oo zlevel=1", "compress=lzw", "compress=lzw -oo predictor=2",
                            "compress=packbits"};
  const uint16_t codes[] = {COMPRESSION_ADOBE_DEFLATE, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_ADOBE_DEFLATE,
                            COMPRESSION_LZW, COMPRESSION_LZW, COMPRESSION_PACKBITS};
  for (const Source& src : sources) {
    TiffFixture fixture;
    fixture.width = 301, fixture.height = 257, fixture.type = src.type, fixture.bands = src.bands;
    fixture.geo = true;
    const std::string in = dir / (std::string(src.name) + ".tif");
    ASSERT_TRUE(GdalWriteTiff(in, fixture));
    GdalPixels want;
    ASSERT_TRUE(GdalReadPixels(in, want));
    for (size_t i = 0; i < std::size(settings); ++i) {
      const std::string out = dir / (std::string(src.name) + "-" + std::to_string(i) + ".tif");
      const ToolResult r = Run("convert" + std::string(src.extra) + " -oo " + settings[i] + " " + Quote(in) +
                               " " + Quote(out));
      ASSERT_EQ(r.status, 0) << src.name << " " << settings[i] << ": " << r.err;
      GdalPixels got;
      ASSERT_TRUE(GdalReadPixels(out, got)) << out;
      EXPECT_EQ(got.bytes, want.bytes) << src.name << " " << settings[i];
      EXPECT_EQ(got.sampleBytes, want.sampleBytes) << src.name;
      EXPECT_EQ(got.gt[0], want.gt[0]) << src.name;
      EXPECT_EQ(TagOf(out, TIFFTAG_COMPRESSION), codes[i]) << src.name << " " << settings[i];
      EXPECT_EQ(TagOf(out, TIFFTAG_PREDICTOR), std::string(settings[i]).find("predictor=2") != std::string::npos
                                                   ? PREDICTOR_HORIZONTAL
                                                   : 0)
          << src.name << " " << settings[i];
      EXPECT_EQ(TiffinfoComplaints(dir, out), "") << src.name << " " << settings[i];
    }
  }

  // A flat picture shrinks, and the deflate level is the one asked for:
  // level 9 never gives a larger file than level 1 on it.
  TiffFixture flat;
  flat.width = 400, flat.height = 300, flat.bands = 1;
  flat.colors.resize(256, GDALColorEntry{10, 20, 30, 255});
  ASSERT_TRUE(GdalWriteTiff(dir / "pal.tif", flat));
  for (const char* level : {"1", "9"}) {
    const ToolResult r = Run("convert -oo compress=deflate -oo zlevel=" + std::string(level) + " " +
                             Path("pal.tif") + " " + Path(std::string("pal") + level + ".tif"));
    ASSERT_EQ(r.status, 0) << r.err;
    Picture got, want;
    ASSERT_TRUE(GdalRead(dir / (std::string("pal") + level + ".tif"), got));
    ASSERT_TRUE(GdalRead(dir / "pal.tif", want));
    EXPECT_EQ(got.pixels, want.pixels);
    EXPECT_EQ(got.colors.size(), 256u);
  }
  EXPECT_LT(dir.Get("pal9.tif").size(), dir.Get("pal.tif").size() / 2);
  EXPECT_LE(dir.Get("pal9.tif").size(), dir.Get("pal1.tif").size());
}

TEST_F(VtfmtTiffTest, CompressionSettingsThatCannotApplyAreRefusedByRule) {
  TiffFixture fixture;
  ASSERT_TRUE(GdalWriteTiff(dir / "in.tif", fixture));
  const struct {
    const char* options;
    const char* rule;
  } cases[] = {
      {"-oo compress=jpeg", "compress must be none, deflate, lzw or packbits, not jpeg"},
      {"-oo compress=DEFLATE", "compress must be none, deflate, lzw or packbits, not DEFLATE"},
      {"-oo predictor=2", "predictor=2 needs compress=deflate or compress=lzw"},
      {"-oo compress=packbits -oo predictor=2", "predictor=2 needs compress=deflate or compress=lzw"},
      {"-oo compress=deflate -oo predictor=3", "predictor must be 1 or 2, not 3"},
      {"-oo compress=deflate -oo zlevel=0", "zlevel must be a whole number from 1 to 9, not 0"},
      {"-oo compress=deflate -oo zlevel=10", "zlevel must be a whole number from 1 to 9, not 10"},
      {"-oo compress=lzw -oo zlevel=5", "zlevel needs compress=deflate"},
      {"-oo compress=deflate -oo threads=0", "threads must be a whole number from 1 to 1024, not 0"},
      {"-oo compress=deflate -oo threads=2x", "threads must be a whole number from 1 to 1024, not 2x"},
  };
  for (const auto& c : cases) {
    const ToolResult r = Run("convert " + std::string(c.options) + " " + Path("in.tif") + " " + Path("out.tif"));
    EXPECT_EQ(r.status, 2) << c.options;
    EXPECT_NE(r.err.find(c.rule), std::string::npos) << c.options << ": " << r.err;
    EXPECT_FALSE(std::ifstream(dir / "out.tif").good()) << c.options;
  }
  // The predictor works on whole bytes: 1-bit indices are refused with the
  // file named, and nothing is left behind.
  TiffFixture bits;
  bits.width = 40, bits.height = 3, bits.bands = 1;
  bits.options = {"NBITS=1"};
  ASSERT_TRUE(GdalWriteTiff(dir / "mono-in.tif", bits));
  ASSERT_EQ(KeyValues(Run("info " + Path("mono-in.tif")).out)["pixel_format"], "1");
  Picture mono;
  ASSERT_TRUE(GdalRead(dir / "mono-in.tif", mono));
  ToolResult r = Run("convert -oo compress=lzw -oo predictor=2 " + Path("mono-in.tif") + " " + Path("mono.tif"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("mono.tif"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("predictor=2 needs samples of 8 bits or more"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(dir / "mono.tif").good());
  // Without the predictor, the same 1-bit picture packs and reads back.
  r = Run("convert -oo compress=packbits " + Path("mono-in.tif") + " " + Path("mono.tif"));
  ASSERT_EQ(r.status, 0) << r.err;
  Picture back;
  ASSERT_TRUE(GdalRead(dir / "mono.tif", back));
  EXPECT_EQ(back.pixels, mono.pixels);
}

TEST_F(VtfmtTiffTest, DeflateOnSeveralThreadsWritesTheSameBytesAsOnOne) {
  // Images past the size that starts threads: colour with the predictor and
  // 16-bit cells, each in strips that do not fill the last batch.
  struct Case {
    GDALDataType type;
    int bands, width, height;
    const char* extra;
  };
  const Case cases[] = {{GDT_Byte, 3, 811, 487, " -oo predictor=2"}, {GDT_UInt16, 1, 733, 769, ""}};
  for (const Case& c : cases) {
    TiffFixture fixture;
    fixture.type = c.type, fixture.bands = c.bands, fixture.width = c.width, fixture.height = c.height;
    ASSERT_TRUE(GdalWriteTiff(dir / "big.tif", fixture));
    GdalPixels want;
    ASSERT_TRUE(GdalReadPixels(dir / "big.tif", want));
    std::string one;
    for (const char* threads : {"1", "2", "3", "16", ""}) {
      const std::string name = std::string("t") + threads + ".tif";
      const std::string setting = *threads ? std::string(" -oo threads=") + threads : std::string();
      const ToolResult r =
          Run("convert -oo compress=deflate" + std::string(c.extra) + setting + " " + Path("big.tif") + " " +
              Path(name));
      ASSERT_EQ(r.status, 0) << r.err;
      const std::string bytes = dir.Get(name);
      if (one.empty()) {
        one = bytes;
        GdalPixels got;
        ASSERT_TRUE(GdalReadPixels(dir / name, got));
        EXPECT_EQ(got.bytes, want.bytes);
        EXPECT_EQ(TiffinfoComplaints(dir, dir / name), "");
      }
      EXPECT_TRUE(bytes == one) << "threads=" << threads << " differs from threads=1";
    }
  }
}

}  // namespace

namespace {

TEST_F(VtfmtTiffTest, ReadingTakesTheThreadsOptionAndDumpsTheSameRows) {
  // Past the size that decodes on worker threads, in planes: every count
  // dumps GDAL's pixels; a count out of range is refused by rule.
  TiffFixture fixture;
  fixture.width = 700, fixture.height = 600;
  fixture.options = {"COMPRESS=LZW", "PREDICTOR=2", "INTERLEAVE=BAND", "TILED=YES", "BLOCKXSIZE=96",
                     "BLOCKYSIZE=48"};
  ASSERT_TRUE(GdalWriteTiff(dir / "in.tif", fixture));
  GdalPixels want;
  ASSERT_TRUE(GdalReadPixels(dir / "in.tif", want));
  const std::string expected(want.bytes.begin(), want.bytes.end());
  for (const char* threads : {"1", "2", "7", ""}) {
    const std::string setting = *threads ? std::string("-oo threads=") + threads + " " : std::string();
    const ToolResult r = Run("dump " + setting + Path("in.tif"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == expected) << "threads=" << threads;
  }
  const ToolResult r = Run("dump -oo threads=0 " + Path("in.tif"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("threads must be a whole number from 1 to 1024, not 0"), std::string::npos) << r.err;
}

}  // namespace

// The vtfmt tool on text grids: info and dump of GDAL-written grids, and
// conversions whose results GDAL reads back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <gdal.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/ToolRun.h"

namespace {

using Result = ToolResult;

using Raster = GdalGrid;

class VtfmtGridTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { GDALAllRegister(); }

  Result Run(const std::string& args) { return RunTool(dir, args); }
  static std::map<std::string, std::string> Keys(const std::string& text) { return KeyValues(text); }

  // A grid written by GDAL: values k * 0.25 (exact in six decimals), some
  // cells no-data.
  Raster MakeGdalGrid(const std::string& name, GDALDataType type, int width, int height) {
    Raster g;
    g.width = width;
    g.height = height;
    g.values.resize(size_t(width) * height);
    for (size_t i = 0; i < g.values.size(); ++i) {
      const double v = double(int(i * 131 % 4001) - 2000);
      g.values[i] = i % 11 == 3 ? -9999.0 : type == GDT_Float32 ? v * 0.25 : v;
    }
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 1, type, nullptr);
    double gt[6] = {-75.5, 0.5, 0, 41.25, 0, -0.5};
    GDALSetGeoTransform(mem, gt);
    GDALRasterBandH band = GDALGetRasterBand(mem, 1);
    GDALSetRasterNoDataValue(band, -9999.0);
    EXPECT_EQ(
        GDALRasterIO(band, GF_Write, 0, 0, width, height, g.values.data(), width, height, GDT_Float64, 0, 0),
        CE_None);
    GDALClose(GDALCreateCopy(GDALGetDriverByName("AAIGrid"), (dir / name).c_str(), mem, FALSE, nullptr,
                             nullptr, nullptr));
    GDALClose(mem);
    std::memcpy(g.gt, gt, sizeof gt);
    return g;
  }

  Raster ReadWithGdal(const std::string& name) {
    Raster g;
    EXPECT_TRUE(GdalReadGrid(dir / name, g)) << name;
    return g;
  }

  static void ExpectSameGrid(const Raster& a, const Raster& b, const std::string& what) {
    ASSERT_EQ(a.width, b.width) << what;
    ASSERT_EQ(a.height, b.height) << what;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(a.gt[i], b.gt[i]) << what << " geotransform " << i;
    for (size_t i = 0; i < a.values.size(); ++i) ASSERT_EQ(a.values[i], b.values[i]) << what << " cell " << i;
  }

  ScratchDir dir;
};

TEST_F(VtfmtGridTest, InfoAndDumpOfAGdalGrid) {
  const Raster g = MakeGdalGrid("g.asc", GDT_Float32, 7, 4);
  Result info = Run("info " + Quote(dir / "g.asc"));
  ASSERT_EQ(info.status, 0) << info.err;
  auto keys = Keys(info.out);
  EXPECT_EQ(keys["driver"], "aaigrid");
  EXPECT_EQ(keys["width"], "7");
  EXPECT_EQ(keys["height"], "4");
  EXPECT_EQ(keys["pixel_format"], "3200");  // the smallest format that holds quarter values
  EXPECT_EQ(keys["row_order"], "top-down");
  EXPECT_EQ(keys["bounds"], "-75.5 41.25 -72 39.25");
  EXPECT_EQ(keys["nodata_value"], "-9999");

  // Float rows equal GDAL's cells, row 0 first.
  Result dump = Run("dump " + Quote(dir / "g.asc"));
  ASSERT_EQ(dump.status, 0) << dump.err;
  ASSERT_EQ(dump.out.size(), g.values.size() * 4);
  for (size_t i = 0; i < g.values.size(); ++i) {
    float v;
    std::memcpy(&v, dump.out.data() + 4 * i, 4);
    ASSERT_EQ(v, float(g.values[i])) << i;
  }
  // Whole-number rows cannot hold quarters: the first such cell is named.
  Result dump24 = Run("dump -oo pixel_format=24 " + Quote(dir / "g.asc"));
  EXPECT_EQ(dump24.status, 1);
  EXPECT_NE(dump24.err.find("does not fit pixel format 24"), std::string::npos) << dump24.err;

  Result bad = Run("dump -oo pixel_format=12 " + Quote(dir / "g.asc"));
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("pixel_format"), std::string::npos);
}

TEST_F(VtfmtGridTest, ConvertAaigridToAaigrid) {
  MakeGdalGrid("in.asc", GDT_Float32, 9, 5);
  Result r = Run("convert -oo pixel_format=6400 " + Quote(dir / "in.asc") + " " + Quote(dir / "out.asc"));
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameGrid(ReadWithGdal("in.asc"), ReadWithGdal("out.asc"), "aaigrid copy");
  EXPECT_TRUE(ReadWithGdal("out.asc").hasNoData);
}

// The raw sample (top-down like the grid) holds colours, blue byte first:
// a grid takes one band of them (red first), and refuses the pixel whole.
TEST_F(VtfmtGridTest, ConvertRawToAaigrid) {
  const std::string raw = std::string(VTFMT_SOURCE_DIR) + "/samples/dem.raw";
  Result r = Run("convert " + Quote(raw) + " " + Quote(dir / "dem.asc"));
  ASSERT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-oo band=N"), std::string::npos) << r.err;
  for (int band = 1; band <= 3; ++band) {
    r = Run("convert -oo band=" + std::to_string(band) + " " + Quote(raw) + " " + Quote(dir / "dem.asc"));
    ASSERT_EQ(r.status, 0) << r.err;
    const Raster g = ReadWithGdal("dem.asc");
    ASSERT_EQ(g.width, 100);
    ASSERT_EQ(g.height, 50);
    EXPECT_EQ(g.gt[0], 500);
    EXPECT_EQ(g.gt[1], 2);
    EXPECT_EQ(g.gt[3], 3100);
    EXPECT_EQ(g.gt[5], -2);
    const int byte = 3 - band;  // blue is the first byte of a pixel
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 100; ++x) {
        const double expect = (7 * x + 13 * y + 50 * byte) % 256;
        ASSERT_EQ(g.values[size_t(y) * 100 + x], expect) << x << "," << y;
      }
  }
}

TEST_F(VtfmtGridTest, AaigridThroughNsdtfAndBack) {
  MakeGdalGrid("in.asc", GDT_Int32, 13, 6);
  Result there =
      Run("convert -oo pixel_format=320 " + Quote(dir / "in.asc") + " " + Quote(dir / "mid.nsdtf"));
  ASSERT_EQ(there.status, 0) << there.err;
  EXPECT_EQ(dir.Get("mid.nsdtf").rfind("DataMark:CNSDTF-DEM\n", 0), 0u);

  Result info = Run("info " + Quote(dir / "mid.nsdtf"));
  ASSERT_EQ(info.status, 0) << info.err;
  auto keys = Keys(info.out);
  EXPECT_EQ(keys["driver"], "nsdtf");
  EXPECT_EQ(keys["pixel_format"], "320");
  EXPECT_EQ(keys["bounds"], "-75.5 41.25 -69 38.25");

  Result back = Run("convert " + Quote(dir / "mid.nsdtf") + " " + Quote(dir / "back.asc"));
  ASSERT_EQ(back.status, 0) << back.err;
  ExpectSameGrid(ReadWithGdal("in.asc"), ReadWithGdal("back.asc"), "through nsdtf");

  // A path that cannot be written fails and leaves nothing behind.
  Result fail = Run("convert " + Quote(dir / "in.asc") + " " + Quote(dir / "none/x.nsdtf"));
  EXPECT_EQ(fail.status, 1);
  EXPECT_FALSE(dir.Exists("none"));
}

TEST_F(VtfmtGridTest, NsdtfCompressedCharGridRows) {
  dir.Put("c.txt",
          "DataMark:CNSDTF-DEM\nVersion:1.0\nUnit:M\nAlpha:0\nCompress:1\nX0:0\nY0:0\nDX:1\nDY:1\nRow:2\n"
          "Col:3\nValuType:Char\nHzoom:1\n 1.5 2 -2.25 0 7 4\n");
  Result dump = Run("dump " + Quote(dir / "c.txt"));
  ASSERT_EQ(dump.status, 0) << dump.err;
  ASSERT_EQ(dump.out.size(), 6u * 8);
  const double expect[] = {1.5, 1.5, 7, 7, 7, 7};
  for (int i = 0; i < 6; ++i) {
    double v;
    std::memcpy(&v, dump.out.data() + 8 * i, 8);
    EXPECT_EQ(v, expect[i]) << i;
  }
  // Fewer values than cells is refused.
  dir.Put("s.txt",
          "DataMark:CNSDTF-DEM\nVersion:1\nUnit:M\nAlpha:0\nCompress:0\nX0:0\nY0:0\nDX:1\nDY:1\nRow:2\n"
          "Col:3\nValuType:Integer\nHzoom:1\n 1 2 3\n");
  EXPECT_EQ(Run("dump " + Quote(dir / "s.txt")).status, 1);
}

// The grid header holds one cell size: a source with cells of another
// height than width is refused rather than written where it does not lie.
TEST_F(VtfmtGridTest, CellsThatAreNotSquareAreRefused) {
  const std::string header =
      "DataMark:CNSDTF-DEM\nVersion:1.0\nUnit:M\nAlpha:0\nCompress:0\nX0:500\nY0:3000\nDX:2\n";
  const std::string rest = "\nRow:2\nCol:3\nValuType:Integer\nHzoom:1\n 1 2 3 4 5 6\n";
  dir.Put("tall.nsdtf", header + "DY:2.5" + rest);
  Result r = Run("convert " + Quote(dir / "tall.nsdtf") + " " + Quote(dir / "tall.asc"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not square"), std::string::npos) << r.err;
  EXPECT_FALSE(dir.Exists("tall.asc"));

  dir.Put("square.nsdtf", header + "DY:2" + rest);
  r = Run("convert " + Quote(dir / "square.nsdtf") + " " + Quote(dir / "square.asc"));
  ASSERT_EQ(r.status, 0) << r.err;
  const Raster g = ReadWithGdal("square.asc");
  EXPECT_EQ(g.gt[0], 500);
  EXPECT_EQ(g.gt[1], 2);
  EXPECT_EQ(g.gt[3], 3004);
  EXPECT_EQ(g.gt[5], -2);
  EXPECT_EQ(g.values, std::vector<double>({1, 2, 3, 4, 5, 6}));
}

}  // namespace

// vtfmt never changes a grid cell silently: ASCII grids are delivered in the
// smallest cell format that holds their values, a chosen format that cannot
// hold one fails naming it, and cells reach picture formats only scaled.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/ToolRun.h"

namespace {

std::string Grid(const std::string& cells, int columns, int rows, bool noData = true) {
  return "ncols " + std::to_string(columns) + "\nnrows " + std::to_string(rows) +
         "\nxllcorner 10\nyllcorner 20\ncellsize 2\n" + (noData ? "NODATA_value 999\n" : "") + cells;
}

TEST(VtfmtGridCells, TheCellFormatHoldsEveryValue) {
  ScratchDir dir;
  const struct {
    const char* cells;
    const char* format;
  } cases[] = {{"1 -2\n32767 -32768\n", "16"},
               {"1 2\n40000 4\n", "320"},
               {"1 2\n328.5 4\n", "3200"},
               {"1 2\n774.7639770507812 4\n", "3200"},  // a single's value, printed in full
               {"1 2\n328.9998 4\n", "3200"},           // the shortest text of a single
               {"0.1 0.1\n0.1 0.1\n", "3200"},
               {"1 2\n774.76398 4\n", "6400"},          // neither a single nor a single's text
               {"1 2\n1234567.891 4\n", "6400"},
               {"1 2\n3000000000 4\n", "3200"},  // exact in a float
               {"1 2\n3000000001 4\n", "6400"}};
  for (const auto& c : cases) {
    dir.Put("g.asc", Grid(c.cells, 2, 2, false));
    const ToolResult info = RunTool(dir, "info " + Quote(dir / "g.asc"));
    ASSERT_EQ(info.status, 0) << info.err;
    auto keys = KeyValues(info.out);
    EXPECT_EQ(keys["pixel_format"], c.format) << c.cells;
    EXPECT_EQ(keys["nodata_value"], "none");
    // Through a GeoTIFF and back, every cell as GDAL reads the source.
    ToolResult r = RunTool(dir, "convert " + Quote(dir / "g.asc") + " " + Quote(dir / "g.tif"));
    ASSERT_EQ(r.status, 0) << r.err;
    GdalGrid src, tif;
    ASSERT_TRUE(GdalReadGrid(dir / "g.asc", src));
    ASSERT_TRUE(GdalReadGrid(dir / "g.tif", tif));
    // Float cells hold the value the grid's text gives, to a float's precision.
    if (std::string(c.format) == "3200")
      for (double& v : src.values) v = static_cast<float>(v);
    EXPECT_EQ(tif.values, src.values) << c.cells;
  }

  // A chosen format too small for a value fails, naming it and its place.
  dir.Put("g.asc", Grid("1 2\n328.9998 1234567\n", 2, 2));
  for (const char* format : {"16", "320"}) {
    const ToolResult r = RunTool(dir, std::string("dump -oo pixel_format=") + format + " " + Quote(dir / "g.asc"));
    EXPECT_EQ(r.status, 1) << format;
    EXPECT_NE(r.err.find("328.9998 (row 1, column 0)"), std::string::npos) << r.err;
  }
  const ToolResult info = RunTool(dir, "info " + Quote(dir / "g.asc"));
  EXPECT_EQ(KeyValues(info.out)["nodata_value"], "-9999");  // what the rows carry
}

// GDAL's reading of a text grid's cells as singles.
std::vector<float> GdalSingles(const std::string& path) {
  GDALAllRegister();
  const char* options[] = {"DATATYPE=Float32", nullptr};
  std::vector<float> cells;
  GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER, nullptr, options, nullptr);
  if (!ds) return cells;
  const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
  cells.resize(static_cast<size_t>(w) * h);
  if (GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, w, h, cells.data(), w, h, GDT_Float32, 0, 0) != CE_None)
    cells.clear();
  GDALClose(ds);
  return cells;
}

// Asking for singles asks for each value's nearest single, as GDAL reads
// the grid; only values beyond the largest single are refused, and integer
// formats still refuse what they would cut.
// Without a chosen format the grid is read once: the cells read so far are
// kept in the narrowest format that holds them and widened as later cells
// need, so every cell comes out as its text gives it, whichever came first.
TEST(VtfmtGridCells, LaterCellsWidenTheFormatWithoutChangingEarlierOnes) {
  ScratchDir dir;
  const struct {
    std::vector<std::string> cells;
    const char* format;
  } cases[] = {
      // 16777217 fits 32-bit integers but not singles; 0.5 then needs doubles.
      {{"16777217", "0.5"}, "6400"},
      {{"0.5", "16777217"}, "6400"},
      {{"328.9998", "16777217"}, "6400"},
      // Integers, then singles, then doubles: the singles kept as their text's doubles.
      {{"7", "-40000", "0.1", "0.100000001490116119384765625", "328.9998", "774.76398"}, "6400"},
      {{"7", "-40000", "0.1", "0.100000001490116119384765625", "328.9998"}, "3200"},
      {{"-32768", "32767", "12"}, "16"},
      {{"-32768", "32768", "12"}, "320"},
      {{"nan", "1", "1e300"}, "6400"},
      {{"1", "inf", "0.25", "nan"}, "3200"},
      // A -0 read while integers still held every value keeps its sign
      // once the grid widens to singles or doubles, as GDAL reads it.
      {{"-0", "7", "0.5", "-0"}, "3200"},
      {{"-0", "16777217", "0.5", "-0"}, "6400"},
      {{"3", "-0", "123456.789", "-0", "-0.0"}, "6400"},
      {{"-0", "7"}, "16"},
  };
  for (const auto& c : cases) {
    std::string text;
    // A second row of zeros, delivered from what was held.
    for (const std::string& cell : c.cells) text += cell + " ";
    text += "\n";
    for (size_t i = 0; i < c.cells.size(); ++i) text += "0 ";
    text += "\n";
    const int columns = static_cast<int>(c.cells.size());
    dir.Put("w.asc", Grid(text, columns, 2, false));
    const ToolResult info = RunTool(dir, "info " + Quote(dir / "w.asc"));
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(KeyValues(info.out)["pixel_format"], c.format) << text;
    const ToolResult dump = RunTool(dir, "dump " + Quote(dir / "w.asc"));
    ASSERT_EQ(dump.status, 0) << dump.err;
    const std::string format = c.format;
    const size_t size = format == "16" ? 2 : format == "6400" ? 8 : 4;
    ASSERT_EQ(dump.out.size(), 2 * size * columns) << text;
    for (size_t i = 0; i < 2u * columns; ++i) {
      const double expected = i < size_t(columns) ? std::strtod(c.cells[i].c_str(), nullptr) : 0.0;
      double cell = 0;
      const char* at = dump.out.data() + size * i;
      if (size == 8) {
        std::memcpy(&cell, at, 8);
      } else if (format == "3200") {
        // Singles hold the nearest single of each text.
        float single;
        std::memcpy(&single, at, 4);
        if (std::isnan(expected)) {
          EXPECT_TRUE(std::isnan(single)) << text << " cell " << i;
        } else {
          EXPECT_EQ(single, static_cast<float>(expected)) << text << " cell " << i;
          EXPECT_EQ(std::signbit(single), std::signbit(expected)) << text << " cell " << i;
        }
        continue;
      } else if (size == 4) {
        int32_t whole;
        std::memcpy(&whole, at, 4);
        cell = whole;
      } else {
        int16_t whole;
        std::memcpy(&whole, at, 2);
        cell = whole;
      }
      if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(cell)) << text << " cell " << i;
      } else {
        EXPECT_EQ(cell, expected) << text << " cell " << i;
        // Integers hold no sign of zero; doubles do.
        if (size == 8) {
          EXPECT_EQ(std::signbit(cell), std::signbit(expected)) << text << " cell " << i;
        }
      }
    }
  }
}

TEST(VtfmtGridCells, ChosenSinglesTakeTheNearestSingle) {
  ScratchDir dir;
  const std::vector<std::string> taken = {"1.2345678901234", "0.0006628195206217308", "774.7639770507812",
                                          "0.1",             "-3.4028235e38",         "16777217",
                                          "1e-50",           "inf",                   "-inf",
                                          "nan"};
  std::string row;
  for (const std::string& t : taken) row += t + " ";
  dir.Put("s.asc", Grid(row + "\n", static_cast<int>(taken.size()), 1, false));
  const ToolResult r = RunTool(dir, "dump -oo pixel_format=3200 " + Quote(dir / "s.asc"));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out.size(), 4 * taken.size());
  const std::vector<float> gdal = GdalSingles(dir / "s.asc");
  ASSERT_EQ(gdal.size(), taken.size());
  for (size_t i = 0; i < taken.size(); ++i) {
    float cell;
    std::memcpy(&cell, r.out.data() + 4 * i, 4);
    const float nearest = static_cast<float>(std::strtod(taken[i].c_str(), nullptr));
    if (std::isnan(nearest)) {
      EXPECT_TRUE(std::isnan(cell)) << taken[i];
      continue;
    }
    EXPECT_EQ(cell, nearest) << taken[i];
    if (std::isfinite(nearest)) {
      EXPECT_EQ(cell, gdal[i]) << taken[i];  // GDAL makes infinities the largest single
    }
  }

  const struct {
    const char* cell;
    const char* format;
    const char* named;
  } refused[] = {{"1e39", "3200", "1e+39"},
                 {"-1e39", "3200", "-1e+39"},
                 {"3.4028236e38", "3200", "3.4028236e+38"},  // past halfway to the next power of two
                 {"1.5", "8", "1.5"},
                 {"1.5", "16", "1.5"},
                 {"1.5", "320", "1.5"},
                 {"70000", "16", "70000"}};
  for (const auto& c : refused) {
    dir.Put("r.asc", Grid(std::string("1 ") + c.cell + "\n", 2, 1, false));
    const ToolResult bad = RunTool(dir, std::string("dump -oo pixel_format=") + c.format + " " + Quote(dir / "r.asc"));
    EXPECT_EQ(bad.status, 1) << c.cell << " " << c.format;
    const std::string message = std::string("cell value ") + c.named + " (row 0, column 1) does not fit pixel format " +
                                c.format;
    EXPECT_NE(bad.err.find(message), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("r.asc"), std::string::npos) << bad.err;
  }
}

TEST(VtfmtGridCells, UnsignedSixteenBitCellsKeepTheirValuesInTextGrids) {
  ScratchDir dir;
  const char* cells = "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n0 40000 65535\n";
  dir.Put("u.asc", cells);
  ASSERT_EQ(RunTool(dir, "convert -oo pixel_format=6400 " + Quote(dir / "u.asc") + " " + Quote(dir / "d.tif")).status, 0);
  // A 16-bit unsigned GeoTIFF from GDAL, and through it to a text grid.
  ASSERT_EQ(std::system(("gdal_translate -q -ot UInt16 " + Quote(dir / "d.tif") + " " + Quote(dir / "u.tif")).c_str()), 0);
  const ToolResult r = RunTool(dir, "convert " + Quote(dir / "u.tif") + " " + Quote(dir / "back.asc"));
  ASSERT_EQ(r.status, 0) << r.err;
  GdalGrid g;
  ASSERT_TRUE(GdalReadGrid(dir / "back.asc", g));
  EXPECT_EQ(g.values, (std::vector<double>{0, 40000, 65535}));
}

TEST(VtfmtGridCells, CellsReachPicturesOnlyScaled) {
  ScratchDir dir;
  dir.Put("g.asc", Grid("100 200 999\n300 150 250\n", 3, 2));
  ToolResult r = RunTool(dir, "convert " + Quote(dir / "g.asc") + " " + Quote(dir / "g.bmp"));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(dir.Exists("g.bmp"));

  // The grid's own range: 100 to 0, 300 to 255, no data 0.
  r = RunTool(dir, "convert -scale " + Quote(dir / "g.asc") + " " + Quote(dir / "g.bmp"));
  ASSERT_EQ(r.status, 0) << r.err;
  Picture p;
  ASSERT_TRUE(GdalRead(dir / "g.bmp", p));
  EXPECT_EQ(p.pixels, (std::vector<unsigned char>{0, 128, 0, 255, 64, 191}));
  ASSERT_EQ(p.colors.size(), 256u);
  EXPECT_EQ(p.colors[128].c1, 128);  // a grey ramp

  // A range of one's own, cells beyond it clamped.
  r = RunTool(dir, "convert -scale 150 250 " + Quote(dir / "g.asc") + " " + Quote(dir / "h.bmp"));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(GdalRead(dir / "h.bmp", p));
  EXPECT_EQ(p.pixels, (std::vector<unsigned char>{0, 128, 0, 255, 0, 255}));

  EXPECT_EQ(RunTool(dir, "convert -scale 5 1 " + Quote(dir / "g.asc") + " " + Quote(dir / "x.bmp")).status, 2);
  EXPECT_EQ(RunTool(dir, "convert -scale " + Quote(dir / "g.bmp") + " " + Quote(dir / "x.bmp")).status, 2);
  EXPECT_EQ(RunTool(dir, "info -oo =5 " + Quote(dir / "g.asc")).status, 2);  // a setting without a key
}

TEST(VtfmtGridCells, AHeaderInAHdrFileServesTheDataBesideIt) {
  ScratchDir dir;
  dir.Put("d.hdr", "ncols 3\nnrows 2\nxllcorner 10\nyllcorner 20\ncellsize 2\nNODATA_value -1\n");
  dir.Put("d.asc", "1.5 2 -1\n4 5 6\n");
  const ToolResult info = RunTool(dir, "info " + Quote(dir / "d.asc"));
  ASSERT_EQ(info.status, 0) << info.err;
  auto keys = KeyValues(info.out);
  EXPECT_EQ(keys["width"], "3");
  EXPECT_EQ(keys["bounds"], "10 24 16 20");
  const ToolResult dump = RunTool(dir, "dump -oo pixel_format=6400 " + Quote(dir / "d.asc"));
  ASSERT_EQ(dump.status, 0) << dump.err;
  ASSERT_EQ(dump.out.size(), 48u);
  double cells[6];
  std::memcpy(cells, dump.out.data(), sizeof cells);
  EXPECT_EQ(cells[0], 1.5);
  EXPECT_EQ(cells[2], -9999);
  EXPECT_EQ(cells[5], 6);
}

}  // namespace

namespace {

// Headers that promise more than their files hold fail at once, naming the
// file, before anything is sized from them.
TEST(VtfmtGridCells, ForgedSizesFailBeforeAnythingIsAllocated) {
  ScratchDir dir;
  dir.Put("big.asc", "ncols 1000000000\nnrows 1000000000\nxllcorner 0\nyllcorner 0\ncellsize 1\n1\n");
  dir.Put("big.raw", "xyz");
  dir.Put("big.ifo", "Width=715827882\nHeight=1\n");
  dir.Put("big.nsdtf",
          "DataMark:CNSDTF-DEM\nVersion:1\nUnit:M\nAlpha:0\nCompress:1\nX0:0\nY0:0\nDX:1\nDY:1\nRow:1\n"
          "Col:500000000\nValuType:Integer\nHzoom:1\n 5 500000000\n");
  for (const char* name : {"big.asc", "big.raw", "big.nsdtf"}) {
    const ToolResult r = RunTool(dir, std::string("dump ") + Quote(dir / name));
    EXPECT_EQ(r.status, 1) << name << ": " << r.err;
    EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
    EXPECT_EQ(r.out.size(), 0u) << name;
  }
}

}  // namespace

// The vtfmt tool on Arc/Info binary grids: info, dump beside GDAL's cells,
// and conversions to the writable grid formats that GDAL reads back with
// the same cells and place.
#include <cpl_error.h>
#include <gdal.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/AigWriter.h"
#include "support/GdalRaster.h"
#include "support/ToolRun.h"

namespace {

class VtfmtAigTest : public ToolTest {
 protected:
  // A 21 x 9 float grid with no-data cells, or an integer grid of
  // literal-byte tiles; tiles of 8 x 4, the last across holding 5 cells.
  std::string Make(bool isFloat) {
    AigGrid g;
    g.width = 21, g.height = 9, g.tileWidth = 8, g.tileHeight = 4;
    g.isFloat = isFloat;
    g.left = -75.5, g.bottom = 39.25, g.cellWidth = g.cellHeight = 0.25;
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x)
        g.cells.push_back((x + 2 * y) % 11 == 4 ? std::nan("") : ((x * 7 + y * 3) % 90) * (isFloat ? 0.5 : 1.0) - 20);
    const std::string path = dir / (isFloat ? "float" : "int");
    EXPECT_TRUE(WriteAig(path, g));
    return path;
  }
};

TEST_F(VtfmtAigTest, InfoAndDumpOfBothCellTypes) {
  for (bool isFloat : {false, true}) {
    const std::string grid = Make(isFloat);
    std::string out;
    ASSERT_EQ(Run("info " + Quote(grid + "/w001001x.adf"), &out), 0) << err;
    auto keys = KeyValues(out);
    EXPECT_EQ(keys["driver"], "aig");
    EXPECT_EQ(keys["width"], "21");
    EXPECT_EQ(keys["pixel_format"], isFloat ? "3200" : "16");
    EXPECT_EQ(keys["bounds"], "-75.5 41.5 -70.25 39.25");
    EXPECT_EQ(keys["tile_width"], "8");
    EXPECT_EQ(keys["tile_height"], "4");
    EXPECT_EQ(keys["cell_type"], isFloat ? "float" : "integer");
    EXPECT_EQ(keys["nodata"], "-9999");

    // Rows of doubles, GDAL's cells with its no-data value as -9999.
    GdalGrid gdal;
    ASSERT_TRUE(GdalReadGrid(grid, gdal));
    ASSERT_EQ(Run("dump -oo pixel_format=6400 " + Quote(grid), &out), 0) << err;
    ASSERT_EQ(out.size(), gdal.values.size() * 8);
    for (size_t i = 0; i < gdal.values.size(); ++i) {
      double v;
      std::memcpy(&v, out.data() + 8 * i, 8);
      ASSERT_EQ(v, gdal.values[i] == gdal.noData ? -9999 : gdal.values[i]) << i;
    }
  }
  // Half values do not fit integer rows; the first is named.
  EXPECT_EQ(Run("dump -oo pixel_format=320 " + Quote(dir / "float")), 1);
  EXPECT_NE(err.find("does not fit pixel format 320"), std::string::npos) << err;
  EXPECT_EQ(Run("info " + Quote(dir / "nothing")), 1);
}

// A data file cut short is a failed read naming the file, never rows of
// no data; the header and index still give the grid's info.
TEST_F(VtfmtAigTest, CutDataFileFailsTheRead) {
  const std::string grid = Make(true);
  const std::string data = grid + "/w001001.adf";
  for (long size : {8L, 0L}) {
    ASSERT_EQ(::truncate(data.c_str(), size), 0);
    EXPECT_EQ(Run("info " + Quote(grid)), 0) << err;
    std::string out;
    EXPECT_EQ(Run("dump " + Quote(grid), &out), 1) << size;
    EXPECT_NE(err.find("w001001.adf"), std::string::npos) << err;
    EXPECT_NE(err.find("past the end"), std::string::npos) << err;
    EXPECT_EQ(Run("convert " + Quote(grid) + " " + Quote(dir / "cut.tif")), 1) << size;
  }
}

// How GDAL reads a grid: without a message, with warnings only (a CCITT
// plane whose lines do not add up, decoded anyway), or with an error.
enum class GdalRead { kClean, kWarned, kFailed };
GdalRead GdalReadsGrid(const std::string& grid) {
  static GdalRead worst;
  worst = GdalRead::kClean;
  CPLPushErrorHandler([](CPLErr level, CPLErrorNum, const char*) {
    if (level >= CE_Failure) worst = GdalRead::kFailed;
    else if (level == CE_Warning && worst == GdalRead::kClean) worst = GdalRead::kWarned;
  });
  GdalGrid g;
  const bool read = GdalReadGrid(grid, g);
  CPLPopErrorHandler();
  return read ? worst : GdalRead::kFailed;
}

// A tile whose bytes do not decode (a type no grid has, codes running past
// its cells or its bytes) fails the rows it holds, naming the tile, where
// GDAL raises an error; wherever GDAL reads without a message, so do we.
// Where GDAL only warns, the plane is damaged and failing is right too.
TEST_F(VtfmtAigTest, DamagedTilesFailWhereGdalFails) {
  const std::string sample = std::string(VTFMT_SOURCE_DIR) + "/samples/hill-aig";
  for (const char* name : {"dblbnd.adf", "hdr.adf", "sta.adf", "w001001x.adf"})
    ASSERT_EQ(std::system(("cp " + Quote(sample + "/" + name) + " " + Quote(dir.path())).c_str()), 0);
  std::ifstream in(sample + "/w001001.adf", std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GT(whole.size(), 1000u);
  int failures = 0, runs = 0;
  for (size_t at = 100; at < whole.size(); at += 29) {
    for (const unsigned char value : {0xFF, 0x42}) {
      std::string damaged = whole;
      damaged[at] = static_cast<char>(value);
      dir.Put("w001001.adf", damaged);
      const GdalRead gdal = GdalReadsGrid(dir.path());
      std::string out;
      const int status = Run("dump " + Quote(dir.path()), &out);
      ++runs;
      if (gdal != GdalRead::kWarned) {
        EXPECT_EQ(status, gdal == GdalRead::kClean ? 0 : 1) << "byte " << at << " = " << int(value) << ": " << err;
      }
      if (status == 1) {
        ++failures;
        EXPECT_NE(err.find("w001001.adf"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
      }
    }
  }
  EXPECT_GT(failures, runs / 10);
}

// Singles asked for: float cells as they are, integer cells as their
// nearest single (16777217 has none of its own).
TEST_F(VtfmtAigTest, ChosenSinglesTakeEachCellsNearestSingle) {
  for (bool isFloat : {true, false}) {
    AigGrid g;
    g.width = 4, g.height = 1, g.isFloat = isFloat, g.compressed = false;
    g.cells = isFloat ? std::vector<double>{774.7639770507812, 0.1f, -1234.567f, 3.0e38f}
                      : std::vector<double>{16777217, -16777219, 123, 2147483647};
    const std::string path = dir / (isFloat ? "float" : "int");
    ASSERT_TRUE(WriteAig(path, g));
    GdalGrid gdal;
    ASSERT_TRUE(GdalReadGrid(path, gdal));
    std::string out;
    ASSERT_EQ(Run("dump -oo pixel_format=3200 " + Quote(path), &out), 0) << err;
    ASSERT_EQ(out.size(), 16u);
    for (size_t i = 0; i < 4; ++i) {
      float v;
      std::memcpy(&v, out.data() + 4 * i, 4);
      EXPECT_EQ(v, static_cast<float>(gdal.values[i])) << i;
    }
  }
}

// Each writable grid format gets GDAL's cells and place, no-data included.
TEST_F(VtfmtAigTest, ConvertToTheGridWriters) {
  const std::string grid = Make(true);
  GdalGrid source;
  ASSERT_TRUE(GdalReadGrid(grid, source));
  for (const char* name : {"out.asc", "out.tif"}) {
    ASSERT_EQ(Run("convert " + Quote(grid) + " " + Quote(dir / name)), 0) << name << err;
    GdalGrid back;
    ASSERT_TRUE(GdalReadGrid(dir / name, back)) << name;
    ASSERT_EQ(back.width, source.width);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(back.gt[i], source.gt[i]) << name << " geotransform " << i;
    for (size_t i = 0; i < source.values.size(); ++i)
      ASSERT_EQ(back.values[i], source.values[i] == source.noData ? -9999 : source.values[i]) << name << " " << i;
  }
  // Cells become pictures only scaled.
  EXPECT_EQ(Run("convert " + Quote(grid) + " " + Quote(dir / "out.png")), 1);
  EXPECT_EQ(Run("convert -scale " + Quote(grid) + " " + Quote(dir / "out.png")), 0) << err;
}

// The grid written by ESRI software (tests/data/aig/windraster) converted
// to GeoTIFF: GDAL reads every cell of it as of the grid, its no-data cells
// as -9999.
TEST_F(VtfmtAigTest, GridWrittenByEsriConvertsAsGdalReadsIt) {
  const std::string grid = std::string(VTFMT_SOURCE_DIR) + "/tests/data/aig/windraster";
  GdalGrid source;
  ASSERT_TRUE(GdalReadGrid(grid, source));
  ASSERT_TRUE(source.hasNoData);
  ASSERT_EQ(Run("convert " + Quote(grid) + " " + Quote(dir / "wind.tif")), 0) << err;
  GdalGrid back;
  ASSERT_TRUE(GdalReadGrid(dir / "wind.tif", back));
  ASSERT_EQ(back.values.size(), source.values.size());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(back.gt[i], source.gt[i]) << "geotransform " << i;
  for (size_t i = 0; i < source.values.size(); ++i)
    ASSERT_EQ(back.values[i], source.values[i] == source.noData ? -9999 : source.values[i]) << i;
}

}  // namespace

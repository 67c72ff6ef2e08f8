// Arc/Info binary grids written by the test writer in every tile type,
// read by GDAL (which must read them as intended) and by our driver, whose
// rows and bounds must match GDAL's; then damaged grids, which must leave
// the damaged tiles' cells alone and touch nothing outside the row.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "raster/CImgFileArcGrd.h"
#include "support/AigWriter.h"
#include "support/GdalRaster.h"
#include "support/ScratchDir.h"

namespace {

const double kNone = std::nan("");
const int32_t kBackground = 12345;  // what the caller fills each line with

// Cells of a grid: value(x, y), NaN for no data.
std::vector<double> Cells(int w, int h, const std::function<double(int, int)>& value) {
  std::vector<double> c(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) c[size_t(y) * w + x] = value(x, y);
  return c;
}

// Our rows as doubles; cells left as the background come out as NaN.
struct OurGrid {
  long load = -1;
  int width = 0, height = 0, format = 0;
  CRect2D bounds;
  std::vector<double> values;
};

OurGrid ReadOurs(const std::string& path, long noValue = -9999) {
  OurGrid g;
  CImgFileArcGrd grid;
  grid.SetNoValue(noValue);
  if (!grid.OpenForRead(path.c_str())) return g;
  g.load = grid.LoadImage();
  if (g.load < 0) return g;
  g.width = int(grid.GetWidth());
  g.height = int(grid.GetHeight());
  g.format = grid.GetPixelFormat();
  g.bounds = grid.m_Bounds;
  const int cell = g.format == PF_BIT16 ? 2 : 4;
  // Guard bytes past the row show anything written beyond it.
  CImgScanLine line(grid.GetPixelFormat(), long(grid.GetWidthBytes()) + 16);
  for (int y = 0; y < g.height; ++y) {
    for (int x = 0; x < line.GetSize() / cell; ++x) {
      if (cell == 2) {
        const int16_t b = int16_t(kBackground);
        std::memcpy(line.GetData() + 2 * x, &b, 2);
      } else if (g.format == PF_FLOAT32) {
        const float b = float(kBackground);
        std::memcpy(line.GetData() + 4 * x, &b, 4);
      } else {
        std::memcpy(line.GetData() + 4 * x, &kBackground, 4);
      }
    }
    EXPECT_EQ(grid.ReadScanLine(y, line), 1) << path << " row " << y;
    for (int x = 0; x < line.GetSize() / cell; ++x) {
      const double v = line.GetValue(x);
      if (x >= g.width) {
        EXPECT_EQ(v, kBackground) << path << " byte past row " << y;
        continue;
      }
      g.values.push_back(v == kBackground ? kNone : v);
    }
  }
  return g;
}

struct TypeCase {
  const char* name;
  int type;  // tile encoding; -2 float grid, -3 raw 32-bit integer grid
  int width, height, tileWidth, tileHeight;
  std::function<double(int, int)> value;
  int expectFormat;
};

// Values that repeat along rows, so runs and blocks pass from row to row.
double Wave(int x, int y, int range, int base) { return base + ((x / 3 + y * 5) * 7) % range; }

const TypeCase kTypes[] = {
    {"const 00", 0x00, 13, 9, 8, 4, [](int, int) { return 42.0; }, 16},
    {"bits 01", 0x01, 21, 7, 16, 4, [](int x, int y) { return 5.0 + ((x * 3 + y) % 5 < 2); }, 16},
    {"nibbles 04", 0x04, 19, 6, 8, 3, [](int x, int y) { return Wave(x, y, 16, -7); }, 16},
    {"bytes 08", 0x08, 37, 11, 16, 4, [](int x, int y) { return Wave(x, y, 256, 1000); }, 16},
    {"words 10 past 16 bits", 0x10, 23, 9, 8, 4, [](int x, int y) { return Wave(x, y, 45000, 0); }, 320},
    {"longs 20", 0x20, 17, 5, 8, 2, [](int x, int y) { return Wave(x, y, 1000, 0) * 9999.0 - 4e6; }, 320},
    {"literal words CF", 0xCF, 29, 10, 8, 4,
     [](int x, int y) { return (x + y) % 9 == 0 ? kNone : Wave(x, y, 60000, 10); }, 320},
    {"literal bytes D7", 0xD7, 300, 9, 256, 4,
     [](int x, int y) { return (x > 40 && x < 200 && y == 3) ? kNone : Wave(x, y, 256, -300); }, 16},
    {"min blocks DF", 0xDF, 31, 13, 8, 4, [](int x, int y) { return (x * y) % 7 == 3 ? kNone : -5.0; }, 16},
    {"runs 32-bit E0", 0xE0, 40, 12, 16, 4, [](int x, int y) { return (x / 6 + y) % 3 * 70000.0 - 1; }, 320},
    {"runs words F0", 0xF0, 33, 8, 8, 4, [](int x, int y) { return Wave(x, y, 900, 7); }, 320},
    {"runs bytes F8", 0xF8, 700, 5, 256, 4, [](int x, int) { return x < 650 ? 3.0 : 200.0; }, 16},
    {"runs bytes FC", 0xFC, 25, 9, 8, 4, [](int x, int y) { return Wave(x / 4, y / 3, 200, 20); }, 16},
    {"bit plane FF", 0xFF, 24, 10, 16, 4, [](int x, int y) { return -20.0 + ((x / 5 + y) % 3 == 0); }, 16},
    {"float", -2, 27, 11, 8, 4,
     [](int x, int y) { return (x == 3 && y > 4) ? kNone : Wave(x, y, 500, -250) * 0.125; }, 3200},
    {"raw 32-bit integers", -3, 18, 7, 8, 4,
     [](int x, int y) { return x == y ? kNone : Wave(x, y, 500, -250) * 10001.0; }, 320},
};

class ArcGrdTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ArcGrdTypes, GdalReadsTheWrittenCellsAndWeReadGdalsRows) {
  const TypeCase& c = GetParam();
  ScratchDir dir;
  AigGrid g;
  g.width = c.width, g.height = c.height, g.tileWidth = c.tileWidth, g.tileHeight = c.tileHeight;
  g.isFloat = c.type == -2;
  g.compressed = c.type != -3;
  g.left = 440000, g.bottom = 3750000, g.cellWidth = 30, g.cellHeight = 25;
  g.cells = Cells(c.width, c.height, c.value);
  g.typeOf = [&c](int, int) { return c.type < 0 ? 0 : c.type; };
  const std::string path = dir / "grid";
  ASSERT_TRUE(WriteAig(path, g)) << c.name;

  GdalGrid gdal;
  ASSERT_TRUE(GdalReadGrid(path, gdal)) << c.name;
  ASSERT_EQ(gdal.width, c.width);
  ASSERT_EQ(gdal.height, c.height);
  for (size_t i = 0; i < g.cells.size(); ++i) {
    const bool none = gdal.hasNoData && gdal.values[i] == gdal.noData;
    ASSERT_EQ(none, std::isnan(g.cells[i])) << c.name << " cell " << i;
    if (!none) ASSERT_EQ(gdal.values[i], float(g.cells[i])) << c.name << " GDAL cell " << i;
  }

  const OurGrid ours = ReadOurs(path);
  ASSERT_EQ(ours.load, 1) << c.name;
  EXPECT_EQ(ours.format, c.expectFormat) << c.name;
  ASSERT_EQ(ours.width, gdal.width);
  ASSERT_EQ(ours.height, gdal.height);
  EXPECT_EQ(ours.bounds.left, gdal.gt[0]);
  EXPECT_EQ(ours.bounds.top, gdal.gt[3]);
  EXPECT_EQ(ours.bounds.right, gdal.gt[0] + gdal.width * gdal.gt[1]);
  EXPECT_EQ(ours.bounds.bottom, gdal.gt[3] + gdal.height * gdal.gt[5]);
  for (size_t i = 0; i < ours.values.size(); ++i) {
    const bool none = gdal.hasNoData && gdal.values[i] == gdal.noData;
    // No-data blocks keep the background; float and raw no-data cells are
    // written as the no-value.
    if (none && c.type < 0)
      ASSERT_EQ(ours.values[i], -9999) << c.name << " cell " << i;
    else if (none)
      ASSERT_TRUE(std::isnan(ours.values[i])) << c.name << " cell " << i << " " << ours.values[i];
    else
      ASSERT_EQ(ours.values[i], gdal.values[i]) << c.name << " cell " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryTileType, ArcGrdTypes, ::testing::ValuesIn(kTypes),
                         [](const ::testing::TestParamInfo<TypeCase>& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

}  // namespace

// Arc/Info binary grids written by the test writer in every tile type,
// read by GDAL (which must read them as intended) and by our driver, whose
// rows and bounds must match GDAL's; then damaged grids, which must leave
// the damaged tiles' cells alone and touch nothing outside the row.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
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
  std::vector<long> rows;  // ReadScanLine's result for each row
};

// A row that fails gives NaN cells; unless `rowsMayFail`, a failure is an error.
OurGrid ReadOurs(const std::string& path, long noValue = -9999, bool rowsMayFail = false) {
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
    g.rows.push_back(grid.ReadScanLine(y, line));
    if (!rowsMayFail) {
      EXPECT_EQ(g.rows.back(), 1) << path << " row " << y;
    }
    if (g.rows.back() != 1) {
      g.values.insert(g.values.end(), size_t(g.width), kNone);
      continue;
    }
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
  int minSize = -1;  // bytes of each tile's minimum; -1 the fewest
};

// Values that repeat along rows, so runs and blocks pass from row to row.
double Wave(int x, int y, int range, int base) { return base + ((x / 3 + y * 5) * 7) % range; }

const TypeCase kTypes[] = {
    {"const 00", 0x00, 13, 9, 8, 4, [](int, int) { return 42.0; }, 16},
    {"bits 01 one-byte minimum FF", 0x01, 21, 7, 16, 4, [](int x, int y) { return -1.0 + ((x * 3 + y) % 5 < 2); }, 16},
    {"bytes 08 two-byte minimum 00 64", 0x08, 12, 5, 8, 4, [](int x, int y) { return 100 + Wave(x, y, 256, 0); }, 16, 2},
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
  g.minSize = c.minSize;
  const std::string path = dir / "grid";
  ASSERT_TRUE(WriteAig(path, g)) << c.name;

  GdalGrid gdal;
  ASSERT_TRUE(GdalReadGrid(path, gdal)) << c.name;
  ASSERT_EQ(gdal.width, c.width);
  ASSERT_EQ(gdal.height, c.height);
  for (size_t i = 0; i < g.cells.size(); ++i) {
    const bool none = gdal.hasNoData && gdal.values[i] == gdal.noData;
    ASSERT_EQ(none, std::isnan(g.cells[i])) << c.name << " cell " << i;
    if (!none) {
      ASSERT_EQ(gdal.values[i], float(g.cells[i])) << c.name << " GDAL cell " << i;
    }
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
    if (none && c.type < 0) {
      ASSERT_EQ(ours.values[i], -9999) << c.name << " cell " << i;
    } else if (none) {
      ASSERT_TRUE(std::isnan(ours.values[i])) << c.name << " cell " << i << " " << ours.values[i];
    } else {
      ASSERT_EQ(ours.values[i], gdal.values[i]) << c.name << " cell " << i;
    }
  }
  // The no-value given to SetNoValue is the one written.
  if (c.type < 0) {
    const OurGrid other = ReadOurs(path, -32768);
    for (size_t i = 0; i < other.values.size(); ++i)
      if (std::isnan(g.cells[i])) {
        ASSERT_EQ(other.values[i], -32768) << c.name << " cell " << i;
      }
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

namespace {

// Bytes of a file, to damage it.
std::vector<unsigned char> Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void Store(const std::string& path, const std::vector<unsigned char>& b) { ASSERT_TRUE(aigw::Save(path, b)); }
void Patch32(std::vector<unsigned char>& b, size_t at, uint32_t v) { aigw::Set32(b, at, v); }
uint32_t Get32(const std::vector<unsigned char>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// A 20 x 10 grid of 8 x 4 tiles, 3 x 3 tiles, every cell valued.
AigGrid Base(int type) {
  AigGrid g;
  g.width = 20, g.height = 10, g.tileWidth = 8, g.tileHeight = 4;
  g.tilesPerRow = 3, g.tilesPerColumn = 3;
  g.left = 0, g.bottom = 0, g.cellWidth = 10, g.cellHeight = 10;
  g.cells = Cells(20, 10, [](int x, int y) { return double((x / 2 + y) % 7); });
  g.typeOf = [type](int, int) { return type; };
  return g;
}

struct Damage {
  const char* name;
  int type;  // encoding of every tile
  std::function<void(const std::string& dir)> apply;
  long load;     // LoadImage's result
  int lostTile;  // the tile whose cells stay the background, -2 tiles 4 on, or -1
  // The first and last rows that fail to read (a tile cut off the data
  // file, or one whose bytes do not decode), or -1.
  int firstFailedRow = -1, lastFailedRow = -1;
};

// Tile `k`'s byte offset in the data file.
size_t TileAt(const std::string& dir, int k) { return 2 * size_t(Get32(Load(dir + "/w001001x.adf"), 100 + 8 * k)); }

void EditFile(const std::string& path, const std::function<void(std::vector<unsigned char>&)>& edit) {
  std::vector<unsigned char> b = Load(path);
  edit(b);
  Store(path, b);
}

const Damage kDamages[] = {
    {"lower-case magic", 0xD7, [](const std::string& d) { EditFile(d + "/hdr.adf", [](auto& b) { std::memcpy(b.data(), "grid1.2", 7); }); }, 1, -1},
    {"header of 307 bytes", 0xD7, [](const std::string& d) { EditFile(d + "/hdr.adf", [](auto& b) { b.pop_back(); }); }, -1, -1},
    {"cell type 3", 0xD7, [](const std::string& d) { EditFile(d + "/hdr.adf", [](auto& b) { Patch32(b, 16, 3); }); }, -1, -1},
    {"tile width 0", 0xD7, [](const std::string& d) { EditFile(d + "/hdr.adf", [](auto& b) { Patch32(b, 296, 0); }); }, -1, -1},
    {"huge tiles", 0xD7,
     [](const std::string& d) { EditFile(d + "/hdr.adf", [](auto& b) { Patch32(b, 296, 1 << 16), Patch32(b, 304, 1 << 16); }); }, -1, -1},
    {"more tiles across than a tile file holds", 0xD7,
     [](const std::string& d) { EditFile(d + "/hdr.adf", [](auto& b) { Patch32(b, 288, 2); }); }, -1, -1},
    {"zero cell size", 0xD7, [](const std::string& d) { EditFile(d + "/hdr.adf", [](auto& b) { std::fill(b.begin() + 256, b.begin() + 264, 0); }); }, -1, -1},
    {"bounds file of 31 bytes", 0xD7, [](const std::string& d) { EditFile(d + "/dblbnd.adf", [](auto& b) { b.pop_back(); }); }, -1, -1},
    {"index length word wrong", 0xD7, [](const std::string& d) { EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 24, Get32(b, 24) + 1); }); }, -1, -1},
    {"index second word -1016 as ESRI writes", 0xD7,
     [](const std::string& d) { EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 4, uint32_t(-1016)); }); }, 1, -1},
    {"index second word not starting FF FF", 0xD7,
     [](const std::string& d) { EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 4, 0xFF00FC14u); }); }, -1, -1},
    {"index magic wrong", 0xD7, [](const std::string& d) { EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 0, 9995); }); }, -1, -1},
    {"tile offset past the data file", 0xD7,
     [](const std::string& d) { EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 100 + 8 * 4, 0x7FFFFFF0); }); }, 1, -1, 4, 7},
    {"index size running past the data file", 0xD7,
     [](const std::string& d) { EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 104 + 8 * 4, 0x10000); }); }, 1, -1, 4, 7},
    {"index size disagrees with the tile", 0xFC,
     [](const std::string& d) { EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 104 + 8 * 4, Get32(b, 104 + 8 * 4) + 1); }); }, 1, -1, 4, 7},
    {"empty tile in the index", 0xFC,
     [](const std::string& d) { EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 104 + 8 * 4, 0); }); }, 1, 4},
    {"run past the tile's end", 0xFC,
     [](const std::string& d) { const size_t at = TileAt(d, 4) + 4; EditFile(d + "/w001001.adf", [at](auto& b) { b[at] = 255; }); }, 1, -1, 4, 7},
    {"literal block past the tile's end", 0xD7,
     [](const std::string& d) { const size_t at = TileAt(d, 4) + 4; EditFile(d + "/w001001.adf", [at](auto& b) { b[at] = 127; }); }, 1, -1, 4, 7},
    {"unknown tile type", 0xD7,
     [](const std::string& d) { const size_t at = TileAt(d, 4) + 2; EditFile(d + "/w001001.adf", [at](auto& b) { b[at] = 0x33; }); }, 1, -1, 4, 7},
    {"minimum longer than the tile", 0xD7,
     [](const std::string& d) { const size_t at = TileAt(d, 4) + 3; EditFile(d + "/w001001.adf", [at](auto& b) { b[at] = 200; }); }, 1, -1, 4, 7},
    {"raw tile short of its cells", 0x08,
     [](const std::string& d) {
       const size_t at = TileAt(d, 4);
       EditFile(d + "/w001001.adf", [at](auto& b) { b[at + 1] -= 2; });
       EditFile(d + "/w001001x.adf", [](auto& b) { Patch32(b, 104 + 8 * 4, Get32(b, 104 + 8 * 4) - 2); });
     }, 1, -1, 4, 7},
    {"data file cut in the last tile", 0xD7,
     [](const std::string& d) { EditFile(d + "/w001001.adf", [](auto& b) { b.resize(b.size() - 3); }); }, 1, -1, 8, 9},
    {"data file cut in the first tile", 0xFC,
     [](const std::string& d) { const size_t at = TileAt(d, 0) + 3; EditFile(d + "/w001001.adf", [at](auto& b) { b.resize(at); }); }, 1, -1, 0, 9},
    {"data file cut to 8 bytes", 0xD7, [](const std::string& d) { EditFile(d + "/w001001.adf", [](auto& b) { b.resize(8); }); }, 1, -1, 0, 9},
    {"data file empty", 0x08, [](const std::string& d) { EditFile(d + "/w001001.adf", [](auto& b) { b.clear(); }); }, 1, -1, 0, 9},
    {"empty tiles past the cut stay empty", 0xD7,
     [](const std::string& d) {
       // Tiles 4 to 8 become empty in the index and the data file ends
       // after tile 3: every row reads, tiles 4 on as no data.
       const size_t end = TileAt(d, 4);
       EditFile(d + "/w001001x.adf", [](auto& b) { for (int k = 4; k < 9; ++k) Patch32(b, 104 + 8 * k, 0); });
       EditFile(d + "/w001001.adf", [end](auto& b) { b.resize(end); });
     }, 1, -2, -1, -1},
};

class ArcGrdDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ArcGrdDamage, EmptyTilesStayNoDataDamagedOnesFailTheirRows) {
  const Damage& c = GetParam();
  ScratchDir dir;
  const AigGrid g = Base(c.type);
  ASSERT_TRUE(WriteAig(dir / "g", g));
  c.apply(dir / "g");
  const OurGrid ours = ReadOurs(dir / "g", -9999, true);
  ASSERT_EQ(ours.load, c.load) << c.name;
  if (c.load < 0) return;
  ASSERT_EQ(ours.values.size(), g.cells.size());
  for (int y = 0; y < g.height; ++y) {
    const bool fails = y >= c.firstFailedRow && y <= c.lastFailedRow;
    ASSERT_EQ(ours.rows[size_t(y)], fails ? -1 : 1) << c.name << " row " << y;
    if (fails) continue;
    for (int x = 0; x < g.width; ++x) {
      const size_t i = size_t(y) * g.width + x;
      const int tile = (y / 4) * 3 + x / 8;
      const bool lost = tile == c.lostTile || (c.lostTile == -2 && tile >= 4);
      if (lost) {
        ASSERT_TRUE(std::isnan(ours.values[i])) << c.name << " " << x << "," << y;
      } else {
        ASSERT_EQ(ours.values[i], g.cells[i]) << c.name << " " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(DamagedGrids, ArcGrdDamage, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

// Bounds 0, 0, 1000, 500 with cells of 10 give 100 x 50; tiles missing
// from the index leave their cells alone.
TEST(ArcGrdTest, SizeComesFromTheBoundsAndTheCellSize) {
  ScratchDir dir;
  AigGrid g = Base(0xD7);
  g.tilesPerRow = g.tilesPerColumn = 16;
  ASSERT_TRUE(WriteAig(dir / "g", g));
  EditFile(dir / "g/dblbnd.adf", [](auto& b) {
    b.clear();
    for (double v : {0.0, 0.0, 1000.0, 500.0}) aigw::PutDouble(b, v);
  });
  const OurGrid ours = ReadOurs(dir / "g");
  ASSERT_EQ(ours.load, 1);
  EXPECT_EQ(ours.width, 100);
  EXPECT_EQ(ours.height, 50);
  EXPECT_EQ(ours.values[0], g.cells[0]);
  EXPECT_TRUE(std::isnan(ours.values[size_t(49) * 100 + 99]));
}

// Grids copied from Windows have upper-case names; the grid may be named by
// its directory, with or without the separator, or by any file in it.
TEST(ArcGrdTest, UpperCaseNamesAndEveryWayOfNamingTheGrid) {
  ScratchDir dir;
  AigGrid g = Base(0xF8);
  g.upperCase = true;
  ASSERT_TRUE(WriteAig(dir / "dem", g));
  for (const std::string& name : {dir / "dem", dir / "dem/", dir / "dem/HDR.ADF", dir / "dem/w001001.adf"}) {
    const OurGrid ours = ReadOurs(name);
    ASSERT_EQ(ours.load, 1) << name;
    for (size_t i = 0; i < g.cells.size(); ++i) ASSERT_EQ(ours.values[i], g.cells[i]) << name << " cell " << i;
  }
  CImgFileArcGrd missing;
  EXPECT_EQ(missing.OpenForRead((dir / "nothing/").c_str()), 0);
}

// A constant tile whose four-byte minimum starts 80 00 holds no data: GDAL
// reads 80 00 00 01 as its no-data value, we write the no-value.
TEST(ArcGrdTest, ConstantTileOfTheNoDataMinimum) {
  ScratchDir dir;
  AigGrid g = Base(0x00);
  g.cells = Cells(20, 10, [](int x, int y) { return x < 8 && y < 4 ? -2147483647.0 : double(x / 8 + 3 * (y / 4)); });
  ASSERT_TRUE(WriteAig(dir / "g", g));
  GdalGrid gdal;
  ASSERT_TRUE(GdalReadGrid(dir / "g", gdal));
  const OurGrid ours = ReadOurs(dir / "g", -77);
  ASSERT_EQ(ours.load, 1);
  EXPECT_EQ(ours.format, 320);  // a four-byte minimum asks for 32-bit cells
  for (size_t i = 0; i < g.cells.size(); ++i) {
    const bool none = g.cells[i] < -1e9;
    EXPECT_EQ(gdal.hasNoData && gdal.values[i] == gdal.noData, none) << i;
    EXPECT_EQ(ours.values[i], none ? -77 : g.cells[i]) << i;
  }
}

}  // namespace

namespace {

// An integer grid written by ESRI software (tests/data/aig/windraster, see
// its SOURCE.txt): its tile index's second word is -1016, and its run tiles
// of 32-bit values have the minimum 80 00 00 01 (the no-data value), with
// codes 80 00 xx xx for values and 00 00 00 00 for cells without data.
// Every cell as GDAL reads it.
TEST(ArcGrdTest, GridWrittenByEsriReadsAsGdalReadsIt) {
  const std::string path = std::string(VTFMT_SOURCE_DIR) + "/tests/data/aig/windraster";
  GdalGrid gdal;
  ASSERT_TRUE(GdalReadGrid(path, gdal));
  ASSERT_TRUE(gdal.hasNoData);
  const OurGrid ours = ReadOurs(path);
  ASSERT_EQ(ours.load, 1);
  ASSERT_EQ(ours.width, 556);
  ASSERT_EQ(ours.height, 366);
  ASSERT_EQ(ours.values.size(), gdal.values.size());
  size_t none = 0, mismatches = 0;
  for (size_t i = 0; i < gdal.values.size(); ++i) {
    const bool gdalNone = gdal.values[i] == gdal.noData;
    none += gdalNone;
    // Cells without data are left as the background or written as the no-value.
    const bool ourNone = std::isnan(ours.values[i]) || ours.values[i] == -9999;
    if (gdalNone != ourNone || (!gdalNone && ours.values[i] != gdal.values[i])) {
      if (++mismatches <= 5)
        ADD_FAILURE() << "cell " << i % 556 << "," << i / 556 << ": ours " << ours.values[i] << ", GDAL "
                      << gdal.values[i];
    }
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(none, 0u);  // the grid has cells without data
}

}  // namespace

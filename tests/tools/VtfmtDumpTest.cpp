// vtfmt dump and convert on every kind of bitmap and ASCII grid that GDAL
// (or, for 1- and 4-bit bitmaps, ImageMagick) writes: the dumped rows equal
// GDAL's pixels, and converted files read back identically in GDAL.
#include <gdal.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/ToolRun.h"

namespace {

// Pixel x of a dumped row of `bits` per pixel, most significant bits first.
int Index(const unsigned char* row, int x, int bits) {
  if (bits == 8) return row[x];
  const int perByte = 8 / bits;
  return (row[x / perByte] >> (8 - bits * (x % perByte + 1))) & ((1 << bits) - 1);
}

TEST(VtfmtDumpTest, BitmapsOfEveryDepthDumpAsGdalReadsThem) {
  ScratchDir dir;
  Picture p8, rgb;
  p8.width = rgb.width = 29;
  p8.height = rgb.height = 9;
  p8.bands = 1;
  rgb.bands = 3;
  for (size_t i = 0; i < size_t(29) * 9; ++i) p8.pixels.push_back(static_cast<unsigned char>(i * 7 % 256));
  for (short i = 0; i < 256; ++i) p8.colors.push_back({i, static_cast<short>(255 - i), 17, 255});
  for (size_t i = 0; i < size_t(29) * 9 * 3; ++i)
    rgb.pixels.push_back(static_cast<unsigned char>(i * 13 + 5));
  ASSERT_TRUE(GdalWrite(dir / "b8.bmp", p8));
  ASSERT_TRUE(GdalWrite(dir / "b24.bmp", rgb));
  // GDAL writes no 1- or 4-bit bitmaps; ImageMagick does.
  const std::string plasma = "convert -size 29x9 -seed 3 plasma:fractal ";
  ASSERT_EQ(std::system((plasma + "-colors 16 -type Palette BMP3:" + Quote(dir / "b4.bmp")).c_str()), 0);
  ASSERT_EQ(std::system((plasma + "-monochrome BMP3:" + Quote(dir / "b1.bmp")).c_str()), 0);

  for (int bits : {1, 4, 8, 24}) {
    const std::string name = "b" + std::to_string(bits) + ".bmp";
    Picture theirs;
    ASSERT_TRUE(GdalRead(dir / name, theirs)) << name;
    const ToolResult dump = RunTool(dir, "dump " + Quote(dir / name));
    ASSERT_EQ(dump.status, 0) << dump.err;
    const size_t rowBytes = (size_t(theirs.width) * bits + 7) / 8;
    ASSERT_EQ(dump.out.size(), rowBytes * theirs.height) << name;
    for (int r = 0; r < theirs.height; ++r) {
      const auto* row = reinterpret_cast<const unsigned char*>(dump.out.data()) + r * rowBytes;
      const int y = theirs.height - 1 - r;  // file rows go from the bottom up
      for (int x = 0; x < theirs.width; ++x) {
        if (bits == 24) {
          for (int c = 0; c < 3; ++c) ASSERT_EQ(row[3 * x + 2 - c], theirs.At(x, y, c)) << name << " " << x;
        } else {
          ASSERT_EQ(Index(row, x, bits), theirs.At(x, y, 0)) << name << " row " << r << " x " << x;
        }
      }
    }

    const ToolResult convert =
        RunTool(dir, "convert " + Quote(dir / name) + " " + Quote(dir / ("out-" + name)));
    ASSERT_EQ(convert.status, 0) << convert.err;
    Picture back;
    ASSERT_TRUE(GdalRead(dir / ("out-" + name), back));
    EXPECT_EQ(back.pixels, theirs.pixels) << name;
    ASSERT_EQ(back.colors.size(), theirs.colors.size()) << name;
    for (size_t i = 0; i < theirs.colors.size(); ++i)
      EXPECT_TRUE(back.colors[i].c1 == theirs.colors[i].c1 && back.colors[i].c2 == theirs.colors[i].c2 &&
                  back.colors[i].c3 == theirs.colors[i].c3)
          << name << " colour " << i;
  }
}

TEST(VtfmtDumpTest, GridsOfEveryKindDumpAsGdalReadsThem) {
  ScratchDir dir;
  GDALAllRegister();
  for (GDALDataType type : {GDT_Int32, GDT_Float32}) {
    for (bool noData : {true, false}) {
      const std::string name =
          std::string(type == GDT_Int32 ? "int" : "float") + (noData ? "-nd" : "") + ".asc";
      const int width = 23, height = 6;
      std::vector<double> cells;
      for (int i = 0; i < width * height; ++i)
        cells.push_back(i % 10 == 4 ? -9999.0 : (i * 37 % 1001 - 500) * (type == GDT_Int32 ? 1.0 : 0.125));
      GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 1, type, nullptr);
      double gt[6] = {300000, 25, 0, 5000100, 0, -25};
      GDALSetGeoTransform(mem, gt);
      if (noData) GDALSetRasterNoDataValue(GDALGetRasterBand(mem, 1), -9999.0);
      ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(mem, 1), GF_Write, 0, 0, width, height, cells.data(), width,
                             height, GDT_Float64, 0, 0),
                CE_None);
      GDALClose(GDALCreateCopy(GDALGetDriverByName("AAIGrid"), (dir / name).c_str(), mem, FALSE, nullptr,
                               nullptr, nullptr));
      GDALClose(mem);

      GdalGrid theirs;
      ASSERT_TRUE(GdalReadGrid(dir / name, theirs)) << name;
      const ToolResult dump = RunTool(dir, "dump -oo pixel_format=6400 " + Quote(dir / name));
      ASSERT_EQ(dump.status, 0) << dump.err;
      ASSERT_EQ(dump.out.size(), theirs.values.size() * 8) << name;
      for (size_t i = 0; i < theirs.values.size(); ++i) {
        double v;
        std::memcpy(&v, dump.out.data() + 8 * i, 8);
        ASSERT_EQ(v, theirs.values[i]) << name << " cell " << i;  // no data is -9999 on both sides
      }

      const std::string out = "out-" + name;
      const ToolResult convert =
          RunTool(dir, "convert -oo pixel_format=6400 " + Quote(dir / name) + " " + Quote(dir / out));
      ASSERT_EQ(convert.status, 0) << convert.err;
      GdalGrid back;
      ASSERT_TRUE(GdalReadGrid(dir / out, back)) << out;
      EXPECT_EQ(back.values, theirs.values) << name;
      for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(back.gt[i], theirs.gt[i]) << name << " geotransform " << i;
    }
  }
}

}  // namespace

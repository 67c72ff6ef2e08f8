// ESRI ASCII grids: header and rows checked against GDAL's AAIGrid driver,
// numbers against the C library's "%lf", and the writer read back by GDAL.
#include <gtest/gtest.h>

#include <cpl_string.h>
#include <gdal.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "raster/CImgFileGrid.h"
#include "support/GdalRaster.h"
#include "support/ScratchDir.h"

namespace {

const double kNoData = -9999.0;

class GridTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { GDALAllRegister(); }

  // Opens `name` in mode 0 with the requested format; LoadImage's result.
  long Load(CImgFileGrid& grid, const std::string& name, int format = -1) {
    grid.m_RequestedPixelFormat = format;
    if (!grid.OpenForRead((dir / name).c_str())) return -100;
    return grid.LoadImage();
  }

  // Writes a grid with GDAL from a MEM dataset of `values` (rows from the
  // top), origin (x0, y0) at the top left and square cells.
  void WriteWithGdal(const std::string& name, GDALDataType type, int width, int height,
                     const std::vector<double>& values, const double* noData, double x0, double y0,
                     double cell) {
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 1, type, nullptr);
    ASSERT_NE(mem, nullptr);
    double gt[6] = {x0, cell, 0, y0, 0, -cell};
    GDALSetGeoTransform(mem, gt);
    GDALRasterBandH band = GDALGetRasterBand(mem, 1);
    if (noData) GDALSetRasterNoDataValue(band, *noData);
    ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, 0, width, height, const_cast<double*>(values.data()), width,
                           height, GDT_Float64, 0, 0),
              CE_None);
    GDALDatasetH out = GDALCreateCopy(GDALGetDriverByName("AAIGrid"), (dir / name).c_str(), mem, FALSE,
                                      nullptr, nullptr, nullptr);
    ASSERT_NE(out, nullptr);
    GDALClose(out);
    GDALClose(mem);
  }

  // GDAL's pixels of `name` as doubles (read in full precision), its
  // geotransform and no-data value.
  GdalGrid ReadWithGdal(const std::string& name) {
    GdalGrid g;
    EXPECT_TRUE(GdalReadGrid(dir / name, g)) << name;
    return g;
  }

  // Value of a cell as our reader documents it: no-data as -9999, integer
  // formats truncated toward zero.
  static double Expected(const GdalGrid& g, double v, int format) {
    if (g.hasNoData && v == g.noData) v = kNoData;
    switch (format) {
      case PF_BIT16:
        return static_cast<int16_t>(std::trunc(v));
      case PF_INT32:
        return static_cast<int32_t>(std::trunc(v));
      case PF_FLOAT32:
        return static_cast<float>(v);
      default:
        return v;
    }
  }

  std::string Text(const std::string& name) { return dir.Get(name); }
  ScratchDir dir;
};

TEST_F(GridTest, HeaderGivesSizeFormatAndBounds) {
  const std::string header =
      "ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 10\nNODATA_value -9999\n";
  const std::string rows = "1 2 3 4\n5 6 7 8\n9 10 11 12\n";
  dir.Put("a.asc", header + rows);
  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "a.asc"), 1);
  EXPECT_EQ(grid.GetWidth(), 4u);
  EXPECT_EQ(grid.GetHeight(), 3u);
  EXPECT_EQ(grid.GetPixelFormat(), PF_BIT16);
  EXPECT_EQ(grid.GetPixelFormatExt(), PF_BIT16);
  EXPECT_EQ(grid.GetWidthBytes(), 8u);
  EXPECT_EQ(grid.m_bHeaderLoaded, 1);
  CRect2D bounds;
  EXPECT_EQ(grid.GetGeoReference(bounds), 1);
  EXPECT_EQ(bounds, CRect2D(100, 230, 140, 200));
  grid.Close();

  // The centre form: the point is the centre of the lower-left cell. The
  // same object read again must not keep the earlier form.
  dir.Put("c.asc", "ncols 4\nnrows 3\nXLLCENTER 100\nyllcenter 200\ncellsize 10\n" + rows);
  ASSERT_EQ(Load(grid, "c.asc"), 1);
  grid.GetGeoReference(bounds);
  EXPECT_EQ(bounds, CRect2D(95, 225, 135, 195));
  grid.Close();
  ASSERT_EQ(Load(grid, "a.asc"), 1);
  grid.GetGeoReference(bounds);
  EXPECT_EQ(bounds, CRect2D(100, 230, 140, 200));
}

TEST_F(GridTest, WithoutNoDataLineTheSixthLineIsTheFirstRow) {
  dir.Put("a.asc", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n-9999 7 8\n9 -3.5 4e1\n");
  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "a.asc", PF_FLOAT64), 1);
  EXPECT_EQ(grid.m_dNoDataValue, -9999.0);
  CImgScanLine line(PF_FLOAT64, 24);
  ASSERT_EQ(grid.ReadScanLine(0, line), 24);
  EXPECT_EQ(line.GetValue(0), -9999.0);
  EXPECT_EQ(line.GetValue(2), 8.0);
  ASSERT_EQ(grid.ReadScanLine(1, line), 24);
  EXPECT_EQ(line.GetValue(1), -3.5);
  EXPECT_EQ(line.GetValue(2), 40.0);
  EXPECT_EQ(grid.ReadScanLine(2, line), -1);  // input ends
}

TEST_F(GridTest, BadHeadersAreRefused) {
  CImgFileGrid grid;
  dir.Put("empty.asc", "");
  EXPECT_EQ(Load(grid, "empty.asc"), -1);
  grid.Close();
  dir.Put("zero.asc", "ncols 0\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1\n");
  EXPECT_EQ(Load(grid, "zero.asc"), -1);
  grid.Close();
  dir.Put("short.asc", "ncols 2\nnrows 3\nxllcorner 0\n");
  EXPECT_EQ(Load(grid, "short.asc"), -1);
  grid.Close();
  dir.Put("norows.asc", "ncols 2\nnrows 0\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2\n");
  EXPECT_EQ(Load(grid, "norows.asc"), -1);
  CImgScanLine line(PF_BIT16, 4);
  EXPECT_EQ(grid.ReadScanLine(0, line), -1);  // no header, no rows
  grid.Close();
  // A negative row count is no grid.
  dir.Put("neg.asc", "ncols 2\nnrows -2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2\n3 4\n");
  EXPECT_EQ(Load(grid, "neg.asc"), -1);
  grid.Close();
  // A requested format that is no pixel format is refused.
  dir.Put("ok.asc", "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2\n3 4\n");
  EXPECT_EQ(Load(grid, "ok.asc", 77), -1);
  grid.Close();
  // Not open: nothing to read.
  EXPECT_EQ(grid.LoadImage(), -1);
}

// GDAL-written grids, integer and float, with and without a no-data value:
// every row in every cell format equals GDAL's cells, and the bounds equal
// its geotransform.
TEST_F(GridTest, GdalWrittenGridsReadLikeGdal) {
  const int width = 250, height = 7;  // rows longer than the 100-value blocks
  for (GDALDataType type : {GDT_Int32, GDT_Float32}) {
    for (bool withNoData : {false, true}) {
      std::vector<double> values(size_t(width) * height);
      for (size_t i = 0; i < values.size(); ++i) {
        const double v = double(int(i * 7919 % 20001) - 10000);
        values[i] = type == GDT_Int32 ? v : v / 8 + (i % 3 == 0 ? 0.125 : -0.375);
        if (i % 37 == 5) values[i] = withNoData ? -32768.0 : -9999.0;
      }
      const double noData = -32768.0;
      const std::string name =
          std::string(type == GDT_Int32 ? "int" : "float") + (withNoData ? "-nd" : "") + ".asc";
      WriteWithGdal(name, type, width, height, values, withNoData ? &noData : nullptr, 1000.5, 2070.0, 10);
      ASSERT_EQ(Text(name).find("NODATA") != std::string::npos, withNoData) << name;
      const GdalGrid g = ReadWithGdal(name);
      ASSERT_EQ(g.width, width);

      for (int format : {PF_BIT16, PF_INT32, PF_FLOAT32, PF_FLOAT64}) {
        CImgFileGrid grid;
        ASSERT_EQ(Load(grid, name, format), 1) << name;
        EXPECT_EQ(grid.GetWidth(), unsigned(width));
        EXPECT_EQ(grid.GetHeight(), unsigned(height));
        CRect2D b;
        grid.GetGeoReference(b);
        EXPECT_EQ(b, CRect2D(g.gt[0], g.gt[3], g.gt[0] + width * g.gt[1], g.gt[3] + height * g.gt[5]))
            << name;
        CImgScanLine line(static_cast<ImgPixelFormat>(format), long(grid.GetWidthBytes()));
        for (int r = 0; r < height; ++r) {
          ASSERT_EQ(grid.ReadScanLine(r, line), long(grid.GetWidthBytes()));
          for (int c = 0; c < width; ++c)
            ASSERT_EQ(line.GetValue(c), Expected(g, g.values[size_t(r) * width + c], format))
                << name << " format " << format << " row " << r << " col " << c;
        }
      }
    }
  }
}

// A hand-written centre-form grid: cells and place are GDAL's, the point
// the centre of the lower-left cell.
TEST_F(GridTest, CentreFormCellsMatchGdal) {
  dir.Put("c.asc", "ncols 3\nnrows 2\nxllcenter 50\nyllcenter 20\ncellsize 2\n1.5 -2 3\n4 5e2 -0\n");
  const GdalGrid g = ReadWithGdal("c.asc");
  EXPECT_EQ(g.gt[0], 49.0);  // GDAL: 50 - half a cell
  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "c.asc", PF_FLOAT64), 1);
  CRect2D b;
  grid.GetGeoReference(b);
  EXPECT_EQ(b, CRect2D(g.gt[0], g.gt[3], g.gt[0] + 3 * g.gt[1], g.gt[3] + 2 * g.gt[5]));
  EXPECT_EQ(b, CRect2D(49, 23, 55, 19));
  CImgScanLine line(PF_FLOAT64, 24);
  for (int r = 0; r < 2; ++r) {
    ASSERT_EQ(grid.ReadScanLine(r, line), 24);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(line.GetValue(c), g.values[r * 3 + c]);
  }
}

// Numbers are read as "%lf" reads them in the C locale, and the stream
// stands right after the last value: compared with fscanf on the same text,
// across the 64 KiB stream buffer so that numbers straddle its refills.
TEST_F(GridTest, NumbersReadAsScanfReadsThem) {
  const std::vector<std::string> tokens = {"+5",        "-0",
                                           "1e3",       "1E+2",
                                           "2.5e-3",    "-.5",
                                           "7.",        "inf",
                                           "-Infinity", "nan",
                                           "1e400",     "-1e-400",
                                           "0.1",       "123456789012345678901234567890",
                                           "00012",     "4.9406564584124654e-324"};
  std::string row;
  for (size_t i = 0; i < tokens.size(); ++i)
    row += tokens[i] + (i + 1 == tokens.size() ? "\n" : i % 3 ? "\t" : "  \r\n");
  const int perRow = int(tokens.size());
  const int rows = 4000;  // about 300 KB of values
  std::string text = "ncols " + std::to_string(perRow) + "\nnrows " + std::to_string(rows) +
                     "\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -1\n";
  const size_t dataStart = text.size();
  for (int r = 0; r < rows; ++r) text += row;
  text += "trailer line\n";
  dir.Put("n.asc", text);

  // The oracle: fscanf on the data.
  std::vector<double> expected;
  FILE* f = std::fopen((dir / "n.asc").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, long(dataStart), SEEK_SET);
  for (int i = 0; i < perRow; ++i) {
    double v;
    ASSERT_EQ(std::fscanf(f, "%lf", &v), 1) << tokens[i];
    expected.push_back(v);
  }
  std::fclose(f);

  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "n.asc", PF_FLOAT64), 1);
  CImgScanLine line(PF_FLOAT64, long(grid.GetWidthBytes()));
  for (int r = 0; r < rows; ++r) {
    ASSERT_EQ(grid.ReadScanLine(r, line), long(grid.GetWidthBytes()));
    for (int i = 0; i < perRow; ++i) {
      const double v = line.GetValue(i);
      const double e = expected[i] == -1.0 ? kNoData : expected[i];
      if (std::isnan(e))
        ASSERT_TRUE(std::isnan(v)) << tokens[i];
      else
        ASSERT_EQ(std::memcmp(&v, &e, sizeof v), 0) << "row " << r << " " << tokens[i] << " " << v;
    }
  }
  CString rest;
  ASSERT_TRUE(grid.m_TextFile.ReadString(rest));
  EXPECT_EQ(rest, "");  // the end of the last row's line
  ASSERT_TRUE(grid.m_TextFile.ReadString(rest));
  EXPECT_EQ(rest, "trailer line");
}

// A token longer than 128 characters is read as two: its first 128
// characters and the rest, wherever the stream's buffer ends.
TEST_F(GridTest, OverlongTokensAreCutAt128Characters) {
  const std::string header = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  const std::string longToken = "1" + std::string(149, '0');
  dir.Put("long.asc", header + "5 " + longToken + "\n" + longToken + " 7 8\n");
  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "long.asc", PF_FLOAT64), 1);
  CImgScanLine line(PF_FLOAT64, 24);
  ASSERT_EQ(grid.ReadScanLine(0, line), 24);
  EXPECT_EQ(line.GetValue(0), 5);
  EXPECT_EQ(line.GetValue(1), 1e127);
  EXPECT_EQ(line.GetValue(2), 0);
  ASSERT_EQ(grid.ReadScanLine(1, line), 24);
  EXPECT_EQ(line.GetValue(0), 1e127);
  EXPECT_EQ(line.GetValue(1), 0);
  EXPECT_EQ(line.GetValue(2), 7);
}

TEST_F(GridTest, ShortRowsAndTextThatIsNoNumberFail) {
  const std::string header = "ncols 4\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  CImgFileGrid grid;
  dir.Put("short.asc", header + "1 2 3 4\n5 6\n");
  ASSERT_EQ(Load(grid, "short.asc", PF_INT32), 1);
  CImgScanLine line(PF_INT32, 16);
  ASSERT_EQ(grid.ReadScanLine(0, line), 16);
  EXPECT_EQ(grid.ReadScanLine(1, line), -1);
  EXPECT_EQ(line.GetValue(0), 5);  // the values read stay
  EXPECT_EQ(line.GetValue(1), 6);
  EXPECT_EQ(line.GetValue(2), 3);
  grid.Close();

  dir.Put("word.asc", header + "1 2 x 4\n5 6 7 8\n");
  ASSERT_EQ(Load(grid, "word.asc", PF_INT32), 1);
  EXPECT_EQ(grid.ReadScanLine(0, line), -1);
  grid.Close();
  dir.Put("comma.asc", header + "1,2 3 4\n");
  ASSERT_EQ(Load(grid, "comma.asc", PF_INT32), 1);
  EXPECT_EQ(grid.ReadScanLine(0, line), -1);
}

// Every cell format stores what the reader documents, never past the
// line: 24 needs four bytes a cell, more than its width bytes.
TEST_F(GridTest, CellFormatsStoreTruncatedValuesInsideTheLine) {
  dir.Put("v.asc",
          "ncols 10\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value 12.5\n"
          "1 0 -2.9 0.7 12.5000000000001 3000000000 -70000 255.9 -1 17\n");
  // Lines are allocated at exactly their size, so the sanitizer build sees
  // any write past them.
  auto read = [&](int format, long bytes, long expect) {
    CImgFileGrid grid;
    EXPECT_EQ(Load(grid, "v.asc", format), 1);
    CImgScanLine line(static_cast<ImgPixelFormat>(format), bytes);
    std::memset(line.GetData(), 0xAB, size_t(bytes));
    EXPECT_EQ(grid.ReadScanLine(0, line), expect) << format;
    return line;
  };
  // One bit a cell, most significant first: 1 0 -2 0 -9999 MIN -70000 255 -1 17.
  CImgScanLine bits = read(PF_BIT1, 2, 2);
  EXPECT_EQ(bits[0], 0b10101111);
  EXPECT_EQ(bits[1], 0b11000000 | (0xAB & 0x3F));
  // A lone set cell at either end of a byte.
  for (const auto& row : {std::make_pair("1 0 0 0 0 0 0 0\n", 0x80), std::make_pair("0 0 0 0 0 0 0 1\n", 0x01)}) {
    dir.Put("b.asc", std::string("ncols 8\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n") + row.first);
    CImgFileGrid grid;
    ASSERT_EQ(Load(grid, "b.asc", PF_BIT1), 1);
    CImgScanLine one(PF_BIT1, 1);
    ASSERT_EQ(grid.ReadScanLine(0, one), 1);
    EXPECT_EQ(one[0], row.second) << row.first;
  }
  // Nibbles replace what the buffer held.
  CImgScanLine nibbles = read(PF_BIT4, 5, 5);
  EXPECT_EQ(nibbles[0], 0x10);
  EXPECT_EQ(nibbles[1], 0xE0);
  EXPECT_EQ(nibbles[2], (-9999 & 0xF) << 4);
  CImgScanLine bytes = read(PF_BIT8, 10, 10);
  EXPECT_EQ(bytes[2], 0xFE);
  EXPECT_EQ(bytes[7], 255);
  CImgScanLine shorts = read(PF_BIT16, 20, 20);
  const double shortValues[] = {1, 0, -2, 0, -9999, 0, static_cast<int16_t>(-70000 & 0xFFFF), 255, -1, 17};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(shorts.GetValue(i), shortValues[i]) << i;
  CImgScanLine longs = read(PF_BIT64, 80, 80);
  EXPECT_EQ(longs.GetValue(5), double(INT32_MIN));  // out of the 32-bit range
  EXPECT_EQ(longs.GetValue(6), -70000.0);
  // 24: a line of the width bytes (32) is too small for ten 4-byte cells.
  read(PF_BIT24, 32, -1);
  CImgScanLine wide = read(PF_BIT24, 40, 40);
  int32_t cell;
  std::memcpy(&cell, wide.GetData() + 4 * 4, 4);
  EXPECT_EQ(cell, -9999);
  read(PF_FLOAT64, 79, -1);
  read(PF_BIT1, 1, -1);
}

TEST_F(GridTest, HeaderInASeparateHdrFile) {
  dir.Put("d.txt", "1.5\n2 3\n");
  dir.Put("d.hdr", "ncols 3\nnrows 1\nxllcorner 5\nyllcorner 6\ncellsize 2\n");
  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "d.txt"), 1);
  EXPECT_EQ(grid.m_nFormatMode, CImgFileGrid::kEsriHeaderFile);
  EXPECT_EQ(grid.GetPixelFormat(), PF_FLOAT32);
  EXPECT_EQ(grid.m_bOpen, 0);
  EXPECT_EQ(grid.GetWidth(), 3u);
  CImgScanLine line(PF_FLOAT32, 12);
  EXPECT_EQ(grid.ReadScanLine(0, line), -1);

  // A .hdr file that is itself headerless is not followed round again.
  CImgFileGrid loop;
  dir.Put("e.hdr", "7\n");
  EXPECT_EQ(Load(loop, "e.hdr"), -1);
  EXPECT_EQ(loop.m_bOpen, 0);
  dir.Put("f.txt", "7\n");
  EXPECT_EQ(Load(loop, "f.txt"), -1);  // no header beside it
}

TEST_F(GridTest, HeaderWriterStripsZerosAndTruncatesNoData) {
  CImgFileGrid grid;
  grid.m_nColumns = 2;
  grid.m_nRows = 1;
  grid.m_dLowerLeftX = 100.5;
  grid.m_dLowerLeftY = 200;
  grid.m_dCellWidth = 0;
  grid.m_dNoDataValue = -9999.9;
  grid.m_bCenter = 1;
  EXPECT_EQ(grid.SaveImage(), 1);  // not open: nothing written
  EXPECT_EQ(grid.m_bCenter, 0);
  CImgScanLine line(PF_INT32, 8);
  EXPECT_EQ(grid.WriteScanLine(0, line), -1);

  ASSERT_EQ(grid.OpenForWrite((dir / "h.asc").c_str()), 1);
  EXPECT_EQ(grid.SaveImage(), 1);
  EXPECT_EQ(grid.m_dCellWidth, 1.0);
  grid.Close();
  EXPECT_EQ(Text("h.asc"),
            "ncols         2\nnrows         1\nxllcorner     100.5\nyllcorner     200\n"
            "cellsize      1\nNODATA_value  -9999\n");
}

// Rows written from each kind of scan line read back in GDAL with the
// same cells and georeferencing. Float rows are written with "%f", six
// decimals: the values here are exact in six decimals.
TEST_F(GridTest, WrittenGridsReadBackInGdal) {
  const int width = 5, height = 3;
  for (ImgPixelFormat format : {PF_FLOAT32, PF_FLOAT64, PF_BIT16, PF_INT32}) {
    const std::string name = "w" + std::to_string(int(format)) + ".asc";
    CImgFileGrid grid;
    ASSERT_EQ(grid.OpenForWrite((dir / name).c_str()), 1);
    grid.m_nColumns = width;
    grid.m_nRows = height;
    grid.m_dLowerLeftX = -120.25;
    grid.m_dLowerLeftY = 35.5;
    grid.m_dCellWidth = grid.m_dCellHeight = 0.125;
    ASSERT_EQ(grid.SaveImage(), 1);
    const bool real = format == PF_FLOAT32 || format == PF_FLOAT64;
    std::vector<double> written;
    CImgScanLine line(format, width * (format == PF_BIT16 ? 2 : format == PF_FLOAT64 ? 8 : 4));
    for (int r = 0; r < height; ++r) {
      for (int c = 0; c < width; ++c) {
        const double v = (r == 1 && c == 2) ? -9999.0 : (r * width + c - 7) * (real ? 1.0625 : 301.0);
        written.push_back(v);
        if (format == PF_FLOAT32) {
          const float f = float(v);
          std::memcpy(line.GetData() + 4 * c, &f, 4);
        } else if (format == PF_FLOAT64) {
          std::memcpy(line.GetData() + 8 * c, &v, 8);
        } else if (format == PF_BIT16) {
          const int16_t s = int16_t(v);
          std::memcpy(line.GetData() + 2 * c, &s, 2);
        } else {
          const int32_t s = int32_t(v);
          std::memcpy(line.GetData() + 4 * c, &s, 4);
        }
      }
      ASSERT_EQ(grid.WriteScanLine(r, line), 1);
    }
    // A line with fewer pixels than the columns is refused.
    CImgScanLine small(format, 4);
    EXPECT_EQ(grid.WriteScanLine(height, small), -1);
    grid.Close();

    const GdalGrid g = ReadWithGdal(name);
    ASSERT_EQ(g.width, width);
    ASSERT_EQ(g.height, height);
    EXPECT_EQ(g.gt[0], -120.25);
    EXPECT_EQ(g.gt[1], 0.125);
    EXPECT_EQ(g.gt[3], 35.5 + height * 0.125);
    EXPECT_EQ(g.gt[5], -0.125);
    EXPECT_TRUE(g.hasNoData);
    EXPECT_EQ(g.noData, -9999.0);
    for (size_t i = 0; i < written.size(); ++i) EXPECT_EQ(g.values[i], written[i]) << name << " " << i;
  }
}

TEST_F(GridTest, OtherModesHaveNoRows) {
  dir.Put("a.asc", "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n5\n");
  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "a.asc"), 1);
  CImgScanLine line(PF_BIT16, 4);
  grid.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
  EXPECT_EQ(grid.ReadScanLine(0, line), -1);
  EXPECT_EQ(grid.WriteScanLine(0, line), -1);
  grid.m_nFormatMode = 7;
  EXPECT_EQ(grid.LoadImage(), -1);
  EXPECT_EQ(grid.SaveImage(), -1);
  grid.m_nFormatMode = CImgFileGrid::kEsriGrid;
  EXPECT_EQ(grid.ReadScanLine(0, line), 4);
  EXPECT_EQ(line.GetValue(0), 5);
}

}  // namespace

// Text grids as they are found in the wild: ESRI headers in any order, case
// and spacing, read as GDAL reads them; files that are no grid refused with
// a message; numbers the same under a comma-decimal locale; NSDTF data lines
// split in one pass.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <cmath>
#include <string>
#include <vector>

#include "platform/mfc/CFileDialog.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/VtNumber.h"
#include "raster/CImgFileGrid.h"
#include "raster/CImgFileRaw.h"
#include "support/GdalRaster.h"
#include "support/ScratchDir.h"

namespace {

long LoadEsri(CImgFileGrid& grid, const std::string& path, int format = -1) {
  grid.m_nFormatMode = CImgFileGrid::kEsriGrid;
  grid.m_RequestedPixelFormat = format;
  if (!grid.OpenForRead(path.c_str())) return -2;
  return grid.LoadImage();
}

TEST(GridHeader, KeywordsInAnyOrderCaseAndSpacingReadAsGdalReadsThem) {
  const std::vector<std::string> headers = {
      "ncols 3\nnrows 2\nxllcorner 100\nyllcorner 5\ncellsize 2\nNODATA_value -1\n",
      "NROWS 2\n\tNCOLS 3\n  XLLCORNER 100\nYLLCORNER\t5\nCELLSIZE 2\n",
      "nrows 2\r\nncols 3\r\nyllcenter 6\r\nxllcenter 101\r\ndx 2\r\ndy 2\r\n",
      "ncols 3\nnrows 2\nxllcorner 100,0\nyllcorner 5\ncellsize 2,0\nnodata_value 0\n",
  };
  ScratchDir dir;
  for (const std::string& header : headers) {
    dir.Put("g.asc", header + "1 2 3\n4 5 6\n");
    GdalGrid g;
    ASSERT_TRUE(GdalReadGrid(dir / "g.asc", g)) << header;
    CImgFileGrid grid;
    ASSERT_EQ(LoadEsri(grid, dir / "g.asc", PF_FLOAT64), 1) << header;
    EXPECT_EQ(grid.GetWidth(), 3u);
    EXPECT_EQ(grid.GetHeight(), 2u);
    CRect2D b;
    grid.GetGeoReference(b);
    EXPECT_EQ(b, CRect2D(g.gt[0], g.gt[3], g.gt[0] + 3 * g.gt[1], g.gt[3] + 2 * g.gt[5])) << header;
    EXPECT_EQ(b, CRect2D(100, 9, 106, 5)) << header;
    EXPECT_EQ(grid.m_bHasNoData, g.hasNoData ? 1 : 0) << header;
    CImgScanLine line(PF_FLOAT64, 24);
    ASSERT_GE(grid.ReadScanLine(0, line), 0) << header;
    EXPECT_EQ(line.GetValue(0), g.hasNoData && g.noData == 1 ? -9999 : 1);
    EXPECT_EQ(line.GetValue(2), 3);
  }
  // A centre on one axis and a corner on the other (GDAL reads no place).
  dir.Put("m.asc", "ncols 3\nnrows 2\nxllcenter 101\nyllcorner 5\ncellsize 2\n1 2 3\n4 5 6\n");
  CImgFileGrid grid;
  ASSERT_EQ(LoadEsri(grid, dir / "m.asc"), 1);
  CRect2D b;
  grid.GetGeoReference(b);
  EXPECT_EQ(b, CRect2D(100, 9, 106, 5));
}

TEST(GridHeader, WhatIsNoGridIsRefusedWithAMessage) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\n1 2 3\n4 5 6\n", "cellsize"},
      {"ncols 3\nnrows -2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n4 5 6\n", "whole numbers"},
      {"ncols 3\nnrows 2.5\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n4 5 6\n", "whole numbers"},
      {"ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 0\n1 2 3\n4 5 6\n", "cell size"},
      {"ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize -5\n1 2 3\n4 5 6\n", "cell size"},
      {"ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize nan\n1 2 3\n4 5 6\n", "cell size"},
      {"ncols 3\nnrows 2\nxllcorner zero\nyllcorner 0\ncellsize 1\n1 2 3\n", "not a number"},
      {"ncols 1000000000\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n1\n", "too short"},
      {"hello world\nthis is text\n", "ncols"},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    dir.Put("bad.asc", c.text);
    CImgFileGrid grid;
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(LoadEsri(grid, dir / "bad.asc"), -1) << c.text;
    EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find(c.says), -1)
        << c.text << " -> " << VtGetErrorMsgObj()->GetMessage().str();
  }
  // A cell that is no number ends its row with a message naming it.
  dir.Put("text.asc", "ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n1,5,0 2\n");
  CImgFileGrid grid;
  ASSERT_EQ(LoadEsri(grid, dir / "text.asc", PF_FLOAT32), 1);
  CImgScanLine line(PF_FLOAT32, 8);
  EXPECT_EQ(grid.ReadScanLine(0, line), -1);
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find("\"1,5,0\" is not a number"), -1);
}

// Grids shaped like those of GDAL's own test data (tests/data/aaigrid).
TEST(GridHeader, GridsFromTheWild) {
  const std::string data = std::string(VTFMT_SOURCE_DIR) + "/tests/data/aaigrid/";
  // Decimal commas in header and cells, one cell a line, blank lines: GDAL's cells.
  GdalGrid g;
  ASSERT_TRUE(GdalReadGrid(data + "pixel_per_line_comma.asc", g));
  CImgFileGrid comma;
  ASSERT_EQ(LoadEsri(comma, data + "pixel_per_line_comma.asc", PF_FLOAT64), 1);
  CRect2D b;
  comma.GetGeoReference(b);
  EXPECT_EQ(b, CRect2D(g.gt[0], g.gt[3], g.gt[0] + 4 * g.gt[1], g.gt[3] + 3 * g.gt[5]));
  CImgScanLine line(PF_FLOAT64, 32);
  for (int r = 0; r < 3; ++r) {
    ASSERT_GE(comma.ReadScanLine(r, line), 0) << r;
    for (int c = 0; c < 4; ++c) EXPECT_EQ(line.GetValue(c), g.values[r * 4 + c]) << r << " " << c;
  }
  // No data "nan": NaN cells are no-data cells.
  CImgFileGrid nanNoData;
  ASSERT_EQ(LoadEsri(nanNoData, data + "nodata_nan.asc", PF_FLOAT64), 1);
  EXPECT_TRUE(nanNoData.m_bHasNoData);
  ASSERT_GE(nanNoData.ReadScanLine(0, line), 0);
  EXPECT_EQ(line.GetValue(0), -9999);
  EXPECT_EQ(line.GetValue(1), -1);
  // Cells that start with nan, no no-data line.
  CImgFileGrid nans;
  ASSERT_EQ(LoadEsri(nans, data + "starting_with_nan.asc", PF_FLOAT64), 1);
  EXPECT_EQ(nans.GetWidth(), 5u);
  CImgScanLine five(PF_FLOAT64, 40);
  for (int r = 0; r < 3; ++r) ASSERT_GE(nans.ReadScanLine(r, five), 0);
  EXPECT_TRUE(std::isnan(five.GetValue(1)));
  EXPECT_EQ(five.GetValue(2), 1.0);
}

// Sets a comma-decimal locale for one test, as a host application may.
class CommaLocale {
 public:
  CommaLocale() : m_ok(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {}
  ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
  bool ok() const { return m_ok; }

 private:
  bool m_ok;
};

TEST(GridHeader, NumbersInFilesIgnoreTheLocale) {
  ScratchDir dir;
  CommaLocale locale;
  ASSERT_TRUE(locale.ok()) << "the de_DE.UTF-8 locale is missing (scripts/install-deps makes it)";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  ASSERT_STREQ(probe, "1,5");  // the locale is in force

  // ESRI grid: header and cells read with points, written with points.
  dir.Put("in.asc", "ncols 2\nnrows 1\nxllcorner 100.75\nyllcorner 5\ncellsize 0.25\n-0.4984045 2.5\n");
  CImgFileGrid in;
  ASSERT_EQ(LoadEsri(in, dir / "in.asc", PF_FLOAT32), 1);
  CRect2D b;
  in.GetGeoReference(b);
  EXPECT_EQ(b, CRect2D(100.75, 5.25, 101.25, 5));
  CImgScanLine line(PF_FLOAT32, 8);
  ASSERT_GE(in.ReadScanLine(0, line), 0);
  EXPECT_EQ(static_cast<float>(line.GetValue(0)), -0.4984045f);

  CImgFileGrid out;
  ASSERT_TRUE(out.OpenForWrite((dir / "out.asc").c_str()));
  out.m_nColumns = 2, out.m_nRows = 1;
  out.m_dLowerLeftX = 100.75, out.m_dLowerLeftY = 5, out.m_dCellWidth = 0.25;
  ASSERT_EQ(out.SaveImage(), 1);
  ASSERT_EQ(out.WriteScanLine(0, line), 1);
  out.Close();
  const std::string text = dir.Get("out.asc");
  EXPECT_NE(text.find("xllcorner     100.75\n"), std::string::npos) << text;
  EXPECT_NE(text.find("cellsize      0.25\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n-0.4984045 2.5\n"), std::string::npos) << text;  // shortest, not %f

  // NSDTF decimals and the raw sidecar.
  CImgFileGrid n;
  n.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
  n.m_strValueType = "Integer";
  n.m_dVersion = 1.5, n.m_dLowerLeftX = 12.25, n.m_nRows = n.m_nColumns = 1;
  int cell = 7;
  n.m_pIntValues = &cell, n.m_nValueCount = 1;
  CFileDialog::SetNextAnswer((dir / "n.txt").c_str());
  ASSERT_EQ(n.SaveImage(), 2);
  CFileDialog::ClearAnswer();
  const std::string nsdtf = dir.Get("n.txt");
  EXPECT_NE(nsdtf.find("Version:1.5000000\n"), std::string::npos) << nsdtf;
  EXPECT_NE(nsdtf.find("X0:12.250000000000000\n"), std::string::npos) << nsdtf;
  CFileDialog::SetNextAnswer((dir / "n.txt").c_str());
  CImgFileGrid back;
  back.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
  ASSERT_EQ(back.LoadImage(), 2);
  CFileDialog::ClearAnswer();
  EXPECT_EQ(back.m_dLowerLeftX, 12.25);

  dir.Put("r.raw", std::string(12, 'x'));
  dir.Put("r.ifo", "Width=2\nHeight=2\nXmin=10.5\nYmin=-20.25\n");
  CImgFileRaw raw;
  ASSERT_EQ(raw.OpenForRead((dir / "r.raw").c_str()), 1);
  EXPECT_EQ(raw.m_Bounds.left, -20.25);
  EXPECT_EQ(raw.m_Bounds.bottom, 10.5);
}

TEST(GridHeader, NumbersParseAndPrintInTheCLocale) {
  const struct {
    const char* text;
    size_t used;
    double value;
  } parses[] = {{"  -12.5e2x", 9, -1250},  {"+.5", 3, 0.5},  {"7.", 2, 7},      {"1e", 1, 1},
                {"inf", 3, HUGE_VAL},      {"-Infinity", 9, -HUGE_VAL},          {"1e400", 5, HUGE_VAL},
                {"1e-400", 6, 0},          {"abc", 0, 0},    {"1,5", 1, 1},      {"", 0, 0}};
  for (const auto& p : parses) {
    double v = -1;
    EXPECT_EQ(vtnum::ParseDouble(p.text, std::strlen(p.text), v), p.used) << p.text;
    EXPECT_EQ(v, p.value) << p.text;
  }
  EXPECT_EQ(vtnum::Shortest(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(vtnum::Shortest(-0.4984045f), "-0.4984045");
  EXPECT_EQ(vtnum::Shortest(-9999.0), "-9999");
  EXPECT_EQ(vtnum::Fixed(-0.25, 7), "-0.2500000");
}

TEST(GridHeader, NsdtfBlankLinesTakeNoPlaceAndLoadsForgetOtherArrays) {
  ScratchDir dir;
  const std::string header =
      "DataMark:CNSDTF-DEM\nVersion:1\nUnit:M\nAlpha:0\nCompress:0\nX0:0\nY0:0\nDX:1\nDY:1\n";
  // A line of ten entries, a run of blank lines, then the rest.
  dir.Put("i.txt", header + "Row:3\nCol:4\nValuType:Integer\nHzoom:1\n 1 2 3 4 5 6 7 8 9 10\n" +
                       std::string(100000, '\n') + "   \t\n 11 12\n");
  CImgFileGrid grid;
  grid.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
  CFileDialog::SetNextAnswer((dir / "i.txt").c_str());
  ASSERT_EQ(grid.LoadImage(), 2);
  ASSERT_EQ(grid.m_nValueCount, 12);
  EXPECT_EQ(grid.m_pIntValues[10], 11);
  EXPECT_EQ(grid.m_pIntValues[11], 12);

  // A "Char" grid loaded next leaves no integer array beside its count.
  dir.Put("c.txt", header + "Row:1\nCol:2\nValuType:Char\nHzoom:1\n a b\n");
  CFileDialog::SetNextAnswer((dir / "c.txt").c_str());
  ASSERT_EQ(grid.LoadImage(), 1);
  EXPECT_EQ(grid.m_pIntValues, nullptr);
  ASSERT_NE(grid.m_pCharValues, nullptr);
  EXPECT_EQ(grid.m_pCharValues[1], "b");

  // One data line of many entries is split in one pass (too many for the
  // grid here: code 4 after the whole line was looked at).
  std::string wide = " 1";
  for (int i = 0; i < 400000; ++i) wide += " 2";
  dir.Put("w.txt", header + "Row:1\nCol:1\nValuType:Integer\nHzoom:1\n" + wide + "\n");
  CFileDialog::SetNextAnswer((dir / "w.txt").c_str());
  EXPECT_EQ(grid.LoadImage(), 4);
  CFileDialog::ClearAnswer();
}

}  // namespace

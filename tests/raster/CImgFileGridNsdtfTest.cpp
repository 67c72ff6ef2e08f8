// NSDTF grids: hand-made files read through the file dialog's answer, and
// grids written and read back.
#include <gtest/gtest.h>

#include <string>

#include "platform/mfc/CFileDialog.h"
#include "raster/CImgFileGrid.h"
#include "support/ScratchDir.h"

namespace {

std::string Header(const char* type, int compress, int rows, int cols, const std::string& options = "") {
  return "DataMark:CNSDTF-DEM\nVersion:1.0\nUnit:M\nAlpha:0\nCompress:" + std::to_string(compress) +
         "\nX0:500.5\nY0:3000\nDX:2\nDY:2.5\nRow:" + std::to_string(rows) + "\nCol:" + std::to_string(cols) +
         "\nValuType:" + type + "\nHzoom:10\n" + options;
}

class NsdtfTest : public ::testing::Test {
 protected:
  void TearDown() override { CFileDialog::ClearAnswer(); }
  long Load(CImgFileGrid& grid, const std::string& name) {
    grid.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
    CFileDialog::SetNextAnswer((dir / name).c_str());
    return grid.LoadImage();
  }
  long Save(CImgFileGrid& grid, const std::string& name) {
    grid.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
    CFileDialog::SetNextAnswer((dir / name).c_str());
    return grid.SaveImage();
  }
  ScratchDir dir;
};

TEST_F(NsdtfTest, PlainIntegerAndCharGrids) {
  const std::string data = " 1 2 3 4 5 6 7 8 9 10\n -11 12\n";
  dir.Put("i.txt", Header("Integer", 0, 3, 4) + data);
  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "i.txt"), 2);
  EXPECT_EQ(grid.m_strDataMark, "CNSDTF-DEM");
  EXPECT_EQ(grid.m_dVersion, 1.0);
  EXPECT_EQ(grid.m_strUnit, "M");
  EXPECT_EQ(grid.m_dLowerLeftX, 500.5);
  EXPECT_EQ(grid.m_dCellHeight, 2.5);
  EXPECT_EQ(grid.m_nRows, 3);
  EXPECT_EQ(grid.m_nColumns, 4);
  EXPECT_EQ(grid.m_nHzoom, 10);
  ASSERT_EQ(grid.m_nValueCount, 12);
  ASSERT_NE(grid.m_pIntValues, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(grid.m_pIntValues[i], i + 1);
  EXPECT_EQ(grid.m_pIntValues[10], -11);
  EXPECT_EQ(grid.m_pIntValues[11], 12);

  // The same values as text; a second load replaces the arrays (the leak
  // checker of the sanitizer build sees the first ones go).
  dir.Put("c.txt", Header("Char  ", 0, 3, 4) + " 1.5 2 3 4 5 6 7 8 9 10\n x 12\n");
  ASSERT_EQ(Load(grid, "c.txt"), 1);
  ASSERT_EQ(grid.m_nValueCount, 12);
  EXPECT_EQ(grid.m_strValueType, "Char");
  EXPECT_EQ(grid.m_pCharValues[0], "1.5");
  EXPECT_EQ(grid.m_pCharValues[10], "x");
  ASSERT_EQ(Load(grid, "i.txt"), 2);
  EXPECT_EQ(grid.m_pIntValues[10], -11);

  // Another value type: code 2 and no values.
  CImgFileGrid other;
  dir.Put("f.txt", Header("Float", 0, 3, 4) + data);
  EXPECT_EQ(Load(other, "f.txt"), 2);
  EXPECT_EQ(other.m_pIntValues, nullptr);
  EXPECT_EQ(other.m_nValueCount, 0);
  dir.Put("z.txt", Header("Integer", 2, 3, 4) + data);
  EXPECT_EQ(Load(other, "z.txt"), 3);
  EXPECT_EQ(other.m_nValueCount, 0);
}

TEST_F(NsdtfTest, CompressedPairsAndOptionLines) {
  const std::string options =
      "Coordinate:Gauss\nProjection:TM\nSpheroid:Krasovsky\nParameters:117\nMaxV:900\nMinV:-4\n";
  dir.Put("p.txt", Header("integer", 1, 3, 4, options) + " 5 3 7 9\n");
  CImgFileGrid grid;
  ASSERT_EQ(Load(grid, "p.txt"), 2);
  EXPECT_EQ(grid.m_strCoordinate, "Gauss");
  EXPECT_EQ(grid.m_strSpheroid, "Krasovsky");
  EXPECT_EQ(grid.m_strParameters, "117");
  EXPECT_EQ(grid.m_nMaxValue, 0);  // MaxV counts only for a value type of exactly "Integer"
  ASSERT_EQ(grid.m_nValueCount, 2);
  EXPECT_EQ(grid.m_pIntPairs[0], 5);
  EXPECT_EQ(grid.m_pIntPairs[1], 3);
  EXPECT_EQ(grid.m_pIntPairs[2], 7);
  EXPECT_EQ(grid.m_pIntPairs[3], 9);

  // All six option lines: the data begins right after MinV.
  dir.Put("o.txt", Header("Integer", 0, 1, 2, options) + " 4 5\n");
  ASSERT_EQ(Load(grid, "o.txt"), 2);
  EXPECT_EQ(grid.m_nMaxValue, 900);
  EXPECT_EQ(grid.m_nMinValue, -4);
  EXPECT_EQ(grid.m_strProjection, "TM");
  ASSERT_EQ(grid.m_nValueCount, 2);
  EXPECT_EQ(grid.m_pIntValues[0], 4);

  dir.Put("t.txt", Header("CHAR", 1, 2, 2, "MinV:a\n") + " a 3 b 1\n");
  ASSERT_EQ(Load(grid, "t.txt"), 1);
  ASSERT_EQ(grid.m_nValueCount, 2);
  EXPECT_EQ(grid.m_pCharPairs[1].m_strValue, "b");
  EXPECT_EQ(grid.m_pCharPairs[1].m_nCount, 1);
  EXPECT_EQ(grid.m_strMinValue, "");  // not exactly "Char"
}

// More entries than the grid holds end the read with code 4 and never
// write past the arrays; the previous arrays stay.
TEST_F(NsdtfTest, TooManyEntriesStopWithCode4) {
  CImgFileGrid grid;
  dir.Put("ok.txt", Header("Integer", 0, 1, 3) + " 7 8 9\n");
  ASSERT_EQ(Load(grid, "ok.txt"), 2);
  int* const before = grid.m_pIntValues;

  dir.Put("long.txt", Header("Integer", 0, 2, 2) + " 1 2 3 4 5 6 7 8 9 10 11\n");
  EXPECT_EQ(Load(grid, "long.txt"), 4);
  dir.Put("more.txt", Header("Integer", 0, 2, 2) + " 1 2 3 4 5 6 7 8 9 10\n 11\n 12\n");
  EXPECT_EQ(Load(grid, "more.txt"), 4);
  dir.Put("past.txt", Header("Integer", 0, 1, 2) + " 1 2 3 4\n");
  EXPECT_EQ(Load(grid, "past.txt"), 4);
  dir.Put("pairs.txt", Header("Integer", 1, 1, 1) + " 1 1\n 2 2\n");
  EXPECT_EQ(Load(grid, "pairs.txt"), 4);
  EXPECT_EQ(grid.m_pIntValues, before);
  EXPECT_EQ(grid.m_pIntValues[2], 9);

  // The last entry of a line may sit past the cell count, within the line.
  dir.Put("edge.txt", Header("Integer", 0, 1, 2) + " 1 2 3\n");
  EXPECT_EQ(Load(grid, "edge.txt"), 2);
  EXPECT_EQ(grid.m_nValueCount, 3);
}

TEST_F(NsdtfTest, CancelledDialogOrMissingFileDoNothing) {
  CImgFileGrid grid;
  grid.m_nFormatMode = CImgFileGrid::kNsdtfGrid;
  grid.m_nRows = 42;
  EXPECT_EQ(grid.LoadImage(), -1);  // no answer: cancelled
  EXPECT_EQ(grid.SaveImage(), -1);
  EXPECT_EQ(Load(grid, "none.txt"), -1);
  EXPECT_EQ(grid.m_nRows, 42);
  EXPECT_EQ(Save(grid, "no/such/dir.txt"), -1);
  CImgScanLine line(PF_INT32, 4);
  EXPECT_EQ(grid.ReadScanLine(0, line), -1);
}

TEST_F(NsdtfTest, WriterKeepsSignsAndReplacesTheFile) {
  CImgFileGrid grid;
  grid.m_strDataMark = "CNSDTF-DEM";
  grid.m_dVersion = 1.5;
  grid.m_strUnit = "M";
  grid.m_dAlpha = 0.25;
  grid.m_dLowerLeftX = -120.5;
  grid.m_dLowerLeftY = -0.75;
  grid.m_dCellWidth = 2;
  grid.m_dCellHeight = 2;
  grid.m_nRows = 3;
  grid.m_nColumns = 4;
  grid.m_strValueType = "Integer";
  grid.m_nHzoom = 1;
  grid.m_nMinValue = -30;  // MaxV stays 0: no line
  int values[12];
  for (int i = 0; i < 12; ++i) values[i] = (i - 3) * 10;
  grid.m_pIntValues = values;
  grid.m_nValueCount = 12;

  dir.Put("w.txt", std::string(5000, 'x'));  // an old, longer file
  ASSERT_EQ(Save(grid, "w.txt"), 2);
  EXPECT_EQ(dir.Get("w.txt"),
            "DataMark:CNSDTF-DEM\nVersion:1.5000000\nUnit:M\nAlpha:.2500000\nCompress:0\n"
            "X0:-120.500000000000000\nY0:-.750000000000000\nDX:2.000000000000000\nDY:2.000000000000000\n"
            "Row:3\nCol:4\nValuType:Integer\nHzoom:1\nMinV:-30\n"
            " -30 -20 -10 0 10 20 30 40 50 60\n 70 80\n");

  CImgFileGrid back;
  ASSERT_EQ(Load(back, "w.txt"), 2);
  EXPECT_EQ(back.m_dLowerLeftX, -120.5);
  EXPECT_EQ(back.m_dLowerLeftY, -0.75);
  EXPECT_EQ(back.m_nMinValue, -30);
  ASSERT_EQ(back.m_nValueCount, 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(back.m_pIntValues[i], values[i]);

  // A Char grid with an empty maximum writes no MaxV; pairs are written
  // value, space, count.
  CImgFileGrid text;
  text.m_strValueType = "Char";
  text.m_nCompress = 1;
  text.m_strMinValue = "a";
  NsdtfTextPair pairs[2] = {{"a", 3}, {"b", 1}};
  text.m_pCharPairs = pairs;
  text.m_nValueCount = 2;
  ASSERT_EQ(Save(text, "t.txt"), 1);
  const std::string written = dir.Get("t.txt");
  EXPECT_EQ(written.find("MaxV"), std::string::npos);
  EXPECT_NE(written.find("\nMinV:a\n a 3 b 1\n"), std::string::npos) << written;

  // Values needed but no array: refused before the file is touched.
  text.m_pCharPairs = nullptr;
  EXPECT_EQ(Save(text, "t.txt"), -1);
  EXPECT_EQ(dir.Get("t.txt"), written);
}

}  // namespace

// The ECW reader over the view decoder: views, cache and line reads against
// GDAL's own RasterIO of the same rectangle at the same size, and the
// reader's refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "raster/CImgFileECW.h"
#include "support/GdalViews.h"
#include "support/ScratchDir.h"

namespace {

class EcwTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new ScratchDir;
    ASSERT_TRUE(GdalWriteImage(*dir / "rgb.jp2", "JP2OpenJPEG", 197, 131, 3, {"QUALITY=30", "RESOLUTIONS=3"}));
    ASSERT_TRUE(GdalWriteImage(*dir / "grey.tif", "GTiff", 50, 40, 1));
    ASSERT_TRUE(GdalWriteImage(*dir / "two.tif", "GTiff", 33, 20, 2));
    ASSERT_TRUE(GdalWriteImage(*dir / "pal.tif", "GTiff", 40, 30, 1, {}, true));
    // More lines than one strip of the view decoder (1 MB) holds.
    ASSERT_TRUE(GdalWriteImage(*dir / "big.tif", "GTiff", 1000, 800, 3));
  }
  static void TearDownTestSuite() { delete dir; }
  static ScratchDir* dir;
};
ScratchDir* EcwTest::dir = nullptr;

// The cache of a view as band after band of rows: BIL rows for files of
// one or two bands, the red, green and blue of each triple otherwise.
std::vector<unsigned char> CacheBands(CImgFileECW& ecw, long w, long h, size_t bands) {
  std::vector<unsigned char> out;
  const unsigned char* cache = ecw.GetBuffer();
  const long d = ecw.GetBufferWidth();
  for (size_t b = 0; b < bands; ++b)
    for (long l = 0; l < h; ++l)
      for (long x = 0; x < w; ++x)
        out.push_back(ecw.GetBandCount() < 3 ? cache[(l * bands + b) * d + x] : cache[l * d * 3 + x * 3 + 2 - b]);
  return out;
}

// A colour-table image is seen as red, green, blue: indices taken by
// nearest neighbour, looked up in the table.
std::vector<unsigned char> GdalColours(const std::string& path, int x, int y, int w, int h, int bw, int bh) {
  const std::vector<unsigned char> index = GdalWindow(path, x, y, w, h, bw, bh, {1}, GRIORA_NearestNeighbour);
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  GDALColorTableH table = GDALGetRasterColorTable(GDALGetRasterBand(ds, 1));
  std::vector<unsigned char> out(index.size() * 3);
  for (size_t i = 0; i < index.size(); ++i) {
    const GDALColorEntry* e = GDALGetColorEntry(table, index[i]);
    out[i] = static_cast<unsigned char>(e->c1);
    out[index.size() + i] = static_cast<unsigned char>(e->c2);
    out[2 * index.size() + i] = static_cast<unsigned char>(e->c3);
  }
  GDALClose(ds);
  return out;
}

TEST_F(EcwTest, ViewsEqualGdalsRasterIOOfTheSameRectangle) {
  struct Case {
    const char* file;
    CRect rect;
    long w, h;
    std::vector<long> bands;  // empty: every band
  } cases[] = {
      {"rgb.jp2", CRect(0, 0, 197, 131), 197, 131, {}},  // full size
      {"rgb.jp2", CRect(0, 0, 197, 131), 49, 33, {}},    // from the file's reduced copies
      {"rgb.jp2", CRect(10, 5, 60, 45), 120, 70, {}},    // enlarged
      {"rgb.jp2", CRect(100, 60, 197, 131), 31, 17, {2, 0, 1}},
      {"rgb.jp2", CRect(3, 3, 9, 9), 2, 2, {1}},         // one band: grey triples
      {"grey.tif", CRect(3, 4, 50, 40), 13, 9, {}},
      {"two.tif", CRect(0, 0, 33, 20), 25, 20, {}},
      {"two.tif", CRect(5, 0, 30, 20), 96, 7, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " window " + std::to_string(c.w) + "x" + std::to_string(c.h));
    const std::string path = *dir / c.file;
    CImgFileECW ecw;
    ASSERT_EQ(ecw.Open(path.c_str()), 1);
    std::vector<long> bands = c.bands;
    ASSERT_EQ(ecw.SetFileView(c.rect, c.w, c.h, bands.empty() ? nullptr : bands.data(), static_cast<long>(bands.size())),
              1);
    std::vector<int> gdalBands;
    for (long b = 0; b < (bands.empty() ? ecw.GetBandCount() : static_cast<long>(bands.size())); ++b)
      gdalBands.push_back(bands.empty() ? b + 1 : static_cast<int>(bands[b]) + 1);
    // Views of fewer than three bands on colour files repeat their first band.
    if (ecw.GetBandCount() >= 3 && gdalBands.size() < 3) gdalBands.assign(3, gdalBands[0]);
    if (ecw.GetBandCount() >= 3) gdalBands.resize(3);
    const auto expected = GdalWindow(path, c.rect.left, c.rect.top, static_cast<int>(c.rect.Width()),
                                     static_cast<int>(c.rect.Height()), c.w, c.h, gdalBands);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(CacheBands(ecw, c.w, c.h, gdalBands.size()), expected);
    EXPECT_EQ(ecw.GetViewImgWidth(), c.rect.Width());
    EXPECT_EQ(ecw.GetViewWndHeight(), c.h);
  }
  // Colour tables: the colours of the nearest index.
  CImgFileECW ecw;
  ASSERT_EQ(ecw.Open((*dir / "pal.tif").c_str()), 1);
  EXPECT_EQ(ecw.GetBandCount(), 3);
  ASSERT_EQ(ecw.SetFileView(CRect(1, 2, 40, 30), 17, 11, nullptr, 0), 1);
  EXPECT_EQ(CacheBands(ecw, 17, 11, 3), GdalColours(*dir / "pal.tif", 1, 2, 39, 28, 17, 11));
}

// Rows are the window width rounded down to eight, plus eight; a cache
// grows whenever a view writes more than it holds, however its width and
// height compare with the last view's.
TEST_F(EcwTest, CacheHoldsWhatEachViewWrites) {
  CImgFileECW ecw;
  ASSERT_EQ(ecw.Open((*dir / "rgb.jp2").c_str()), 1);
  struct Step {
    long w, h, rowLength;
  } steps[] = {{8, 8, 16}, {16, 16, 24}, {100, 3, 104}, {96, 4, 104}, {5, 60, 8}, {4, 2, 8}};
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
    ASSERT_EQ(ecw.SetFileView(CRect(7, 9, 150, 120), s.w, s.h, nullptr, 0), 1);
    EXPECT_EQ(ecw.GetBufferWidth(), s.rowLength);
    EXPECT_EQ(ecw.GetBufferHeight(), s.h);
    EXPECT_GE(ecw.GetBufferSize(), s.h * s.rowLength * 3);
    EXPECT_EQ(CacheBands(ecw, s.w, s.h, 3), GdalWindow(*dir / "rgb.jp2", 7, 9, 143, 111, s.w, s.h, {1, 2, 3}));
  }
  CImgFileECW two;
  ASSERT_EQ(two.Open((*dir / "two.tif").c_str()), 1);
  ASSERT_EQ(two.SetFileView(CRect(0, 0, 33, 20), 9, 5, nullptr, 0), 1);
  EXPECT_EQ(two.GetBufferHeight(), 10);  // a row per band per line
  EXPECT_GE(two.GetBufferSize(), 10 * 16);
  two.ReleaseCacheBuffer();
  EXPECT_EQ(two.GetBuffer(), nullptr);
  EXPECT_EQ(two.GetBufferWidth(), 0);
}

TEST_F(EcwTest, ScanLinesOnlyOverTheWholeImageAtFullSize) {
  for (const char* file : {"rgb.jp2", "grey.tif", "big.tif"}) {
    SCOPED_TRACE(file);
    const std::string path = *dir / file;
    CImgFileECW ecw;
    ASSERT_EQ(ecw.Open(path.c_str()), 1);
    const long w = ecw.GetWidth(), h = ecw.GetHeight();
    const bool grey = ecw.GetBandCount() == 1;
    CImgScanLine line;
    EXPECT_EQ(ecw.GetScanLine(0, line), 0);  // no view
    ASSERT_EQ(ecw.SetFileView(CRect(0, 0, w, h), w / 2, h, nullptr, 0), 1);
    EXPECT_EQ(ecw.GetScanLine(0, line), 0);  // a resampled view
    ASSERT_EQ(ecw.SetOutputBound(), 1);
    const auto expected = GdalWindow(path, 0, 0, w, h, w, h, grey ? std::vector<int>{1} : std::vector<int>{1, 2, 3});
    for (long y = 0; y < h; ++y) {
      ASSERT_EQ(ecw.GetScanLine(y, line), 1) << y;
      ASSERT_EQ(line.GetSize(), grey ? w : w * 3);
      EXPECT_EQ(line.m_PixelFormat, grey ? PF_BIT8 : PF_BIT24);
      for (long x = 0; x < w; ++x)
        for (int c = 0; c < (grey ? 1 : 3); ++c)
          ASSERT_EQ(line[static_cast<int>(grey ? x : x * 3 + 2 - c)], expected[(c * h + y) * w + x]) << x << "," << y;
    }
    EXPECT_EQ(ecw.GetScanLine(h, line), 0);  // past the last line
  }
}

TEST_F(EcwTest, RefusedViewsLeaveTheLastOne) {
  CImgFileECW ecw;
  ASSERT_EQ(ecw.Open((*dir / "rgb.jp2").c_str()), 1);
  ASSERT_EQ(ecw.SetFileView(CRect(1, 2, 30, 40), 10, 10, nullptr, 0), 1);
  long four[] = {0, 1, 2, 0}, bad[] = {0, 3};
  struct Case {
    CRect rect;
    long w, h;
    long* bands;
    long count;
    long error;  // -1: refused before the SDK is asked
  } cases[] = {
      {CRect(0, 0, 10, 10), 5, 5, four, 4, -1},
      {CRect(0, 0, 10, 10), 5, 5, bad, 2, NCS_INVALID_PARAMETER},
      {CRect(0, 0, 198, 10), 5, 5, nullptr, 0, NCS_REGION_OUTSIDE_FILE},
      {CRect(-1, 0, 10, 10), 5, 5, nullptr, 0, NCS_REGION_OUTSIDE_FILE},
      {CRect(10, 0, 10, 10), 5, 5, nullptr, 0, NCS_REGION_OUTSIDE_FILE},
      {CRect(0, 0, 10, 10), 0, 5, nullptr, 0, NCS_INVALID_PARAMETER},
      {CRect(0, 0, 10, 10), 5, -3, nullptr, 0, NCS_INVALID_PARAMETER},
      {CRect(0, 0, 10, 10), (1L << 32) + 8, 5, nullptr, 0, NCS_INVALID_PARAMETER},  // not a window of 8
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ecw.SetFileView(c.rect, c.w, c.h, c.bands, c.count), 0);
    if (c.error >= 0) {
      EXPECT_EQ(ecw.GetLastError(), c.error);
    }
    NCSFileViewSetInfo* view = nullptr;
    ASSERT_EQ(ecw.GetECWViewSetInfo(view), 1);
    EXPECT_EQ(view->nTopLeftX, 1u);
    EXPECT_EQ(view->nBottomRightY, 39u);
    EXPECT_EQ(view->nSizeX, 10u);
  }
}

// A small file may claim thousands of bands: a view of a few of them is
// decoded, a line of all of them (over 64 MB) is refused, not allocated.
TEST_F(EcwTest, ViewsOfAFewOfManyBands) {
  const char* sparse[] = {"SPARSE_OK=TRUE", "INTERLEAVE=BAND", nullptr};
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), (*dir / "bands.tif").c_str(), 40000, 2, 1700, GDT_Byte,
                               const_cast<char**>(sparse));
  ASSERT_NE(ds, nullptr);
  GDALClose(ds);
  CImgFileECW ecw;
  ASSERT_EQ(ecw.Open((*dir / "bands.tif").c_str()), 1);
  EXPECT_EQ(ecw.GetBandCount(), 1700);
  EXPECT_EQ(ecw.SetOutputBound(), 0);
  EXPECT_EQ(ecw.GetLastError(), NCS_INVALID_PARAMETER);
  long bands[] = {1699, 5, 0};
  ASSERT_EQ(ecw.SetFileView(CRect(0, 0, 40000, 2), 40000, 2, bands, 3), 1);
  EXPECT_EQ(ecw.GetBuffer()[3 * 39999], 0);
}

TEST_F(EcwTest, OpenReportsWhyAFileCannotBeRead) {
  CImgFileECW ecw;
  EXPECT_EQ(ecw.GetWidth(), -1);
  NCSFileViewFileInfo* info = nullptr;
  EXPECT_EQ(ecw.GetECWFileInfo(info), 0);
  for (const std::string& missing : {std::string(), *dir / "none.ecw"}) {
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(ecw.Open(missing.c_str()), 0);
    EXPECT_EQ(VtGetErrorMsgObj()->GetCode(), 31332);
    EXPECT_NE(VtGetErrorMsgObj()->GetMessage().str().find(missing), std::string::npos);
  }
  dir->Put("text.jp2", "not an image at all");
  dir->Put("genuine.ecw", std::string("\x65\x02\x01\x00", 4) + std::string(200, '\x11'));
  GDALDatasetH deep = GDALCreate(GDALGetDriverByName("GTiff"), (*dir / "deep.tif").c_str(), 4, 4, 1, GDT_UInt16, nullptr);
  GDALClose(deep);
  struct Case {
    const char* file;
    long error;
    const char* says;
  } cases[] = {{"text.jp2", NCS_FILE_OPEN_FAILED, "not recognized"},
               {"genuine.ecw", NCS_ECW_DECODER_MISSING, "ECW wavelet decoder"},
               {"deep.tif", NCS_FILE_OPEN_FAILED, "16-bit"}};
  for (const Case& c : cases) {
    EXPECT_EQ(ecw.Open((*dir / c.file).c_str()), 0) << c.file;
    EXPECT_EQ(ecw.GetLastError(), c.error) << c.file;
    EXPECT_EQ(ecw.GetWidth(), -1);
    EXPECT_NE(VtGetErrorMsgObj()->GetMessage().str().find(c.says), std::string::npos)
        << VtGetErrorMsgObj()->GetMessage().str();
  }
  ASSERT_EQ(ecw.Open((*dir / "GREY.TIF").c_str()), 1);  // names matched ignoring case
  EXPECT_EQ(ecw.GetPixelFormat(), PF_BIT8);
  ASSERT_EQ(ecw.m_Palette.GetSize(), 256);
  EXPECT_EQ(ecw.m_Palette[200].peGreen, 200);
  ASSERT_EQ(ecw.Open((*dir / "rgb.jp2").c_str()), 1);
  EXPECT_EQ(ecw.m_Palette.GetSize(), 0);
  EXPECT_EQ(ecw.GetWidth(), 197);
  ecw.Close();
  EXPECT_EQ(ecw.GetHeight(), -1);
  EXPECT_EQ(ecw.SetOutputBound(), 0);
}

}  // namespace

// The MrSID reader over the level decoder: level choice, windows and
// direct reads against GDAL's own RasterIO of the same full-resolution
// rectangle at the level's size, and the status texts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "raster/CImgFileMrSID20.h"
#include "support/GdalViews.h"
#include "support/ScratchDir.h"

namespace {

class MrSIDTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new ScratchDir;
    // 800 x 600: five levels, down to 50 x 38 pixels.
    ASSERT_TRUE(GdalWriteImage(*dir / "rgb.jp2", "JP2OpenJPEG", 800, 600, 3, {"QUALITY=20", "RESOLUTIONS=5"}));
    ASSERT_TRUE(GdalWriteImage(*dir / "grey.tif", "GTiff", 101, 67, 1));
    ASSERT_TRUE(GdalWriteImage(*dir / "four.tif", "GTiff", 64, 40, 4));
  }
  static void TearDownTestSuite() { delete dir; }
  static ScratchDir* dir;
};
ScratchDir* MrSIDTest::dir = nullptr;

// A buffer of `rows` rows `rowBytes` apart as band after band (red,
// green, blue of blue-first triples, or grey).
std::vector<unsigned char> BufferBands(const unsigned char* buffer, long w, long rows, long rowBytes, int samples) {
  std::vector<unsigned char> out;
  for (int c = 0; c < samples; ++c)
    for (long y = 0; y < rows; ++y)
      for (long x = 0; x < w; ++x) out.push_back(buffer[y * rowBytes + x * samples + (samples == 3 ? 2 - c : 0)]);
  return out;
}

TEST(MrSIDLevelTest, ResolutionChoosesTheLevel) {
  struct Case {
    double resolution;
    long deepest, level;
  } cases[] = {{1.0, 4, 0}, {2.0, 4, 0}, {0.5, 4, 1}, {0.3, 4, 2},  {0.26, 4, 2}, {0.001, 4, 4},
               {0.0, 4, 4}, {0.5, 0, 0}, {0.7, 4, 0}, {0.65, 4, 1}, {0.1, 3, 3},  {1 / 1.5, 4, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(CImgFileMrSID20::ChooseLevel(c.resolution, c.deepest), c.level) << c.resolution << " " << c.deepest;
}

TEST_F(MrSIDTest, WindowsEqualGdalsReductionOfTheSameRectangle) {
  struct Case {
    const char* file;
    CRect2D view;
    double resolution;
    long level;
    CRect window;  // at the level
  } cases[] = {
      {"rgb.jp2", CRect2D(0, 0, 1000, 1000), 0.5, 1, CRect(0, 0, 400, 300)},
      {"rgb.jp2", CRect2D(13, 7, 333, 290), 1.0, 0, CRect(13, 7, 333, 290)},
      {"rgb.jp2", CRect2D(-50, 100, 610.4, 1e300), 0.3, 2, CRect(0, 25, 153, 150)},
      {"rgb.jp2", CRect2D(0, 0, 800, 600), 0.001, 4, CRect(0, 0, 50, 38)},
      {"grey.tif", CRect2D(0, 0, 101, 67), 0.5, 1, CRect(0, 0, 51, 34)},  // the last pixels reach past the edge
      {"four.tif", CRect2D(3, 1, 8, 20), 1.0, 0, CRect(3, 1, 8, 20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.resolution));
    const std::string path = *dir / c.file;
    CImgFileMrSID20 sid;
    ASSERT_EQ(sid.OpenForRead(path.c_str()), 1);
    ASSERT_EQ(sid.LoadImage(), 1);
    sid.SetViewRect(c.view);
    sid.SetResolution(c.resolution);
    ASSERT_EQ(sid.GetImage(), 1) << sid.GetStatusText().str();
    EXPECT_EQ(sid.GetScale(), c.level);
    EXPECT_EQ(sid.GetWindowRect(), c.window);
    const long w = sid.GetWindowWidth(), h = sid.GetWindowHeight();
    ASSERT_EQ(w, c.window.Width());
    const bool grey = sid.GetPixelFormat() == PF_BIT8;
    EXPECT_EQ(sid.GetRowBytes(), (w * (grey ? 1 : 3) + 3) / 4 * 4);
    const int f = 1 << c.level;
    const int x0 = c.window.left * f, y0 = c.window.top * f;
    const int x1 = std::min<int>(c.window.right * f, sid.GetWidth());
    const int y1 = std::min<int>(c.window.bottom * f, sid.GetHeight());
    const auto expected =
        GdalWindow(path, x0, y0, x1 - x0, y1 - y0, w, h, grey ? std::vector<int>{1} : std::vector<int>{1, 2, 3});
    EXPECT_EQ(BufferBands(sid.GetBuffer(), w, h, sid.GetRowBytes(), grey ? 1 : 3), expected);
  }
}

TEST_F(MrSIDTest, OpenReadsTheImagesFacts) {
  CImgFileMrSID20 rgb((*dir / "rgb.jp2").c_str());
  EXPECT_EQ(rgb.GetLev(), 4);  // 600 / 2^4 = 37 pixels
  EXPECT_EQ(rgb.GetBandCount(), 3);
  EXPECT_EQ(rgb.GetPixelFormat(), PF_BIT24);
  EXPECT_EQ(rgb.m_Palette.GetSize(), 0);
  EXPECT_EQ(rgb.CImgFile::GetWidth(), 800u);
  EXPECT_EQ(rgb.GetStatusText(), "None");
  CImgFileMrSID20 grey((*dir / "grey.tif").c_str());
  EXPECT_EQ(grey.GetLev(), 1);
  EXPECT_EQ(grey.GetPixelFormat(), PF_BIT8);
  ASSERT_EQ(grey.m_Palette.GetSize(), 256);
  EXPECT_EQ(grey.m_Palette[77].peBlue, 77);
  CImgFileMrSID20 four((*dir / "four.tif").c_str());
  EXPECT_EQ(four.GetBandCount(), 4);
  EXPECT_EQ(four.GetPixelFormat(), PF_BIT24);
  EXPECT_EQ(four.LoadImage(), 1);  // a second open does nothing
}

TEST_F(MrSIDTest, StatusTextsOnBadRequests) {
  dir->Put("text.sid", "msid and nothing else, not an image");
  dir->Put("text.bin", "not an image either");
  CImgFileMrSID20 sid;
  EXPECT_EQ(sid.GetStatusText(), "None");
  EXPECT_EQ(sid.GetImage(), 0);
  EXPECT_EQ(sid.GetStatusText(), "Error:File not opened");
  EXPECT_EQ(sid.LoadImage(), 0);
  sid.OpenForRead((*dir / "rgb.jp2").c_str());
  EXPECT_EQ(sid.GetImage(), 0);
  EXPECT_EQ(sid.GetStatusText(), "Load failed.");
  ASSERT_EQ(sid.LoadImage(), 1);
  struct Case {
    CRect2D view;
    double resolution;
    const char* status;
  } cases[] = {
      {CRect2D(0, 0, 10, 10), -0.5, "Error:Resolution not valid"},
      {CRect2D(0, 0, 10, 10), NAN, "Error:Resolution not valid"},
      {CRect2D(), 1.0, "Error:Rectangle not valid"},
      {CRect2D(0, 10, 10, 0), 1.0, "Error:Rectangle not valid"},  // top below bottom
      {CRect2D(900, 0, 1000, 10), 1.0, "Error:Rectangle not valid"},
      {CRect2D(NAN, 0, 10, 10), 1.0, "Error:Rectangle not valid"},
      {CRect2D(-1e300, -1e300, -1e299, -1e299), 0.5, "Error:Rectangle not valid"},
  };
  for (const Case& c : cases) {
    sid.SetViewRect(c.view);
    sid.SetResolution(c.resolution);
    EXPECT_EQ(sid.GetImage(), 0);
    EXPECT_EQ(sid.GetStatusText(), c.status) << c.view.left << " " << c.resolution;
  }
  for (const char* file : {"text.sid", "text.bin", "none.sid"}) {
    CImgFileMrSID20 bad;
    bad.OpenForRead((*dir / file).c_str());
    EXPECT_EQ(bad.LoadImage(), 0) << file;
    bad.SetViewRect(CRect2D(0, 0, 10, 10));
    EXPECT_EQ(bad.GetImage(), 0);
    EXPECT_EQ(bad.GetStatusText(), "Load failed.") << file;
  }
  CImgFileMrSID20 genuine;
  EXPECT_EQ(genuine.Open((*dir / "text.sid").c_str()), 0);
  EXPECT_NE(genuine.GetStatusText().str().find("MrSID decoder"), std::string::npos) << genuine.GetStatusText().str();
}

// Direct reads at any level, centred on a pixel of that level; the scene's
// parts outside the image keep the background.
TEST_F(MrSIDTest, DirectReadsAtAnyLevel) {
  CImgFileMrSID20 sid((*dir / "rgb.jp2").c_str());
  std::vector<unsigned char> target(20 * 60);  // rows of 17 x 3 bytes padded to 52
  ASSERT_EQ(sid.GetDataDirect(target.data(), 2, 17, 20, CPoint(100, 70)), 1);
  EXPECT_EQ(BufferBands(target.data(), 17, 20, 52, 3), GdalWindow(*dir / "rgb.jp2", 92 * 4, 60 * 4, 68, 80, 17, 20, {1, 2, 3}));

  // A scene over the top-left corner of level 3 (100 x 75): the pixels
  // before column 0 and row 0 stay 0.
  std::vector<unsigned char> corner(6 * 12, 0xAA);
  ASSERT_EQ(sid.GetDataDirect(corner.data(), 3, 4, 6, CPoint(0, 1)), 1);
  const auto inside = GdalWindow(*dir / "rgb.jp2", 0, 0, 16, 32, 2, 4, {1, 2, 3});
  for (long y = 0; y < 6; ++y)
    for (long x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) {
        const bool in = x >= 2 && y >= 2;
        const unsigned char want = in ? inside[(c * 4 + (y - 2)) * 2 + (x - 2)] : 0;
        EXPECT_EQ(corner[y * 12 + x * 3 + 2 - c], want) << x << "," << y;
      }

  // Refusals go to the error-message object; a buffer of another size
  // than the navigator's scene is refused, not overrun.
  VtGetErrorMsgObj()->Clear();
  EXPECT_EQ(sid.GetDataDirect(target.data(), 5, 4, 4, CPoint(0, 0)), 0);
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().str().find("level 5"), std::string::npos);
  EXPECT_EQ(sid.GetDataDirect(nullptr, 0, 4, 4, CPoint(0, 0)), 0);
  EXPECT_EQ(sid.GetDataDirect(target.data(), 0, 0, 4, CPoint(0, 0)), 0);
  sid.SetViewRect(CRect2D(0, 0, 8, 8));
  ASSERT_EQ(sid.GetImage(), 1);
  ASSERT_EQ(sid.GetDataDirect(target.data(), 0, 16, 16, CPoint(8, 8)), 1);
  EXPECT_EQ(sid.RetriveData(), 0);
  EXPECT_EQ(VtGetErrorMsgObj()->GetCode(), 0);
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().str().find("8 x 8"), std::string::npos);
  CImgFileMrSID20 closed;
  EXPECT_EQ(closed.GetDataDirect(target.data(), 0, 4, 4, CPoint(0, 0)), 0);
}

// The background of a scene reaching past the image is the file's no-data
// value in every sample, pixel by pixel; the padding at the end of each
// row is the caller's and stays as it was.
TEST_F(MrSIDTest, SceneOutsideTheImageTakesTheNoDataValue) {
  const std::string path = *dir / "nodata.tif";
  ASSERT_TRUE(GdalWriteImage(path, "GTiff", 40, 30, 3));
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_Update);
  ASSERT_NE(ds, nullptr);
  for (int b = 1; b <= 3; ++b) GDALSetRasterNoDataValue(GDALGetRasterBand(ds, b), 9);
  GDALClose(ds);

  CImgFileMrSID20 sid(path.c_str());
  // 5 x 4 pixels centred on (0, 0): columns -2 to 2, rows -2 to 1; rows of
  // 15 bytes padded to 16.
  std::vector<unsigned char> target(4 * 16, 0xAA);
  ASSERT_EQ(sid.GetDataDirect(target.data(), 0, 5, 4, CPoint(0, 0)), 1);
  const auto inside = GdalWindow(path, 0, 0, 3, 2, 3, 2, {1, 2, 3});
  for (long y = 0; y < 4; ++y) {
    for (long x = 0; x < 5; ++x)
      for (int c = 0; c < 3; ++c) {
        const bool in = x >= 2 && y >= 2;
        const unsigned char want = in ? inside[(c * 2 + (y - 2)) * 3 + (x - 2)] : 9;
        EXPECT_EQ(target[y * 16 + x * 3 + 2 - c], want) << x << "," << y << " sample " << c;
      }
    EXPECT_EQ(target[y * 16 + 15], 0xAA) << "padding of row " << y;
  }
}

}  // namespace

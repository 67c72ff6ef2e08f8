#include <gtest/gtest.h>

#include <gdal.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/ScratchDir.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "raster/CImgFileRaw.h"

namespace {

const std::string kResolution = "\xB7\xD6\xB1\xE6\xC2\xCA";

std::string Pixels(size_t bytes, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(bytes, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

class RawTest : public ::testing::Test {
 protected:
  // dem.raw of width x height pixels and dem.ifo with `ifo` as its text.
  std::string Make(unsigned width, unsigned height, const std::string& ifo, const char* name = "dem") {
    std::string pixels = Pixels(size_t(width) * height * 3, width * 31 + height);
    dir.Put(std::string(name) + ".raw", pixels);
    dir.Put(std::string(name) + ".ifo", ifo);
    return pixels;
  }
  std::string Path(const char* name) { return dir / name; }
  ScratchDir dir;
};

TEST_F(RawTest, SidecarGivesSizeFormatAndBounds) {
  const std::string pixels =
      Make(100, 50, "Width=100\r\nHeight = 50\r\nXmin=3000\r\nYmin=500\r\n" + kResolution + "=2\r\n");
  CImgFileRaw raw;
  ASSERT_EQ(raw.OpenForRead(Path("dem.bmp").c_str()), 1);  // any extension names the pair
  EXPECT_EQ(raw.GetWidth(), 100u);
  EXPECT_EQ(raw.GetHeight(), 50u);
  EXPECT_EQ(raw.GetPixelFormat(), PF_BIT24);
  EXPECT_EQ(raw.GetPixelFormatExt(), PF_BIT24);
  EXPECT_EQ(raw.GetWidthBytes(), 300u);
  EXPECT_EQ(raw.m_Bounds, CRect2D(500, 3100, 700, 3000));
  EXPECT_EQ(raw.m_Palette.GetSize(), 0);
  EXPECT_EQ(raw.LoadImage(), -1);  // not part of this driver's protocol

  // Rows in any order, each equal to its bytes in the file.
  CImgScanLine line(PF_BIT24, 300);
  for (long row : {49L, 0L, 17L}) {
    ASSERT_EQ(raw.ReadScanLine(row, line), 300);
    EXPECT_EQ(std::memcmp(line.GetData(), pixels.data() + row * 300, 300), 0) << row;
  }
  EXPECT_EQ(raw.ReadScanLine(50, line), -1);
  EXPECT_EQ(raw.ReadScanLine(-1, line), -1);
  raw.Close();
}

TEST_F(RawTest, KeysAreFoundAnywhereWithExactCase) {
  // No resolution line: cell size 1. "ImageWidth" holds the key; "width" does not.
  Make(4, 3, "ImageWidth=4\nwidth=9\nHeight=3\nXmin=10.5\nYmin=-20\n");
  CImgFileRaw raw;
  ASSERT_EQ(raw.OpenForRead(Path("dem.raw").c_str()), 1);
  EXPECT_EQ(raw.GetWidth(), 4u);
  EXPECT_EQ(raw.m_Bounds, CRect2D(-20, 13.5, -16, 10.5));
  raw.Close();

  // A key line without "=" reads as the number at the line's start, 0: no
  // image. So does a sidecar without Width, or without Height.
  for (const char* ifo : {"Width 100\nHeight=3\n", "Height=3\n", "Width=4\n", "Width=0\nHeight=3\n"}) {
    dir.Put("dem.ifo", ifo);
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(raw.OpenForRead(Path("dem.raw").c_str()), 0) << ifo;
    EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find("dem.ifo"), -1) << ifo;
  }

  // A missing corner is (0, 0).
  CImgFileRaw fresh;
  dir.Put("dem.ifo", "Width=4\nHeight=3\n" + kResolution + " = 0.5\n");
  ASSERT_EQ(fresh.OpenForRead(Path("dem.raw").c_str()), 1);
  EXPECT_EQ(fresh.m_Bounds, CRect2D(0, 1.5, 2, 0));
}

TEST_F(RawTest, MissingFilesReport31334WithTheirPath) {
  CImgFileRaw raw;
  raw.SetWidth(77);
  VtGetErrorMsgObj()->Clear();
  EXPECT_EQ(raw.OpenForRead(Path("none.bmp").c_str()), 0);
  EXPECT_EQ(VtGetErrorMsgObj()->GetCode(), 31334);
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find((dir / "none.raw").c_str()), -1);

  dir.Put("lone.raw", std::string(9, 'x'));
  EXPECT_EQ(raw.OpenForRead(Path("lone.raw").c_str()), 0);
  EXPECT_EQ(VtGetErrorMsgObj()->GetCode(), 31334);
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find((dir / "lone.ifo").c_str()), -1);
  EXPECT_EQ(raw.m_hFile, CFile::hFileNull);
  EXPECT_EQ(raw.GetWidth(), 77u);
  EXPECT_EQ(raw.ReadIfoFile(Path("lone.raw").c_str()), 0);
}

TEST_F(RawTest, UnreadableSidecarFailsTheOpen) {
  // The sidecar exists but cannot be read as a file: the open fails and the
  // image is closed again, rather than reporting success with stale values.
  dir.Put("dem.raw", std::string(30, 'x'));
  ASSERT_EQ(::mkdir((dir / "dem.ifo").c_str(), 0755), 0);
  CImgFileRaw raw;
  VtGetErrorMsgObj()->Clear();
  EXPECT_EQ(raw.OpenForRead(Path("dem.raw").c_str()), 0);
  EXPECT_EQ(raw.m_hFile, CFile::hFileNull);
  EXPECT_EQ(VtGetErrorMsgObj()->GetCode(), 31334);
  EXPECT_EQ(raw.GetWidth(), 1u);
}

TEST_F(RawTest, ImpossibleSizesAreRefused) {
  // The last: rows of 2 GB from a sidecar beside a 12-byte raster.
  for (const char* ifo : {"Width=-5\nHeight=2\n", "Width=2000000000\nHeight=2\n", "Width=2\nHeight=-1\n",
                          "Width=99999999999999999999\n", "Width=715827882\nHeight=1\n"}) {
    Make(2, 2, ifo);
    CImgFileRaw raw;
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(raw.OpenForRead(Path("dem.raw").c_str()), 0) << ifo;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage());
    EXPECT_EQ(raw.GetWidth(), 1u) << ifo;
    EXPECT_EQ(raw.m_hFile, CFile::hFileNull);
  }
}

TEST_F(RawTest, ShortFilesAndShortLinesFailWithoutOverrun) {
  Make(10, 4, "Width=10\nHeight=4\n");
  dir.Put("dem.raw", Pixels(30 * 2 + 12, 5));  // two rows and a bit
  CImgFileRaw raw;
  ASSERT_EQ(raw.OpenForRead(Path("dem.raw").c_str()), 1);
  CImgScanLine line(PF_BIT24, 30);
  EXPECT_EQ(raw.ReadScanLine(1, line), 30);
  EXPECT_EQ(raw.ReadScanLine(2, line), -1);  // partial row
  EXPECT_EQ(raw.ReadScanLine(3, line), -1);  // no row at all

  // A line shorter than the width bytes is refused before anything is written.
  CImgScanLine small(PF_BIT24, 29);
  std::memset(small.GetData(), 0xC3, 29);
  EXPECT_EQ(raw.ReadScanLine(0, small), -1);
  EXPECT_EQ(small[0], 0xC3);
}

TEST_F(RawTest, SidecarAndImageNamesMatchIgnoringCase) {
  const std::string pixels = Make(3, 2, "Width=3\nHeight=2\n", "DEM");
  std::rename((dir / "DEM.ifo").c_str(), (dir / "Dem.IFO").c_str());
  CImgFileRaw raw;
  ASSERT_EQ(raw.OpenForRead(Path("dem.bmp").c_str()), 1);
  EXPECT_EQ(raw.GetWidth(), 3u);
  CImgScanLine line(PF_BIT24, 9);
  ASSERT_EQ(raw.ReadScanLine(1, line), 9);
  EXPECT_EQ(std::memcmp(line.GetData(), pixels.data() + 9, 9), 0);
}

// GDAL reads the same bytes through an ESRI .hdr header written beside the
// .raw: every row we read must equal GDAL's pixel-interleaved read, and the
// bounds GDAL derives from the same corner and cell size must equal ours.
TEST_F(RawTest, RowsAndBoundsAgreeWithGdal) {
  const unsigned width = 257, height = 33;
  const double xmin = 4200000.25, ymin = 38500000.5, cell = 2.5;
  char ifo[256];
  std::snprintf(ifo, sizeof ifo, "Width=%u\nHeight=%u\nXmin=%.17g\nYmin=%.17g\n%s=%.17g\n", width, height,
                xmin, ymin, kResolution.c_str(), cell);
  Make(width, height, ifo);
  char hdr[512];
  std::snprintf(hdr, sizeof hdr,
                "NROWS %u\nNCOLS %u\nNBANDS 3\nNBITS 8\nLAYOUT BIP\nPIXELTYPE UNSIGNEDINT\n"
                "ULXMAP %.17g\nULYMAP %.17g\nXDIM %.17g\nYDIM %.17g\n",
                height, width, ymin + cell / 2, xmin + height * cell - cell / 2, cell, cell);
  dir.Put("dem.hdr", hdr);

  GDALAllRegister();
  GDALDatasetH ds = GDALOpen((dir / "dem.raw").c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  ASSERT_EQ(GDALGetRasterXSize(ds), static_cast<int>(width));
  double gt[6];
  ASSERT_EQ(GDALGetGeoTransform(ds, gt), CE_None);

  CImgFileRaw raw;
  ASSERT_EQ(raw.OpenForRead(Path("dem.raw").c_str()), 1);
  EXPECT_DOUBLE_EQ(raw.m_Bounds.left, gt[0]);
  EXPECT_DOUBLE_EQ(raw.m_Bounds.top, gt[3]);
  EXPECT_DOUBLE_EQ(raw.m_Bounds.right, gt[0] + width * gt[1]);
  EXPECT_DOUBLE_EQ(raw.m_Bounds.bottom, gt[3] + height * gt[5]);

  CImgScanLine line(PF_BIT24, static_cast<long>(raw.GetWidthBytes()));
  std::vector<unsigned char> theirs(width * 3);
  for (unsigned row = 0; row < height; ++row) {
    ASSERT_EQ(GDALDatasetRasterIO(ds, GF_Read, 0, static_cast<int>(row), static_cast<int>(width), 1,
                                  theirs.data(), static_cast<int>(width), 1, GDT_Byte, 3, nullptr, 3,
                                  static_cast<GSpacing>(width) * 3, 1),
              CE_None);
    ASSERT_EQ(raw.ReadScanLine(static_cast<long>(row), line), static_cast<long>(width * 3));
    ASSERT_EQ(std::memcmp(line.GetData(), theirs.data(), theirs.size()), 0) << "row " << row;
  }
  GDALClose(ds);
}

}  // namespace

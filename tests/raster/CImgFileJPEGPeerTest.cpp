// The JPEG driver against GDAL and ImageMagick. GDAL links the same libjpeg
// as we do (the system's libjpeg62-turbo), so every decoded sample must be
// identical; files we write must decode in GDAL exactly as we decode them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "platform/vtelem/CGeoImgBlock.h"
#include "raster/CImgFileJPEG.h"
#include "support/JpegPeer.h"
#include "support/ScratchDir.h"

namespace {

int Shell(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

void ExpectSameAsGdal(const std::string& path, int bands) {
  SCOPED_TRACE(path);
  Picture theirs, ours;
  ASSERT_TRUE(GdalRead(path, theirs));
  ASSERT_TRUE(OurRead(path, ours));
  ASSERT_EQ(ours.bands, bands);
  ASSERT_EQ(ours.width, theirs.width);
  ASSERT_EQ(ours.height, theirs.height);
  ASSERT_EQ(ours.bands, theirs.bands);
  ASSERT_EQ(ours.pixels, theirs.pixels);
}

class JpegPeerTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(JpegPeerTest, GdalFilesDecodeToGdalsSamples) {
  for (int bands : {1, 3}) {
    for (int width : {1, 17, 64}) {
      const Picture p = TestPicture(width, 23, bands, static_cast<unsigned>(width * bands));
      const std::string stem = dir / (std::to_string(bands) + "-" + std::to_string(width));
      ASSERT_TRUE(GdalWriteJpeg(stem + ".jpg", p, {"QUALITY=85"}));
      ExpectSameAsGdal(stem + ".jpg", bands);
      ASSERT_TRUE(GdalWriteJpeg(stem + "-p.jpg", p, {"PROGRESSIVE=ON", "QUALITY=60"}));
      ExpectSameAsGdal(stem + "-p.jpg", bands);
    }
  }
}

TEST_F(JpegPeerTest, ImageMagickFilesDecodeToGdalsSamples) {
  const std::string plasma = "convert -size 61x29 -seed 3 plasma:fractal ";
  struct Case {
    const char* name;
    const char* options;
    int bands;
  } cases[] = {
      {"base.jpg", "-quality 90", 3},
      {"prog.jpg", "-interlace Plane -quality 70", 3},
      {"s444.jpg", "-sampling-factor 1x1 -quality 95", 3},
      {"s422.jpg", "-sampling-factor 2x1 -interlace Plane", 3},
      {"grey.jpg", "-colorspace Gray -quality 80", 1},
      {"greyp.jpg", "-colorspace Gray -interlace Plane", 1},
      {"restart.jpg", "-define jpeg:restart-interval=1", 3},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Shell(plasma + c.options + " " + dir / c.name), 0) << c.name;
    ExpectSameAsGdal(dir / c.name, c.bands);
  }
  ExpectSameAsGdal(std::string(VTFMT_SOURCE_DIR) + "/samples/plasma-progressive.jpg", 3);
}

// CMYK files (ImageMagick's, inks inverted as Adobe keeps them and coded as
// YCCK) read as RGB with GDAL's samples, baseline and progressive, and
// close to the picture they were made from: the inversion is undone.
TEST_F(JpegPeerTest, CmykFilesReadAsGdalsRgb) {
  const Picture source = TestPicture(45, 30, 3, 12);
  ASSERT_TRUE(GdalWrite(dir / "s.bmp", source));
  for (const char* options : {"-quality 95", "-quality 95 -interlace Plane"}) {
    SCOPED_TRACE(options);
    ASSERT_EQ(Shell("convert " + dir / "s.bmp" + " -colorspace CMYK " + options + " " + dir / "c.jpg"), 0);
    ExpectSameAsGdal(dir / "c.jpg", 3);
    Picture ours;
    ASSERT_TRUE(OurRead(dir / "c.jpg", ours));
    EXPECT_LT(MeanDifference(ours, source), 6.0);
    CImgFileJPEG jpeg;
    ASSERT_EQ(jpeg.OpenForRead((dir / "c.jpg").c_str()), 1);
    ASSERT_EQ(jpeg.LoadImage(), 1);
    EXPECT_EQ(jpeg.GetPixelFormat(), PF_BIT24);
    EXPECT_EQ(jpeg.GetWidthBytes(), 136u);
    CImgScanLine shortLine(PF_BIT24, 134);  // a CMYK row is longer, the line need not be
    EXPECT_EQ(jpeg.ReadScanLine(0, shortLine), -1);
    CImgScanLine line(PF_BIT24, 135);
    ASSERT_EQ(jpeg.ReadScanLine(0, line), 1);
    EXPECT_EQ(0, std::memcmp(line.GetData(), ours.pixels.data(), 135));
  }
}

// Files written through OpenForWrite, SaveImage, WriteScanLine and Close are
// complete: GDAL decodes them to exactly our samples, close to the source.
TEST_F(JpegPeerTest, FilesWeWriteDecodeInGdalAsInOurs) {
  for (int bands : {1, 3}) {
    for (int quality : {100, 75, 10}) {
      SCOPED_TRACE(std::to_string(bands) + " bands, quality " + std::to_string(quality));
      const Picture source = TestPicture(45, 19, bands, static_cast<unsigned>(quality));
      const std::string path = dir / "ours.jpg";
      CImgFileJPEG jpeg;
      jpeg.SetQuality(static_cast<unsigned char>(quality));
      ASSERT_EQ(jpeg.OpenForWrite(path.c_str()), 1);
      jpeg.SetWidth(45);
      jpeg.SetHeight(19);
      jpeg.SetPixelFormat(bands == 3 ? PF_BIT24 : PF_BIT8);
      ASSERT_EQ(jpeg.SaveImage(), 1);
      CImgScanLine line(jpeg.GetPixelFormat(), static_cast<long>(jpeg.GetWidthBytes()));
      for (int r = 0; r < 19; ++r) {
        std::copy(source.pixels.begin() + r * 45 * bands, source.pixels.begin() + (r + 1) * 45 * bands,
                  line.GetData());
        ASSERT_EQ(jpeg.WriteScanLine(r, line), 1);
      }
      jpeg.Close();
      ASSERT_FALSE(jpeg.LastCloseFailed());
      Picture theirs, ours;
      ASSERT_TRUE(GdalRead(path, theirs));
      ASSERT_TRUE(OurRead(path, ours));
      EXPECT_EQ(theirs.pixels, ours.pixels);
      // Lossy, but the picture is the source's: red stays red.
      EXPECT_LT(MeanDifference(ours, source), quality == 100 ? 2.0 : quality == 75 ? 6.0 : 20.0);
    }
  }
}

// At quality 100 a grey picture comes back within two levels, as GDAL's
// writer manages, through the file writer and through in-memory blocks
// alike; quality 90 is no worse than GDAL's at 90.
TEST_F(JpegPeerTest, HighQualityKeepsGreyLevelsAsCloseAsGdal) {
  const Picture source = TestPicture(64, 64, 1, 12);
  for (int quality : {100, 90}) {
    SCOPED_TRACE("quality " + std::to_string(quality));
    ASSERT_TRUE(GdalWriteJpeg(dir / "gdal.jpg", source, {"QUALITY=" + std::to_string(quality)}));
    Picture gdal;
    ASSERT_TRUE(GdalRead(dir / "gdal.jpg", gdal));
    const int reference = MaxDifference(gdal, source);
    const int allowed = quality == 100 ? std::min(2, reference + 1) : reference + 1;

    const std::string path = dir / "ours.jpg";
    CImgFileJPEG jpeg;
    jpeg.SetQuality(static_cast<unsigned char>(quality));
    ASSERT_EQ(jpeg.OpenForWrite(path.c_str()), 1);
    jpeg.SetWidth(64);
    jpeg.SetHeight(64);
    jpeg.SetPixelFormat(PF_BIT8);
    ASSERT_EQ(jpeg.SaveImage(), 1);
    CImgScanLine line(PF_BIT8, static_cast<long>(jpeg.GetWidthBytes()));
    for (int r = 0; r < 64; ++r) {
      std::copy(source.pixels.begin() + r * 64, source.pixels.begin() + (r + 1) * 64, line.GetData());
      ASSERT_EQ(jpeg.WriteScanLine(r, line), 1);
    }
    jpeg.Close();
    ASSERT_FALSE(jpeg.LastCloseFailed());
    Picture ours;
    ASSERT_TRUE(GdalRead(path, ours));
    EXPECT_LE(MaxDifference(ours, source), allowed) << "GDAL's own: " << reference;

    CGeoImgBlock block(PF_BIT8, 64, 64);
    for (long r = 0; r < 64; ++r) std::memcpy(block.GetRow(r), &source.pixels[static_cast<size_t>(r) * 64], 64);
    unsigned char* stream = nullptr;
    const long size = CImgFileJPEG().OutputBlock(stream, &block, quality);
    ASSERT_GT(size, 0);
    CGeoImgBlock back;
    ASSERT_EQ(CImgFileJPEG().InputBlock(stream, static_cast<int>(size), &back), 1);
    delete[] stream;
    Picture decoded = source;
    for (long r = 0; r < 64; ++r) std::memcpy(&decoded.pixels[static_cast<size_t>(r) * 64], back.GetRow(r), 64);
    EXPECT_LE(MaxDifference(decoded, source), allowed) << "GDAL's own: " << reference;
  }
}

// A device bitmap of known colours: pixel (x, y), y from the top, is red
// 8x, green 9y, blue 200 - 5x.
class JpegDeviceTest : public JpegPeerTest {
 protected:
  static constexpr int kWidth = 29, kHeight = 11;
  void SetUp() override {
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    std::vector<BYTE> bits;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) bits.insert(bits.end(), {Blue(x, y), Green(x, y), Red(x, y)});
      bits.push_back(0);  // rows are padded to 2 bytes
    }
    ASSERT_TRUE(bitmap.CreateBitmap(kWidth, kHeight, 1, 24, bits.data()));
  }
  static BYTE Red(int x, int) { return BYTE(8 * x); }
  static BYTE Green(int, int y) { return BYTE(9 * y); }
  static BYTE Blue(int x, int) { return BYTE(200 - 5 * x); }
  static int Grey(int x, int y) { return (19595 * Red(x, y) + 38470 * Green(x, y) + 7471 * Blue(x, y) + 32768) >> 16; }

  // GDAL's decode of `path`, which must equal ours, and lie close to the bitmap.
  void ExpectPicture(const std::string& path, int bands) {
    Picture theirs, ours;
    ASSERT_TRUE(GdalRead(path, theirs));
    ASSERT_TRUE(OurRead(path, ours));
    ASSERT_EQ(theirs.pixels, ours.pixels);
    ASSERT_EQ(theirs.width, kWidth);
    ASSERT_EQ(theirs.height, kHeight);
    ASSERT_EQ(theirs.bands, bands);
    Picture expected = theirs;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        if (bands == 1) {
          expected.pixels[static_cast<size_t>(y * kWidth + x)] = static_cast<unsigned char>(Grey(x, y));
        } else {
          unsigned char* px = &expected.pixels[static_cast<size_t>((y * kWidth + x) * 3)];
          px[0] = Red(x, y);
          px[1] = Green(x, y);
          px[2] = Blue(x, y);
        }
      }
    EXPECT_LT(MeanDifference(theirs, expected), 3.0);
  }

  CDC dc;
  CBitmap bitmap;
};

TEST_F(JpegDeviceTest, OutputDirectWritesTheBitmapUprightInColourAndGrey) {
  CImgFileJPEG jpeg;
  ASSERT_EQ(jpeg.OutputDirect((dir / "rgb.jpg").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), 1);
  ExpectPicture(dir / "rgb.jpg", 3);
  ASSERT_EQ(jpeg.OutputDirect((dir / "grey.jpg").c_str(), &dc, &bitmap, PF_BIT8, CRect2D()), 1);
  ExpectPicture(dir / "grey.jpg", 1);
  // Formats JPEG cannot hold, and files that cannot be created.
  EXPECT_EQ(jpeg.OutputDirect((dir / "x.jpg").c_str(), &dc, &bitmap, PF_BIT32, CRect2D()), -2);
  EXPECT_EQ(jpeg.OutputDirect((dir / "no/such/dir.jpg").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), -1);
  EXPECT_EQ(jpeg.OutputDirect((dir / "y.jpg").c_str(), &dc, nullptr, PF_BIT24, CRect2D()), -1);
}

TEST_F(JpegDeviceTest, OutputDirect2WritesTheBitmapIntoTheOpenFile) {
  CImgFileJPEG jpeg;
  for (ImgPixelFormat format : {PF_BIT24, PF_BIT8}) {
    const std::string path = dir / (format == PF_BIT24 ? "rgb2.jpg" : "grey2.jpg");
    ASSERT_EQ(jpeg.OpenForWrite(path.c_str()), 1);
    ASSERT_EQ(jpeg.OutputDirect2(path.c_str(), &dc, &bitmap, format, CRect2D()), 1);
    ExpectPicture(path, format == PF_BIT24 ? 3 : 1);
  }
  EXPECT_EQ(jpeg.OutputDirect2("", &dc, nullptr, PF_BIT24, CRect2D()), 0);
  // Without an open file nothing is written.
  EXPECT_EQ(jpeg.OutputDirect2("", &dc, &bitmap, PF_BIT24, CRect2D()), 0);
}

TEST_F(JpegPeerTest, SaveJpegFileTakesTheLastRowAsTheTop) {
  const long width = 24, height = 16;
  std::vector<unsigned long> pixels(static_cast<size_t>(width * height));
  for (long y = 0; y < height; ++y)
    for (long x = 0; x < width; ++x)
      pixels[static_cast<size_t>(y * width + x)] = static_cast<unsigned long>((x * 10) << 8 | (y * 15));
  for (long x = 0; x < 8; ++x)  // an 8 x 8 red block at the top left of the picture
    for (long y = height - 8; y < height; ++y) pixels[static_cast<size_t>(y * width + x)] = 0x00FF0000;
  CImgFileJPEG jpeg;
  ASSERT_EQ(jpeg.SaveJpegFile((dir / "s.jpg").c_str(), width, height, pixels.data()), 1);
  Picture p;
  ASSERT_TRUE(GdalRead(dir / "s.jpg", p));
  ASSERT_EQ(p.bands, 3);
  EXPECT_GE(p.At(0, 0, 0), 245);
  EXPECT_LE(p.At(0, 0, 1), 10);
  EXPECT_LE(p.At(0, 0, 2), 10);
  // Away from the block, green grows to the right and blue towards the top.
  EXPECT_NEAR(p.At(20, 12, 1), 200, 8);
  EXPECT_NEAR(p.At(20, 12, 2), (height - 1 - 12) * 15, 8);
  EXPECT_EQ(jpeg.SaveJpegFile((dir / "t.jpg").c_str(), 0, 5, pixels.data()), 0);
  EXPECT_EQ(jpeg.SaveJpegFile((dir / "t.jpg").c_str(), 5, 5, nullptr), 0);
}

// Blocks hold blue, green, red rows; their streams are ordinary JPEG.
TEST_F(JpegPeerTest, BlocksRoundTripThroughStreamsGdalDecodesAlike) {
  for (ImgPixelFormat format : {PF_BIT24, PF_BIT8}) {
    const int bands = format == PF_BIT24 ? 3 : 1;
    const Picture source = TestPicture(50, 21, bands, 7);
    CGeoImgBlock block(format, 50, 21);
    for (long r = 0; r < 21; ++r) {
      unsigned char* row = block.GetRow(r);
      for (int x = 0; x < 50; ++x)
        for (int b = 0; b < bands; ++b)
          row[x * bands + (bands == 3 ? 2 - b : 0)] = source.pixels[static_cast<size_t>((r * 50 + x) * bands + b)];
    }
    unsigned char* stream = nullptr;
    const long size = CImgFileJPEG().OutputBlock(stream, &block, 90);
    ASSERT_GT(size, 0);
    dir.Put("block.jpg", std::string(reinterpret_cast<char*>(stream), static_cast<size_t>(size)));
    Picture theirs;
    ASSERT_TRUE(GdalRead(dir / "block.jpg", theirs));
    EXPECT_LT(MeanDifference(theirs, source), 4.0);

    // A caller's buffer of the stream's size gets the same bytes.
    std::vector<unsigned char> own(static_cast<size_t>(size));
    unsigned char* ownPtr = own.data();
    ASSERT_EQ(CImgFileJPEG().OutputBlock(ownPtr, &block, 90), size);
    EXPECT_EQ(0, std::memcmp(own.data(), stream, static_cast<size_t>(size)));

    CGeoImgBlock back;
    ASSERT_EQ(CImgFileJPEG().InputBlock(stream, static_cast<int>(size), &back), 1);
    delete[] stream;
    ASSERT_EQ(back.m_PixelFormat, format);
    ASSERT_EQ(back.m_nWidth, 50);
    ASSERT_EQ(back.m_nHeight, 21);
    ASSERT_EQ(back.m_nWidthBytes, bands == 3 ? 152 : 52);
    for (long r = 0; r < 21; ++r)
      for (int x = 0; x < 50; ++x)
        for (int b = 0; b < bands; ++b)
          ASSERT_EQ(back.GetRow(r)[x * bands + (bands == 3 ? 2 - b : 0)], theirs.At(x, static_cast<int>(r), b))
              << r << "," << x;
  }
}

TEST_F(JpegPeerTest, InputBlockDecodesGdalAndImageMagickStreamsAsGdal) {
  ASSERT_TRUE(GdalWriteJpeg(dir / "p.jpg", TestPicture(33, 40, 3, 9), {"PROGRESSIVE=ON"}));
  ASSERT_EQ(Shell("convert -size 40x33 -seed 2 plasma:fractal -colorspace Gray " + dir / "g.jpg"), 0);
  ASSERT_EQ(Shell("convert -size 37x21 -seed 4 plasma:fractal -colorspace CMYK " + dir / "c.jpg"), 0);
  for (const char* name : {"p.jpg", "g.jpg", "c.jpg"}) {
    SCOPED_TRACE(name);
    std::string bytes = dir.Get(name);
    Picture theirs;
    ASSERT_TRUE(GdalRead(dir / name, theirs));
    CGeoImgBlock block;
    ASSERT_EQ(CImgFileJPEG().InputBlock(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<int>(bytes.size()),
                                        &block),
              1);
    ASSERT_EQ(block.m_nWidth, theirs.width);
    ASSERT_EQ(block.m_nHeight, theirs.height);
    const int bands = theirs.bands;
    for (int y = 0; y < theirs.height; ++y)
      for (int x = 0; x < theirs.width; ++x)
        for (int b = 0; b < bands; ++b)
          ASSERT_EQ(block.GetRow(y)[x * bands + (bands == 3 ? 2 - b : 0)], theirs.At(x, y, b)) << y << "," << x;
  }
}

}  // namespace

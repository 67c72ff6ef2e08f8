// vtfmt on JPEG files end to end: info, dump and convert, checked with GDAL.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "support/JpegPeer.h"
#include "support/ToolRun.h"

namespace {

class VtfmtJpegTest : public ToolTest {};

TEST_F(VtfmtJpegTest, InfoFindsJpegsByContent) {
  ASSERT_TRUE(GdalWriteJpeg(dir / "p.jpg", TestPicture(37, 5, 3, 1), {"PROGRESSIVE=ON"}));
  std::string out;
  ASSERT_EQ(Run("info " + Quote(dir / "p.jpg"), &out), 0) << err;
  auto keys = KeyValues(out);
  EXPECT_EQ(keys["driver"], "jpeg");
  EXPECT_EQ(keys["width"], "37");
  EXPECT_EQ(keys["height"], "5");
  EXPECT_EQ(keys["pixel_format"], "24");
  EXPECT_EQ(keys["width_bytes"], "112");
  EXPECT_EQ(keys["row_order"], "top-down");
  EXPECT_EQ(keys["progressive"], "yes");

  dir.Put("grey.dat", [&] {
    EXPECT_TRUE(GdalWriteJpeg(dir / "g.jpg", TestPicture(9, 4, 1, 2)));
    return dir.Get("g.jpg");
  }());
  ASSERT_EQ(Run("info " + Quote(dir / "grey.dat"), &out), 0) << err;
  keys = KeyValues(out);
  EXPECT_EQ(keys["driver"], "jpeg");
  EXPECT_EQ(keys["pixel_format"], "8");
  EXPECT_EQ(keys["progressive"], "no");

  // A file cut inside its headers fails with libjpeg's reason.
  dir.Put("cut.jpg", dir.Get("p.jpg").substr(0, 150));
  EXPECT_EQ(Run("info " + Quote(dir / "cut.jpg")), 1);
  EXPECT_NE(err.find("libjpeg"), std::string::npos) << err;
}

TEST_F(VtfmtJpegTest, DumpGivesGdalsSamplesRedFirst) {
  for (int bands : {3, 1}) {
    ASSERT_TRUE(GdalWriteJpeg(dir / "d.jpg", TestPicture(13, 7, bands, 3)));
    Picture p;
    ASSERT_TRUE(GdalRead(dir / "d.jpg", p));
    std::string out;
    ASSERT_EQ(Run("dump " + Quote(dir / "d.jpg"), &out), 0) << err;
    EXPECT_EQ(out, std::string(p.pixels.begin(), p.pixels.end())) << bands;
  }
}

// A CMYK file (ImageMagick's) is read as GDAL reads it: RGB, sample for
// sample.
TEST_F(VtfmtJpegTest, CmykFilesDumpAsGdalsRgb) {
  ASSERT_TRUE(GdalWrite(dir / "s.bmp", TestPicture(21, 9, 3, 8)));
  ASSERT_EQ(
      std::system(("convert " + Quote(dir / "s.bmp") + " -colorspace CMYK " + Quote(dir / "c.jpg")).c_str()),
      0);
  std::string out;
  ASSERT_EQ(Run("info " + Quote(dir / "c.jpg"), &out), 0) << err;
  EXPECT_EQ(KeyValues(out)["pixel_format"], "24");
  Picture p;
  ASSERT_TRUE(GdalRead(dir / "c.jpg", p));
  ASSERT_EQ(p.bands, 3);
  ASSERT_EQ(Run("dump " + Quote(dir / "c.jpg"), &out), 0) << err;
  EXPECT_EQ(out, std::string(p.pixels.begin(), p.pixels.end()));
}

// A file cut inside its image data fails at the first row it does not hold,
// with one line naming the file and the row; the rows before it are the
// whole file's. The whole file still reads.
TEST_F(VtfmtJpegTest, DumpOfACutFileFailsAtTheCut) {
  for (const char* progressive : {"OFF", "ON"}) {
    SCOPED_TRACE(progressive);
    ASSERT_TRUE(GdalWriteJpeg(dir / "whole.jpg", TestPicture(40, 48, 3, 4),
                              {"QUALITY=95", std::string("PROGRESSIVE=") + progressive}));
    std::string whole, out;
    ASSERT_EQ(Run("dump " + Quote(dir / "whole.jpg"), &whole), 0) << err;
    ASSERT_EQ(whole.size(), 40u * 48 * 3);
    const std::string bytes = dir.Get("whole.jpg");
    dir.Put("cut.jpg", bytes.substr(0, bytes.size() * 3 / 4));
    EXPECT_EQ(Run("dump " + Quote(dir / "cut.jpg"), &out), 1);
    EXPECT_NE(err.find("cut.jpg"), std::string::npos) << err;
    const size_t held = out.size() / (40 * 3);
    EXPECT_NE(err.find("row " + std::to_string(held)), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_LT(held, 48u);
    EXPECT_EQ(out, whole.substr(0, out.size()));
    if (progressive[1] == 'N')
      EXPECT_EQ(held, 0u);
    else
      EXPECT_GE(held, 16u);
  }
}

// Bitmaps hold blue, green, red and JPEG red, green, blue: convert keeps
// the colours either way, and the picture upright.
TEST_F(VtfmtJpegTest, ConvertKeepsColoursBetweenBitmapsAndJpeg) {
  const Picture source = TestPicture(40, 24, 3, 5);
  ASSERT_TRUE(GdalWrite(dir / "s.bmp", source));
  ASSERT_EQ(Run("convert " + Quote(dir / "s.bmp") + " " + Quote(dir / "s.jpg")), 0) << err;
  Picture jpeg;
  ASSERT_TRUE(GdalRead(dir / "s.jpg", jpeg));
  EXPECT_LT(MeanDifference(jpeg, source), 3.0);

  ASSERT_EQ(Run("convert " + Quote(dir / "s.jpg") + " " + Quote(dir / "back.bmp")), 0) << err;
  Picture back;
  ASSERT_TRUE(GdalRead(dir / "back.bmp", back));
  EXPECT_EQ(back.pixels, jpeg.pixels);  // every decoded sample, in place

  ASSERT_EQ(Run("convert " + Quote(dir / "s.jpg") + " " + Quote(dir / "again.jpg")), 0) << err;
  Picture again;
  ASSERT_TRUE(GdalRead(dir / "again.jpg", again));
  EXPECT_LT(MeanDifference(again, jpeg), 3.0);
}

TEST_F(VtfmtJpegTest, QualityOptionOnWriting) {
  ASSERT_TRUE(GdalWrite(dir / "s.bmp", TestPicture(64, 64, 3, 6)));
  ASSERT_EQ(Run("convert -oo quality=20 " + Quote(dir / "s.bmp") + " " + Quote(dir / "low.jpg")), 0) << err;
  ASSERT_EQ(Run("convert " + Quote(dir / "s.bmp") + " " + Quote(dir / "high.jpg")), 0) << err;
  EXPECT_LT(dir.Get("low.jpg").size() * 2, dir.Get("high.jpg").size());
  for (const char* bad : {"101", "-1", "x", "50.5", ""}) {
    EXPECT_EQ(Run("convert -oo quality=" + Quote(bad) + " " + Quote(dir / "s.bmp") + " " + Quote(dir / "b.jpg")),
              2)
        << bad;
    EXPECT_NE(err.find("quality"), std::string::npos) << err;
  }
}

// JPEG stores no palette: indices become the colours they name (within
// JPEG's loss), indices of a grey ramp grey levels.
TEST_F(VtfmtJpegTest, ConvertStoresPaletteColours) {
  Picture indexed = TestPicture(8, 8, 1, 7);
  for (short i = 0; i < 256; ++i)
    indexed.colors.push_back(GDALColorEntry{i, static_cast<short>(255 - i), 0, 255});
  ASSERT_TRUE(GdalWrite(dir / "p.bmp", indexed));
  ASSERT_EQ(Run("convert " + Quote(dir / "p.bmp") + " " + Quote(dir / "p.jpg")), 0) << err;
  Picture colours;
  ASSERT_TRUE(GdalRead(dir / "p.jpg", colours));
  ASSERT_EQ(colours.bands, 3);
  Picture expected = colours;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const GDALColorEntry& e = indexed.colors[indexed.At(x, y, 0)];
      const short c[3] = {e.c1, e.c2, e.c3};
      for (int b = 0; b < 3; ++b) expected.pixels[(static_cast<size_t>(y) * 8 + x) * 3 + b] = static_cast<unsigned char>(c[b]);
    }
  // No more loss than GDAL's own writer at its best quality on those colours.
  ASSERT_TRUE(GdalWriteJpeg(dir / "ref.jpg", expected, {"QUALITY=100"}));
  Picture reference;
  ASSERT_TRUE(GdalRead(dir / "ref.jpg", reference));
  EXPECT_LE(MeanDifference(colours, expected), MeanDifference(reference, expected) + 1.0);

  Picture grey = indexed;  // the same indexes under a grey ramp are grey levels
  for (short i = 0; i < 256; ++i) grey.colors[static_cast<size_t>(i)] = GDALColorEntry{i, i, i, 255};
  ASSERT_TRUE(GdalWrite(dir / "g.bmp", grey));
  ASSERT_EQ(Run("convert " + Quote(dir / "g.bmp") + " " + Quote(dir / "g.jpg")), 0) << err;
  Picture p;
  ASSERT_TRUE(GdalRead(dir / "g.jpg", p));
  EXPECT_EQ(p.bands, 1);
  EXPECT_LT(MeanDifference(p, TestPicture(8, 8, 1, 7)), 3.0);
}

}  // namespace

namespace {

// -oo options go to the driver that names them: the grid reader takes the
// cell format, the JPEG writer the quality; -scale maps cells to grey.
TEST_F(VtfmtJpegTest, ConvertSplitsOptionsBetweenReaderAndWriter) {
  const std::string hill = std::string(VTFMT_SOURCE_DIR) + "/samples/hill.asc";
  const std::string grid = "convert -scale -oo pixel_format=3200 ";
  ASSERT_EQ(Run(grid + "-oo quality=10 " + Quote(hill) + " " + Quote(dir / "low.jpg")), 0) << err;
  ASSERT_EQ(Run(grid + Quote(hill) + " " + Quote(dir / "high.jpg")), 0) << err;
  Picture low, high;
  ASSERT_TRUE(GdalRead(dir / "low.jpg", low));
  ASSERT_TRUE(GdalRead(dir / "high.jpg", high));
  EXPECT_EQ(low.bands, 1);
  EXPECT_EQ(low.width, 20);
  EXPECT_EQ(low.height, 12);
  EXPECT_LT(dir.Get("low.jpg").size(), dir.Get("high.jpg").size());
  // A key neither driver names is refused.
  EXPECT_EQ(Run("convert -oo colour=red " + Quote(hill) + " " + Quote(dir / "x.jpg")), 2);
}

}  // namespace

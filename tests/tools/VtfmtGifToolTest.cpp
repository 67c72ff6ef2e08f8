// vtfmt on GIF files end to end: info, dump and convert both ways, checked
// with GDAL.
#include <gtest/gtest.h>

#include <gdal.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/ColourCells.h"
#include "support/GdalGif.h"
#include "support/GdalRaster.h"
#include "support/GifBuilder.h"
#include "support/ToolRun.h"

namespace {

using namespace colourcells;

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

Picture Pattern(int width, int height, int colors) {
  Picture p;
  p.width = width;
  p.height = height;
  p.bands = 1;
  std::mt19937 gen(static_cast<unsigned>(width * 31 + height));
  for (int i = 0; i < width * height; ++i)
    p.pixels.push_back(static_cast<unsigned char>((i / 3) % 2 ? gen() % colors : (i / 6 + i / width) % colors));
  for (int i = 0; i < colors; ++i)
    p.colors.push_back(GDALColorEntry{static_cast<short>(gen() & 0xFF), static_cast<short>(gen() & 0xFF),
                                      static_cast<short>(gen() & 0xFF), 255});
  return p;
}

class VtfmtGifTest : public ToolTest {};

TEST_F(VtfmtGifTest, InfoDescribesTheScreenAndFirstImage) {
  ASSERT_TRUE(GdalWriteGif(dir / "g.gif", Pattern(37, 5, 256), true));
  dir.Put("noext.img", dir.Get("g.gif"));
  std::string out;
  ASSERT_EQ(Run("info " + Quote(dir / "noext.img"), &out), 0) << err;
  auto keys = KeyValues(out);
  EXPECT_EQ(keys["driver"], "gif");
  EXPECT_EQ(keys["width"], "37");
  EXPECT_EQ(keys["height"], "5");
  EXPECT_EQ(keys["pixel_format"], "8");
  EXPECT_EQ(keys["width_bytes"], "40");
  EXPECT_EQ(keys["palette_entries"], "256");
  EXPECT_EQ(keys["row_order"], "top-down");
  EXPECT_EQ(keys["interlaced"], "yes");
  EXPECT_EQ(keys["images"], "1");
  EXPECT_EQ(keys["screen"], "37 x 5");

  // A damaged file fails with the driver's reason.
  std::string bytes = dir.Get("g.gif");
  dir.Put("cut.gif", bytes.substr(0, bytes.size() / 2));
  EXPECT_NE(Run("info " + Quote(dir / "cut.gif")), 0);
  EXPECT_NE(err.find("GIF"), std::string::npos) << err;
}

TEST_F(VtfmtGifTest, DumpGivesGdalsIndices) {
  int n = 0;
  for (bool interlaced : {false, true})
    for (int width : {3, 37}) {
      const std::string path = dir / ("d" + std::to_string(n++) + ".gif");
      ASSERT_TRUE(GdalWriteGif(path, Pattern(width, 13, 200), interlaced));
      Picture theirs;
      ASSERT_TRUE(GdalRead(path, theirs));
      std::string out;
      ASSERT_EQ(Run("dump " + Quote(path), &out), 0) << err;
      EXPECT_EQ(out, std::string(theirs.pixels.begin(), theirs.pixels.end())) << path;
    }
  // A 1-bit colour resolution: rows of packed bits, as ReadScanLine gives them.
  GifFixture fixture;
  fixture.screenWidth = 10;
  fixture.screenHeight = 2;
  fixture.colorResolution = 1;
  fixture.mapBits = 1;
  fixture.colors = {0, 0, 0, 255, 255, 255};
  GifImageSpec image;
  image.width = 10;
  image.height = 2;
  image.indices = {1, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
  fixture.images.push_back(image);
  dir.Put("bits.gif", BuildGif(fixture));
  std::string out;
  ASSERT_EQ(Run("dump " + Quote(dir / "bits.gif"), &out), 0) << err;
  EXPECT_EQ(out, std::string("\xB0\xC0\x40\x40", 4));
}

TEST_F(VtfmtGifTest, ConvertToBitmapKeepsIndicesAndColours) {
  const std::string shell = "convert -seed 3 -size 45x21 plasma: +dither ";
  ASSERT_EQ(Shell(shell + "-colors 30 -interlace GIF " + dir / "im.gif"), 0);
  ASSERT_TRUE(GdalWriteGif(dir / "gd.gif", Pattern(19, 7, 256), false));
  for (const char* name : {"im", "gd"}) {
    const std::string gif = dir / (std::string(name) + ".gif"), bmp = dir / (std::string(name) + ".bmp");
    ASSERT_EQ(Run("convert " + Quote(gif) + " " + Quote(bmp)), 0) << err;
    const Image a = GdalColours(gif), b = GdalColours(bmp);
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    for (size_t i = 0; i < a.pixels.size(); ++i) ASSERT_TRUE(a.pixels[i] == b.pixels[i]) << name << " pixel " << i;
  }
}

TEST_F(VtfmtGifTest, ConvertFromBitmapsExportsThroughTheQuantizer) {
  // Few colours, one a cell: exact, whatever the bitmap's kind.
  const std::string plasma = "convert -size 37x13 -seed 1 plasma:fractal ";
  ASSERT_EQ(Shell(plasma + "-monochrome BMP3:" + dir / "p1.bmp"), 0);
  Picture indexed = Pattern(23, 9, 12);
  std::set<int> cells;
  for (GDALColorEntry& e : indexed.colors)  // spread the colours over distinct cells
    for (short v = 0;; v += 7) {
      e.c1 = static_cast<short>((e.c1 + v) % 256);
      if (cells.insert(CellOf(Rgb{(unsigned char)e.c1, (unsigned char)e.c2, (unsigned char)e.c3})).second) break;
    }
  ASSERT_TRUE(GdalWrite(dir / "p8.bmp", indexed));
  ASSERT_EQ(Shell(plasma + "-colors 200 -type Palette BMP2:" + dir / "os2.bmp"), 0);
  for (const char* name : {"p1", "p8"}) {
    const std::string bmp = dir / (std::string(name) + ".bmp"), gif = dir / (std::string(name) + ".gif");
    ASSERT_EQ(Run("convert " + Quote(bmp) + " " + Quote(gif)), 0) << err;
    const Image a = GdalColours(bmp), b = GdalColours(gif);
    ASSERT_EQ(a.pixels.size(), b.pixels.size());
    for (size_t i = 0; i < a.pixels.size(); ++i) ASSERT_TRUE(a.pixels[i] == b.pixels[i]) << name << " pixel " << i;
  }
  // Many colours: within the quantizer's error. The OS/2 bitmap keeps its
  // colours red first, so a swap of red and blue would show here.
  ASSERT_EQ(Shell(plasma + "-type TrueColor BMP3:" + dir / "rgb.bmp"), 0);
  for (const char* name : {"rgb", "os2"}) {
    const std::string bmp = dir / (std::string(name) + ".bmp"), gif = dir / (std::string(name) + ".gif");
    ASSERT_EQ(Run("convert " + Quote(bmp) + " " + Quote(gif)), 0) << err;
    Picture source;
    ASSERT_TRUE(GdalRead(bmp, source));
    Image a;
    if (source.bands == 3) {
      a.width = source.width;
      a.height = source.height;
      for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < source.width; ++x)
          a.pixels.push_back(Rgb{source.At(x, y, 0), source.At(x, y, 1), source.At(x, y, 2)});
    } else {
      a = GdalColours(bmp);
    }
    SCOPED_TRACE(name);
    ExpectWithinQuantizerError(a, GdalColours(gif));
  }
}

TEST_F(VtfmtGifTest, ConvertReplacesAnOldFileAndRefusesWhatAGifCannotHold) {
  ASSERT_TRUE(GdalWriteGif(dir / "a.gif", Pattern(8, 8, 4), false));
  dir.Put("out.gif", "old contents");
  ASSERT_EQ(Run("convert " + Quote(dir / "a.gif") + " " + Quote(dir / "out.gif")), 0) << err;
  EXPECT_EQ(GdalColours(dir / "out.gif").pixels.size(), 64u);

  dir.Put("g.asc", "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1.5 2\n3 4\n");
  EXPECT_NE(Run("convert -oo pixel_format=3200 " + Quote(dir / "g.asc") + " " + Quote(dir / "g.gif")), 0);
  EXPECT_NE(err.find("gif"), std::string::npos) << err;  // cells reach a picture only through -scale
  EXPECT_FALSE(dir.Exists("g.gif"));
  EXPECT_NE(Run("convert " + Quote(dir / "a.gif") + " " + Quote(dir / "no/such/out.gif")), 0);
}

}  // namespace

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

// The colours of a picture GDAL reads: paletted, grey without a palette,
// or red, green, blue bands.
Image PictureColours(const std::string& path) {
  Picture p;
  EXPECT_TRUE(GdalRead(path, p)) << path;
  if (!p.colors.empty()) return GdalColours(path);
  Image image;
  image.width = p.width;
  image.height = p.height;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      image.pixels.push_back(p.bands >= 3 ? Rgb{p.At(x, y, 0), p.At(x, y, 1), p.At(x, y, 2)}
                                          : Rgb{p.At(x, y, 0), p.At(x, y, 0), p.At(x, y, 0)});
  return image;
}

// GDAL writes `p` as a PNG, paletted when it has colours.
bool GdalWritePng(const std::string& path, const Picture& p) {
  GDALAllRegister();
  GDALDatasetH mem =
      GDALCreate(GDALGetDriverByName("MEM"), "", p.width, p.height, p.bands, GDT_Byte, nullptr);
  if (!mem) return false;
  if (!p.colors.empty()) {
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (size_t i = 0; i < p.colors.size(); ++i) GDALSetColorEntry(table, static_cast<int>(i), &p.colors[i]);
    GDALSetRasterColorTable(GDALGetRasterBand(mem, 1), table);
    GDALDestroyColorTable(table);
  }
  bool ok =
      GDALDatasetRasterIO(mem, GF_Write, 0, 0, p.width, p.height, const_cast<unsigned char*>(p.pixels.data()),
                          p.width, p.height, GDT_Byte, p.bands, nullptr, p.bands,
                          static_cast<GSpacing>(p.width) * p.bands, 1) == CE_None;
  GDALDatasetH png =
      ok ? GDALCreateCopy(GDALGetDriverByName("PNG"), path.c_str(), mem, FALSE, nullptr, nullptr, nullptr)
         : nullptr;
  ok = png != nullptr;
  if (png) GDALClose(png);
  GDALClose(mem);
  return ok;
}

class VtfmtGifTest : public ToolTest {};

// Sources of no more than 256 colours: every colour comes back, and
// paletted ones keep their indices too.
TEST_F(VtfmtGifTest, ConvertKeepsPicturesOfAtMost256Colours) {
  std::mt19937 gen(17);
  auto grey = [&](int levels) {
    Picture p;
    p.width = 29;
    p.height = 17;
    p.bands = 1;
    for (int i = 0; i < p.width * p.height; ++i)
      p.pixels.push_back(static_cast<unsigned char>(i % levels * (255 / (levels - 1))));
    return p;
  };
  Picture crowded = Pattern(31, 19, 256);  // 256 colours close together
  for (GDALColorEntry& e : crowded.colors)
    e = GDALColorEntry{static_cast<short>(60 + gen() % 40), static_cast<short>(90 + gen() % 40),
                       static_cast<short>(30 + gen() % 40), 255};
  Picture rgb;  // a 3-band picture of 200 such colours
  rgb.width = 23;
  rgb.height = 21;
  rgb.bands = 3;
  for (int i = 0; i < rgb.width * rgb.height; ++i) {
    const int k = i % 200;
    rgb.pixels.insert(rgb.pixels.end(), {static_cast<unsigned char>(60 + k % 7 * 5),
                                         static_cast<unsigned char>(90 + k / 7 % 6 * 3),
                                         static_cast<unsigned char>(30 + k / 42 * 2)});
  }
  ASSERT_TRUE(GdalWritePng(dir / "grey256.png", grey(256)));
  ASSERT_TRUE(GdalWritePng(dir / "grey15.png", grey(15)));
  ASSERT_TRUE(GdalWritePng(dir / "pal256.png", crowded));
  ASSERT_TRUE(GdalWritePng(dir / "rgb200.png", rgb));
  ASSERT_EQ(
      Shell("convert -size 37x13 -seed 4 plasma:grey50-grey60 +dither -colors 16 BMP3:" + dir / "pal16.bmp"),
      0);
  for (const char* source : {"grey256.png", "grey15.png", "pal256.png", "rgb200.png", "pal16.bmp"}) {
    SCOPED_TRACE(source);
    const std::string gif = dir / (std::string(source) + ".gif");
    ASSERT_EQ(Run("convert " + Quote(dir / source) + " " + Quote(gif)), 0) << err;
    const Image a = PictureColours(dir / source), b = GdalColours(gif);
    ASSERT_EQ(a.pixels.size(), b.pixels.size());
    size_t moved = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) moved += !(a.pixels[i] == b.pixels[i]);
    EXPECT_EQ(moved, 0u) << "pixels whose colour changed";
    Picture from, to;
    ASSERT_TRUE(GdalRead(dir / source, from));
    ASSERT_TRUE(GdalRead(gif, to));
    if (!from.colors.empty()) {
      EXPECT_TRUE(from.pixels == to.pixels) << "the indices changed";
    }
  }
}

// RGBA: fully transparent pixels become GIF's transparent index, opaque ones
// keep their colours; any pixel in between is refused by name.
TEST_F(VtfmtGifTest, ConvertKeepsTransparencyOrRefusesPartialOpacity) {
  Picture rgba;
  rgba.width = 19;
  rgba.height = 7;
  rgba.bands = 4;
  for (int y = 0; y < rgba.height; ++y)
    for (int x = 0; x < rgba.width; ++x)
      rgba.pixels.insert(rgba.pixels.end(),
                         {static_cast<unsigned char>(x * 13), static_cast<unsigned char>(y * 30), 100,
                          static_cast<unsigned char>((x + y) % 3 == 0 ? 0 : 255)});
  ASSERT_TRUE(GdalWritePng(dir / "a.png", rgba));
  ASSERT_EQ(Run("convert " + Quote(dir / "a.png") + " " + Quote(dir / "a.gif")), 0) << err;
  GDALDatasetH ds = GDALOpen((dir / "a.gif").c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  int hasNoData = 0;
  const double transparent = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), &hasNoData);
  GDALClose(ds);
  ASSERT_TRUE(hasNoData) << "no transparent index";
  Picture gif;
  ASSERT_TRUE(GdalRead(dir / "a.gif", gif));
  for (int y = 0; y < rgba.height; ++y)
    for (int x = 0; x < rgba.width; ++x) {
      const unsigned char index = gif.At(x, y, 0);
      if (rgba.At(x, y, 3) == 0) {
        EXPECT_EQ(index, transparent) << x << "," << y;
        continue;
      }
      ASSERT_NE(index, transparent) << x << "," << y;
      const GDALColorEntry& e = gif.colors[index];
      EXPECT_TRUE(e.c1 == rgba.At(x, y, 0) && e.c2 == rgba.At(x, y, 1) && e.c3 == rgba.At(x, y, 2))
          << x << "," << y;
    }

  rgba.pixels[(3 * rgba.width + 5) * 4 + 3] = 128;
  ASSERT_TRUE(GdalWritePng(dir / "half.png", rgba));
  EXPECT_EQ(Run("convert " + Quote(dir / "half.png") + " " + Quote(dir / "half.gif")), 1);
  EXPECT_NE(err.find("row 3, column 5"), std::string::npos) << err;
  EXPECT_FALSE(dir.Exists("half.gif"));
}

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

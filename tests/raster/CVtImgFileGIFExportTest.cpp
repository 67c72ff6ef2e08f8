// Exporting device bitmaps as GIF: GDAL reads what we write. Images whose
// colours each have a cell of the colour cube to themselves come back
// exactly; others within their cell, but for the few least used cells the
// quantizer drops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "raster/CVtImgFileGIF.h"
#include "support/ColourCells.h"
#include "support/GdalRaster.h"
#include "support/ScratchDir.h"

namespace {

using namespace colourcells;

// A device bitmap of `bpp` bits holding `image`; indexed bitmaps get
// `table` as their colours and the index of each pixel's colour in it.
HBITMAP MakeBitmap(const Image& image, int bpp, const std::vector<Rgb>& table = {}) {
  const size_t stride = (static_cast<size_t>(image.width) * bpp + 15) / 16 * 2;
  std::vector<unsigned char> bits(stride * image.height, 0);
  for (int y = 0; y < image.height; ++y) {
    unsigned char* row = bits.data() + y * stride;
    for (int x = 0; x < image.width; ++x) {
      const Rgb c = image.At(x, y);
      if (bpp == 32 || bpp == 24) {
        unsigned char* p = row + x * (bpp / 8);
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
      } else if (bpp == 16) {
        const unsigned v = (c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3);
        row[2 * x] = static_cast<unsigned char>(v);
        row[2 * x + 1] = static_cast<unsigned char>(v >> 8);
      } else {
        const int index = static_cast<int>(std::find(table.begin(), table.end(), c) - table.begin());
        if (bpp == 8) row[x] = static_cast<unsigned char>(index);
        if (bpp == 4) row[x / 2] |= static_cast<unsigned char>(x % 2 ? index : index << 4);
        if (bpp == 1) row[x / 8] |= static_cast<unsigned char>(index << (7 - x % 8));
      }
    }
  }
  HBITMAP bitmap = CreateBitmap(image.width, image.height, 1, static_cast<UINT>(bpp), bits.data());
  if (bitmap && bpp <= 8) {
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, bitmap);
    std::vector<RGBQUAD> quads;
    for (const Rgb& c : table) quads.push_back(RGBQUAD{c.b, c.g, c.r, 0});
    SetDIBColorTable(dc, 0, static_cast<UINT>(quads.size()), quads.data());
    DeleteDC(dc);
  }
  return bitmap;
}

long Export(const std::string& path, HBITMAP handle) {
  CBitmap bitmap;
  bitmap.Attach(handle);
  CDC dc;
  dc.CreateCompatibleDC(nullptr);
  CVtImgFileGIF gif;
  return gif.OutputDirect(path.c_str(), &dc, &bitmap, PF_BIT24, CRect2D());
}

// Pixels from `colors` in runs and noise.
Image Paint(int width, int height, const std::vector<Rgb>& colors, unsigned seed) {
  std::mt19937 gen(seed);
  Image image;
  image.width = width;
  image.height = height;
  for (int i = 0; i < width * height; ++i)
    image.pixels.push_back(colors[(i / 5) % 2 ? gen() % colors.size() : (i / 10) % colors.size()]);
  return image;
}

// `n` colours in `n` different cells (n <= 236); the first two are white and
// black, which fall into the last and first cell. With `fiveBits` every
// level is one a 5-5-5 bitmap holds exactly.
std::vector<Rgb> OnePerCell(int n, unsigned seed, bool fiveBits = false) {
  std::mt19937 gen(seed);
  std::vector<Rgb> colors = {{255, 255, 255}, {0, 0, 0}};
  std::set<int> cells = {CellOf(colors[0]), CellOf(colors[1])};
  auto level = [&] {
    const unsigned v = gen() & 0xFF;
    return static_cast<unsigned char>(fiveBits ? (v >> 3) << 3 | v >> 5 : v);
  };
  while (static_cast<int>(colors.size()) < n) {
    const Rgb c{level(), level(), level()};
    if (cells.insert(CellOf(c)).second) colors.push_back(c);
  }
  return colors;
}

class GifExportTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(GifExportTest, ColoursWithACellEachComeBackExactlyAtEveryBitDepth) {
  // 5-bit levels, so that 16-bit bitmaps hold the colours exactly too.
  const std::vector<Rgb> colors = OnePerCell(40, 3, true);
  const std::vector<Rgb> two = {colors[0], colors[1]};
  const std::vector<Rgb> sixteen(colors.begin(), colors.begin() + 16);
  struct Case {
    int bpp;
    const std::vector<Rgb>* colors;
  } cases[] = {{32, &colors}, {24, &colors}, {16, &colors}, {8, &colors}, {4, &sixteen}, {1, &two}};
  int n = 0;
  for (const Case& c : cases)
    for (int width : {1, 3, 37}) {
      const std::string path = dir / ("e" + std::to_string(n++) + ".gif");
      const Image image = Paint(width, 19, *c.colors, static_cast<unsigned>(n));
      HBITMAP bitmap = MakeBitmap(image, c.bpp, *c.colors);
      ASSERT_NE(bitmap, nullptr);
      ASSERT_EQ(Export(path, bitmap), 1) << c.bpp << " bits, width " << width;
      const Image back = GdalColours(path);
      ASSERT_EQ(back.width, width);
      ASSERT_EQ(back.height, 19);
      for (size_t i = 0; i < image.pixels.size(); ++i)
        ASSERT_TRUE(image.pixels[i] == back.pixels[i])
            << c.bpp << " bits, width " << width << ", pixel " << i;
    }
}

TEST_F(GifExportTest, FileIsAnInterlacedGifWithTheStaticColoursAroundTheCells) {
  const Image image = Paint(37, 23, OnePerCell(12, 5), 1);
  const std::string path = dir / "i.gif";
  ASSERT_EQ(Export(path, MakeBitmap(image, 24)), 1);
  const std::string bytes = dir.Get("i.gif");
  ASSERT_GT(bytes.size(), 13u + 768 + 10);
  EXPECT_EQ(bytes.substr(0, 3), "GIF");
  EXPECT_EQ(static_cast<unsigned char>(bytes[10]) & 0x87, 0x87);  // 256-entry global map
  EXPECT_EQ(bytes[13 + 768], ',');
  EXPECT_EQ(bytes[13 + 768 + 9] & 0x40, 0x40);  // interlaced
  EXPECT_EQ(bytes[13 + 768 + 9] & 0x80, 0);     // no local map

  Picture p;
  ASSERT_TRUE(GdalRead(path, p));
  ASSERT_EQ(p.colors.size(), 256u);
  auto color = [&](int i) { return Rgb{(unsigned char)p.colors[i].c1, (unsigned char)p.colors[i].c2, (unsigned char)p.colors[i].c3}; };
  const Rgb low[3] = {{0, 0, 0}, {128, 0, 0}, {192, 192, 192}};
  const Rgb high[3] = {{255, 0, 0}, {0, 0, 255}, {255, 255, 255}};
  EXPECT_TRUE(color(0) == low[0]);
  EXPECT_TRUE(color(1) == low[1]);
  EXPECT_TRUE(color(7) == low[2]);
  EXPECT_TRUE(color(249) == high[0]);
  EXPECT_TRUE(color(252) == high[1]);
  EXPECT_TRUE(color(255) == high[2]);
  // Every pixel of a used cell has an entry among the cells' own (10..245).
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      EXPECT_GE(p.At(x, y, 0), 10);
      EXPECT_LE(p.At(x, y, 0), 245);
    }
}

TEST_F(GifExportTest, TrueColourImagesComeBackWithinTheQuantizerError) {
  // A smooth gradient through every cell, and noise.
  Image gradient;
  gradient.width = 256;
  gradient.height = 97;
  for (int y = 0; y < gradient.height; ++y)
    for (int x = 0; x < gradient.width; ++x)
      gradient.pixels.push_back(Rgb{static_cast<unsigned char>(x), static_cast<unsigned char>(y * 255 / 96),
                                    static_cast<unsigned char>((x * 7 + y * 3) % 256)});
  std::mt19937 gen(11);
  Image noise;
  noise.width = 61;
  noise.height = 47;
  for (int i = 0; i < noise.width * noise.height; ++i)
    noise.pixels.push_back(Rgb{static_cast<unsigned char>(gen()), static_cast<unsigned char>(gen()),
                               static_cast<unsigned char>(gen())});
  int n = 0;
  for (const Image* image : {&gradient, &noise})
    for (int bpp : {24, 32}) {
      const std::string path = dir / ("q" + std::to_string(n++) + ".gif");
      ASSERT_EQ(Export(path, MakeBitmap(*image, bpp)), 1);
      ExpectWithinQuantizerError(*image, GdalColours(path));
    }
}

// One colour over 4200 x 4200 pixels: its cell's sums pass 2^32.
TEST_F(GifExportTest, ALargeCellKeepsItsColour) {
  Image image;
  image.width = 4200;
  image.height = 4200;
  image.pixels.assign(static_cast<size_t>(image.width) * image.height, Rgb{255, 254, 253});
  image.pixels[0] = Rgb{0, 0, 0};
  const std::string path = dir / "big.gif";
  ASSERT_EQ(Export(path, MakeBitmap(image, 24)), 1);
  Picture p;
  ASSERT_TRUE(GdalRead(path, p));
  const GDALColorEntry& big = p.colors.at(p.At(100, 100, 0));
  EXPECT_EQ(big.c1, 255);
  EXPECT_EQ(big.c2, 254);
  EXPECT_EQ(big.c3, 253);
  EXPECT_EQ(p.colors.at(p.At(0, 0, 0)).c1, 0);
}

TEST_F(GifExportTest, ExportNeverOverwritesAndLeavesNoFileBehindOnFailure) {
  const Image image = Paint(4, 4, OnePerCell(3, 1), 1);
  dir.Put("there.gif", "keep me");
  EXPECT_EQ(Export(dir / "there.gif", MakeBitmap(image, 24)), -1);
  EXPECT_EQ(dir.Get("there.gif"), "keep me");
  EXPECT_EQ(Export(dir / "no/such/dir.gif", MakeBitmap(image, 24)), -1);

  CVtImgFileGIF gif;
  CDC dc;
  dc.CreateCompatibleDC(nullptr);
  EXPECT_EQ(gif.OutputDirect((dir / "null.gif").c_str(), &dc, nullptr, PF_BIT24, CRect2D()), -1);
  EXPECT_FALSE(dir.Exists("null.gif"));
  CBitmap empty;  // no handle
  EXPECT_EQ(gif.OutputDirect((dir / "empty.gif").c_str(), &dc, &empty, PF_BIT24, CRect2D()), -1);
  EXPECT_FALSE(dir.Exists("empty.gif"));
  // The object stays usable for reading after an export.
  ASSERT_EQ(Export(dir / "ok.gif", MakeBitmap(image, 24)), 1);
  EXPECT_EQ(gif.OpenForRead((dir / "ok.gif").c_str()), 1);
  EXPECT_EQ(gif.LoadImage(), 1);
  EXPECT_EQ(gif.GetPixelFormat(), PF_BIT8);
}

}  // namespace

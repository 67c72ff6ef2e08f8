// Exporting device bitmaps as GIF: GDAL reads what we write. Indexed
// bitmaps keep their indices and colours, pictures of up to 256 colours
// every colour; pictures of more come back within their cell of the colour
// cube, but for the few least used cells the quantizer drops. Pixels made
// transparent share the transparent entry; partly transparent ones are
// refused. The access layer's writer gathers rows into such bitmaps.
#include <gtest/gtest.h>

#include <gdal.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "access/RasterDriver.h"
#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "platform/vtcore/CVtErrorMsg.h"
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

// The k-th variant (k < 36) of `c` in the same cell: red moves within its level.
Rgb InSameCell(Rgb c, int k) {
  int lo, hi;
  Level(c.r, 42, 5, lo, hi);
  c.r = static_cast<unsigned char>(lo + (c.r - lo + k) % (hi - lo + 1));
  return c;
}

// `n` distinct colours crowded into few cells, so that the quantizer would
// merge them. With `fiveBits` every level is one a 5-5-5 bitmap holds.
std::vector<Rgb> Crowded(int n, unsigned seed, bool fiveBits = false) {
  std::mt19937 gen(seed);
  std::set<Rgb> seen;
  std::vector<Rgb> colors;
  auto level = [&](int base, int spread) {
    const unsigned v = static_cast<unsigned>(base) + gen() % static_cast<unsigned>(spread);
    return static_cast<unsigned char>(fiveBits ? (v >> 3) << 3 | v >> 5 : v);
  };
  const int spread = fiveBits ? 96 : 48;
  while (static_cast<int>(colors.size()) < n) {
    const Rgb c{level(60, spread), level(90, spread), level(30, spread)};
    if (seen.insert(c).second) colors.push_back(c);
  }
  return colors;
}

// A picture that uses each of `colors` at least once, in runs and noise.
Image UseAll(int width, int height, const std::vector<Rgb>& colors, unsigned seed) {
  Image image = Paint(width, height, colors, seed);
  for (size_t i = 0; i < colors.size() && i * 3 < image.pixels.size(); ++i) image.pixels[i * 3] = colors[i];
  return image;
}

// GDAL's no-data value of band 1 (a GIF's transparent index), or -1.
int GdalNoData(const std::string& path) {
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return -2;
  int has = 0;
  const double value = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), &has);
  GDALClose(ds);
  return has ? static_cast<int>(value) : -1;
}

std::string LastMessage() { return VtGetErrorMsgObj()->GetMessage().str(); }

// The driver with the alpha that a caller who knows it hands to an export.
class AlphaGif : public CVtImgFileGIF {
 public:
  void SetAlpha(std::vector<unsigned char> alpha) { m_Alpha = std::move(alpha); }
  bool AlphaCleared() const { return m_Alpha.empty(); }
};

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
  // 300 colours, more than a colour map holds, in twelve cells.
  std::vector<Rgb> colors;
  for (const Rgb& c : OnePerCell(12, 5))
    for (int k = 0; k < 25; ++k) colors.push_back(InSameCell(c, k));
  Image image;
  image.width = 37;
  image.height = 23;
  for (int i = 0; i < image.width * image.height; ++i) image.pixels.push_back(colors[i % colors.size()]);
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

TEST_F(GifExportTest, PicturesOfAtMost256ColoursKeepEveryColour) {
  std::vector<Rgb> greyTable, fifteen;
  for (int v = 0; v < 256; ++v)
    greyTable.push_back(Rgb{(unsigned char)v, (unsigned char)v, (unsigned char)v});
  for (int k = 0; k < 15; ++k) fifteen.push_back(greyTable[static_cast<size_t>(k * 18)]);
  const std::vector<Rgb> two = {{100, 100, 100}, {110, 104, 120}};  // one cell
  struct Case {
    const char* name;
    int bpp;
    std::vector<Rgb> table;  // an indexed bitmap's colours; empty for true colour
    std::vector<Rgb> used;   // the colours the pixels take
  } cases[] = {
      {"15 grey levels in a grey table", 8, greyTable, fifteen},
      {"15 grey levels, 24-bit", 24, {}, fifteen},
      {"256-colour palette", 8, Crowded(256, 1), Crowded(256, 1)},
      {"2-colour palette", 1, two, two},
      {"16-colour palette", 4, Crowded(16, 2), Crowded(16, 2)},
      {"256 colours, 24-bit", 24, {}, Crowded(256, 3)},
      {"200 colours, 32-bit", 32, {}, Crowded(200, 4)},
      {"256 colours, 16-bit", 16, {}, Crowded(256, 5, true)},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / ("x" + std::to_string(n++) + ".gif");
    const Image image = UseAll(37, 23, c.used, static_cast<unsigned>(n));
    ASSERT_EQ(Export(path, MakeBitmap(image, c.bpp, c.table)), 1);
    Picture p;
    ASSERT_TRUE(GdalRead(path, p));
    const Image back = GdalColours(path);
    ASSERT_EQ(back.pixels.size(), image.pixels.size());
    size_t moved = 0;
    for (size_t i = 0; i < image.pixels.size(); ++i) moved += !(image.pixels[i] == back.pixels[i]);
    EXPECT_EQ(moved, 0u) << "pixels whose colour changed";
    if (c.table.empty()) continue;
    // Indexed bitmaps keep their indices and their whole colour table.
    EXPECT_EQ(p.colors.size(), c.table.size());
    if (p.colors.size() < c.table.size()) continue;
    size_t entries = 0, indices = 0;
    for (size_t i = 0; i < c.table.size(); ++i)
      entries += !(Rgb{(unsigned char)p.colors[i].c1, (unsigned char)p.colors[i].c2,
                       (unsigned char)p.colors[i].c3} == c.table[i]);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        indices +=
            p.At(x, y, 0) != std::find(c.table.begin(), c.table.end(), image.At(x, y)) - c.table.begin();
    EXPECT_EQ(entries, 0u) << "colour table entries that changed";
    EXPECT_EQ(indices, 0u) << "pixels whose index changed";
  }
}

TEST_F(GifExportTest, MoreThan256ColoursStillGoThroughTheQuantizer) {
  for (int colors : {257, 300}) {
    SCOPED_TRACE(colors);
    const Image image = UseAll(41, 29, Crowded(colors, 6), 9);
    const std::string path = dir / ("m" + std::to_string(colors) + ".gif");
    ASSERT_EQ(Export(path, MakeBitmap(image, 24)), 1);
    const Image back = GdalColours(path);
    ExpectWithinQuantizerError(image, back);
    size_t changed = 0;
    for (size_t i = 0; i < image.pixels.size(); ++i) changed += !(image.pixels[i] == back.pixels[i]);
    EXPECT_GT(changed, 0u);
  }
}

// Alpha 0 and 255, with few colours (kept exactly, the transparent entry
// after them) and with more than the map holds beside the transparent entry.
TEST_F(GifExportTest, TransparentPixelsShareTheTransparentEntry) {
  for (int colors : {40, 255, 256, 300}) {
    SCOPED_TRACE(colors);
    const Image image = UseAll(43, 31, Crowded(colors, 7), 2);
    std::vector<unsigned char> alpha(image.pixels.size(), 255);
    for (size_t i = 0; i < alpha.size(); i += 7) alpha[i] = 0;
    const std::string name = "t" + std::to_string(colors) + ".gif";
    AlphaGif gif;
    gif.SetAlpha(alpha);
    CBitmap bitmap;
    bitmap.Attach(MakeBitmap(image, 32));
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    ASSERT_EQ(gif.OutputDirect((dir / name).c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), 1);
    EXPECT_TRUE(gif.AlphaCleared());
    EXPECT_EQ(dir.Get(name).substr(0, 6), "GIF89a");
    const int transparent = GdalNoData(dir / name);
    ASSERT_GE(transparent, 0);
    Picture p;
    ASSERT_TRUE(GdalRead(dir / name, p));
    const Image back = GdalColours(dir / name);
    for (size_t i = 0; i < alpha.size(); ++i) {
      ASSERT_EQ(p.pixels[i] == transparent, alpha[i] == 0) << "pixel " << i;
      if (alpha[i] && colors < 256) {
        ASSERT_TRUE(back.pixels[i] == image.pixels[i]) << "pixel " << i;
      }
    }
  }
}

TEST_F(GifExportTest, PartlyTransparentPixelsAreRefused) {
  const Image image = UseAll(9, 5, Crowded(6, 8), 1);
  std::vector<unsigned char> alpha(image.pixels.size(), 255);
  alpha[2 * 9 + 3] = 128;
  alpha[4 * 9 + 1] = 1;
  AlphaGif gif;
  CDC dc;
  dc.CreateCompatibleDC(nullptr);
  CBitmap bitmap;
  bitmap.Attach(MakeBitmap(image, 32));
  gif.SetAlpha(alpha);
  EXPECT_EQ(gif.OutputDirect((dir / "half.gif").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), -1);
  EXPECT_NE(LastMessage().find("row 2, column 3"), std::string::npos) << LastMessage();
  EXPECT_FALSE(dir.Exists("half.gif"));
  EXPECT_TRUE(gif.AlphaCleared());
  gif.SetAlpha(std::vector<unsigned char>(7, 0));  // not one byte a pixel
  EXPECT_EQ(gif.OutputDirect((dir / "size.gif").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), -1);
  EXPECT_FALSE(dir.Exists("size.gif"));
  // Without alpha the same bitmap is written whole and opaque.
  ASSERT_EQ(gif.OutputDirect((dir / "opaque.gif").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), 1);
  EXPECT_EQ(GdalNoData(dir / "opaque.gif"), -1);
}

// The access layer's writer: rows in, a GIF out, as the tool and the
// Python module write.
class GifWriterTest : public GifExportTest {
 protected:
  // Writes `rows` (top row first, `bpp` bits a pixel) as `name`; false with
  // the reason and the driver's message in `reason`.
  bool Write(const std::string& name, int width, int height, ImgPixelFormat format,
             const std::vector<std::vector<unsigned char>>& rows, bool alpha, std::string& reason) {
    const vtfmt::RasterDriver* driver = vtfmt::FindDriver("gif");
    if (!driver) {
      reason = "no gif driver";
      return false;
    }
    std::unique_ptr<CImgFile> file = driver->Create();
    file->SetWidth(static_cast<unsigned long>(width));
    file->SetHeight(static_cast<unsigned long>(height));
    file->SetPixelFormat(format);
    if (alpha) driver->TakeAlpha(*file);
    vtfmt::ClearDriverMessage();
    bool ok = driver->OpenWrite(*file, dir / name, reason) && driver->SaveHeader(*file, reason);
    for (int r = 0; ok && r < height; ++r) {
      CImgScanLine line(format, static_cast<long>(rows[static_cast<size_t>(r)].size()));
      std::copy(rows[static_cast<size_t>(r)].begin(), rows[static_cast<size_t>(r)].end(), line.GetData());
      ok = driver->WriteRow(*file, r, line) >= 0;
    }
    ok = ok && driver->FinishWrite(*file, reason);
    if (!ok) reason += ": " + vtfmt::DriverMessage();
    return ok;
  }
};

TEST_F(GifWriterTest, GreyRowsWithoutAPaletteKeepTheirLevels) {
  std::vector<std::vector<unsigned char>> rows;
  for (int y = 0; y < 16; ++y) {
    rows.emplace_back();
    for (int x = 0; x < 19; ++x) rows.back().push_back(static_cast<unsigned char>((y * 19 + x) * 255 / 303));
  }
  std::string reason;
  ASSERT_TRUE(Write("grey.gif", 19, 16, PF_BIT8, rows, false, reason)) << reason;
  const Image back = GdalColours(dir / "grey.gif");
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 19; ++x) {
      const unsigned char v = rows[static_cast<size_t>(y)][static_cast<size_t>(x)];
      ASSERT_TRUE((back.At(x, y) == Rgb{v, v, v})) << x << "," << y;
    }
}

TEST_F(GifWriterTest, AlphaOfRgbaRowsBecomesTransparencyWhenTheCallerSaysSo) {
  // Pixel (x, y): blue x, green 40, red 10 y, alpha 0 on the diagonal.
  const int width = 11, height = 7;
  std::vector<std::vector<unsigned char>> rows(height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      rows[static_cast<size_t>(y)].insert(
          rows[static_cast<size_t>(y)].end(),
          {static_cast<unsigned char>(x), 40, static_cast<unsigned char>(10 * y),
           static_cast<unsigned char>(x == y ? 0 : 255)});
  std::string reason;
  for (bool alpha : {true, false}) {
    SCOPED_TRACE(alpha ? "alpha" : "fourth byte ignored");
    const std::string name = alpha ? "rgba.gif" : "rgbx.gif";
    ASSERT_TRUE(Write(name, width, height, PF_BIT32, rows, alpha, reason)) << reason;
    const int transparent = GdalNoData(dir / name);
    EXPECT_EQ(transparent >= 0, alpha);
    Picture p;
    ASSERT_TRUE(GdalRead(dir / name, p));
    const Image back = GdalColours(dir / name);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        if (alpha && x == y) {
          EXPECT_EQ(p.At(x, y, 0), transparent);
          continue;
        }
        EXPECT_NE(p.At(x, y, 0), transparent);
        EXPECT_TRUE(
            (back.At(x, y) == Rgb{static_cast<unsigned char>(10 * y), 40, static_cast<unsigned char>(x)}))
            << x << "," << y;
      }
  }

  // Alpha between 0 and 255 fails the write, naming the first such pixel.
  rows[3][4 * 5 + 3] = 128;
  rows[5][4 * 2 + 3] = 200;
  EXPECT_FALSE(Write("half.gif", width, height, PF_BIT32, rows, true, reason));
  EXPECT_NE(reason.find("row 3, column 5"), std::string::npos) << reason;
  EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
  EXPECT_FALSE(dir.Exists("half.gif"));
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

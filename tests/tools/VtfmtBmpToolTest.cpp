// vtfmt on bitmaps end to end: info, dump and convert, checked with GDAL.
#include <gtest/gtest.h>

#include <gdal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/ToolRun.h"

namespace {

Picture Pattern(int width, int height, int bands) {
  Picture p;
  p.width = width;
  p.height = height;
  p.bands = bands;
  for (size_t i = 0; i < static_cast<size_t>(width) * height * bands; ++i)
    p.pixels.push_back(static_cast<unsigned char>(i * 37 + i / 11));
  if (bands == 1)
    for (short i = 0; i < 256; ++i)
      p.colors.push_back(GDALColorEntry{i, static_cast<short>(255 - i), static_cast<short>(i / 2), 255});
  return p;
}

class VtfmtBmpTest : public ToolTest {
 protected:
  static std::map<std::string, std::string> Keys(const std::string& text) { return KeyValues(text); }
};

TEST_F(VtfmtBmpTest, InfoOfGdalBitmaps) {
  ASSERT_TRUE(GdalWrite(dir / "p.bmp", Pattern(37, 5, 1)));
  std::string out;
  ASSERT_EQ(Run("info " + Quote(dir / "p.bmp"), &out), 0) << err;
  auto keys = Keys(out);
  EXPECT_EQ(keys["driver"], "bmp");
  EXPECT_EQ(keys["width"], "37");
  EXPECT_EQ(keys["height"], "5");
  EXPECT_EQ(keys["pixel_format"], "8");
  EXPECT_EQ(keys["width_bytes"], "40");
  EXPECT_EQ(keys["palette_entries"], "256");
  EXPECT_EQ(keys["row_order"], "bottom-up");
  EXPECT_EQ(keys["bounds"], "none");
  EXPECT_EQ(keys["header"], "windows");
  EXPECT_EQ(keys["compression"], "0");

  // Found by content whatever the name; a negative height reads top-down.
  std::string bytes = dir.Get("p.bmp");
  const int32_t minusFive = -5;
  bytes.replace(22, 4, reinterpret_cast<const char*>(&minusFive), 4);
  dir.Put("down.img", bytes);
  ASSERT_EQ(Run("info " + Quote(dir / "down.img"), &out), 0) << err;
  keys = Keys(out);
  EXPECT_EQ(keys["driver"], "bmp");
  EXPECT_EQ(keys["height"], "5");
  EXPECT_EQ(keys["row_order"], "top-down");

  // A broken header fails with the driver's reason.
  bytes.replace(28, 1, 1, '\x07');
  dir.Put("bad.bmp", bytes);
  EXPECT_NE(Run("info " + Quote(dir / "bad.bmp")), 0);
  EXPECT_NE(err.find("bit count"), std::string::npos) << err;
}

TEST_F(VtfmtBmpTest, DumpGivesGdalsPixelsInFileRowOrder) {
  const Picture p = Pattern(13, 7, 3);
  ASSERT_TRUE(GdalWrite(dir / "rgb.bmp", p));
  std::string out;
  ASSERT_EQ(Run("dump " + Quote(dir / "rgb.bmp"), &out), 0) << err;
  ASSERT_EQ(out.size(), 13u * 7 * 3);  // rows without their padding
  for (int r = 0; r < 7; ++r) {
    const int y = 6 - r;  // file row r is the picture's row from the bottom
    for (int x = 0; x < 13; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(static_cast<unsigned char>(out[(r * 13 + x) * 3 + 2 - c]), p.pixels[(y * 13 + x) * 3 + c])
            << r << "," << x;
  }
}

TEST_F(VtfmtBmpTest, ConvertRawToBitmapKeepsThePictureUpright) {
  for (const char* name : {"dem.raw", "dem.ifo"}) {
    std::ifstream in(std::string(VTFMT_SOURCE_DIR) + "/samples/" + name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    dir.Put(name, bytes.str());
  }
  ASSERT_EQ(Run("convert " + Quote(dir / "dem.raw") + " " + Quote(dir / "dem.bmp")), 0) << err;
  Picture p;
  ASSERT_TRUE(GdalRead(dir / "dem.bmp", p));
  ASSERT_EQ(p.width, 100);
  ASSERT_EQ(p.height, 50);
  ASSERT_EQ(p.bands, 3);
  // The raw file's first row is the top of the picture; its bytes land in
  // the bitmap as blue, green, red.
  const std::string raw = dir.Get("dem.raw");
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(p.pixels[(y * 100 + x) * 3 + c], static_cast<unsigned char>(raw[(y * 100 + x) * 3 + 2 - c]))
            << y << "," << x;
}

TEST_F(VtfmtBmpTest, ConvertBitmapToBitmap) {
  const Picture p = Pattern(21, 9, 1);
  ASSERT_TRUE(GdalWrite(dir / "p.bmp", p));
  ASSERT_EQ(Run("convert " + Quote(dir / "p.bmp") + " " + Quote(dir / "q.bmp")), 0) << err;
  Picture q;
  ASSERT_TRUE(GdalRead(dir / "q.bmp", q));
  EXPECT_EQ(q.pixels, p.pixels);
  ASSERT_EQ(q.colors.size(), 256u);
  for (size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(q.colors[i].c1, p.colors[i].c1);
    EXPECT_EQ(q.colors[i].c3, p.colors[i].c3);
  }

  // A top-down source: its top row becomes the last row of the written file.
  ASSERT_TRUE(GdalWrite(dir / "rgb.bmp", Pattern(6, 4, 3)));
  std::string bytes = dir.Get("rgb.bmp");
  const size_t rowBytes = 20, off = bytes.size() - 4 * rowBytes;
  std::string flipped = bytes.substr(0, off);
  for (int r = 3; r >= 0; --r) flipped += bytes.substr(off + r * rowBytes, rowBytes);
  const int32_t minusFour = -4;
  flipped.replace(22, 4, reinterpret_cast<const char*>(&minusFour), 4);
  dir.Put("down.bmp", flipped);
  ASSERT_EQ(Run("convert " + Quote(dir / "down.bmp") + " " + Quote(dir / "up.bmp")), 0) << err;
  Picture down, up;
  ASSERT_TRUE(GdalRead(dir / "down.bmp", down));
  ASSERT_TRUE(GdalRead(dir / "up.bmp", up));
  EXPECT_EQ(down.pixels, Pattern(6, 4, 3).pixels);
  EXPECT_EQ(up.pixels, down.pixels);
  EXPECT_EQ(dir.Get("up.bmp").substr(off), bytes.substr(off));
}

// A 16-bit bitmap of 3 x 2 pixels with colour masks (compression 3).
std::string SixteenBit(uint32_t red, uint32_t green, uint32_t blue) {
  std::string f;
  auto put = [&f](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const uint32_t off = 14 + 40 + 12, rowBytes = 8;
  f += "BM";
  put(off + 2 * rowBytes, 4);
  put(0, 4);
  put(off, 4);
  for (uint32_t v : {40u, 3u, 2u}) put(v, 4);
  put(1, 2);
  put(16, 2);
  for (uint32_t v : {3u, 0u, 2835u, 2835u, 0u, 0u, red, green, blue}) put(v, 4);
  for (int i = 0; i < 6; ++i) {
    put(0x1234u * (i + 1) + 0x0841u * i, 2);
    if (i % 3 == 2) put(0, 2);
  }
  return f;
}

// The colours ImageMagick shows for `path`, red, green, blue, top row first.
std::string ImageMagickColours(const ScratchDir& dir, const std::string& path) {
  const std::string rgb = dir / "colours.rgb";
  if (std::system(
          ("convert " + Quote(path) + " -alpha off -depth 8 rgb:" + Quote(rgb) + " 2>/dev/null").c_str()) !=
      0)
    return "convert failed on " + path;
  return dir.Get("colours.rgb");
}

int Shell(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

// Bitmaps of every header, depth and colour layout that readers meet,
// converted bitmap to bitmap: the copy shows the colours the source shows.
TEST_F(VtfmtBmpTest, ConvertKeepsTheColoursImageMagickShows) {
  const std::string src = "convert -size 29x7 -seed 2 plasma:fractal ";
  struct Made {
    const char* name;
    std::string options;
  };
  const std::vector<Made> made = {
      {"os2-8.bmp", "-colors 100 -type Palette BMP2:"},
      {"os2-4.bmp", "-colors 12 -type Palette BMP2:"},
      {"os2-1.bmp", "-colors 2 -type Palette BMP2:"},
      {"565.bmp", "-define bmp:subtype=RGB565 BMP:"},
      {"555.bmp", "-define bmp:subtype=RGB555 BMP:"},
      {"1555.bmp", "-alpha set -channel A -fx 'i>10' +channel -define bmp:subtype=ARGB1555 BMP:"},
      {"alpha32.bmp", "-alpha set -channel A -fx 'j/h' +channel BMP:"},
      {"rle8.bmp", "-colors 60 -type Palette -compress RLE BMP3:"},
  };
  std::vector<std::string> names;
  for (const Made& m : made) {
    ASSERT_EQ(Shell(src + m.options + Quote(dir / m.name)), 0) << m.name;
    names.push_back(m.name);
  }
  // Crafted: 5-6-5 masks after a 40-byte header, and 32 bits with red in
  // the low byte.
  dir.Put("565-40.bmp", SixteenBit(0xF800, 0x07E0, 0x001F));
  names.push_back("565-40.bmp");
  std::string xbgr = "BM";
  auto put = [&xbgr](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) xbgr += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(66 + 3 * 2 * 4, 4);
  put(0, 4);
  put(66, 4);
  for (uint32_t v : {40u, 3u, 2u}) put(v, 4);
  put(1, 2);
  put(32, 2);
  for (uint32_t v : {3u, 0u, 2835u, 2835u, 0u, 0u, 0xFFu, 0xFF00u, 0xFF0000u}) put(v, 4);
  for (uint32_t px : {0x0000FFu, 0x00FF00u, 0xFF0000u, 0x102030u, 0xFFFFFFu, 0x808000u}) put(px, 4);
  dir.Put("xbgr.bmp", xbgr);
  names.push_back("xbgr.bmp");

  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string want = ImageMagickColours(dir, dir / name);
    ASSERT_EQ(Run("convert " + Quote(dir / name) + " " + Quote(dir / "copy.bmp")), 0) << err;
    EXPECT_EQ(ImageMagickColours(dir, dir / "copy.bmp"), want);
    // GDAL sees the same colours in the copy.
    Picture copy;
    ASSERT_TRUE(GdalRead(dir / "copy.bmp", copy));
    std::string gdal;
    for (int y = 0; y < copy.height; ++y)
      for (int x = 0; x < copy.width; ++x) {
        if (copy.bands == 1) {  // through the colour table
          const GDALColorEntry& e = copy.colors.at(copy.At(x, y, 0));
          gdal += {static_cast<char>(e.c1), static_cast<char>(e.c2), static_cast<char>(e.c3)};
        } else {
          for (int c = 0; c < 3; ++c) gdal += static_cast<char>(copy.At(x, y, c));
        }
      }
    EXPECT_EQ(gdal, want);
    std::remove((dir / "copy.bmp").c_str());
  }
}

// Bitmaps that are not read (embedded PNG or JPEG, four masks after a short
// header, 2- and 64-bit pixels, masks that are not runs of bits, a file cut
// short) fail in one line naming the reason, and leave no output behind.
TEST_F(VtfmtBmpTest, WhatIsNotReadIsRefusedInOneLine) {
  struct Case {
    const char* name;
    size_t at;
    uint32_t value;
    int bytes;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"png.bmp", 30, 5, 4, "compression"},      {"jpeg.bmp", 30, 4, 4, "compression"},
      {"alphabf.bmp", 30, 6, 4, "compression"},  {"two.bmp", 28, 2, 2, "bit count"},
      {"sixtyfour.bmp", 28, 64, 2, "bit count"}, {"gappy.bmp", 54, 0xF00F, 4, "mask"},
      {"short.bmp", 2, 0, 0, "holds"},
  };
  const std::string good = SixteenBit(0xF800, 0x07E0, 0x001F);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string f = good;
    for (int i = 0; i < c.bytes; ++i) f[c.at + i] = static_cast<char>((c.value >> (8 * i)) & 0xFF);
    if (c.bytes == 0) f.resize(f.size() - 3);
    dir.Put(c.name, f);
    EXPECT_EQ(Run("convert " + Quote(dir / c.name) + " " + Quote(dir / "out.bmp")), 1);
    EXPECT_NE(err.find(c.reason), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(dir.Exists("out.bmp"));
  }
}

// A header that claims more than the file holds fails at once, before
// anything is sized by it: a 566-byte file whose row alone would be 2 GB.
TEST_F(VtfmtBmpTest, HeadersLargerThanTheFileFailFast) {
  std::string f = SixteenBit(0x7C00, 0x03E0, 0x001F);
  f.resize(566, 'x');
  const int32_t width = 0x3FFFFFF0;  // 2 GB rows of 16 bits
  f.replace(18, 4, reinterpret_cast<const char*>(&width), 4);
  dir.Put("huge.bmp", f);
  for (const char* command : {"dump ", "info ", "convert "}) {
    std::string out;
    const std::string extra = std::string(command) == "convert " ? " " + Quote(dir / "out.bmp") : "";
    EXPECT_EQ(Run(command + Quote(dir / "huge.bmp") + extra, &out), 1) << command;
    EXPECT_NE(err.find("holds"), std::string::npos) << err;
    EXPECT_TRUE(out.empty()) << command;
  }
  EXPECT_FALSE(dir.Exists("out.bmp"));
}
}  // namespace

// vtfmt on bitmaps end to end: info, dump and convert, checked with GDAL.
#include <gtest/gtest.h>

#include <gdal.h>
#include <sys/wait.h>

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

class VtfmtBmpTest : public ::testing::Test {
 protected:
  int Run(const std::string& args, std::string* out = nullptr) {
    const ToolResult r = RunTool(dir, args);
    if (out) *out = r.out;
    err = r.err;
    return r.status;
  }
  static std::map<std::string, std::string> Keys(const std::string& text) { return KeyValues(text); }
  ScratchDir dir;
  std::string err;
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

// 16-bit pixels are written without masks, as 5-5-5: a 5-5-5 source keeps
// its colours, a 5-6-5 one is refused rather than written in other colours.
TEST_F(VtfmtBmpTest, ConvertSixteenBitKeepsColoursOrRefuses) {
  dir.Put("555.bmp", SixteenBit(0x7C00, 0x03E0, 0x001F));
  ASSERT_EQ(Run("convert " + Quote(dir / "555.bmp") + " " + Quote(dir / "555out.bmp")), 0) << err;
  Picture source, copy;
  ASSERT_TRUE(GdalRead(dir / "555.bmp", source));
  ASSERT_TRUE(GdalRead(dir / "555out.bmp", copy));
  EXPECT_EQ(copy.bands, 3);
  EXPECT_EQ(copy.pixels, source.pixels);

  dir.Put("565.bmp", SixteenBit(0xF800, 0x07E0, 0x001F));
  EXPECT_EQ(Run("convert " + Quote(dir / "565.bmp") + " " + Quote(dir / "565out.bmp")), 1);
  EXPECT_NE(err.find("5-5-5"), std::string::npos) << err;
  EXPECT_FALSE(dir.Exists("565out.bmp"));
}

}  // namespace

// The TIFF driver on forged and damaged files, its tiled-to-stripped
// conversion and its export of device bitmaps.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "raster/CImgFileTiff.h"
#include "support/GdalTiff.h"
#include "support/ScratchDir.h"

namespace {

// A little-endian classic TIFF with one directory of SHORT and LONG fields
// (values of one item inline) and `pixels` bytes of image data at offset 8.
struct Entry {
  uint16_t tag, type;
  uint32_t value;
};
std::string ForgedTiff(std::vector<Entry> entries, size_t pixels) {
  std::string f = "II*";
  f += '\0';
  auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) f += static_cast<char>(v >> (8 * i)); };
  auto put16 = [&](uint16_t v) { f += static_cast<char>(v & 0xFF), f += static_cast<char>(v >> 8); };
  put32(static_cast<uint32_t>(8 + pixels));
  f += std::string(pixels, '\x5a');
  put16(static_cast<uint16_t>(entries.size()));
  for (const Entry& e : entries) {
    put16(e.tag), put16(e.type), put32(1);
    if (e.type == TIFF_SHORT) put16(static_cast<uint16_t>(e.value)), put16(0);
    else put32(e.value);
  }
  put32(0);
  return f;
}

std::vector<Entry> Stripped(uint32_t width, uint32_t height, uint16_t bits, uint32_t bytes) {
  return {{256, TIFF_LONG, width},          {257, TIFF_LONG, height}, {258, TIFF_SHORT, bits},
          {259, TIFF_SHORT, 1},             {262, TIFF_SHORT, 1},     {273, TIFF_LONG, 8},
          {278, TIFF_LONG, height},         {279, TIFF_LONG, bytes}};
}

std::vector<Entry> SignedSamples(std::vector<Entry> entries) {
  entries.push_back({339, TIFF_SHORT, 2});
  return entries;
}

TEST(CImgFileTiffHostile, ForgedSizesFailWithACodeBeforeAnythingIsAllocated) {
  ScratchDir dir;
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      // A row of 2^30 bytes in a file of a hundred.
      {"wide", ForgedTiff(Stripped(1u << 30, 1, 8, 64), 64)},
      // Signed 2-bit samples: no pixel format holds them.
      {"signed2", ForgedTiff(SignedSamples(Stripped(8, 8, 2, 16)), 16)},
      // A 4096 x 4096 tile of three bytes a pixel, uncompressed, in 100 bytes.
      {"tile", ForgedTiff({{256, TIFF_LONG, 8},
                           {257, TIFF_LONG, 8},
                           {258, TIFF_SHORT, 8},
                           {259, TIFF_SHORT, 1},
                           {262, TIFF_SHORT, 2},
                           {277, TIFF_SHORT, 3},
                           {322, TIFF_LONG, 4096},
                           {323, TIFF_LONG, 4096},
                           {324, TIFF_LONG, 8},
                           {325, TIFF_LONG, 64}},
                          64)},
  };
  for (const Case& c : cases) {
    dir.Put(c.name, c.bytes);
    CImgFileTiff t;
    VtGetErrorMsgObj()->Clear();
    testing::internal::CaptureStderr();
    const bool opened = t.OpenForRead((dir / c.name).c_str()) == 1;
    const long loaded = opened ? t.LoadImage() : -1;
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(loaded, -1) << c.name;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage()) << c.name;
    EXPECT_EQ(console, "") << c.name;
  }

  // 2^31 - 1 rows in strips of 8 rows, one strip given.
  std::vector<Entry> tall = Stripped(8, 0x7FFFFFFF, 8, 64);
  tall[6].value = 8;
  dir.Put("tall", ForgedTiff(tall, 64));
  // libtiff refuses the strip table that cannot cover the rows: the open
  // fails, quietly.
  CImgFileTiff t;
  testing::internal::CaptureStderr();
  EXPECT_EQ(t.OpenForRead((dir / "tall").c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_NE(VtGetErrorMsgObj()->GetMessage().Find("StripOffsets"), -1);
}

TEST(CImgFileTiffHostile, TruncatedAndMisusedFilesFailRowByRow) {
  ScratchDir dir;
  for (const char* compress : {"COMPRESS=NONE", "COMPRESS=DEFLATE", "COMPRESS=LZW", "COMPRESS=JPEG"}) {
    for (bool tiled : {false, true}) {
      TiffFixture fixture;
      fixture.options = {compress};
      if (tiled) fixture.options.push_back("TILED=YES"), fixture.options.push_back("BLOCKXSIZE=16");
      ASSERT_TRUE(GdalWriteTiff(dir / "whole.tif", fixture));
      const std::string whole = dir.Get("whole.tif");
      // Keep the directory (GDAL writes it first) and cut the pixel data.
      dir.Put("cut.tif", whole.substr(0, whole.size() * 2 / 3));
      CImgFileTiff t;
      testing::internal::CaptureStderr();
      if (t.OpenForRead((dir / "cut.tif").c_str()) == 1 && t.LoadImage() == 1) {
        CImgScanLine line(t.GetPixelFormat(), static_cast<long>(t.GetWidthBytes()));
        int failed = 0;
        for (long row = 0; row < static_cast<long>(t.GetHeight()); ++row) failed += t.ReadScanLine(row, line) < 0;
        EXPECT_GT(failed, 0) << compress << (tiled ? " tiled" : "");
        CImgScanLine shortLine(t.GetPixelFormat(), static_cast<long>(t.GetScanLineSize()) - 1);
        EXPECT_EQ(t.ReadScanLine(0, shortLine), -1);
        EXPECT_EQ(t.ReadScanLine(-1, line), -1);
        EXPECT_EQ(t.ReadScanLine(static_cast<long>(t.GetHeight()), line), -1);
      }
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << compress;
    }
  }
  CImgFileTiff closed;
  CImgScanLine line(PF_BIT8, 16);
  EXPECT_EQ(closed.LoadImage(), -1);
  EXPECT_EQ(closed.ReadScanLine(0, line), -1);
  EXPECT_EQ(closed.OpenForRead((dir / "missing.tif").c_str()), 0);
}

TEST(CImgFileTiff, TiledToStripConvertsPixelsAndBoundsInMetres) {
  ScratchDir dir;
  TiffFixture fixture;
  fixture.width = 70;  // not a multiple of the tile width
  fixture.height = 37;
  fixture.options = {"TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=16"};
  fixture.geo = true;
  fixture.epsg = 2222;  // international feet
  ASSERT_TRUE(GdalWriteTiff(dir / "tiled.tif", fixture));
  CImgFileTiff t;
  testing::internal::CaptureStdout();
  const bool converted = t.TiledToStript((dir / "tiled.tif").c_str(), (dir / "strip.tif").c_str());
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(converted) << VtGetErrorMsgObj()->GetMessage().str();
  GdalPixels source, target;
  ASSERT_TRUE(GdalReadPixels(dir / "tiled.tif", source));
  ASSERT_TRUE(GdalReadPixels(dir / "strip.tif", target));
  EXPECT_EQ(target.bytes, source.bytes);
  ASSERT_TRUE(target.hasGeoTransform);
  for (int i : {0, 1, 3, 5}) EXPECT_NEAR(target.gt[i], source.gt[i] * 0.3048, 1e-6) << i;
  CImgFileTiff s;
  ASSERT_EQ(s.OpenForRead((dir / "strip.tif").c_str()), 1);
  EXPECT_EQ(s.m_bTiled, 0);

  // Refused: a stripped source, one file as both, a source without bounds.
  EXPECT_FALSE(t.TiledToStript((dir / "strip.tif").c_str(), (dir / "again.tif").c_str()));
  EXPECT_FALSE(dir.Exists("again.tif"));
  const std::string before = dir.Get("tiled.tif");
  EXPECT_FALSE(t.TiledToStript((dir / "tiled.tif").c_str(), (dir / "tiled.tif").c_str()));
  EXPECT_EQ(dir.Get("tiled.tif"), before);
  fixture.geo = false;
  ASSERT_TRUE(GdalWriteTiff(dir / "plain.tif", fixture));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(t.TiledToStript((dir / "plain.tif").c_str(), (dir / "out.tif").c_str()));
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(dir.Exists("out.tif"));
}

TEST(CImgFileTiff, OutputDirectWritesTheBitmapTopRowFirst) {
  ScratchDir dir;
  CDC dc;
  ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
  // 3 x 2, top row first, blue-green-red: red, green, blue / white, black, grey.
  const BYTE pixels[] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0, 128, 128, 128, 0};
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateBitmap(3, 2, 1, 24, pixels));
  CImgFileTiff t;
  const CRect2D bounds(100, 20, 130, 0);
  ASSERT_EQ(t.OutputDirect((dir / "o.tif").c_str(), &dc, &bitmap, PF_BIT24, bounds), 1);
  GdalPixels g;
  ASSERT_TRUE(GdalReadPixels(dir / "o.tif", g));
  const unsigned char expected[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 128, 128};
  ASSERT_EQ(g.bytes.size(), sizeof expected);
  EXPECT_EQ(std::memcmp(g.bytes.data(), expected, sizeof expected), 0);
  EXPECT_NEAR(g.gt[0], 100, 1e-9);
  EXPECT_NEAR(g.gt[1], 10, 1e-9);
  EXPECT_NEAR(g.gt[5], -10, 1e-9);

  // An 8-bit export keeps its indices and the device's colour table.
  ASSERT_EQ(t.OutputDirect((dir / "i.tif").c_str(), &dc, &bitmap, PF_BIT8, CRect2D()), 1);
  CImgFileTiff back;
  ASSERT_EQ(back.OpenForRead((dir / "i.tif").c_str()), 1);
  ASSERT_EQ(back.LoadImage(), 1);
  CImgScanLine line(PF_BIT8, static_cast<long>(back.GetWidthBytes()));
  ASSERT_GE(back.ReadScanLine(0, line), 0);
  const PALETTEENTRY red = back.m_Palette[line[0]];
  EXPECT_EQ(red.peBlue, 255);  // byte 2: red
  EXPECT_EQ(red.peRed, 0);
  EXPECT_EQ(t.OutputDirect((dir / "none.tif").c_str(), &dc, nullptr, PF_BIT24, CRect2D()), -1);
}

}  // namespace

namespace {

// Every fuzz seed and every input the fuzzer once found trouble with goes
// through the whole read without a word on the console.
TEST(CImgFileTiffHostile, FuzzSeedsAndRegressionsReadSilently) {
  ScratchDir dir;
  const std::string corpus = std::string(VTFMT_SOURCE_DIR) + "/fuzz/corpus/tiff_fuzzer/";
  for (const char* name : {"plain", "tiled", "planar", "jpeg", "bit1", "float-feet", "regress-proj-message"}) {
    std::ifstream in(corpus + name, std::ios::binary);
    ASSERT_TRUE(in) << name;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    dir.Put("f.tif", bytes.substr(1));  // the first byte steers the fuzzer
    CImgFileTiff t;
    t.m_bGrid = bytes[0] & 1;
    testing::internal::CaptureStderr();
    if (t.OpenForRead((dir / "f.tif").c_str()) == 1) {
      CRect2D b;
      t.LoadGeoImage(b, 10000);
      if (t.LoadImage() == 1) {
        CImgScanLine line(t.GetPixelFormat(), static_cast<long>(t.GetWidthBytes()));
        for (long row = 0; row < static_cast<long>(t.GetHeight()); ++row) t.ReadScanLine(row, line);
      }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << name;
  }
}

}  // namespace

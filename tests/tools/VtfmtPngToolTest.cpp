// vtfmt on PNG images end to end: info, dump and convert, checked with GDAL.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/PngFixtures.h"
#include "support/ToolRun.h"

namespace {

class VtfmtPngTest : public ToolTest {
 protected:
  static int Shell(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }
};

TEST_F(VtfmtPngTest, InfoAndDumpOfTheSample) {
  const std::string sample = std::string(VTFMT_SOURCE_DIR) + "/samples/plasma-trns.png";
  std::string out;
  ASSERT_EQ(Run("info " + Quote(sample), &out), 0) << err;
  auto keys = KeyValues(out);
  EXPECT_EQ(keys["driver"], "png");
  EXPECT_EQ(keys["width"], "64");
  EXPECT_EQ(keys["height"], "32");
  EXPECT_EQ(keys["pixel_format"], "32");  // palette and transparency expanded
  EXPECT_EQ(keys["width_bytes"], "256");
  EXPECT_EQ(keys["row_order"], "top-down");
  EXPECT_EQ(keys["color_type"], "3");
  EXPECT_EQ(keys["interlaced"], "yes");
  EXPECT_EQ(keys["transparency"], "yes");

  // dump: blue, green, red, alpha rows, as GDAL's colour table maps the indexes.
  ASSERT_EQ(Run("dump " + Quote(sample), &out), 0) << err;
  GdalImage g;
  ASSERT_TRUE(GdalReadNative(sample, g));
  std::string want;
  for (int y = 0; y < g.height; ++y) {
    const std::vector<unsigned char> row = ExpectedRow(g, y, PngHeader{8, 3, true});
    want.append(row.begin(), row.end());
  }
  EXPECT_EQ(out, want);
}

// An interlaced image is decoded whole: -oo max_memory=N bounds the
// megabytes it may take, refusing it cleanly beyond; an image read a row at
// a time is not held to it.
TEST_F(VtfmtPngTest, MaxMemoryRefusesInterlacedImagesNeedingMore) {
  ASSERT_EQ(Shell("convert -size 2048x1024 xc:red -alpha set -interlace PNG PNG32:" + Quote(dir / "i.png")), 0);
  ASSERT_EQ(Shell("convert -size 2048x1024 xc:red -alpha set PNG32:" + Quote(dir / "p.png")), 0);
  const struct {
    const char* file;
    const char* option;
    int status;
  } cases[] = {
      {"i.png", "", 0},          {"i.png", "-oo max_memory=8 ", 0}, {"i.png", "-oo max_memory=7 ", 1},
      {"p.png", "-oo max_memory=1 ", 0}, {"i.png", "-oo max_memory=0 ", 2}, {"i.png", "-oo max_memory=1e3 ", 2},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(Run("dump " + std::string(c.option) + Quote(dir / c.file), &out), c.status) << c.file << " " << c.option << err;
    if (c.status == 0) {
      EXPECT_EQ(out.size(), size_t(2048) * 1024 * 4) << c.option;
    }
    if (c.status == 1) {
      EXPECT_NE(err.find("needs 8 MB, more than the 7 MB allowed (max_memory)"), std::string::npos) << err;
      EXPECT_NE(err.find("i.png"), std::string::npos) << err;
      EXPECT_TRUE(out.empty());
    }
  }
}

TEST_F(VtfmtPngTest, DumpGivesGdalsPixelsForEachKind) {
  const std::string plasma = "convert -size 19x7 -seed 4 plasma:fractal ";
  struct Kind {
    const char* name;
    std::string command;
    PngHeader header;
  };
  const std::vector<Kind> kinds = {
      {"rgb", plasma + "PNG24:", {8, 2, false}},
      {"grey4", plasma + "-colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4 ", {4, 0, false}},
      {"pal", plasma + "-colors 30 PNG8:", {8, 3, false}},
      {"rgba16", plasma + "-alpha set -channel A -evaluate set 60% +channel -depth 16 PNG64:", {16, 6, false}},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    const std::string path = dir / (std::string(k.name) + ".png");
    ASSERT_EQ(Shell(k.command + path), 0);
    std::string out;
    ASSERT_EQ(Run("dump " + Quote(path), &out), 0) << err;
    GdalImage g;
    ASSERT_TRUE(GdalReadNative(path, g));
    std::string want;
    for (int y = 0; y < g.height; ++y) {
      const std::vector<unsigned char> row = ExpectedRow(g, y, k.header);
      want.append(row.begin(), row.end());
    }
    EXPECT_EQ(out, want);
  }
}

TEST_F(VtfmtPngTest, ConvertKeepsPixelsAndColoursAcrossFormats) {
  // A 24-bit bitmap to PNG and back: GDAL sees the same picture each time.
  const std::string dem = std::string(VTFMT_SOURCE_DIR) + "/samples/dem.bmp";
  ASSERT_EQ(Run("convert " + Quote(dem) + " " + Quote(dir / "dem.png")), 0) << err;
  ASSERT_EQ(Run("convert " + Quote(dir / "dem.png") + " " + Quote(dir / "dem.bmp")), 0) << err;
  Picture bmp, png, back;
  ASSERT_TRUE(GdalRead(dem, bmp));
  ASSERT_TRUE(GdalRead(dir / "dem.png", png));
  ASSERT_TRUE(GdalRead(dir / "dem.bmp", back));
  EXPECT_EQ(png.pixels, bmp.pixels);
  EXPECT_EQ(back.pixels, bmp.pixels);

  // An 8-bit bitmap of 40 colours: indexes and colours (blue-first in the
  // bitmap, red-first in PNG) survive both ways.
  const std::string plasma = std::string(VTFMT_SOURCE_DIR) + "/samples/plasma-rle8.bmp";
  ASSERT_EQ(Run("convert " + Quote(plasma) + " " + Quote(dir / "p.png")), 0) << err;
  ASSERT_EQ(Run("convert " + Quote(dir / "p.png") + " " + Quote(dir / "p.bmp")), 0) << err;
  Picture source, indexed, again;
  ASSERT_TRUE(GdalRead(plasma, source));
  ASSERT_TRUE(GdalRead(dir / "p.png", indexed));
  ASSERT_TRUE(GdalRead(dir / "p.bmp", again));
  EXPECT_EQ(indexed.pixels, source.pixels);
  EXPECT_EQ(again.pixels, source.pixels);
  ASSERT_GE(indexed.colors.size(), 40u);
  ASSERT_GE(again.colors.size(), 40u);
  for (size_t i = 0; i < 40; ++i) {
    EXPECT_EQ(indexed.colors[i].c1, source.colors[i].c1) << i;
    EXPECT_EQ(indexed.colors[i].c3, source.colors[i].c3) << i;
    EXPECT_EQ(again.colors[i].c1, source.colors[i].c1) << i;
    EXPECT_EQ(again.colors[i].c3, source.colors[i].c3) << i;
  }

  // A TIFF (rows red first) to PNG and back.
  ASSERT_EQ(Shell("convert -size 17x6 -seed 6 plasma:fractal -depth 8 TIFF:" + (dir / "c.tif")), 0);
  ASSERT_EQ(Run("convert " + Quote(dir / "c.tif") + " " + Quote(dir / "c.png")), 0) << err;
  ASSERT_EQ(Run("convert " + Quote(dir / "c.png") + " " + Quote(dir / "d.tif")), 0) << err;
  Picture tif, fromTif, backTif;
  ASSERT_TRUE(GdalRead(dir / "c.tif", tif));
  ASSERT_TRUE(GdalRead(dir / "c.png", fromTif));
  ASSERT_TRUE(GdalRead(dir / "d.tif", backTif));
  EXPECT_EQ(fromTif.pixels, tif.pixels);
  EXPECT_EQ(backTif.pixels, tif.pixels);

  // PNG to PNG, RGBA with transparency: every sample kept.
  ASSERT_EQ(Shell("convert -size 23x9 -seed 2 plasma:fractal -alpha set -channel A -fx 'i/w' +channel PNG32:" +
                  (dir / "a.png")),
            0);
  ASSERT_EQ(Run("convert " + Quote(dir / "a.png") + " " + Quote(dir / "b.png")), 0) << err;
  Picture a, b;
  ASSERT_TRUE(GdalRead(dir / "a.png", a));
  ASSERT_TRUE(GdalRead(dir / "b.png", b));
  ASSERT_EQ(a.bands, 4);
  EXPECT_EQ(b.bands, 4);
  EXPECT_EQ(b.pixels, a.pixels);
}

TEST_F(VtfmtPngTest, SixteenBitPixelsKeepTheirMeaningOrAreRefused) {
  // 5-6-5 PNG to PNG keeps every pixel; to a bitmap (5-5-5) it is refused.
  std::string rows;
  for (int y = 0; y < 3; ++y) {
    rows += '\0';
    for (int x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) rows += std::string{char(x * 9 + c), char(y * 50 + c)};
  }
  const std::string sbit = PngChunk("sBIT", std::string("\x05\x06\x05", 3));
  dir.Put("s.png", PngFile(4, 3, 16, 2, rows, sbit));
  std::string out;
  ASSERT_EQ(Run("info " + Quote(dir / "s.png"), &out), 0) << err;
  EXPECT_EQ(KeyValues(out)["pixel_format"], "16");
  ASSERT_EQ(Run("convert " + Quote(dir / "s.png") + " " + Quote(dir / "t.png")), 0) << err;
  std::string first, second;
  ASSERT_EQ(Run("dump " + Quote(dir / "s.png"), &first), 0) << err;
  ASSERT_EQ(Run("dump " + Quote(dir / "t.png"), &second), 0) << err;
  EXPECT_EQ(first.size(), 4u * 3 * 2);
  EXPECT_EQ(second, first);
  EXPECT_NE(Run("convert " + Quote(dir / "s.png") + " " + Quote(dir / "s.bmp")), 0);
  EXPECT_FALSE(dir.Exists("s.bmp"));

  // 16-bit grey samples (a TIFF's) are not taken for 5-6-5 colours.
  ASSERT_EQ(Shell("convert -size 4x3 gradient: -depth 16 -colorspace Gray -define tiff:photometric=min-is-black " +
                  (dir / "f.tif")),
            0);
  ASSERT_EQ(Run("info " + Quote(dir / "f.tif"), &out), 0) << err;
  ASSERT_EQ(KeyValues(out)["pixel_format"], "16");
  EXPECT_NE(Run("convert " + Quote(dir / "f.tif") + " " + Quote(dir / "f.png")), 0);
  EXPECT_FALSE(dir.Exists("f.png"));
}

TEST_F(VtfmtPngTest, LargeImagesWrittenOnSeveralThreadsAreTheSameFileGdalAndLibpngRead) {
  // Pictures past the size that is compressed in pieces: noisy and smooth
  // colour, an indexed one (rows left unfiltered) and one with opacity.
  Picture rgb;
  rgb.width = 701, rgb.height = 611, rgb.bands = 3;
  uint32_t seed = 12345;
  for (int i = 0; i < rgb.width * rgb.height * 3; ++i) {
    seed = seed * 1103515245u + 12345u;
    const int y = i / (rgb.width * 3);
    rgb.pixels.push_back(static_cast<unsigned char>(y < 300 ? (seed >> 24) : (i / 3 % rgb.width + y) / 3));
  }
  ASSERT_TRUE(GdalWrite(dir / "rgb.bmp", rgb));
  Picture pal = rgb;
  pal.width = 1203, pal.height = 877, pal.bands = 1;
  pal.pixels.assign(static_cast<size_t>(pal.width) * pal.height, 0);
  for (size_t i = 0; i < pal.pixels.size(); ++i) pal.pixels[i] = static_cast<unsigned char>((i % 1203) / 5 + i / 9000);
  for (short i = 0; i < 256; ++i)
    pal.colors.push_back(GDALColorEntry{i, static_cast<short>(255 - i), static_cast<short>(i ^ 0x3C), 255});
  ASSERT_TRUE(GdalWrite(dir / "pal.bmp", pal));
  ASSERT_EQ(Shell("convert -size 640x480 -seed 3 plasma:fractal -alpha set -channel A -fx 'i/w' +channel PNG32:" +
                  (dir / "rgba.png")),
            0);

  for (const char* name : {"rgb.bmp", "pal.bmp", "rgba.png"}) {
    const std::string in = dir / name;
    Picture want;
    ASSERT_TRUE(GdalRead(in, want));
    std::string one, dumped;
    for (const char* threads : {"1", "2", "5", ""}) {
      const std::string outName = std::string("out") + threads + ".png", out = dir / outName;
      const std::string setting = *threads ? std::string("-oo threads=") + threads + " " : std::string();
      ASSERT_EQ(Run("convert " + setting + Quote(in) + " " + Quote(out)), 0) << name << ": " << err;
      const std::string bytes = dir.Get(outName);
      if (one.empty()) {
        one = bytes;
        Picture got;
        ASSERT_TRUE(GdalRead(out, got)) << name;
        EXPECT_EQ(got.pixels, want.pixels) << name;
        EXPECT_EQ(got.colors.size(), want.colors.size()) << name;
        // libpng (through pngfix, which inflates every byte and checks
        // every checksum) finds nothing to mend.
        EXPECT_EQ(Shell("pngfix -q " + Quote(out)), 0) << name;
        ASSERT_EQ(Run("dump " + Quote(out), &dumped), 0) << err;
        std::string source;
        if (std::string(name) == "rgba.png") {
          ASSERT_EQ(Run("dump " + Quote(in), &source), 0) << err;
          EXPECT_TRUE(dumped == source) << name;
        }
      }
      EXPECT_TRUE(bytes == one) << name << ": threads=" << threads << " differs from threads=1";
    }
  }
  EXPECT_NE(Run("convert -oo threads=0 " + Quote(dir / "rgb.bmp") + " " + Quote(dir / "bad.png")), 0);
  EXPECT_NE(err.find("threads must be a whole number from 1 to 1024, not 0"), std::string::npos) << err;
}

}  // namespace

// vtfmt on ECW and MrSID images end to end (JPEG 2000 files GDAL wrote,
// which both decoders read): info, dump, and windows written by `view`,
// checked against GDAL's own RasterIO.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/GdalViews.h"
#include "support/ToolRun.h"

namespace {

class VtfmtViewTest : public ToolTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(GdalWriteImage(dir / "rgb.jp2", "JP2OpenJPEG", 150, 90, 3, {"QUALITY=25", "RESOLUTIONS=3"}));
    ASSERT_TRUE(GdalWriteImage(dir / "grey.jp2", "JP2OpenJPEG", 70, 50, 1, {"QUALITY=25"}));
  }
  // Band-after-band samples as pixels: blue first (rows the drivers
  // deliver) or red first (GDAL's pictures).
  static std::string Interleave(const std::vector<unsigned char>& bands, size_t count, bool blueFirst) {
    const size_t n = bands.size() / count;
    std::string out;
    for (size_t i = 0; i < n; ++i)
      for (size_t c = 0; c < count; ++c) out += static_cast<char>(bands[(blueFirst ? count - 1 - c : c) * n + i]);
    return out;
  }
};

TEST_F(VtfmtViewTest, InfoAndDumpOfTheWholeImage) {
  std::string out;
  ASSERT_EQ(Run("info " + Quote(dir / "rgb.jp2"), &out), 0) << err;
  auto keys = KeyValues(out);
  EXPECT_EQ(keys["driver"], "ecw");
  EXPECT_EQ(keys["width"], "150");
  EXPECT_EQ(keys["height"], "90");
  EXPECT_EQ(keys["pixel_format"], "24");
  EXPECT_EQ(keys["bands"], "3");
  ASSERT_EQ(Run("info -f mrsid " + Quote(dir / "grey.jp2"), &out), 0) << err;
  keys = KeyValues(out);
  EXPECT_EQ(keys["driver"], "mrsid");
  EXPECT_EQ(keys["pixel_format"], "8");
  EXPECT_EQ(keys["palette_entries"], "256");
  EXPECT_EQ(keys["levels"], "1");  // 50 rows: no halving keeps 32
  ASSERT_EQ(Run("info -f mrsid " + Quote(dir / "rgb.jp2"), &out), 0) << err;
  EXPECT_EQ(KeyValues(out)["levels"], "2");

  const std::string rgb = Interleave(GdalWindow(dir / "rgb.jp2", 0, 0, 150, 90, 150, 90, {1, 2, 3}), 3, true);
  const std::string grey = Interleave(GdalWindow(dir / "grey.jp2", 0, 0, 70, 50, 70, 50, {1}), 1, true);
  // More rows than one strip of the MrSID driver holds.
  ASSERT_TRUE(GdalWriteImage(dir / "big.tif", "GTiff", 1500, 1001, 3));
  const std::string big = Interleave(GdalWindow(dir / "big.tif", 0, 0, 1500, 1001, 1500, 1001, {1, 2, 3}), 3, true);
  for (const char* driver : {"ecw", "mrsid"}) {
    ASSERT_EQ(Run(std::string("dump -f ") + driver + " " + Quote(dir / "rgb.jp2"), &out), 0) << err;
    EXPECT_EQ(out, rgb) << driver;
    ASSERT_EQ(Run(std::string("dump -f ") + driver + " " + Quote(dir / "grey.jp2"), &out), 0) << err;
    EXPECT_EQ(out, grey) << driver;
    ASSERT_EQ(Run(std::string("dump -f ") + driver + " " + Quote(dir / "big.tif"), &out), 0) << err;
    EXPECT_TRUE(out == big) << driver;
  }
}

TEST_F(VtfmtViewTest, ViewWritesTheDecodedWindowThroughAnyWriter) {
  struct Case {
    std::string args, out;
    int x, y, w, h, bw, bh;
    std::vector<int> bands;
  } cases[] = {
      {"--window 10,5,130,85 --size 40,22", "v.tif", 10, 5, 120, 80, 40, 22, {1, 2, 3}},
      {"--window 0,0,150,90 --size 300,20", "v.bmp", 0, 0, 150, 90, 300, 20, {1, 2, 3}},
      {"-f mrsid --window 0,0,1000,1000 --level 1", "m.bmp", 0, 0, 150, 90, 75, 45, {1, 2, 3}},
      {"-f mrsid --window 21,7,99,42.6 --level 0", "m.png", 21, 7, 78, 36, 78, 36, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    ASSERT_EQ(Run("view " + c.args + " " + Quote(dir / "rgb.jp2") + " " + Quote(dir / c.out), &out), 0) << err;
    EXPECT_EQ(KeyValues(out)["width"], std::to_string(c.bw));
    Picture written;
    ASSERT_TRUE(GdalRead(dir / c.out, written));
    ASSERT_EQ(written.width, c.bw);
    ASSERT_EQ(written.height, c.bh);
    const auto expected = GdalWindow(dir / "rgb.jp2", c.x, c.y, c.w, c.h, c.bw, c.bh, c.bands);
    EXPECT_EQ(std::string(written.pixels.begin(), written.pixels.end()), Interleave(expected, 3, false));
  }
  std::string out;
  ASSERT_EQ(Run("view -f mrsid --window 0,0,70,50 --level 0 " + Quote(dir / "grey.jp2") + " " + Quote(dir / "g.bmp"),
                &out),
            0)
      << err;
  EXPECT_EQ(KeyValues(out)["level_window"], "0 0 70 50");
  Picture g;
  ASSERT_TRUE(GdalRead(dir / "g.bmp", g));
  EXPECT_EQ(std::string(g.pixels.begin(), g.pixels.end()),
            Interleave(GdalWindow(dir / "grey.jp2", 0, 0, 70, 50, 70, 50, {1}), 1, false));
}

TEST_F(VtfmtViewTest, FailuresNameTheirCause) {
  dir.Put("real.ecw", std::string(300, '\x33'));
  dir.Put("real.sid", "msid" + std::string(300, '\x33'));
  const std::string rgb = Quote(dir / "rgb.jp2"), out = Quote(dir / "o.bmp");
  struct Case {
    std::string args;
    int status;
    const char* says;
  } cases[] = {
      {"info " + Quote(dir / "real.ecw"), 1, "ECW wavelet decoder"},
      {"info " + Quote(dir / "real.sid"), 1, "MrSID decoder"},
      {"view " + Quote(dir / "real.ecw") + " --window 0,0,1,1 --size 1,1 " + out, 1, "ECW wavelet decoder"},
      {"view " + rgb + " --window 0,0,151,90 --size 10,10 " + out, 1, "outside"},
      {"view -f mrsid " + rgb + " --window 0,0,10,10 --level 2 " + out, 1, "deepest level, 1"},
      {"view -f mrsid " + rgb + " --window 200,0,300,10 --level 0 " + out, 1, "Rectangle not valid"},
      {"view " + rgb + " --size 10,10 " + out, 2, "--window"},
      {"view " + rgb + " --window 0,0,10,10 --level 1 " + out, 2, "--size"},
      {"view -f mrsid " + rgb + " --window 0,0,10,10 --size 3,3 " + out, 2, "--level"},
      {"view " + rgb + " --window 0,0,10 --size 3,3 " + out, 2, "4 numbers"},
      {"view -f bmp " + rgb + " --window 0,0,10,10 --size 3,3 " + out, 2, "ECW and MrSID"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args), c.status) << c.args;
    EXPECT_NE(err.find(c.says), std::string::npos) << c.args << "\n" << err;
  }
  EXPECT_FALSE(dir.Exists("o.bmp"));
}

}  // namespace

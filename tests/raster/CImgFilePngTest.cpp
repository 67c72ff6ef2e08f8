// The PNG driver's protocol and its handling of broken input: every libpng
// error ends as the operation's failure value, sizes are checked before
// anything is allocated for them, and written files are complete after Close.
#include <gtest/gtest.h>

#include <gdal.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "raster/CImgFilePng.h"
#include "support/PngFixtures.h"
#include "support/ScratchDir.h"

namespace {

class PngTest : public ::testing::Test {
 protected:
  // Writes a `width` x `height` image of `format` with rows of a pattern.
  std::string Write(const std::string& name, ImgPixelFormat format, unsigned width, unsigned height,
                    int paletteSize = 0) {
    const std::string path = dir / name;
    CImgFilePng png;
    EXPECT_EQ(png.OpenForWrite(path.c_str()), 1);
    png.SetWidth(width);
    png.SetHeight(height);
    png.SetPixelFormat(format);
    CImgFile::CreateGrayPalette(png.m_Palette, paletteSize);
    EXPECT_EQ(png.SaveImage(), 1);
    CImgScanLine line(format, static_cast<long>(png.GetWidthBytes()));
    for (unsigned r = 0; r < height; ++r) {
      for (int i = 0; i < line.GetSize(); ++i) line[i] = static_cast<BYTE>(i * 3 + r);
      EXPECT_EQ(png.WriteScanLine(static_cast<long>(r), line), line.GetSize());
    }
    png.Close();
    EXPECT_TRUE(png.WriteComplete());
    return path;
  }
  std::string Bytes(const std::string& path) { return dir.Get(path.substr(dir.path().size() + 1)); }
  ScratchDir dir;
};

// Every prefix of a valid file: opening, loading and reading stop with a
// failure value at the cut, never crash, and never deliver a row past it.
TEST_F(PngTest, TruncatedFilesFailWithACode) {
  for (bool interlaced : {false, true}) {
    std::string bytes;
    if (interlaced) {
      ASSERT_EQ(std::system(("convert -size 40x30 -seed 3 plasma:fractal -interlace PNG PNG24:" + (dir / "i.png") +
                             " 2>/dev/null")
                                .c_str()),
                0);
      bytes = dir.Get("i.png");
    } else {
      bytes = Bytes(Write("whole.png", PF_BIT24, 40, 30));
    }
    ASSERT_GT(bytes.size(), 100u);
    // Up to where the image data ends (before its checksum, its chunk's CRC
    // and the end chunk) some row must be missing.
    const size_t iend = bytes.rfind("IEND");
    ASSERT_NE(iend, std::string::npos);
    const size_t dataEnd = iend - 4 - 4 - 4;
    int loaded = 0;
    for (size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 16) {
      SCOPED_TRACE("interlaced " + std::to_string(interlaced) + ", cut at " + std::to_string(cut));
      dir.Put("cut.png", bytes.substr(0, cut));
      VtGetErrorMsgObj()->Clear();
      CImgFilePng png;
      if (!png.OpenForRead((dir / "cut.png").c_str())) continue;
      if (png.LoadImage() < 0) continue;
      ++loaded;
      CImgScanLine line;
      long rows = 0, result = 0;
      while ((result = png.ReadScanLine(rows, line)) > 0) ++rows;
      if (cut < dataEnd - 8) {
        EXPECT_LT(rows, 30) << "every row of a cut file";
        EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage()) << "libpng's reason is recorded";
      }
      EXPECT_EQ(result, -1);
      EXPECT_LT(png.ReadScanLine(rows, line), 0) << "nothing more after a failure";
    }
    EXPECT_GT(loaded, 0);
  }
}

TEST_F(PngTest, SizesBeyondWhatTheFileCanHoldAreRefusedBeforeAllocating) {
  // A header claiming 16 million x 16 million RGB pixels in a file of a
  // hundred bytes.
  const std::string raw(4, '\0');
  dir.Put("huge.png", PngFile(16000000, 16000000, 8, 2, raw));
  CImgFilePng png;
  ASSERT_EQ(png.OpenForRead((dir / "huge.png").c_str()), 1);
  EXPECT_EQ(png.LoadImage(), -1);
  CImgScanLine line;
  EXPECT_EQ(png.ReadScanLine(0, line), -1);
  EXPECT_EQ(line.GetSize(), 0) << "nothing sized for the claimed width";

  // Beyond the width libpng is allowed to accept: the header is refused.
  dir.Put("wide.png", PngFile(1u << 25, 1, 8, 0, raw));
  EXPECT_EQ(png.OpenForRead((dir / "wide.png").c_str()), 0);
  // A width and height that fit, with exactly the rows they need.
  std::string rows;
  for (int r = 0; r < 3; ++r) rows += std::string(1, '\0') + "abcde";
  dir.Put("fits.png", PngFile(5, 3, 8, 0, rows));
  ASSERT_EQ(png.OpenForRead((dir / "fits.png").c_str()), 1);
  ASSERT_EQ(png.LoadImage(), 1);
  ASSERT_EQ(png.ReadScanLine(0, line), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(line.GetData()), 5), "abcde");
}

// Interlaced images are put together whole before their first row: the rows
// equal those of the same picture stored plainly, 5-6-5 and transparency
// included.
TEST_F(PngTest, InterlacedRowsEqualPlainOnes) {
  struct Kind {
    const char* name;
    int depth, colorType;
    size_t bytes;
    std::string extra;
    ImgPixelFormat format;
  };
  const std::vector<Kind> kinds = {
      {"16-bit 5-6-5", 16, 2, 6, PngChunk("sBIT", std::string("\x05\x06\x05", 3)), PF_BIT16},
      {"grey with transparency", 8, 0, 1, PngChunk("tRNS", std::string("\0\x07", 2)), PF_BIT32},
      {"RGB", 8, 2, 3, "", PF_BIT24},
  };
  for (const Kind& k : kinds) {
    for (uint32_t width : {1u, 6u, 13u}) {
      const uint32_t height = width + 4;
      SCOPED_TRACE(std::string(k.name) + ", width " + std::to_string(width));
      std::string pixels;
      for (size_t i = 0; i < size_t(width) * height * k.bytes; ++i)
        pixels += static_cast<char>((i * 37 + i / 5) % 251);
      dir.Put("plain.png", PngFile(width, height, k.depth, k.colorType, PngRaw(pixels, width, height, k.bytes, false), k.extra));
      dir.Put("adam7.png",
              PngFile(width, height, k.depth, k.colorType, PngRaw(pixels, width, height, k.bytes, true), k.extra, true));
      CImgFilePng plain, adam7;
      ASSERT_EQ(plain.OpenForRead((dir / "plain.png").c_str()), 1);
      ASSERT_EQ(adam7.OpenForRead((dir / "adam7.png").c_str()), 1);
      ASSERT_EQ(plain.LoadImage(), 1);
      ASSERT_EQ(adam7.LoadImage(), 1);
      EXPECT_EQ(adam7.GetInterlace(), 1);
      ASSERT_EQ(adam7.GetPixelFormat(), k.format);
      ASSERT_EQ(plain.GetPixelFormat(), k.format);
      CImgScanLine a, b;
      for (uint32_t y = 0; y < height; ++y) {
        ASSERT_EQ(plain.ReadScanLine(y, a), static_cast<long>(plain.GetWidthBytes()));
        ASSERT_EQ(adam7.ReadScanLine(y, b), a.GetSize());
        ASSERT_EQ(std::memcmp(a.GetData(), b.GetData(), static_cast<size_t>(a.GetSize())), 0) << "row " << y;
      }
      EXPECT_EQ(adam7.ReadScanLine(height, b), -1);
    }
  }
}

TEST_F(PngTest, BrokenHeadersAndChunksFail) {
  std::string rows;
  for (int r = 0; r < 2; ++r) rows += std::string(1, '\0') + "xyz";
  const std::string good = PngFile(3, 2, 8, 0, rows);
  struct Case {
    const char* what;
    std::string bytes;
    bool opens;
  };
  std::string badCrc = good;
  badCrc[29] ^= 1;  // IHDR's CRC
  std::string badDepth = good;
  badDepth[24] = 3;  // bit depth 3
  badDepth.replace(29, 4, PngBE32(PngCrc(badDepth.substr(12, 17))));
  std::string badType = good;
  badType[25] = 5;  // colour type 5
  badType.replace(29, 4, PngBE32(PngCrc(badType.substr(12, 17))));
  // A stored block whose length check fails, under a correct chunk CRC.
  std::string badZlib = good;
  badZlib[46] ^= 0x01;
  const size_t idatLength = static_cast<unsigned char>(good[36]);
  badZlib.replace(41 + idatLength, 4, PngBE32(PngCrc(badZlib.substr(37, 4 + idatLength))));
  const std::vector<Case> cases = {
      {"not a PNG", "GIF89a and more bytes here", false},
      {"empty", "", false},
      {"IHDR CRC", badCrc, false},
      {"bit depth 3", badDepth, false},
      {"colour type 5", badType, false},
      {"image data not inflatable", badZlib, true},
      {"no IHDR", std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IEND", ""), false},
      {"palette image without PLTE", PngFile(3, 2, 8, 3, rows), false},
      // Found by the fuzzer: a text chunk stating 2 GB in a 77-byte file
      // made libpng allocate them before reading.
      {"text chunk longer than the file",
       std::string("\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00"
                   "\x06\x00\x00\x00\x04\x10\x02\x00\x00\x00\x72\xf6\x05\x57\x00\x00\x00\x03\x73"
                   "\x69\x54\x58\x74\x06\x05\x36\x0b\x8d\x80\x78\x9c\x1d\x8a\x74\x45\x58\x74\xa1"
                   "\x11\xc0\x30\x21\xc4\x3e\xac\x30\x30\x30\x20\xc0\x30\xb0\xe2\x0a\x38\x89\x60"
                   "\x82",
                   77),
       false},
      {"text chunk of 100 MB", good.substr(0, 33) + PngBE32(100000000) + "tEXtTitle" + std::string(40, 'x'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir.Put("bad.png", c.bytes);
    CImgFilePng png;
    VtGetErrorMsgObj()->Clear();
    const int opened = png.OpenForRead((dir / "bad.png").c_str());
    ASSERT_EQ(opened != 0, c.opens);
    if (std::string(c.what).find("text chunk") == 0) {
      EXPECT_NE(VtGetErrorMsgObj()->GetMessage().str().find("past the end of the file"), std::string::npos)
          << VtGetErrorMsgObj()->GetMessage().str();
    }
    if (!opened) continue;
    ASSERT_EQ(png.LoadImage(), 1);
    CImgScanLine line;
    EXPECT_EQ(png.ReadScanLine(0, line), -1);
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage());
  }
}

TEST_F(PngTest, WritingProtocol) {
  // Rows in order only, each at least a row long, no more than the height.
  CImgFilePng png;
  ASSERT_EQ(png.OpenForWrite((dir / "w.png").c_str()), 1);
  png.SetWidth(10);
  png.SetHeight(2);
  png.SetPixelFormat(PF_BIT24);
  CImgScanLine early(PF_BIT24, 30);
  EXPECT_EQ(png.WriteScanLine(0, early), -1) << "a row before the header";
  ASSERT_EQ(png.SaveImage(), 1);
  EXPECT_EQ(png.SaveImage(), -1) << "a second header";
  EXPECT_EQ(png.GetWidthBytes(), 30u);
  CImgScanLine shortLine(PF_BIT24, 29), line(PF_BIT24, 34);
  EXPECT_EQ(png.WriteScanLine(0, shortLine), -1);
  EXPECT_EQ(png.WriteScanLine(1, line), -1) << "row 1 before row 0";
  EXPECT_EQ(png.WriteScanLine(0, line), 34);
  EXPECT_EQ(png.WriteScanLine(1, line), 34);
  EXPECT_EQ(png.WriteScanLine(2, line), -1) << "past the height";
  png.Close();
  EXPECT_TRUE(png.WriteComplete());
  GdalImage g;
  ASSERT_TRUE(GdalReadNative(dir / "w.png", g));
  EXPECT_EQ(g.height, 2);

  // No header, or missing rows: the file is not completed, and Close says so.
  ASSERT_EQ(png.OpenForWrite((dir / "none.png").c_str()), 1);
  png.Close();
  EXPECT_FALSE(png.WriteComplete());
  ASSERT_EQ(png.OpenForWrite((dir / "short.png").c_str()), 1);
  ASSERT_EQ(png.SaveImage(), 1);
  ASSERT_EQ(png.WriteScanLine(0, line), 34);
  png.Close();
  EXPECT_FALSE(png.WriteComplete());

  // Formats PNG cannot hold here, and sizes it cannot hold.
  for (ImgPixelFormat format : {PF_BIT48, PF_BIT64, PF_INT32, PF_FLOAT32, PF_FLOAT64}) {
    ASSERT_EQ(png.OpenForWrite((dir / "f.png").c_str()), 1);
    png.SetPixelFormat(format);
    EXPECT_EQ(png.SaveImage(), -1) << format;
    png.Close();
  }
  for (unsigned long width : {0ul, 1ul << 25}) {
    ASSERT_EQ(png.OpenForWrite((dir / "z.png").c_str()), 1);
    png.SetPixelFormat(PF_BIT8);
    png.SetWidth(width);
    png.SetHeight(1);
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(png.SaveImage(), -1) << width;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage());
    png.Close();
  }
  EXPECT_EQ(png.OpenForWrite((dir / "no/such/dir/x.png").c_str()), 0);
  EXPECT_EQ(png.SaveImage(), -1);
}

TEST_F(PngTest, HeaderChunksWritten) {
  // 8 bits with a 256-entry palette: indexed with PLTE; with another palette
  // size: grey with sBIT 8; 16 bits: RGB of 16-bit samples marked 5, 6, 5.
  const std::string indexed = Bytes(Write("p.png", PF_BIT8, 7, 3, 256));
  EXPECT_EQ(indexed[25], 3);
  EXPECT_NE(indexed.find("PLTE"), std::string::npos);
  const std::string grey = Bytes(Write("g.png", PF_BIT8, 7, 3, 100));
  EXPECT_EQ(grey[25], 0);
  EXPECT_EQ(grey.find("PLTE"), std::string::npos);
  const size_t sbit = grey.find("sBIT");
  ASSERT_NE(sbit, std::string::npos);
  EXPECT_EQ(grey[sbit + 4], 8);
  const std::string rgb565 = Bytes(Write("s.png", PF_BIT16, 7, 3));
  EXPECT_EQ(rgb565[24], 16);
  EXPECT_EQ(rgb565[25], 2);
  const size_t s565 = rgb565.find("sBIT");
  ASSERT_NE(s565, std::string::npos);
  EXPECT_EQ(rgb565.substr(s565 + 4, 3), std::string("\x05\x06\x05", 3));

  // The text chunks, as GDAL reports them.
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen((dir / "s.png").c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  EXPECT_STREQ(GDALGetMetadataItem(ds, "Title", nullptr), "Veltram");
  EXPECT_NE(GDALGetMetadataItem(ds, "Author", nullptr), nullptr);
  EXPECT_STREQ(GDALGetMetadataItem(ds, "Description", nullptr), "A png file out put by Veltram.");
  GDALClose(ds);
  EXPECT_NE(rgb565.find("zTXtDescription"), std::string::npos);
}

TEST_F(PngTest, ReadingProtocol) {
  const std::string path = Write("r.png", PF_BIT8, 5, 4);
  CImgFilePng png;
  CImgScanLine line;
  EXPECT_EQ(png.LoadImage(), -1) << "nothing open";
  EXPECT_EQ(png.ReadScanLine(0, line), -1);
  ASSERT_EQ(png.OpenForRead(path.c_str()), 1);
  EXPECT_EQ(png.ReadScanLine(0, line), -1) << "before LoadImage";
  ASSERT_EQ(png.LoadImage(), 1);
  ASSERT_EQ(png.LoadImage(), 1) << "a second load before any row changes nothing";
  EXPECT_EQ(png.GetPixelFormat(), PF_BIT8);
  EXPECT_EQ(png.GetWidthBytes(), 5u);
  // Rows come in file order whatever the row asked; the line is sized.
  line.SetSize(1000);
  for (long r = 0; r < 4; ++r) {
    ASSERT_EQ(png.ReadScanLine(99, line), 5);
    ASSERT_EQ(line.GetSize(), 5);
    EXPECT_EQ(line[1], static_cast<BYTE>(3 + r));
  }
  EXPECT_EQ(png.ReadScanLine(4, line), -1);
  EXPECT_EQ(png.WriteScanLine(0, line), -1) << "no writing while reading";
  png.Close();
  // The properties stay after Close; the object opens again.
  EXPECT_EQ(png.GetWidth(), 5u);
  ASSERT_EQ(png.OpenForRead(path.c_str()), 1);
  ASSERT_EQ(png.LoadImage(), 1);
  ASSERT_EQ(png.ReadScanLine(0, line), 5);
  EXPECT_EQ(png.OpenForRead((dir / "missing.png").c_str()), 0);
  png.SetQuality(180);
  EXPECT_EQ(png.GetQuality(), 100);
  png.SetQuality(40);
  EXPECT_EQ(png.GetQuality(), 40);
}

}  // namespace

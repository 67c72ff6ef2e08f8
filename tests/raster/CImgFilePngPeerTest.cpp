// The PNG driver against independent readers and writers: ImageMagick and
// GDAL write PNGs of every colour type and depth, with transparency and
// interlaced; our rows must equal GDAL's pixels. Files and streams we write
// must read back in GDAL as we wrote them.
#include <gtest/gtest.h>

#include <cpl_vsi.h>
#include <gdal.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "platform/vtelem/CGeoImgBlock.h"
#include "raster/CImgFilePng.h"
#include "support/PngFixtures.h"
#include "support/ScratchDir.h"

namespace {

int Shell(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

struct MadeFile {
  const char* name;
  std::string command;  // makes $F from the plasma picture; empty for GDAL-made files
  int depth, colorType;
  bool trns, interlaced;
  ImgPixelFormat format;
};

// Reads `path` with our driver and `oracle` (the same pixels) with GDAL and
// compares every row.
void ExpectRowsAsGdal(const std::string& path, const MadeFile& m, const std::string& oracle = "") {
  SCOPED_TRACE(m.name);
  CImgFilePng png;
  ASSERT_EQ(png.OpenForRead(path.c_str()), 1);
  ASSERT_EQ(png.LoadImage(), 1);
  ASSERT_EQ(png.GetBitDepth(), m.depth) << "the maker wrote another depth";
  ASSERT_EQ(png.GetColorType(), m.colorType) << "the maker wrote another colour type";
  ASSERT_EQ(png.HasTransparency(), m.trns);
  ASSERT_EQ(png.GetInterlace() != 0, m.interlaced);
  EXPECT_EQ(png.GetPixelFormat(), m.format);
  GdalImage g;
  ASSERT_TRUE(GdalReadNative(oracle.empty() ? path : oracle, g));
  ASSERT_EQ(png.GetWidth(), static_cast<unsigned long>(g.width));
  ASSERT_EQ(png.GetHeight(), static_cast<unsigned long>(g.height));
  if (m.colorType == 3) {
    ASSERT_EQ(static_cast<size_t>(png.m_Palette.GetSize()), g.colors.size());
    for (size_t i = 0; i < g.colors.size(); ++i) {
      const PALETTEENTRY e = png.m_Palette[static_cast<int>(i)];
      EXPECT_EQ(e.peRed, g.colors[i].c1);
      EXPECT_EQ(e.peGreen, g.colors[i].c2);
      EXPECT_EQ(e.peBlue, g.colors[i].c3);
      EXPECT_EQ(e.peFlags, 0);
    }
  }
  const PngHeader header{m.depth, m.colorType, m.trns};
  CImgScanLine line;  // sized by the driver
  int transparent = 0;
  for (int y = 0; y < g.height; ++y) {
    ASSERT_EQ(png.ReadScanLine(y, line), static_cast<long>(png.GetWidthBytes())) << "row " << y;
    const std::vector<unsigned char> want = ExpectedRow(g, y, header);
    ASSERT_EQ(want.size(), png.GetWidthBytes()) << "row " << y;
    ASSERT_EQ(std::vector<unsigned char>(line.GetData(), line.GetData() + line.GetSize()), want) << "row " << y;
    for (int x = 0; m.trns && x < g.width; ++x) transparent += line[4 * x + 3] == 0;
  }
  if (m.trns) {
    EXPECT_GT(transparent, 0) << "the file has no transparent pixel to check";
  }
  EXPECT_LT(png.ReadScanLine(g.height, line), 0) << "a row past the last";
}

class PngPeerTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(PngPeerTest, FilesOfImageMagickAndGdalReadAsGdalReadsThem) {
  const std::string plasma = "convert -size 37x13 -seed 1 plasma:fractal ";
  const std::string grey = plasma + "-colorspace Gray ";
  const std::string alpha = " \\( -size 37x13 gradient: \\) -alpha off -compose CopyOpacity -composite ";
  const std::string white = " -fill white -draw \"rectangle 2,1 9,4\" ";
  const auto type = [](int ct, int depth) {
    return " -define png:color-type=" + std::to_string(ct) + " -define png:bit-depth=" + std::to_string(depth) + " ";
  };
  const std::vector<MadeFile> files = {
      {"grey8", grey + type(0, 8), 8, 0, false, false, PF_BIT8},
      {"grey16", grey + "-depth 16" + type(0, 16), 16, 0, false, false, PF_BIT8},
      {"grey1", grey + "-depth 1" + type(0, 1), 1, 0, false, false, PF_BIT8},
      {"grey2", grey + "-depth 2" + type(0, 2), 2, 0, false, false, PF_BIT8},
      {"grey4", grey + "-depth 4" + type(0, 4), 4, 0, false, false, PF_BIT8},
      {"rgb8", plasma + "PNG24:", 8, 2, false, false, PF_BIT24},
      {"rgb16", plasma + "-depth 16 PNG48:", 16, 2, false, false, PF_BIT24},
      {"rgba8", plasma + alpha + "PNG32:", 8, 6, false, false, PF_BIT32},
      {"rgba16", plasma + alpha + "-depth 16 PNG64:", 16, 6, false, false, PF_BIT32},
      {"greyalpha", grey + alpha + type(4, 8), 8, 4, false, false, PF_BIT32},
      {"pal8", plasma + "-colors 200 PNG8:", 8, 3, false, false, PF_BIT8},
      {"pal8trns", plasma + white + "-colors 50 -transparent white PNG8:", 8, 3, true, false, PF_BIT32},
      {"rgbtrns", plasma + white + "-transparent white -depth 8" + type(2, 8), 8, 2, true, false, PF_BIT32},
      {"rgb8i", plasma + "-interlace PNG PNG24:", 8, 2, false, true, PF_BIT24},
      {"pal8i", plasma + "-colors 16 -interlace PNG PNG8:", 8, 3, false, true, PF_BIT8},
      {"grey2i", grey + "-depth 2 -interlace PNG" + type(0, 2), 2, 0, false, true, PF_BIT8},
  };
  for (const MadeFile& m : files) {
    const std::string path = dir / (std::string(m.name) + ".png");
    ASSERT_EQ(Shell(m.command + path), 0) << m.command;
    ExpectRowsAsGdal(path, m);
  }

  // GDAL before 3.10.1 misreads 16-bit interlaced files (its pull request
  // 11553): the oracle is the same picture not interlaced, which ImageMagick
  // says holds the same pixels.
  ASSERT_EQ(Shell(plasma + "-depth 16 -interlace PNG PNG48:" + (dir / "rgb16i.png")), 0);
  ASSERT_EQ(Shell("compare -metric AE " + (dir / "rgb16i.png") + " " + (dir / "rgb16.png") + " null:"), 0);
  ExpectRowsAsGdal(dir / "rgb16i.png", {"rgb16i", "", 16, 2, false, true, PF_BIT24}, dir / "rgb16.png");

  // Palettes of 1, 2 and 4 bits: GDAL packs ImageMagick's few colours.
  for (int depth : {1, 2, 4}) {
    const std::string name = "pal" + std::to_string(depth), few = dir / (name + "-8.png");
    ASSERT_EQ(Shell(plasma + "-colors " + std::to_string(1 << depth) + " PNG8:" + few), 0);
    ASSERT_EQ(Shell("gdal_translate -q -of PNG -co NBITS=" + std::to_string(depth) + " " + few + " " +
                    (dir / (name + ".png"))),
              0);
    ExpectRowsAsGdal(dir / (name + ".png"), {name.c_str(), "", depth, 3, false, false,
                                             depth == 2 ? PF_BIT8 : static_cast<ImgPixelFormat>(depth)});
  }

  // GDAL writes transparency for a grey band's no-data value and for a
  // colour table with alpha; and 2-bit grey with NBITS.
  ASSERT_EQ(Shell(grey + type(0, 8) + (dir / "g.png")), 0);
  ASSERT_EQ(Shell("gdal_translate -q -of PNG -a_nodata 128 " + (dir / "g.png") + " " + (dir / "gtrns.png")), 0);
  ExpectRowsAsGdal(dir / "gtrns.png", {"gtrns", "", 8, 0, true, false, PF_BIT32});
  ASSERT_EQ(Shell("gdal_translate -q -of PNG -co NBITS=2 -scale 0 255 0 3 " + (dir / "g.png") + " " +
                  (dir / "g2trns.png") + " -a_nodata 1"),
            0);
  ExpectRowsAsGdal(dir / "g2trns.png", {"g2trns", "", 2, 0, true, false, PF_BIT32});
  ASSERT_EQ(Shell(plasma + white + "-depth 16 PNG48:" + (dir / "rgb16w.png")), 0);
  ASSERT_EQ(Shell("gdal_translate -q -of PNG -a_nodata 65535 " + (dir / "rgb16w.png") + " " + (dir / "rgb16trns.png")),
            0);
  ExpectRowsAsGdal(dir / "rgb16trns.png", {"rgb16trns", "", 16, 2, true, false, PF_BIT32});
}

std::vector<unsigned char> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<unsigned char> v(n);
  for (auto& b : v) b = static_cast<unsigned char>(gen());
  return v;
}

// Writes `rows` (top row first, each `rowBytes` long) through the file interface.
void WriteOurs(const std::string& path, ImgPixelFormat format, int width, int height,
               const std::vector<PALETTEENTRY>& palette, const std::vector<unsigned char>& rows, size_t rowBytes) {
  CImgFilePng png;
  ASSERT_EQ(png.OpenForWrite(path.c_str()), 1);
  png.SetWidth(static_cast<unsigned long>(width));
  png.SetHeight(static_cast<unsigned long>(height));
  png.SetPixelFormat(format);
  for (const PALETTEENTRY& e : palette) png.m_Palette.Add(e);
  ASSERT_EQ(png.SaveImage(), 1);
  ASSERT_EQ(png.GetWidthBytes(), rowBytes);
  CImgScanLine line(format, static_cast<long>(rowBytes));
  for (int r = 0; r < height; ++r) {
    std::memcpy(line.GetData(), rows.data() + r * rowBytes, rowBytes);
    ASSERT_EQ(png.WriteScanLine(r, line), static_cast<long>(rowBytes));
  }
  png.Close();
  EXPECT_TRUE(png.WriteComplete());
}

// Sample x of a packed row of 1 or 4 bits.
unsigned Index(const unsigned char* row, int x, int bits) {
  return bits == 4 ? ((x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4) : (row[x / 8] >> (7 - x % 8)) & 1;
}

TEST_F(PngPeerTest, FilesWeWriteReadBackInGdalAndInOurs) {
  for (ImgPixelFormat format : {PF_BIT1, PF_BIT4, PF_BIT8, PF_BIT16, PF_BIT24, PF_BIT32}) {
    for (int width : {1, 3, 37}) {
      for (int paletteSize : {0, 100, 256}) {
        const int bits = static_cast<int>(format);
        if (bits > 8 && paletteSize) continue;
        SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width) + ", palette " +
                     std::to_string(paletteSize));
        const int height = 5;
        const size_t rowBytes = (static_cast<size_t>(width) * bits + 7) / 8;
        std::vector<unsigned char> rows = RandomBytes(rowBytes * height, bits * 1000 + width);
        // Bits after the last pixel of a packed row are no pixel's: zero, as PNG keeps them.
        const int spare = static_cast<int>(rowBytes * 8) - width * bits;
        for (int r = 0; r < height && spare; ++r) rows[(r + 1) * rowBytes - 1] &= static_cast<unsigned char>(0xFF << spare);
        std::vector<PALETTEENTRY> palette;
        for (int i = 0; i < paletteSize; ++i) palette.push_back(PALETTEENTRY{BYTE(i * 7), BYTE(255 - i), BYTE(i / 3), 0});
        const std::string path = dir / "ours.png";
        WriteOurs(path, format, width, height, palette, rows, rowBytes);
        GdalImage g;
        ASSERT_TRUE(GdalReadNative(path, g));
        ASSERT_EQ(g.width, width);
        ASSERT_EQ(g.height, height);
        const bool indexed = bits < 8 || (bits == 8 && paletteSize == 256);
        if (indexed) {
          // The palette, cut to what the depth can index; a grey ramp without one.
          const size_t entries = paletteSize ? std::min(paletteSize, 1 << bits) : size_t(1) << bits;
          ASSERT_EQ(g.colors.size(), entries);
          for (size_t i = 0; i < entries; ++i) {
            if (paletteSize) {
              EXPECT_EQ(g.colors[i].c1, palette[i].peRed);
              EXPECT_EQ(g.colors[i].c2, palette[i].peGreen);
              EXPECT_EQ(g.colors[i].c3, palette[i].peBlue);
            } else {
              EXPECT_EQ(g.colors[i].c1, static_cast<short>(i * 255 / (entries - 1)));
            }
          }
        } else {
          EXPECT_TRUE(g.colors.empty());
        }
        for (int y = 0; y < height; ++y) {
          const unsigned char* row = rows.data() + y * rowBytes;
          for (int x = 0; x < width; ++x) {
            if (bits < 8) {
              ASSERT_EQ(g.At(x, y, 0), Index(row, x, bits)) << x << "," << y;
            } else if (bits == 8) {
              ASSERT_EQ(g.At(x, y, 0), row[x]) << x << "," << y;
            } else if (bits == 16) {
              // 5-6-5 samples fill the 16 bits; their top bits are the values written.
              const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
              ASSERT_EQ(g.bands, 3);
              EXPECT_EQ(g.At(x, y, 0) >> 11, v >> 11);
              EXPECT_EQ(g.At(x, y, 1) >> 10, (v >> 5) & 63);
              EXPECT_EQ(g.At(x, y, 2) >> 11, v & 31);
            } else {
              const int bands = bits / 8;
              ASSERT_EQ(g.bands, bands);
              for (int c = 0; c < bands; ++c) ASSERT_EQ(g.At(x, y, c), row[bands * x + c]) << x << "," << y;
            }
          }
        }

        // Our reader gives the rows back: indexes and 5-6-5 as written,
        // colour blue first.
        CImgFilePng back;
        ASSERT_EQ(back.OpenForRead(path.c_str()), 1);
        ASSERT_EQ(back.LoadImage(), 1);
        EXPECT_EQ(back.GetPixelFormat(), format);
        CImgScanLine line;
        for (int y = 0; y < height; ++y) {
          ASSERT_EQ(back.ReadScanLine(y, line), static_cast<long>(rowBytes));
          std::vector<unsigned char> want(rows.begin() + y * rowBytes, rows.begin() + (y + 1) * rowBytes);
          const int step = bits / 8;
          if (bits >= 24)
            for (int x = 0; x < width; ++x) std::swap(want[step * x], want[step * x + 2]);
          EXPECT_EQ(std::vector<unsigned char>(line.GetData(), line.GetData() + rowBytes), want) << "row " << y;
        }
      }
    }
  }
}

// GDAL decodes a stream held in memory.
bool GdalDecode(const std::vector<unsigned char>& stream, GdalImage& g) {
  const std::string name = "/vsimem/vtfmt-png-block.png";
  VSILFILE* f = VSIFileFromMemBuffer(name.c_str(), const_cast<GByte*>(stream.data()), stream.size(), FALSE);
  if (!f) return false;
  VSIFCloseL(f);
  const bool ok = GdalReadNative(name, g);
  VSIUnlink(name.c_str());
  return ok;
}

TEST_F(PngPeerTest, OutputBlockGivesTheWholeStreamAndNothingMore) {
  for (ImgPixelFormat format : {PF_BIT1, PF_BIT8, PF_BIT24, PF_BIT32}) {
    for (long width : {1L, 5L, 300L}) {
      const long height = width == 300 ? 200 : 1 + width;
      SCOPED_TRACE(std::to_string(format) + " bits, " + std::to_string(width) + " x " + std::to_string(height));
      CGeoImgBlock block(format, width, height);
      ASSERT_EQ(block.m_nWidth, width);
      const std::vector<unsigned char> bytes =
          RandomBytes(static_cast<size_t>(block.m_nWidthBytes) * height, static_cast<unsigned>(width));
      for (long r = 0; r < height; ++r)
        std::memcpy(block.GetRow(r), bytes.data() + r * block.m_nWidthBytes, static_cast<size_t>(block.m_nWidthBytes));
      CImgFilePng png;
      const long length = png.OutputBlock(nullptr, &block);
      ASSERT_GT(length, 0);
      // The buffer holds the stream and a fence after it, which stays untouched.
      std::vector<unsigned char> target(static_cast<size_t>(length) + 64, 0xA5);
      ASSERT_EQ(png.OutputBlock(target.data(), &block), length);
      for (size_t i = static_cast<size_t>(length); i < target.size(); ++i) ASSERT_EQ(target[i], 0xA5);
      // The stream ends with its end chunk.
      ASSERT_GE(length, 12);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(target.data()) + length - 8, 4), "IEND");
      target.resize(static_cast<size_t>(length));
      GdalImage g;
      ASSERT_TRUE(GdalDecode(target, g));
      ASSERT_EQ(g.width, width);
      ASSERT_EQ(g.height, height);
      for (long y = 0; y < height; ++y) {
        const unsigned char* row = bytes.data() + y * block.m_nWidthBytes;
        for (long x = 0; x < width; ++x) {
          if (format == PF_BIT1) {
            ASSERT_EQ(g.At(x, y, 0), Index(row, x, 1));
          } else {
            const int bands = format / 8;
            for (int c = 0; c < bands; ++c) ASSERT_EQ(g.At(x, y, c), row[bands * x + c]) << x << "," << y;
          }
        }
      }
    }
  }
  // A 1 x 1 block is a stream of its real length, far below 10240 bytes.
  CGeoImgBlock one(PF_BIT24, 1, 1);
  CImgFilePng png;
  const long length = png.OutputBlock(nullptr, &one);
  EXPECT_GT(length, 50);
  EXPECT_LT(length, 400);
  // A format PNG cannot hold, and no block.
  CGeoImgBlock deep(PF_BIT48, 2, 2);
  EXPECT_EQ(png.OutputBlock(nullptr, &deep), -2);
  EXPECT_EQ(png.OutputBlock(nullptr, nullptr), 0);
}

TEST_F(PngPeerTest, OutputDirectWritesDeviceBitmapsTopRowFirst) {
  CDC dc;
  ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
  const int width = 5, height = 3;
  // 24 bits, top row first, rows padded to 2 bytes: pixel (x, y) = (x, 10y, 99) as blue, green, red.
  std::vector<BYTE> bits;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bits.insert(bits.end(), {BYTE(8 * x), BYTE(40 * y), BYTE(96)});
    bits.push_back(0);
  }
  CBitmap rgb;
  ASSERT_TRUE(rgb.CreateBitmap(width, height, 1, 24, bits.data()));
  for (ImgPixelFormat format : {PF_BIT24, PF_BIT32, PF_BIT16}) {
    SCOPED_TRACE(format);
    CImgFilePng png;
    const std::string path = dir / "direct.png";
    ASSERT_EQ(png.OutputDirect(path.c_str(), &dc, &rgb, format, CRect2D()), 1);
    GdalImage g;
    ASSERT_TRUE(GdalReadNative(path, g));
    ASSERT_EQ(g.width, width);
    ASSERT_EQ(g.height, height);
    ASSERT_EQ(g.bands, format == PF_BIT32 ? 4 : 3);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        if (format == PF_BIT16) {
          // The device's 5-5-5 pixels, green widened to 6 bits, fill 16-bit samples.
          const unsigned g5 = (40 * y) >> 3;
          EXPECT_EQ(g.At(x, y, 0) >> 11, 96 >> 3) << x << "," << y;
          EXPECT_EQ(g.At(x, y, 1) >> 10, (g5 << 1) | (g5 >> 4)) << x << "," << y;
          EXPECT_EQ(g.At(x, y, 2) >> 11, x) << x << "," << y;
        } else {
          EXPECT_EQ(g.At(x, y, 0), 96) << x << "," << y;
          EXPECT_EQ(g.At(x, y, 1), 40 * y) << x << "," << y;
          EXPECT_EQ(g.At(x, y, 2), 8 * x) << x << "," << y;
        }
        if (format == PF_BIT32) {
          EXPECT_EQ(g.At(x, y, 3), 255) << "opaque";
        }
      }
  }

  // 8 bits with a colour table set through the device: the PNG's palette.
  std::vector<BYTE> indexes;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) indexes.push_back(BYTE(y * width + x));
    indexes.push_back(0);
  }
  CBitmap indexed;
  ASSERT_TRUE(indexed.CreateBitmap(width, height, 1, 8, indexes.data()));
  dc.SelectObject(&indexed);
  RGBQUAD table[16];
  for (int i = 0; i < 16; ++i) table[i] = RGBQUAD{BYTE(i), BYTE(2 * i), BYTE(200 + i), 0};
  ASSERT_EQ(SetDIBColorTable(dc.GetSafeHdc(), 0, 16, table), 16u);
  CImgFilePng png;
  ASSERT_EQ(png.OutputDirect((dir / "direct8.png").c_str(), &dc, &indexed, PF_BIT8, CRect2D()), 1);
  GdalImage g;
  ASSERT_TRUE(GdalReadNative(dir / "direct8.png", g));
  ASSERT_EQ(g.colors.size(), 256u);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) EXPECT_EQ(g.At(x, y, 0), y * width + x) << x << "," << y;
  EXPECT_EQ(g.colors[7].c1, 207);  // red
  EXPECT_EQ(g.colors[7].c2, 14);
  EXPECT_EQ(g.colors[7].c3, 7);

  // No bitmap, or a path that cannot be created.
  EXPECT_EQ(png.OutputDirect((dir / "none.png").c_str(), &dc, nullptr, PF_BIT24, CRect2D()), -1);
  EXPECT_EQ(png.OutputDirect((dir / "no/such/dir.png").c_str(), &dc, &rgb, PF_BIT24, CRect2D()), -1);
}

}  // namespace

// The BMP driver against independent readers and writers: GDAL writes and
// reads bitmaps, ImageMagick writes 1-, 4-bit, OS/2 and run-length files and
// decodes them. Every row we read must equal theirs.
#include <gtest/gtest.h>

#include <gdal.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "raster/CImgFileBmp.h"
#include "support/GdalRaster.h"
#include "support/ScratchDir.h"

namespace {

int Shell(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

// Pixel x of a packed row of 1, 4 or 8 bits.
unsigned Index(const unsigned char* row, int x, unsigned bits) {
  if (bits == 8) return row[x];
  if (bits == 4) return (x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
  return (row[x / 8] >> (7 - x % 8)) & 1;
}

// Every row of an open, loaded bitmap in file order.
std::vector<std::vector<unsigned char>> OurRows(CImgFileBmp& bmp, const std::vector<long>& order) {
  std::vector<std::vector<unsigned char>> rows(bmp.GetHeight());
  CImgScanLine line(bmp.GetPixelFormat(), static_cast<long>(bmp.GetWidthBytes()));
  for (long r : order) {
    EXPECT_EQ(bmp.ReadScanLine(r, line), line.GetSize()) << "row " << r;
    rows[static_cast<size_t>(r)].assign(line.GetData(), line.GetData() + line.GetSize());
  }
  return rows;
}
std::vector<long> InOrder(unsigned long height) {
  std::vector<long> order(height);
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<long>(i);
  return order;
}
// Rows last first, then the rest shuffled: exercises the row-start table.
std::vector<long> Scrambled(unsigned long height, unsigned seed) {
  std::vector<long> order = InOrder(height);
  std::reverse(order.begin(), order.end());
  std::shuffle(order.begin() + 1, order.end(), std::mt19937(seed));
  return order;
}

// Our reading of `path` equals GDAL's, pixel by pixel and colour by colour.
void ExpectSameAsGdal(const std::string& path, unsigned bits) {
  SCOPED_TRACE(path);
  Picture theirs;
  ASSERT_TRUE(GdalRead(path, theirs));
  CImgFileBmp bmp;
  ASSERT_EQ(bmp.OpenForRead(path.c_str()), 1);
  ASSERT_EQ(bmp.LoadImage(), 1);
  ASSERT_EQ(bmp.GetPixelFormat(), static_cast<ImgPixelFormat>(bits));
  ASSERT_EQ(bmp.GetWidth(), static_cast<unsigned long>(theirs.width));
  ASSERT_EQ(bmp.GetHeight(), static_cast<unsigned long>(theirs.height));
  const bool os2 = bmp.m_wHeaderKind == CImgFileBmp::kOs2Header;
  if (bits <= 8) {
    ASSERT_GE(static_cast<size_t>(bmp.m_Palette.GetSize()), theirs.colors.size());
    for (size_t i = 0; i < theirs.colors.size(); ++i) {
      const PALETTEENTRY e = bmp.m_Palette[static_cast<int>(i)];
      // Windows entries are blue, green, red; OS/2 ones red, green, blue.
      const int red = os2 ? e.peRed : e.peBlue, blue = os2 ? e.peBlue : e.peRed;
      EXPECT_EQ(red, theirs.colors[i].c1) << "colour " << i;
      EXPECT_EQ(e.peGreen, theirs.colors[i].c2) << "colour " << i;
      EXPECT_EQ(blue, theirs.colors[i].c3) << "colour " << i;
    }
  }
  const auto rows = OurRows(bmp, Scrambled(bmp.GetHeight(), bits));
  for (int r = 0; r < theirs.height; ++r) {
    const int y = bmp.m_dwTopDown ? r : theirs.height - 1 - r;
    const unsigned char* row = rows[static_cast<size_t>(r)].data();
    for (int x = 0; x < theirs.width; ++x) {
      if (bits <= 8) {
        ASSERT_EQ(Index(row, x, bits), theirs.At(x, y, 0)) << "row " << r << " x " << x;
      } else {
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(row[3 * x + 2 - c], theirs.At(x, y, c)) << "row " << r << " x " << x;
      }
    }
  }
}

Picture RandomPicture(int width, int height, int bands, int colors, unsigned seed) {
  std::mt19937 gen(seed);
  Picture p;
  p.width = width;
  p.height = height;
  p.bands = bands;
  p.pixels.resize(static_cast<size_t>(width) * height * bands);
  // Runs of equal pixels beside noise, so encoders use both kinds of code.
  for (size_t i = 0; i < p.pixels.size(); ++i)
    p.pixels[i] = static_cast<unsigned char>((i / 9) % 3 == 0 ? (i / 27) % colors : gen() % colors);
  for (int i = 0; i < colors && bands == 1; ++i)
    p.colors.push_back(GDALColorEntry{static_cast<short>(gen() & 0xFF), static_cast<short>(gen() & 0xFF),
                                      static_cast<short>(gen() & 0xFF), 255});
  return p;
}

class BmpPeerTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(BmpPeerTest, FilesOfGdalAndImageMagickReadAsTheyRead) {
  for (int width : {1, 37}) {
    const std::string p8 = dir / ("p8-" + std::to_string(width) + ".bmp");
    ASSERT_TRUE(GdalWrite(p8, RandomPicture(width, 13, 1, 256, 1)));
    ExpectSameAsGdal(p8, 8);
    const std::string rgb = dir / ("rgb-" + std::to_string(width) + ".bmp");
    ASSERT_TRUE(GdalWrite(rgb, RandomPicture(width, 11, 3, 256, 2)));
    ExpectSameAsGdal(rgb, 24);
  }
  // GDAL writes no 1- or 4-bit bitmaps; ImageMagick picks the depth from the
  // colour count. BMP2 is the 12-byte OS/2 header.
  const std::string plasma = "convert -size 37x13 -seed 1 plasma:fractal ";
  ASSERT_EQ(Shell(plasma + "-colors 16 -type Palette BMP3:" + dir / "p4.bmp"), 0);
  ExpectSameAsGdal(dir / "p4.bmp", 4);
  ASSERT_EQ(Shell(plasma + "-monochrome BMP3:" + dir / "p1.bmp"), 0);
  ExpectSameAsGdal(dir / "p1.bmp", 1);
  ASSERT_EQ(Shell(plasma + "-colors 200 -type Palette BMP2:" + dir / "os2.bmp"), 0);
  ExpectSameAsGdal(dir / "os2.bmp", 8);
}

TEST_F(BmpPeerTest, FilesWeWriteReadBackInGdal) {
  for (unsigned bits : {1u, 4u, 8u, 24u}) {
    for (int width : {1, 3, 31}) {
      SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width));
      const std::string path = dir / "ours.bmp";
      const int height = 5, colors = bits == 24 ? 256 : 1 << bits;
      const Picture p = RandomPicture(width, height, bits == 24 ? 3 : 1, colors, bits * 100 + width);
      CImgFileBmp bmp;
      ASSERT_EQ(bmp.OpenForWrite(path.c_str()), 1);
      bmp.SetWidth(static_cast<unsigned long>(width));
      bmp.SetHeight(height);
      bmp.SetPixelFormat(static_cast<ImgPixelFormat>(bits));
      for (const GDALColorEntry& c : p.colors)
        bmp.m_Palette.Add(PALETTEENTRY{BYTE(c.c3), BYTE(c.c2), BYTE(c.c1), 0});  // blue, green, red
      ASSERT_EQ(bmp.SaveImage(), 1);
      CImgScanLine line(bmp.GetPixelFormat(), static_cast<long>(bmp.GetWidthBytes()) + 3);
      for (int r = 0; r < height; ++r) {  // bottom row first
        const int y = height - 1 - r;
        std::memset(line.GetData(), 0, static_cast<size_t>(line.GetSize()));
        for (int x = 0; x < width; ++x) {
          if (bits == 24) {
            for (int c = 0; c < 3; ++c) line[3 * x + 2 - c] = p.At(x, y, c);
          } else {
            const unsigned v = p.At(x, y, 0), perByte = 8 / bits;
            line[static_cast<int>(x / perByte)] |=
                static_cast<BYTE>(v << (bits * (perByte - 1 - x % perByte)));
          }
        }
        ASSERT_EQ(bmp.WriteScanLine(r, line), line.GetSize());
      }
      bmp.Close();
      Picture back;
      ASSERT_TRUE(GdalRead(path, back));
      EXPECT_EQ(back.pixels, p.pixels);
      ASSERT_EQ(back.colors.size(), p.colors.size());
      for (size_t i = 0; i < p.colors.size(); ++i) {
        EXPECT_EQ(back.colors[i].c1, p.colors[i].c1);
        EXPECT_EQ(back.colors[i].c3, p.colors[i].c3);
      }
      ExpectSameAsGdal(path, bits);
    }
  }
}

// ImageMagick decodes `path` to RGB; our rows mapped through our palette
// must give the same colours.
void ExpectSameColoursAsImageMagick(const std::string& path, const std::string& rgbPath, unsigned bits,
                                    unsigned compression) {
  SCOPED_TRACE(path);
  ASSERT_EQ(Shell("convert " + path + " -depth 8 rgb:" + rgbPath), 0);
  CImgFileBmp bmp;
  ASSERT_EQ(bmp.OpenForRead(path.c_str()), 1);
  ASSERT_EQ(bmp.LoadImage(), 1);
  ASSERT_EQ(bmp.GetCompression(), compression);
  ASSERT_EQ(bmp.GetPixelFormat(), static_cast<ImgPixelFormat>(bits));
  const int width = static_cast<int>(bmp.GetWidth()), height = static_cast<int>(bmp.GetHeight());
  FILE* f = std::fopen(rgbPath.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
  const size_t got = std::fread(rgb.data(), 1, rgb.size() + 1, f);
  std::fclose(f);
  ASSERT_EQ(got, rgb.size());
  for (const auto& order : {Scrambled(bmp.GetHeight(), 7), InOrder(bmp.GetHeight())}) {
    const auto rows = OurRows(bmp, order);
    for (int r = 0; r < height; ++r) {
      const int y = height - 1 - r;
      for (int x = 0; x < width; ++x) {
        const PALETTEENTRY e = bmp.m_Palette[static_cast<int>(Index(rows[size_t(r)].data(), x, bits))];
        const unsigned char* want = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        ASSERT_EQ(e.peBlue, want[0]) << "row " << r << " x " << x;  // entries are blue, green, red
        ASSERT_EQ(e.peGreen, want[1]) << "row " << r << " x " << x;
        ASSERT_EQ(e.peRed, want[2]) << "row " << r << " x " << x;
      }
    }
  }
}

TEST_F(BmpPeerTest, ImageMagickRunLengthFilesDecodeAlike) {
  const std::string plasma = "convert -size 203x41 -seed 3 plasma:fractal -colors 200 -type Palette ";
  ASSERT_EQ(Shell(plasma + "-compress RLE BMP3:" + dir / "r8.bmp"), 0);
  ExpectSameColoursAsImageMagick(dir / "r8.bmp", dir / "r8.rgb", 8, BI_RLE8);
  // The newer header ImageMagick writes by default: 124 bytes before the
  // colour table.
  ASSERT_EQ(Shell(plasma + "-compress RLE BMP:" + dir / "v5.bmp"), 0);
  ExpectSameColoursAsImageMagick(dir / "v5.bmp", dir / "v5.rgb", 8, BI_RLE8);
}

// Codes for one row of 4-bit pixels: runs where pixels alternate (or
// repeat), absolute blocks elsewhere, padded to whole words.
std::string EncodeRle4Row(const std::vector<unsigned char>& px, std::mt19937& gen) {
  std::string out;
  size_t x = 0;
  while (x < px.size()) {
    size_t run = 1;
    while (x + run < px.size() && run < 255 && px[x + run] == px[x + (run & 1)]) ++run;
    if (run >= 4 || px.size() - x < 3) {
      out += static_cast<char>(run);
      out += static_cast<char>(px[x] << 4 | (run > 1 ? px[x + 1] : 0));
      x += run;
      continue;
    }
    const size_t n = std::min<size_t>(px.size() - x, 3 + gen() % 20);
    out += '\0';
    out += static_cast<char>(n);
    std::string block((n + 1) / 2, '\0');
    for (size_t i = 0; i < n; ++i) block[i / 2] |= static_cast<char>(px[x + i] << ((i & 1) ? 0 : 4));
    if (block.size() & 1) block += '\0';
    out += block;
    x += n;
  }
  return out + std::string(2, '\0');
}

TEST_F(BmpPeerTest, OurRunLengthFourBitFixtureDecodesAsImageMagickDoes) {
  const int width = 77, height = 23;
  std::mt19937 gen(11);
  std::string codes;
  for (int r = 0; r < height; ++r) {
    std::vector<unsigned char> px(width);
    for (int x = 0; x < width; ++x)
      px[size_t(x)] = static_cast<unsigned char>(x % 7 < 4 ? (x / 7 + r) % 16 : gen() % 16);
    codes += EncodeRle4Row(px, gen);
  }
  codes += std::string("\0\1", 2);
  std::string palette;
  for (int i = 0; i < 16; ++i) palette += std::string{char(i * 16), char(255 - i * 3), char(i * 5), 0};
  std::string file = "BM";
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) file += static_cast<char>(v >> (8 * i));
  };
  put32(static_cast<uint32_t>(54 + 64 + codes.size()));
  put32(0);
  put32(54 + 64);
  put32(40);
  put32(width);
  put32(height);
  put32(1 | 4 << 16);  // planes, bit count
  put32(BI_RLE4);
  put32(static_cast<uint32_t>(codes.size()));
  for (int i = 0; i < 4; ++i) put32(0);
  dir.Put("r4.bmp", file + palette + codes);
  ExpectSameColoursAsImageMagick(dir / "r4.bmp", dir / "r4.rgb", 4, BI_RLE4);
}

// Run-length rows with position offsets, right within a row and down over
// rows, beside runs and absolute blocks; nothing goes past the width, where
// decoders differ.
std::string EncodeWithOffsets(unsigned bits, int width, int height, std::mt19937& gen) {
  std::string out;
  auto code = [&](int a, int b) {
    out += static_cast<char>(a);
    out += static_cast<char>(b);
  };
  int x = 0;
  for (int r = 0; r < height;) {
    const int left = width - x, pick = static_cast<int>(gen() % 20);
    if (left == 0 || pick == 0) {  // end of row
      code(0, 0);
      ++r, x = 0;
    } else if (pick <= 2) {  // position offset, one in four of them down
      const int dx = static_cast<int>(gen() % static_cast<unsigned>(std::min(left, 40) + 1));
      const int dy = gen() % 4 ? 0 : std::min(1 + static_cast<int>(gen() % 3), height - 1 - r);
      code(0, 2);
      code(dx, dy);
      x += dx, r += dy;
    } else if (pick <= 10 || left < 3) {  // run
      const int n = 1 + static_cast<int>(gen() % static_cast<unsigned>(std::min(left, 40)));
      code(n, static_cast<int>(gen() & 0xFF));
      x += n;
    } else {  // absolute block
      const int n = 3 + static_cast<int>(gen() % static_cast<unsigned>(std::min(left, 30) - 2));
      code(0, n);
      const int bytes = bits == 8 ? n : (n + 1) / 2;
      for (int i = 0; i < bytes; ++i) out += static_cast<char>(gen());
      if (bytes & 1) out += '\0';
      x += n;
    }
  }
  return out + std::string("\0\1", 2);
}

// The larger files' codes run over many of the decoder's 64 KB blocks, with
// codes and absolute blocks across their borders.
TEST_F(BmpPeerTest, PositionOffsetsDecodeAsImageMagickDoes) {
  struct Size {
    unsigned bits;
    int width, height;
  };
  for (const Size& size : {Size{8, 61, 23}, Size{4, 61, 23}, Size{8, 301, 2000}, Size{4, 517, 2600}}) {
    const unsigned bits = size.bits;
    const int width = size.width, height = size.height;
    SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(width) + " x " + std::to_string(height));
    std::mt19937 gen(bits + static_cast<unsigned>(width));
    const std::string codes = EncodeWithOffsets(bits, width, height, gen);
    ASSERT_NE(codes.find(std::string("\0\2", 2)), std::string::npos);
    const int colours = 1 << bits;
    std::string palette;
    for (int i = 0; i < colours; ++i) palette += std::string{char(i * 3), char(255 - i), char(i * 7 + 1), 0};
    std::string file = "BM";
    auto put32 = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i) file += static_cast<char>(v >> (8 * i));
    };
    const uint32_t off = 54 + 4 * colours;
    put32(static_cast<uint32_t>(off + codes.size()));
    put32(0);
    put32(off);
    put32(40);
    put32(width);
    put32(height);
    put32(1 | bits << 16);  // planes, bit count
    put32(bits == 8 ? BI_RLE8 : BI_RLE4);
    put32(static_cast<uint32_t>(codes.size()));
    for (int i = 0; i < 4; ++i) put32(0);
    if (height > 100) {
      ASSERT_GT(codes.size(), 2u << 16);
    }
    const std::string name = "delta" + std::to_string(bits) + "-" + std::to_string(width);
    dir.Put(name + ".bmp", file + palette + codes);
    ExpectSameColoursAsImageMagick(dir / (name + ".bmp"), dir / (name + ".rgb"), bits,
                                   bits == 8 ? BI_RLE8 : BI_RLE4);
  }
}

// 32-bit pixels under colour masks of every kind decode to the colours
// ImageMagick shows: its own files with alpha, and masks in unusual places.
TEST_F(BmpPeerTest, ThirtyTwoBitMasksGiveImageMagicksColours) {
  const std::string src = "convert -size 37x13 -seed 4 plasma:fractal ";
  ASSERT_EQ(Shell(src + "-alpha set -channel A -fx 'i/w' +channel BMP:" + dir / "alpha.bmp"), 0);
  std::vector<std::string> files = {"alpha.bmp"};
  // Pixels of a 24-bit file re-packed under other 8-bit masks.
  ASSERT_EQ(Shell(src + "-type TrueColor BMP3:" + dir / "rgb.bmp"), 0);
  const std::string rgb = dir.Get("rgb.bmp");
  const int width = 37, height = 13, rowBytes = 112;
  ASSERT_GE(rgb.size(), 54u + rowBytes * height);
  const size_t pixelsAt = rgb.size() - static_cast<size_t>(rowBytes) * height;
  struct Masks {
    const char* name;
    uint32_t red, green, blue;
  };
  for (const Masks& m : {Masks{"xbgr.bmp", 0x000000FF, 0x0000FF00, 0x00FF0000},
                         Masks{"rgbx.bmp", 0xFF000000, 0x00FF0000, 0x0000FF00}}) {
    std::string file = "BM";
    auto put32 = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i) file += static_cast<char>(v >> (8 * i));
    };
    put32(66 + width * height * 4);
    put32(0);
    put32(66);
    put32(40);
    put32(width);
    put32(height);
    put32(1 | 32 << 16);
    put32(BI_BITFIELDS);
    for (int i = 0; i < 5; ++i) put32(0);
    put32(m.red);
    put32(m.green);
    put32(m.blue);
    auto place = [](uint32_t mask, unsigned value) {
      unsigned shift = 0;
      while (!((mask >> shift) & 1)) ++shift;
      return static_cast<uint32_t>(value) << shift;
    };
    for (int r = 0; r < height; ++r)
      for (int x = 0; x < width; ++x) {
        const unsigned char* p =
            reinterpret_cast<const unsigned char*>(&rgb[pixelsAt + r * rowBytes + 3 * x]);
        put32(place(m.blue, p[0]) | place(m.green, p[1]) | place(m.red, p[2]));
      }
    dir.Put(m.name, file);
    files.push_back(m.name);
  }
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Shell("convert " + dir / name + " -alpha off -depth 8 rgb:" + dir / "want.rgb"), 0);
    const std::string want = dir.Get("want.rgb");
    CImgFileBmp bmp;
    ASSERT_EQ(bmp.OpenForRead((dir / name).c_str()), 1);
    ASSERT_EQ(bmp.LoadImage(), 1);
    ASSERT_EQ(bmp.GetPixelFormat(), PF_BIT32);
    ASSERT_EQ(want.size(), static_cast<size_t>(width) * height * 3);
    const auto rows = OurRows(bmp, InOrder(bmp.GetHeight()));
    for (int r = 0; r < height; ++r)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(rows[size_t(r)][4 * x + 2 - c],
                    static_cast<unsigned char>(want[((height - 1 - r) * width + x) * 3 + c]))
              << "row " << r << " x " << x << " sample " << c;
  }
}

// A device bitmap written through OutputDirect lands bottom row first: GDAL
// sees the picture the right way up.
TEST_F(BmpPeerTest, OutputDirectWritesDeviceBitmapsGdalReadsUpright) {
  CDC dc;
  ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
  const int width = 5, height = 3;
  // 24 bits, top row first, rows padded to 2 bytes: pixel (x, y) = (x, 10y, 99) as blue, green, red.
  std::vector<BYTE> bits;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bits.insert(bits.end(), {BYTE(x), BYTE(10 * y), BYTE(99)});
    bits.push_back(0);
  }
  CBitmap rgb;
  ASSERT_TRUE(rgb.CreateBitmap(width, height, 1, 24, bits.data()));
  CImgFileBmp bmp;
  ASSERT_EQ(bmp.OutputDirect((dir / "direct24.bmp").c_str(), &dc, &rgb, PF_BIT24, CRect2D()), 1);
  Picture p;
  ASSERT_TRUE(GdalRead(dir / "direct24.bmp", p));
  ASSERT_EQ(p.width, width);
  ASSERT_EQ(p.height, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      EXPECT_EQ(p.At(x, y, 0), 99);
      EXPECT_EQ(p.At(x, y, 1), 10 * y) << x << "," << y;
      EXPECT_EQ(p.At(x, y, 2), x);
    }

  // 8 bits with a colour table set through the device.
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
  ASSERT_EQ(bmp.OutputDirect((dir / "direct8.bmp").c_str(), &dc, &indexed, PF_BIT8, CRect2D()), 1);
  ASSERT_TRUE(GdalRead(dir / "direct8.bmp", p));
  ASSERT_GE(p.colors.size(), 16u);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) EXPECT_EQ(p.At(x, y, 0), y * width + x) << x << "," << y;
  EXPECT_EQ(p.colors[7].c1, 207);  // red
  EXPECT_EQ(p.colors[7].c2, 14);
  EXPECT_EQ(p.colors[7].c3, 7);
}

}  // namespace

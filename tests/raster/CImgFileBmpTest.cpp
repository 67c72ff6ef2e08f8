// The BMP driver on files built byte by byte: header checks, palettes, row
// order, the run-length decoder and its row-start table, the writer's header.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "raster/CImgFileBmp.h"
#include "support/ScratchDir.h"

namespace {

void Put16(std::string& s, unsigned v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
void Set32(std::string& s, size_t at, uint32_t v) {
  std::string b;
  Put32(b, v);
  s.replace(at, 4, b);
}
std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// A BMP file: headers, `extra` (colour masks), palette bytes as stored, then
// `pixels` from the off bits.
struct Bmp {
  int32_t width = 4, height = 3;
  unsigned bits = 8;
  uint32_t compression = 0;
  uint32_t headerSize = 40;
  uint32_t colorsUsed = 0;
  std::string extra, palette, pixels;

  std::string File() const {
    std::string h;
    if (headerSize == 12) {
      Put32(h, 12);
      Put16(h, static_cast<unsigned>(width));
      Put16(h, static_cast<unsigned>(height));
      Put16(h, 1);
      Put16(h, bits);
    } else {
      Put32(h, headerSize);
      Put32(h, static_cast<uint32_t>(width));
      Put32(h, static_cast<uint32_t>(height));
      Put16(h, 1);
      Put16(h, bits);
      Put32(h, compression);
      Put32(h, 0);
      Put32(h, 2835);
      Put32(h, 2835);
      Put32(h, colorsUsed);
      Put32(h, 0);
      h.resize(headerSize, '\0');
    }
    const uint32_t off = static_cast<uint32_t>(14 + h.size() + extra.size() + palette.size());
    std::string f = "BM";
    Put32(f, static_cast<uint32_t>(off + pixels.size()));
    Put32(f, 0);
    Put32(f, off);
    return f + h + extra + palette + pixels;
  }
};

// A palette of `n` distinct entries (blue, green, red, 0).
std::string Palette(int n, int entryBytes = 4) {
  std::string p;
  for (int i = 0; i < n; ++i) {
    p += static_cast<char>(i);
    p += static_cast<char>(255 - i);
    p += static_cast<char>(i * 7);
    if (entryBytes == 4) p += '\0';
  }
  return p;
}

class BmpTest : public ::testing::Test {
 protected:
  // Writes `bytes` as `name` and loads it into `bmp`; the LoadImage result.
  long Load(CImgFileBmp& bmp, const std::string& bytes, const char* name = "t.bmp") {
    dir.Put(name, bytes);
    if (bmp.m_hFile != CFile::hFileNull) bmp.Close();
    if (!bmp.OpenForRead((dir / name).c_str())) return -100;
    return bmp.LoadImage();
  }
  std::string Row(CImgFileBmp& bmp, long row, long* result = nullptr) {
    CImgScanLine line(bmp.GetPixelFormat(), static_cast<long>(bmp.GetWidthBytes()));
    std::memset(line.GetData(), 0xEE, static_cast<size_t>(line.GetSize()));
    const long r = bmp.ReadScanLine(row, line);
    if (result) *result = r;
    return std::string(reinterpret_cast<const char*>(line.GetData()), static_cast<size_t>(line.GetSize()));
  }
  ScratchDir dir;
};

TEST_F(BmpTest, WindowsEightBitPaletteRowsAndTopDown) {
  Bmp b;
  b.width = 5;  // width bytes pad to 8
  b.height = 3;
  b.palette = Palette(256);
  for (int r = 0; r < 3; ++r) b.pixels += std::string(5, static_cast<char>('a' + r)) + "pad";
  CImgFileBmp bmp;
  ASSERT_EQ(Load(bmp, b.File()), 1);
  EXPECT_EQ(bmp.GetWidth(), 5u);
  EXPECT_EQ(bmp.GetHeight(), 3u);
  EXPECT_EQ(bmp.GetPixelFormat(), PF_BIT8);
  EXPECT_EQ(bmp.GetPixelFormatExt(), PF_BIT8);
  EXPECT_EQ(bmp.GetWidthBytes(), 8u);
  EXPECT_EQ(bmp.m_dwTopDown, 0u);
  ASSERT_EQ(bmp.m_Palette.GetSize(), 256);
  EXPECT_EQ(std::memcmp(bmp.m_Palette.GetData(), b.palette.data(), 1024), 0);  // file order
  EXPECT_EQ(Row(bmp, 0).substr(0, 5), "aaaaa");                                // first stored = bottom
  EXPECT_EQ(Row(bmp, 2).substr(0, 5), "ccccc");
  long result = 0;
  Row(bmp, 3, &result);
  EXPECT_EQ(result, 0);

  // Negative height: absolute height, flag set, row 0 still the first stored.
  b.height = -3;
  CImgFileBmp down;
  ASSERT_EQ(Load(down, b.File()), 1);
  EXPECT_EQ(down.GetHeight(), 3u);
  EXPECT_EQ(down.m_dwTopDown, 1u);
  EXPECT_EQ(Row(down, 0).substr(0, 5), "aaaaa");

  // Fewer colours used than the format holds: the rest are black, not the
  // pixel bytes that follow the short table.
  b.height = 3;
  b.colorsUsed = 3;
  b.palette = Palette(3);
  CImgFileBmp few;
  ASSERT_EQ(Load(few, b.File()), 1);
  ASSERT_EQ(few.m_Palette.GetSize(), 256);
  EXPECT_EQ(std::memcmp(few.m_Palette.GetData(), b.palette.data(), 12), 0);
  EXPECT_EQ(few.m_Palette[3].peRed | few.m_Palette[3].peGreen | few.m_Palette[255].peBlue, 0);
  EXPECT_EQ(Row(few, 1).substr(0, 5), "bbbbb");
}

TEST_F(BmpTest, LongHeadersKeepTheirPaletteAfterTheHeader) {
  // A 108-byte header: the colour table starts after it, not at byte 54.
  Bmp b;
  b.headerSize = 108;
  b.bits = 4;
  b.width = 3;
  b.height = 1;
  b.palette = Palette(16);
  b.pixels = Bytes({0x12, 0x30, 0, 0});
  CImgFileBmp bmp;
  ASSERT_EQ(Load(bmp, b.File()), 1);
  ASSERT_EQ(bmp.m_Palette.GetSize(), 16);
  EXPECT_EQ(std::memcmp(bmp.m_Palette.GetData(), b.palette.data(), 64), 0);
  EXPECT_EQ(Row(bmp, 0).substr(0, 2), Bytes({0x12, 0x30}));
}

TEST_F(BmpTest, Os2HeaderPaletteBecomesRedGreenBlue) {
  Bmp b;
  b.headerSize = 12;
  b.width = 2;
  b.height = 2;
  b.palette = Palette(256, 3);
  b.pixels = Bytes({1, 2, 0, 0, 3, 4, 0, 0});
  CImgFileBmp bmp;
  ASSERT_EQ(Load(bmp, b.File()), 1);
  EXPECT_EQ(bmp.m_wHeaderKind, CImgFileBmp::kOs2Header);
  EXPECT_EQ(bmp.GetCompression(), 0u);
  ASSERT_EQ(bmp.m_Palette.GetSize(), 256);
  const PALETTEENTRY e = bmp.m_Palette[10];  // stored blue 10, green 245, red 70
  EXPECT_EQ(e.peRed, 70);
  EXPECT_EQ(e.peGreen, 245);
  EXPECT_EQ(e.peBlue, 10);
  EXPECT_EQ(e.peFlags, 0);
  ASSERT_EQ(bmp.m_TripleBuffer.GetSize(), 768);
  EXPECT_EQ(std::memcmp(bmp.m_TripleBuffer.GetData(), b.palette.data(), 768), 0);
  EXPECT_EQ(Row(bmp, 1).substr(0, 2), Bytes({3, 4}));

  // The same object then reads a Windows run-length file as encoded: the
  // header kind follows the file read.
  Bmp rle;
  rle.width = 3;
  rle.height = 1;
  rle.compression = BI_RLE8;
  rle.palette = Palette(256);
  rle.pixels = Bytes({3, 9, 0, 1});
  ASSERT_EQ(Load(bmp, rle.File(), "w.bmp"), 1);
  EXPECT_EQ(bmp.m_wHeaderKind, CImgFileBmp::kWindowsHeader);
  EXPECT_EQ(Row(bmp, 0), Bytes({9, 9, 9, 0}));
}

TEST_F(BmpTest, SixteenBitMasks) {
  Bmp b;
  b.bits = 16;
  b.width = 2;
  b.height = 1;
  b.pixels = Bytes({1, 2, 3, 4});
  CImgFileBmp plain;
  ASSERT_EQ(Load(plain, b.File()), 1);
  ASSERT_EQ(plain.m_Palette.GetSize(), 3);
  const DWORD* masks = reinterpret_cast<const DWORD*>(plain.m_Palette.GetData());
  EXPECT_EQ(masks[0], 0x7C00u);
  EXPECT_EQ(masks[1], 0x03E0u);
  EXPECT_EQ(masks[2], 0x001Fu);

  b.compression = BI_BITFIELDS;
  Put32(b.extra, 0xF800);
  Put32(b.extra, 0x07E0);
  Put32(b.extra, 0x001F);
  CImgFileBmp fields;
  ASSERT_EQ(Load(fields, b.File()), 1);
  ASSERT_EQ(fields.m_Palette.GetSize(), 3);
  masks = reinterpret_cast<const DWORD*>(fields.m_Palette.GetData());
  EXPECT_EQ(masks[0], 0xF800u);
  EXPECT_EQ(masks[2], 0x001Fu);
  EXPECT_EQ(Row(fields, 0), Bytes({1, 2, 3, 4}));
}

// True-colour files have no colour table: the palette the object held
// before stays as it was.
TEST_F(BmpTest, TrueColourFilesLeaveThePaletteAlone) {
  Bmp indexed;
  indexed.width = 1;
  indexed.height = 1;
  indexed.palette = Palette(256);
  indexed.pixels = Bytes({7, 0, 0, 0});
  CImgFileBmp bmp;
  ASSERT_EQ(Load(bmp, indexed.File(), "i.bmp"), 1);
  for (unsigned bits : {24u, 32u}) {
    Bmp rgb;
    rgb.bits = bits;
    rgb.width = 1;
    rgb.height = 1;
    rgb.pixels = Bytes({1, 2, 3, 4});
    ASSERT_EQ(Load(bmp, rgb.File(), "rgb.bmp"), 1) << bits;
    EXPECT_EQ(bmp.GetPixelFormat(), static_cast<ImgPixelFormat>(bits));
    ASSERT_EQ(bmp.m_Palette.GetSize(), 256) << bits;
    EXPECT_EQ(std::memcmp(bmp.m_Palette.GetData(), indexed.palette.data(), 1024), 0) << bits;
  }
}

TEST_F(BmpTest, AbsurdHeadersAreRefusedAndChangeNothing) {
  Bmp good;
  good.palette = Palette(256);
  good.pixels = std::string(12, 'p');
  const std::string base = good.File();
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases;
  auto with32 = [&](size_t at, uint32_t v) {
    std::string s = base;
    Set32(s, at, v);
    return s;
  };
  auto with16 = [&](size_t at, unsigned v) {
    std::string s = base;
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
    return s;
  };
  cases.push_back({"signature", "XY" + base.substr(2)});
  cases.push_back({"ten bytes", base.substr(0, 10)});
  cases.push_back({"header cut", base.substr(0, 40)});
  cases.push_back({"zero width", with32(18, 0)});
  cases.push_back({"negative width", with32(18, static_cast<uint32_t>(-4))});
  cases.push_back({"zero height", with32(22, 0)});
  cases.push_back({"INT_MIN height", with32(22, 0x80000000u)});
  cases.push_back({"3 bits", with16(28, 3)});
  cases.push_back({"0 bits", with16(28, 0)});
  cases.push_back({"48 bits", with16(28, 48)});
  cases.push_back({"RLE8 at 24 bits", with32(30, BI_RLE8).replace(28, 1, 1, char(24))});
  cases.push_back({"RLE4 at 8 bits", with32(30, BI_RLE4)});
  cases.push_back({"JPEG", with32(30, 4)});
  cases.push_back({"off bits past end", with32(10, static_cast<uint32_t>(base.size()) + 100)});
  cases.push_back({"header size 5", with32(14, 5)});
  cases.push_back({"header size huge", with32(14, 0xFFFFFFF0u)});
  // 32 bits a pixel: the row alone would be 8 GB.
  cases.push_back({"row overflow", with32(18, 0x7FFFFFFF).replace(28, 1, 1, char(32))});
  // Pixels said to start inside the header, and a file that ends in the palette.
  cases.push_back({"palette cut", with32(10, 20).substr(0, 54 + 100)});
  Bmp os2;
  os2.headerSize = 12;
  os2.width = 0;
  os2.palette = Palette(256, 3);
  os2.pixels = "xxxx";
  cases.push_back({"OS/2 zero width", os2.File()});

  for (const Case& c : cases) {
    CImgFileBmp bmp;
    bmp.SetWidth(77);
    bmp.SetHeight(66);
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(Load(bmp, c.bytes), -1) << c.what;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage()) << c.what;
    EXPECT_EQ(bmp.GetWidth(), 77u) << c.what;
    EXPECT_EQ(bmp.GetHeight(), 66u) << c.what;
    EXPECT_EQ(bmp.m_Palette.GetSize(), 0) << c.what;
  }
}

TEST_F(BmpTest, ScanLineGuards) {
  Bmp b;
  b.bits = 24;
  b.width = 3;  // 9 bytes, width bytes 12
  b.height = 3;
  b.pixels = std::string(12, 'a') + std::string(12, 'b') + std::string(5, 'c');  // last row short
  CImgFileBmp bmp;
  ASSERT_EQ(Load(bmp, b.File()), 1);
  CImgScanLine small(PF_BIT24, 11);
  std::memset(small.GetData(), 0x5A, 11);
  EXPECT_EQ(bmp.ReadScanLine(0, small), -1);
  EXPECT_EQ(small[0], 0x5A);
  long result = 0;
  Row(bmp, -1, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(Row(bmp, 1, &result), std::string(12, 'b'));
  EXPECT_EQ(result, 12);
  // A bigger line is fine; its byte size is returned.
  CImgScanLine big(PF_BIT24, 20);
  EXPECT_EQ(bmp.ReadScanLine(0, big), 20);
  // The short row: -4, with the bytes that were there.
  const std::string last = Row(bmp, 2, &result);
  EXPECT_EQ(result, CImgFileBmp::kShortRow);
  EXPECT_EQ(last.substr(0, 5), "ccccc");
}

// --- run-length encoded rows ---

Bmp Encoded(unsigned bits, int width, int height, const std::string& codes) {
  Bmp b;
  b.bits = bits;
  b.width = width;
  b.height = height;
  b.compression = bits == 8 ? BI_RLE8 : BI_RLE4;
  b.palette = Palette(bits == 8 ? 256 : 16);
  b.pixels = codes;
  return b;
}

TEST_F(BmpTest, EncodedRowsDecodeByTheRules) {
  CImgFileBmp bmp;
  // 8 bits: a run, an odd absolute block and its filler, end of row; row 1
  // goes past the width (dropped) and ends the bitmap.
  ASSERT_EQ(Load(bmp, Encoded(8, 7, 3, Bytes({3, 0x41, 0, 3, 0x42, 0x43, 0x44, 0, 0, 0,  //
                                              9, 0x50, 0, 4, 1,    2,    3,    4, 0, 1}))
                          .File()),
            1);
  EXPECT_EQ(bmp.GetCompression(), static_cast<DWORD>(BI_RLE8));
  long result = 0;
  EXPECT_EQ(Row(bmp, 0, &result), Bytes({0x41, 0x41, 0x41, 0x42, 0x43, 0x44, 0, 0}));
  EXPECT_EQ(result, 8);
  EXPECT_EQ(Row(bmp, 1), Bytes({0x50, 0x50, 0x50, 0x50, 0x50, 0x50, 0x50, 0}));
  // Past the end of bitmap: blank, and a success.
  EXPECT_EQ(Row(bmp, 2, &result), std::string(8, '\0'));
  EXPECT_EQ(result, 8);

  // 4 bits: 05 12 gives 1 2 1 2 1; 01 30 05 12 gives 3 1 2 1 2 1. Row 2 has
  // an absolute block of 5 pixels in 3 bytes plus a filler and a position
  // offset, whose two bytes are skipped.
  ASSERT_EQ(Load(bmp, Encoded(4, 7, 4, Bytes({5, 0x12, 0,    0,                          //
                                              1, 0x30, 5,    0x12, 0,    0,              //
                                              0, 5,    0xAB, 0xCD, 0xE0, 0, 0, 2, 9, 9,  //
                                              2, 0x77, 0,    0,                          //
                                              0, 1}))
                          .File()),
            1);
  EXPECT_EQ(Row(bmp, 0), Bytes({0x12, 0x12, 0x10, 0}));
  EXPECT_EQ(Row(bmp, 1), Bytes({0x31, 0x21, 0x21, 0}));
  EXPECT_EQ(Row(bmp, 2), Bytes({0xAB, 0xCD, 0xE7, 0x70}));
  // The rows read again, last first, give the same pixels.
  EXPECT_EQ(Row(bmp, 3), std::string(4, '\0'));
  EXPECT_EQ(Row(bmp, 0), Bytes({0x12, 0x12, 0x10, 0}));
  EXPECT_EQ(Row(bmp, 2), Bytes({0xAB, 0xCD, 0xE7, 0x70}));
}

TEST_F(BmpTest, EncodedRowsOutOfOrderAndAcrossFiles) {
  // Row r: a run of r + 1 pixels of value r, then end of row.
  auto codes = [](int height) {
    std::string s;
    for (int r = 0; r < height; ++r) s += Bytes({r + 1, r, 0, 0});
    return s + Bytes({0, 1});
  };
  auto expected = [](int r, int widthBytes) {
    std::string s(static_cast<size_t>(widthBytes), '\0');
    for (int x = 0; x <= r; ++x) s[static_cast<size_t>(x)] = static_cast<char>(r);
    return s;
  };
  CImgFileBmp bmp;
  ASSERT_EQ(Load(bmp, Encoded(8, 60, 2, codes(2)).File(), "short.bmp"), 1);
  EXPECT_EQ(Row(bmp, 1), expected(1, 60));
  // A taller file through the same object: its row starts are its own.
  ASSERT_EQ(Load(bmp, Encoded(8, 60, 50, codes(50)).File(), "tall.bmp"), 1);
  EXPECT_EQ(Row(bmp, 49), expected(49, 60));
  EXPECT_EQ(Row(bmp, 0), expected(0, 60));
  EXPECT_EQ(Row(bmp, 1), expected(1, 60));
  for (int r : {30, 7, 48, 2}) EXPECT_EQ(Row(bmp, r), expected(r, 60)) << r;
  // And back to a short file.
  ASSERT_EQ(Load(bmp, Encoded(8, 60, 3, codes(3)).File(), "three.bmp"), 1);
  EXPECT_EQ(Row(bmp, 2), expected(2, 60));
}

TEST_F(BmpTest, TruncatedCodesStopInsideTheRow) {
  // The file ends inside row 1 (in an absolute block, after a run, inside a
  // code): row 0 is whole, row 1 keeps the pixels before the cut and reports
  // a short row, and so do the rows after it.
  const std::string whole = Bytes({4, 7, 0, 0, 2, 8, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0, 1});
  struct Cut {
    size_t bytes;
    std::string rowOneStart;
  };
  for (const Cut& c : {Cut{10, Bytes({8, 8})}, Cut{6, Bytes({8, 8})}, Cut{5, Bytes({0, 0})}}) {
    const size_t cut = c.bytes;
    CImgFileBmp bmp;
    ASSERT_EQ(Load(bmp, Encoded(8, 8, 3, whole.substr(0, cut)).File()), 1);
    long result = 0;
    EXPECT_EQ(Row(bmp, 0, &result), Bytes({7, 7, 7, 7, 0, 0, 0, 0})) << cut;
    EXPECT_EQ(result, 8);
    EXPECT_EQ(Row(bmp, 1, &result).substr(0, 2), c.rowOneStart) << cut;
    EXPECT_EQ(result, CImgFileBmp::kShortRow) << cut;
    Row(bmp, 2, &result);
    EXPECT_EQ(result, CImgFileBmp::kShortRow) << cut;
    // Out of order on a fresh object: the scan for row 2 stops at the end too.
    CImgFileBmp fresh;
    ASSERT_EQ(Load(fresh, Encoded(8, 8, 3, whole.substr(0, cut)).File()), 1);
    Row(fresh, 2, &result);
    EXPECT_EQ(result, CImgFileBmp::kShortRow) << cut;
    EXPECT_EQ(Row(fresh, 0, &result), Bytes({7, 7, 7, 7, 0, 0, 0, 0}));
  }
}

// --- writing ---

TEST_F(BmpTest, SaveImageHeaderAndPalette) {
  CImgFileBmp bmp;
  ASSERT_EQ(bmp.OpenForWrite((dir / "rgb.bmp").c_str()), 1);
  bmp.SetWidth(3);
  bmp.SetHeight(2);
  bmp.SetPixelFormat(PF_BIT24);
  ASSERT_EQ(bmp.SaveImage(), 1);
  CImgScanLine line(PF_BIT24, 12);
  EXPECT_EQ(bmp.WriteScanLine(0, line), 12);
  EXPECT_EQ(bmp.WriteScanLine(1, line), 12);
  CImgScanLine none;
  EXPECT_EQ(bmp.WriteScanLine(2, none), 0);
  CImgScanLine shortLine(PF_BIT24, 9);
  EXPECT_EQ(bmp.WriteScanLine(2, shortLine), -1);
  bmp.Close();
  const std::string f = dir.Get("rgb.bmp");
  ASSERT_EQ(f.size(), 78u);
  Bmp expect;
  expect.bits = 24;
  expect.width = 3;
  expect.height = 2;
  expect.pixels = std::string(24, '\0');
  std::string header = expect.File().substr(0, 54);
  Set32(header, 38, 283);  // the writer's resolution
  Set32(header, 42, 283);
  EXPECT_EQ(f.substr(0, 54), header);

  // 8 bits and no palette: a grey ramp, off bits 1078. A palette short of
  // 256 entries is replaced by the ramp too, keeping each entry's fourth byte.
  CImgFileBmp grey;
  ASSERT_EQ(grey.OpenForWrite((dir / "grey.bmp").c_str()), 1);
  grey.SetWidth(1);
  grey.SetHeight(1);
  grey.SetPixelFormat(PF_BIT8);
  ASSERT_EQ(grey.SaveImage(), 1);
  grey.Close();
  std::string g = dir.Get("grey.bmp");
  ASSERT_GE(g.size(), 1078u);
  EXPECT_EQ(static_cast<unsigned char>(g[10]) | static_cast<unsigned char>(g[11]) << 8, 1078);
  EXPECT_EQ(g.substr(54 + 4 * 200, 4), Bytes({200, 200, 200, 0}));

  CImgFileBmp given;
  ASSERT_EQ(given.OpenForWrite((dir / "given.bmp").c_str()), 1);
  given.SetWidth(1);
  given.SetHeight(1);
  given.SetPixelFormat(PF_BIT8);
  given.m_Palette.SetSize(2);
  given.m_Palette[1] = PALETTEENTRY{9, 8, 7, 3};
  ASSERT_EQ(given.SaveImage(), 1);
  given.Close();
  g = dir.Get("given.bmp");
  EXPECT_EQ(g.substr(54 + 4, 4), Bytes({1, 1, 1, 3}));
  EXPECT_EQ(g.substr(54 + 4 * 5, 4), Bytes({5, 5, 5, 0}));
  EXPECT_EQ(given.m_Palette.GetSize(), 256);

  // Formats and sizes no BMP holds are refused with a reason.
  for (ImgPixelFormat format : {PF_FLOAT32, PF_INT32, PF_BIT48, PF_UNKNOWN}) {
    CImgFileBmp bad;
    ASSERT_EQ(bad.OpenForWrite((dir / "bad.bmp").c_str()), 1);
    bad.SetPixelFormat(format);
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(bad.SaveImage(), -1) << format;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage());
  }
  CImgFileBmp empty;
  ASSERT_EQ(empty.OpenForWrite((dir / "bad.bmp").c_str()), 1);
  empty.SetWidth(0);
  EXPECT_EQ(empty.SaveImage(), -1);
  empty.SetWidth(70000);
  empty.SetHeight(70000);  // 14.7 GB of pixels
  EXPECT_EQ(empty.SaveImage(), -1);
}

}  // namespace

// The BMP driver on files built byte by byte: header checks, palettes, row
// order, the run-length decoder and its row-start table, the writer's header.
#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

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
  b.pixels = std::string(12, 'a') + std::string(12, 'b') + std::string(12, 'c');
  CImgFileBmp bmp;
  ASSERT_EQ(Load(bmp, b.File()), 1);
  // The file loses the end of its last row after it was loaded.
  ASSERT_EQ(::truncate((dir / "t.bmp").c_str(), static_cast<off_t>(b.File().size() - 7)), 0);
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
  // an absolute block of 5 pixels in 3 bytes plus a filler, then a position
  // offset of 1 right and 0 down: the run after it starts one pixel on.
  ASSERT_EQ(Load(bmp, Encoded(4, 8, 4, Bytes({5, 0x12, 0,    0,                          //
                                              1, 0x30, 5,    0x12, 0,    0,              //
                                              0, 5,    0xAB, 0xCD, 0xE0, 0, 0, 2, 1, 0,  //
                                              2, 0x77, 0,    0,                          //
                                              0, 1}))
                          .File()),
            1);
  EXPECT_EQ(Row(bmp, 0), Bytes({0x12, 0x12, 0x10, 0}));
  EXPECT_EQ(Row(bmp, 1), Bytes({0x31, 0x21, 0x21, 0}));
  EXPECT_EQ(Row(bmp, 2), Bytes({0xAB, 0xCD, 0xE0, 0x77}));
  // The rows read again, last first, give the same pixels.
  EXPECT_EQ(Row(bmp, 3), std::string(4, '\0'));
  EXPECT_EQ(Row(bmp, 0), Bytes({0x12, 0x12, 0x10, 0}));
  EXPECT_EQ(Row(bmp, 2), Bytes({0xAB, 0xCD, 0xE0, 0x77}));
}

// Position offsets move the cursor right and down: the pixels passed over
// stay 0, rows passed over are blank, and decoding goes on where the offset
// lands. The same pixels come out whatever order the rows are read in.
TEST_F(BmpTest, PositionOffsetsMoveRightAndDown) {
  const std::string codes =
      Bytes({3, 5, 0, 2, 2, 1, 2, 7, 0, 0,  // row 0: 5 5 5, then to row 1 x 5: 7 7
             4, 9, 0, 2, 1, 2, 1, 3, 0, 0,  // row 2: 9 x 4, to row 4 x 5: 3
             0, 2, 3, 0, 2, 4, 0, 2, 0, 9,  // row 5: 4 4 from x 3, then past the last row
             7, 7, 0, 0});                  // never reached
  const std::vector<std::string> want = {Bytes({5, 5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                                         Bytes({0, 0, 0, 0, 0, 7, 7, 0, 0, 0, 0, 0}),
                                         Bytes({9, 9, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0}),
                                         std::string(12, '\0'),
                                         Bytes({0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0}),
                                         Bytes({0, 0, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0}),
                                         std::string(12, '\0')};
  for (const std::vector<long>& order :
       {std::vector<long>{0, 1, 2, 3, 4, 5, 6}, std::vector<long>{6, 3, 5, 1, 4, 0, 2},
        std::vector<long>{4, 4, 2, 6, 0, 3, 5, 1}}) {
    CImgFileBmp bmp;
    ASSERT_EQ(Load(bmp, Encoded(8, 10, 7, codes).File()), 1);
    for (long r : order) {
      long result = 0;
      EXPECT_EQ(Row(bmp, r, &result), want[static_cast<size_t>(r)])
          << "row " << r << " of order " << order[0];
      EXPECT_EQ(result, 12) << r;
    }
  }
  // 4 bits: the offset counts pixels, not bytes; an offset to beyond the
  // width drops what follows on that row.
  CImgFileBmp four;
  ASSERT_EQ(Load(four, Encoded(4, 8, 3, Bytes({2, 0x12, 0,   2, 3, 1,    3, 0x45, 0, 0,  //
                                               0, 2,    200, 0, 4, 0x66, 0, 0,    0, 1}))
                           .File()),
            1);
  EXPECT_EQ(Row(four, 2), Bytes({0, 0, 0, 0}));
  EXPECT_EQ(Row(four, 1), Bytes({0, 0, 0x04, 0x54}));
  EXPECT_EQ(Row(four, 0), Bytes({0x12, 0, 0, 0}));
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

// A file of nothing but end-of-row codes, read last row first then
// backwards: the work (bytes fetched from the file) and the memory kept stay
// in proportion to the file, not to rows times the decoder's buffer.
class CountingBmp : public CImgFileBmp {
 public:
  UINT Read(void* buf, UINT count) override {
    const UINT got = CImgFileBmp::Read(buf, count);
    fetched += got;
    return got;
  }
  unsigned long long fetched = 0;
};

// Heap in use, small blocks and mapped ones.
size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

TEST_F(BmpTest, EndOfRowFloodStaysInProportionToTheFile) {
  const int rows = 1 << 19;  // 1 MB of codes
  std::string codes;
  codes.reserve(2 * rows + 2);
  for (int r = 0; r < rows - 1; ++r) codes += std::string(2, '\0');
  codes += Bytes({1, 9, 0, 1});  // the last row holds one pixel
  const std::string file = Encoded(8, 4, rows, codes).File();
  dir.Put("flood.bmp", file);
  CountingBmp bmp;
  ASSERT_EQ(bmp.OpenForRead((dir / "flood.bmp").c_str()), 1);
  ASSERT_EQ(bmp.LoadImage(), 1);
  // The allocator must be one that mallinfo2 sees (not a sanitizer's).
  const size_t before = HeapInUse();
  std::vector<char> probe(1 << 20, 1);
  const bool heapVisible = HeapInUse() >= before + (1 << 20);
  probe = {};
  bmp.fetched = 0;
  const size_t heap = HeapInUse();
  CImgScanLine line(PF_BIT8, 4);
  ASSERT_EQ(bmp.ReadScanLine(rows - 1, line), 4);
  EXPECT_EQ(line[0], 9);
  if (heapVisible) {
    EXPECT_LT(HeapInUse(), heap + file.size() / 2);
  }
  for (long r = rows - 2; r >= 0; --r) {
    ASSERT_EQ(bmp.ReadScanLine(r, line), 4) << r;
    ASSERT_EQ(line[0], 0) << r;
  }
  EXPECT_LT(bmp.fetched, 8 * file.size());
  if (heapVisible) {
    EXPECT_LT(HeapInUse(), heap + file.size() / 2);
  }
}

// What a header claims must fit in the file before anything is sized by it.
TEST_F(BmpTest, HeadersClaimingMoreThanTheFileHoldsAreRefused) {
  struct Case {
    const char* what;
    Bmp bmp;
    bool loads;
  };
  std::vector<Case> cases;
  Bmp rows;
  rows.bits = 24;
  rows.width = 5;  // 15 bytes, width bytes 16
  rows.height = 4;
  rows.pixels = std::string(16 * 4, 'x');
  cases.push_back({"exact", rows, true});
  rows.pixels.resize(16 * 3 + 15);
  cases.push_back({"last row without its padding", rows, true});
  rows.pixels.resize(16 * 3 + 14);
  cases.push_back({"last row one byte short", rows, false});
  rows.pixels.resize(16 * 3);
  cases.push_back({"a row missing", rows, false});
  rows.height = 1 << 30;
  rows.pixels = std::string(500, 'x');
  cases.push_back({"a billion rows in 500 bytes", rows, false});
  Bmp wide = rows;  // a 566-byte file whose one row would be 2 GB
  wide.height = 1;
  wide.bits = 32;
  wide.width = 0x1FFFFFFF;
  cases.push_back({"2 GB row", wide, false});
  // Run-length codes: one byte of codes describes at most 128 pixels of a
  // row; rows past an end of bitmap are blank, so the height is free.
  Bmp rle = Encoded(8, 256, 1 << 30, Bytes({0, 1}));
  cases.push_back({"encoded, 256 wide, 2 bytes", rle, true});
  rle.width = 0x7FFFFFF0;
  cases.push_back({"encoded, 2 GB wide, 2 bytes", rle, false});
  rle = Encoded(4, 1 << 20, 2, std::string(8192, '\0'));
  cases.push_back({"4-bit encoded, a million wide, 8 KB", rle, true});
  rle.width = 1 << 24;
  cases.push_back({"4-bit encoded, 16 million wide, 8 KB", rle, false});
  for (const Case& c : cases) {
    CImgFileBmp bmp;
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(Load(bmp, c.bmp.File()), c.loads ? 1 : -1) << c.what;
    EXPECT_EQ(VtGetErrorMsgObj()->HasMessage(), !c.loads) << c.what;
  }
}

// The pixels must start inside the file: an offset one byte before its end
// holds the last byte of a 1-pixel row, an offset at its end holds nothing.
TEST_F(BmpTest, PixelOffsetAtTheEndOfTheFile) {
  for (uint32_t compression : {0u, 1u}) {
    Bmp b;
    b.width = 1;
    b.height = 1;
    b.compression = compression;
    b.palette = Palette(256);
    b.pixels = compression ? Bytes({0, 1}) : Bytes({42, 0, 0, 0});
    std::string file = b.File();
    const uint32_t end = static_cast<uint32_t>(file.size());
    CImgFileBmp bmp;
    ASSERT_EQ(Load(bmp, file), 1) << compression;
    if (!compression) {
      file.resize(end - 3);  // the row's one pixel byte is the file's last byte
      ASSERT_EQ(Load(bmp, file), 1);
      EXPECT_EQ(Row(bmp, 0), Bytes({42, 0, 0, 0}));
    }
    Set32(file, 10, static_cast<uint32_t>(file.size()));
    VtGetErrorMsgObj()->Clear();
    EXPECT_EQ(Load(bmp, file), -1) << compression;
    EXPECT_TRUE(VtGetErrorMsgObj()->HasMessage()) << compression;
  }
}

// 32-bit pixels with colour masks come out blue, green, red, alpha whatever
// the masks' places and widths.
TEST_F(BmpTest, ThirtyTwoBitMasksAreHonoured) {
  struct Case {
    const char* what;
    uint32_t masks[4];
    uint32_t headerSize;
    uint32_t pixel;
    std::string want;  // blue, green, red, alpha
  };
  const std::vector<Case> cases = {
      {"red in the low byte",
       {0x000000FF, 0x0000FF00, 0x00FF0000, 0},
       40,
       0x00332211,
       Bytes({0x33, 0x22, 0x11, 0})},
      // Masks of the plain layout: the pixels as stored, fourth byte included.
      {"the usual masks",
       {0x00FF0000, 0x0000FF00, 0x000000FF, 0},
       40,
       0x7F332211,
       Bytes({0x11, 0x22, 0x33, 0x7F})},
      {"alpha in a 56-byte header",
       {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
       56,
       0x80332211,
       Bytes({0x11, 0x22, 0x33, 0x80})},
      {"red in the high byte, alpha low",
       {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF},
       124,
       0x11223344,
       Bytes({0x33, 0x22, 0x11, 0x44})},
      // 10 bits each: full scale stays full scale, half stays half.
      {"10-10-10",
       {0x3FF00000, 0x000FFC00, 0x000003FF, 0},
       40,
       (0x3FFu << 20) | (0x200u << 10),
       Bytes({0, 128, 255, 0})},
      // 5 and 6 bits widen by repeating their top bits.
      {"5-6-5 in 32 bits",
       {0xF800, 0x07E0, 0x001F, 0},
       40,
       (0x10u << 11) | (0x3Fu << 5) | 0x01,
       Bytes({0x08, 0xFF, 0x84, 0})},
  };
  for (const Case& c : cases) {
    Bmp b;
    b.bits = 32;
    b.width = 2;
    b.height = 1;
    b.compression = BI_BITFIELDS;
    b.headerSize = c.headerSize;
    for (int i = 0; i < (c.headerSize >= 56 ? 4 : 3); ++i) Put32(b.extra, c.masks[i]);
    Put32(b.pixels, c.pixel);
    Put32(b.pixels, 0);
    std::string file = b.File();
    if (c.headerSize > 40) {  // the masks belong inside the longer header
      file.erase(14 + c.headerSize, b.extra.size());
      file.replace(14 + 40, b.extra.size(), b.extra);
      Set32(file, 10, 14 + c.headerSize);
      Set32(file, 2, static_cast<uint32_t>(file.size()));
    }
    CImgFileBmp bmp;
    ASSERT_EQ(Load(bmp, file), 1) << c.what;
    EXPECT_EQ(bmp.GetPixelFormat(), PF_BIT32);
    EXPECT_EQ(Row(bmp, 0), c.want + std::string(4, '\0')) << c.what;
  }
  // Masks that are not one run of bits each are refused.
  Bmp odd;
  odd.bits = 32;
  odd.width = 1;
  odd.height = 1;
  odd.compression = BI_BITFIELDS;
  for (uint32_t m : {0x00FF00FFu, 0x0000FF00u, 0x00000000u}) Put32(odd.extra, m);
  odd.pixels = std::string(4, 'x');
  CImgFileBmp bmp;
  EXPECT_EQ(Load(bmp, odd.File()), -1);
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

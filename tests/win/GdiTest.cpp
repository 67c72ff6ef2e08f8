#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/mfc/CBitmap.h"
#include "platform/mfc/CDC.h"
#include "platform/win/wingdi.h"
#include "platform/win/winuser.h"

namespace {

// A version-4 header with room for a full colour table, as callers lay it out.
struct Info {
  BITMAPV4HEADER header;
  RGBQUAD colors[256];
  BITMAPINFO* bmi() { return reinterpret_cast<BITMAPINFO*>(this); }
};

Info Request(LONG width, LONG height, WORD bits) {
  Info info;
  std::memset(&info, 0, sizeof info);
  info.header.bV4Size = sizeof(BITMAPV4HEADER);
  info.header.bV4Width = width;
  info.header.bV4Height = height;
  info.header.bV4Planes = 1;
  info.header.bV4BitCount = bits;
  info.header.bV4V4Compression = BI_RGB;
  return info;
}

// A 3 x 2 true-colour bitmap, top row first: red, green, blue / white, black, grey.
const BYTE kPixels24[] = {
    0,   0,   255, 0, 255, 0, 255, 0,   0,   0,  // row 0 (+1 byte to a 2-byte multiple)
    255, 255, 255, 0, 0,   0, 128, 128, 128, 0,  // row 1
};

class GdiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dc.CreateCompatibleDC(nullptr)); }
  CDC dc;
};

TEST_F(GdiTest, GetObjectDescribesTheBitmap) {
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateBitmap(3, 2, 1, 24, kPixels24));
  BITMAP bm;
  EXPECT_EQ(bitmap.GetBitmap(&bm), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(bm.bmWidth, 3);
  EXPECT_EQ(bm.bmHeight, 2);
  EXPECT_EQ(bm.bmWidthBytes, 10);
  EXPECT_EQ(bm.bmBitsPixel, 24);
  EXPECT_EQ(bm.bmPlanes, 1);
  // Unsupported requests make no bitmap.
  EXPECT_EQ(CreateBitmap(0, 2, 1, 24, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(2, 2, 1, 12, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(2, 2, 2, 8, nullptr), nullptr);
}

TEST_F(GdiTest, RowsComeBottomUpInTheRequestedBitCount) {
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateBitmap(3, 2, 1, 24, kPixels24));
  Info info = Request(3, 2, 24);
  std::vector<BYTE> rows(2 * 12, 0xEE);
  ASSERT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 2, rows.data(), info.bmi(), DIB_RGB_COLORS), 2);
  // Buffer row 0 is the bottom row of the picture; rows are padded to 4 bytes.
  const BYTE bottom[] = {255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0};
  const BYTE top[] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(rows.data(), bottom, 12), 0);
  EXPECT_EQ(std::memcmp(rows.data() + 12, top, 12), 0);
  EXPECT_EQ(info.header.bV4SizeImage, 24u);

  // A single row by its number from the bottom.
  std::vector<BYTE> one(12);
  ASSERT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 1, 1, one.data(), info.bmi(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(std::memcmp(one.data(), top, 12), 0);
  EXPECT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 2, 1, one.data(), info.bmi(), DIB_RGB_COLORS), 0);

  // A negative height asks for top-down rows.
  Info down = Request(3, -2, 24);
  ASSERT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 1, one.data(), down.bmi(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(std::memcmp(one.data(), top, 12), 0);
}

TEST_F(GdiTest, ConversionsTo32And16And8And1Bits) {
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateBitmap(3, 2, 1, 24, kPixels24));
  const HDC hdc = dc.GetSafeHdc();

  Info i32 = Request(3, 2, 32);
  std::vector<BYTE> row(12);
  ASSERT_EQ(GetDIBits(hdc, bitmap, 1, 1, row.data(), i32.bmi(), DIB_RGB_COLORS), 1);
  const BYTE top32[] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};
  EXPECT_EQ(std::memcmp(row.data(), top32, 12), 0);

  Info i16 = Request(3, 2, 16);
  ASSERT_EQ(GetDIBits(hdc, bitmap, 1, 1, row.data(), i16.bmi(), DIB_RGB_COLORS), 1);
  auto word = [&](int x) { return row[2 * x] | (row[2 * x + 1] << 8); };
  EXPECT_EQ(word(0), 31 << 10);  // red in 5-5-5
  EXPECT_EQ(word(1), 31 << 5);
  EXPECT_EQ(word(2), 31);

  // True colour to 8 bits: indexes into a table the call fills; each index's
  // entry is the pixel's colour.
  Info i8 = Request(3, 2, 8);
  ASSERT_EQ(GetDIBits(hdc, bitmap, 0, 1, row.data(), i8.bmi(), DIB_RGB_COLORS), 1);
  const RGBQUAD white = i8.colors[row[0]];
  EXPECT_EQ(white.rgbRed, 255);
  EXPECT_EQ(white.rgbGreen, 255);
  EXPECT_EQ(white.rgbBlue, 255);
  const RGBQUAD black = i8.colors[row[1]];
  EXPECT_EQ(black.rgbRed + black.rgbGreen + black.rgbBlue, 0);
  EXPECT_NEAR(i8.colors[row[2]].rgbGreen, 128, 20);

  // To 1 bit: nearest of black and white, eight pixels per byte, first pixel high.
  Info i1 = Request(3, 2, 1);
  ASSERT_EQ(GetDIBits(hdc, bitmap, 0, 1, row.data(), i1.bmi(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(row[0] & 0xE0, 0xA0);  // white, black, and grey 128 lies nearer white
  EXPECT_EQ(i1.colors[1].rgbRed, 255);
  EXPECT_EQ(i1.colors[0].rgbRed, 0);
}

TEST_F(GdiTest, IndexedBitmapsKeepTheirIndexesAndTable) {
  // 4 x 1 at 8 bits with a colour table of our own, set through the DC.
  const BYTE pixels[] = {0, 1, 2, 3};
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateBitmap(4, 1, 1, 8, pixels));
  EXPECT_EQ(dc.SelectObject(&bitmap), nullptr);  // nothing was selected before
  const RGBQUAD table[4] = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}, {1, 2, 3, 0}};
  ASSERT_EQ(SetDIBColorTable(dc.GetSafeHdc(), 0, 4, table), 4u);

  Info i8 = Request(4, 1, 8);
  std::vector<BYTE> row(4);
  ASSERT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 1, row.data(), i8.bmi(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(row, std::vector<BYTE>({0, 1, 2, 3}));
  EXPECT_EQ(i8.colors[1].rgbBlue, 40);
  EXPECT_EQ(i8.colors[3].rgbRed, 3);

  // The header query alone fills the colour table too.
  Info query = Request(4, 1, 8);
  EXPECT_NE(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 1, nullptr, query.bmi(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(query.colors[2].rgbGreen, 80);

  // Expanded to 24 bits through the table.
  Info i24 = Request(4, 1, 24);
  std::vector<BYTE> rgb(12);
  ASSERT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 1, rgb.data(), i24.bmi(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(rgb[3], 40);
  EXPECT_EQ(rgb[5], 60);

  // A 1-bit bitmap read as 4 bits: indexes kept, table black then white.
  const BYTE mono[] = {0xA0, 0};  // 1 0 1 0
  CBitmap m;
  ASSERT_TRUE(m.CreateBitmap(4, 1, 1, 1, mono));
  Info i4 = Request(4, 1, 4);
  ASSERT_EQ(GetDIBits(dc.GetSafeHdc(), m, 0, 1, row.data(), i4.bmi(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(row[0], 0x10);
  EXPECT_EQ(row[1], 0x10);
  EXPECT_EQ(i4.colors[1].rgbGreen, 255);
}

TEST_F(GdiTest, HeaderQueryWithoutBitCountDescribesTheBitmap) {
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateBitmap(5, 3, 1, 16, nullptr));
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  EXPECT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 3, nullptr, &info, DIB_RGB_COLORS), 3);
  EXPECT_EQ(info.bmiHeader.biWidth, 5);
  EXPECT_EQ(info.bmiHeader.biHeight, 3);
  EXPECT_EQ(info.bmiHeader.biBitCount, 16);
  EXPECT_EQ(info.bmiHeader.biSizeImage, 12u * 3);
}

TEST_F(GdiTest, BadRequestsAndStaleHandlesFail) {
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateBitmap(2, 2, 1, 24, nullptr));
  std::vector<BYTE> row(64);
  Info info = Request(2, 2, 48);  // no such DIB bit count
  EXPECT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 1, row.data(), info.bmi(), DIB_RGB_COLORS), 0);
  info = Request(2, 2, 24);
  EXPECT_EQ(GetDIBits(nullptr, bitmap, 0, 1, row.data(), info.bmi(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 1, row.data(), info.bmi(), DIB_PAL_COLORS), 0);
  info.header.bV4Size = 20;
  EXPECT_EQ(GetDIBits(dc.GetSafeHdc(), bitmap, 0, 1, row.data(), info.bmi(), DIB_RGB_COLORS), 0);

  HBITMAP stale = bitmap;
  ASSERT_TRUE(bitmap.DeleteObject());
  info = Request(2, 2, 24);
  EXPECT_EQ(GetDIBits(dc.GetSafeHdc(), stale, 0, 1, row.data(), info.bmi(), DIB_RGB_COLORS), 0);
  BITMAP bm;
  EXPECT_EQ(GetObject(stale, sizeof bm, &bm), 0);
  EXPECT_FALSE(DeleteObject(stale));
}

TEST(ClipboardTest, OneOpenerAtATimeAndOwnership) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_FALSE(OpenClipboard(nullptr));  // already open
  ASSERT_TRUE(EmptyClipboard());
  HBITMAP first = CreateBitmap(1, 1, 1, 24, nullptr);
  EXPECT_EQ(SetClipboardData(CF_BITMAP, first), first);
  EXPECT_EQ(GetClipboardData(CF_BITMAP), first);
  EXPECT_TRUE(CloseClipboard());
  EXPECT_EQ(GetClipboardData(CF_BITMAP), nullptr);  // closed
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_BITMAP));

  // Emptying deletes the bitmap the clipboard owned.
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  EXPECT_TRUE(CloseClipboard());
  BITMAP bm;
  EXPECT_EQ(GetObject(first, sizeof bm, &bm), 0);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_BITMAP));
}

TEST(CBitmapTest, TemporaryWrappersNeverOwnTheirHandle) {
  HBITMAP handle = CreateBitmap(2, 2, 1, 8, nullptr);
  CBitmap* temp = CBitmap::FromHandle(handle);
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(CBitmap::FromHandle(handle), temp);  // one wrapper per handle
  CBitmap::DeleteTempMap();
  BITMAP bm;
  EXPECT_NE(GetObject(handle, sizeof bm, &bm), 0);  // still alive
  {
    CBitmap owner;
    ASSERT_TRUE(owner.Attach(handle));
    EXPECT_FALSE(owner.Attach(handle));  // already holds one
  }
  EXPECT_EQ(GetObject(handle, sizeof bm, &bm), 0);  // the owner deleted it
  EXPECT_EQ(CBitmap::FromHandle(nullptr), nullptr);
}

}  // namespace

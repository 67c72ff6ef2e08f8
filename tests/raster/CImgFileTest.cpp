#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "support/ScratchDir.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/win/winuser.h"
#include "raster/imgfile/CImgFile.h"

namespace {

// A driver that keeps the rows written to it, and can be told to fail.
class CaptureDriver : public CImgFile {
 public:
  enum Fault { kNone, kWriteFails, kBitmapVanishes };
  Fault fault = kNone;
  HBITMAP vanishing = nullptr;
  std::vector<std::vector<BYTE>> rows;
  std::vector<PALETTEENTRY> paletteAtSave;

  long SaveImage() override {
    SetWidthBytes(static_cast<unsigned long>(CVtImgToolkit::AlignWidthByte(GetPixelFormat(), GetWidth())));
    paletteAtSave.assign(m_Palette.GetData(), m_Palette.GetData() + m_Palette.GetSize());
    if (fault == kBitmapVanishes) DeleteObject(vanishing);
    return 1;
  }
  long WriteScanLine(long row, CImgScanLine& line) override {
    if (fault == kWriteFails && row == 1) return -1;
    if (row != static_cast<long>(rows.size())) return -1;
    rows.emplace_back(line.GetData(), line.GetData() + GetWidthBytes());
    return static_cast<long>(GetWidthBytes());
  }
  bool IsOpen() const { return m_hFile != CFile::hFileNull; }
};

bool IsOpen(const CImgFile& f) { return f.m_hFile != CFile::hFileNull; }

TEST(CImgFileTest, NewDriverDefaults) {
  CImgFile f;
  EXPECT_EQ(f.GetWidth(), 1u);
  EXPECT_EQ(f.GetHeight(), 1u);
  EXPECT_EQ(f.GetPixelFormat(), PF_BIT24);
  EXPECT_EQ(f.GetPixelFormatExt(), PF_BIT24);
  EXPECT_EQ(f.GetWidthBytes(), 0u);
  EXPECT_EQ(f.GetVersion(), 0u);
  EXPECT_STREQ(f.GetTypeFlag(), "BM");
  EXPECT_EQ(f.m_Palette.GetSize(), 0);
  EXPECT_FALSE(IsOpen(f));
  const CTime date = f.GetModifiedDate();
  EXPECT_EQ(date.GetYear(), 1990);
  EXPECT_EQ(date.GetMonth(), 1);
  EXPECT_EQ(date.GetDay(), 1);
  EXPECT_EQ(date.GetHour(), 0);
  EXPECT_EQ(date.GetMinute(), 0);
  EXPECT_EQ(date.GetSecond(), 0);
}

TEST(CImgFileTest, BaseImageOperationsFailAndChangeNothing) {
  ScratchDir dir;
  dir.Put("img.bin", std::string(64, 'x'));
  CImgFile f;
  ASSERT_EQ(f.OpenForRead((dir / "img.bin").c_str()), 1);
  f.SetWidth(7);
  f.SetHeight(3);
  f.SetWidthBytes(21);
  CImgScanLine line(PF_BIT24, 21);
  std::memset(line.GetData(), 0x5A, 21);
  EXPECT_EQ(f.LoadImage(), -1);
  EXPECT_EQ(f.SaveImage(), -1);
  EXPECT_EQ(f.ReadScanLine(0, line), -1);
  EXPECT_EQ(f.WriteScanLine(0, line), -1);
  EXPECT_EQ(f.GetWidth(), 7u);
  EXPECT_EQ(f.GetHeight(), 3u);
  EXPECT_EQ(f.GetWidthBytes(), 21u);
  EXPECT_EQ(line[20], 0x5A);
  f.Close();
  EXPECT_FALSE(IsOpen(f));
  // Properties outlive Close and a new open.
  ASSERT_EQ(f.OpenForRead((dir / "img.bin").c_str()), 1);
  EXPECT_EQ(f.GetWidth(), 7u);
  f.Close();
  EXPECT_EQ(f.OpenForRead((dir / "missing.bin").c_str()), 0);
  EXPECT_FALSE(IsOpen(f));
}

TEST(CImgFileTest, OpenForWriteCreatesAndTruncates) {
  ScratchDir dir;
  dir.Put("out.img", "old content");
  CImgFile f;
  ASSERT_EQ(f.OpenForWrite((dir / "out.img").c_str()), 1);
  f.Write("ab", 2);
  f.Close();
  EXPECT_EQ(dir.Get("out.img"), "ab");
  EXPECT_EQ(f.OpenForWrite((dir / "no/such/dir/out.img").c_str()), 0);
}

TEST(CImgFileTest, SetPaletteCopiesEntries) {
  CImgFile f;
  CPaletteArray source;
  EXPECT_EQ(f.SetPalette(source), 0);
  source.SetSize(256);
  for (int i = 0; i < 256; ++i) source[i] = PALETTEENTRY{BYTE(i), BYTE(255 - i), BYTE(i ^ 0x55), BYTE(i & 1)};
  EXPECT_EQ(f.SetPalette(source), 256);
  EXPECT_EQ(std::memcmp(f.m_Palette.GetData(), source.GetData(), 256 * 4), 0);
  source[0].peRed = 99;  // a copy, not a view
  EXPECT_EQ(f.m_Palette[0].peRed, 0);
  // Passing the driver's own palette keeps it.
  EXPECT_EQ(f.SetPalette(f.m_Palette), 256);
  EXPECT_EQ(f.m_Palette[255].peGreen, 0);
  CPaletteArray empty;
  EXPECT_EQ(f.SetPalette(empty), 0);
  EXPECT_EQ(f.m_Palette.GetSize(), 0);
}

TEST(CImgFileTest, CreateGrayPalette) {
  CPaletteArray palette;
  EXPECT_EQ(CImgFile::CreateGrayPalette(palette, 256), 1);
  ASSERT_EQ(palette.GetSize(), 256);
  const PALETTEENTRY e = palette[200];
  EXPECT_EQ(e.peRed, 200);
  EXPECT_EQ(e.peGreen, 200);
  EXPECT_EQ(e.peBlue, 200);
  EXPECT_EQ(e.peFlags, 0);
  EXPECT_EQ(CImgFile::CreateGrayPalette(palette, 16), 1);
  ASSERT_EQ(palette.GetSize(), 16);
  EXPECT_EQ(palette[15].peRed, 15);  // no scaling to the full range
  EXPECT_EQ(CImgFile::CreateGrayPalette(palette, 300), 1);
  EXPECT_EQ(palette[299].peGreen, 299 % 256);
  EXPECT_EQ(CImgFile::CreateGrayPalette(palette, 0), 1);
  EXPECT_EQ(palette.GetSize(), 0);
  EXPECT_EQ(CImgFile::CreateGrayPalette(palette, -3), 1);
  EXPECT_EQ(palette.GetSize(), 0);
}

class OutputDirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    // 2 x 3 pixels, 24 bits, top row first; row r pixel x = (10r + x, 100 + r, 200).
    std::vector<BYTE> bits;
    for (int r = 0; r < 3; ++r) {
      for (int x = 0; x < 2; ++x) {
        bits.push_back(BYTE(200));
        bits.push_back(BYTE(100 + r));
        bits.push_back(BYTE(10 * r + x));
      }
    }
    ASSERT_TRUE(bitmap.CreateBitmap(2, 3, 1, 24, bits.data()));
  }
  ScratchDir dir;
  CDC dc;
  CBitmap bitmap;
};

TEST_F(OutputDirectTest, RowIIsTheBitmapsIthRowFromTheBottom) {
  CaptureDriver f;
  ASSERT_EQ(f.OutputDirect((dir / "out.img").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), 1);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.GetWidth(), 2u);
  EXPECT_EQ(f.GetHeight(), 3u);
  ASSERT_EQ(f.rows.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    const int r = 2 - i;  // picture row from the top
    const std::vector<BYTE> expected = {200, BYTE(100 + r), BYTE(10 * r),
                                        200, BYTE(100 + r), BYTE(10 * r + 1)};
    EXPECT_EQ(f.rows[static_cast<size_t>(i)], expected) << "row " << i;
  }
  EXPECT_EQ(f.m_Palette.GetSize(), 0);
}

TEST_F(OutputDirectTest, IndexedFormatsTakeTheColourTableUnchanged) {
  // An 8-bit bitmap with a table set through the DC: the palette receives
  // the table's bytes as they are (blue, green, red, 0).
  const BYTE pixels[] = {0, 1};
  CBitmap indexed;
  ASSERT_TRUE(indexed.CreateBitmap(2, 1, 1, 8, pixels));
  dc.SelectObject(&indexed);
  const RGBQUAD table[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  ASSERT_EQ(SetDIBColorTable(dc.GetSafeHdc(), 0, 2, table), 2u);
  CaptureDriver f;
  ASSERT_EQ(f.OutputDirect((dir / "p.img").c_str(), &dc, &indexed, PF_BIT8, CRect2D()), 1);
  ASSERT_EQ(f.paletteAtSave.size(), 256u);
  EXPECT_EQ(f.paletteAtSave[1].peRed, 4);
  EXPECT_EQ(f.paletteAtSave[1].peGreen, 5);
  EXPECT_EQ(f.paletteAtSave[1].peBlue, 6);
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0], std::vector<BYTE>({0, 1}));
}

TEST_F(OutputDirectTest, FailureCodesLeaveTheObjectClosed) {
  CaptureDriver f;
  EXPECT_EQ(f.OutputDirect((dir / "no/dir/x.img").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), -1);
  EXPECT_FALSE(f.IsOpen());

  // No device, no bitmap, or a bit count the device cannot deliver: -1.
  EXPECT_EQ(f.OutputDirect((dir / "a.img").c_str(), nullptr, &bitmap, PF_BIT24, CRect2D()), -1);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.OutputDirect((dir / "b.img").c_str(), &dc, nullptr, PF_BIT24, CRect2D()), -1);
  EXPECT_EQ(f.OutputDirect((dir / "c.img").c_str(), &dc, &bitmap, PF_BIT48, CRect2D()), -1);
  EXPECT_FALSE(f.IsOpen());

  // The base SaveImage fails: -2, after the file was created.
  CImgFile base;
  EXPECT_EQ(base.OutputDirect((dir / "d.img").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), -2);
  EXPECT_FALSE(IsOpen(base));
  EXPECT_TRUE(dir.Exists("d.img"));

  // The bitmap disappears after the header: the device cannot deliver a row.
  CaptureDriver vanishing;
  vanishing.fault = CaptureDriver::kBitmapVanishes;
  vanishing.vanishing = static_cast<HBITMAP>(bitmap.Detach());
  EXPECT_EQ(vanishing.OutputDirect((dir / "e.img").c_str(), &dc, CBitmap::FromHandle(vanishing.vanishing),
                                   PF_BIT24, CRect2D()),
            -3);
  EXPECT_FALSE(vanishing.IsOpen());
  EXPECT_TRUE(vanishing.rows.empty());
}

TEST_F(OutputDirectTest, WriteFailureIsMinusFourAfterTheRowsBefore) {
  CaptureDriver f;
  f.fault = CaptureDriver::kWriteFails;
  EXPECT_EQ(f.OutputDirect((dir / "w.img").c_str(), &dc, &bitmap, PF_BIT24, CRect2D()), -4);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.rows.size(), 1u);
}

TEST(ClipboardTransferTest, CopyThenPasteHandsOverTheBitmap) {
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateBitmap(4, 4, 1, 24, nullptr));
  const HGDIOBJ handle = bitmap.GetSafeHandle();
  EXPECT_EQ(CImgFile::Copy(&bitmap), 1);
  EXPECT_EQ(bitmap.GetSafeHandle(), nullptr);  // the clipboard owns it now
  CBitmap* pasted = CImgFile::Paste();
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(pasted->GetSafeHandle(), handle);
  BITMAP bm;
  EXPECT_EQ(pasted->GetBitmap(&bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 4);

  // While another user holds the clipboard: Paste gives null, Copy still
  // answers 1 and the caller keeps its bitmap.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_EQ(CImgFile::Paste(), nullptr);
  CBitmap other;
  ASSERT_TRUE(other.CreateBitmap(1, 1, 1, 24, nullptr));
  EXPECT_EQ(CImgFile::Copy(&other), 1);
  EXPECT_NE(other.GetSafeHandle(), nullptr);
  ASSERT_TRUE(CloseClipboard());
  EXPECT_EQ(CImgFile::Copy(nullptr), 1);

  // An empty clipboard pastes nothing.
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  ASSERT_TRUE(CloseClipboard());
  EXPECT_EQ(CImgFile::Paste(), nullptr);
  CBitmap::DeleteTempMap();
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>

#include "platform/vtcore/CImgScanLine.h"
#include "platform/vtcore/CRect2D.h"

namespace {

template <class T>
CImgScanLine LineOf(ImgPixelFormat format, std::initializer_list<T> values) {
  CImgScanLine line(format, static_cast<long>(values.size() * sizeof(T)));
  std::memcpy(line.GetData(), values.begin(), values.size() * sizeof(T));
  return line;
}

TEST(CImgScanLineTest, ConstructorSizesBufferAndFields) {
  CImgScanLine line(PF_BIT24, 30);
  EXPECT_EQ(line.GetSize(), 30);
  EXPECT_EQ(line.m_nLength, 30);
  EXPECT_EQ(line.m_nWidth, 10);
  EXPECT_EQ(line.m_PixelFormat, PF_BIT24);
  CImgScanLine bits(PF_BIT1, 3);
  EXPECT_EQ(bits.m_nWidth, 24);
}

TEST(CImgScanLineTest, GetValueDecodesEachFormat) {
  CImgScanLine b1(PF_BIT1, 1);
  b1[0] = 0xA0;  // 1010 0000
  EXPECT_EQ(b1.GetValue(0), 1);
  EXPECT_EQ(b1.GetValue(1), 0);
  EXPECT_EQ(b1.GetValue(2), 1);
  CImgScanLine b4(PF_BIT4, 1);
  b4[0] = 0x3C;  // first pixel in the high nibble
  EXPECT_EQ(b4.GetValue(0), 3);
  EXPECT_EQ(b4.GetValue(1), 12);
  EXPECT_EQ(LineOf<uint8_t>(PF_BIT8, {200, 7}).GetValue(0), 200);
  EXPECT_EQ(LineOf<int16_t>(PF_BIT16, {-9999, 5}).GetValue(0), -9999);
  EXPECT_EQ(LineOf<int32_t>(PF_BIT32, {-7, 1 << 30}).GetValue(1), 1 << 30);
  EXPECT_EQ(LineOf<int32_t>(PF_INT32, {-2147483647 - 1}).GetValue(0), -2147483648.0);
  EXPECT_EQ(LineOf<int64_t>(PF_BIT64, {-5000000000LL}).GetValue(0), -5000000000.0);
  EXPECT_EQ(LineOf<float>(PF_FLOAT32, {0.5f, -3.25f}).GetValue(1), -3.25);
  EXPECT_EQ(LineOf<double>(PF_FLOAT64, {1e-300}).GetValue(0), 1e-300);
  CImgScanLine rgb = LineOf<uint8_t>(PF_BIT24, {1, 2, 3});
  EXPECT_EQ(rgb.GetValue(0), 1 + 2 * 256 + 3 * 65536);
}

TEST(CImgScanLineTest, GetValueOutsideTheBufferIsZero) {
  CImgScanLine line = LineOf<double>(PF_FLOAT64, {4.0, 5.0});
  EXPECT_EQ(line.GetValue(1), 5.0);
  EXPECT_EQ(line.GetValue(2), 0.0);
  EXPECT_EQ(line.GetValue(-1), 0.0);
  CImgScanLine empty;
  empty.m_PixelFormat = PF_BIT1;
  EXPECT_EQ(empty.GetValue(0), 0.0);
}

TEST(CImgScanLineTest, SwapBlueRedStaysWithinWidth) {
  CImgScanLine line = LineOf<uint8_t>(PF_BIT24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  line.m_nWidth = 2;  // the last four bytes are padding
  line.SwapBlueRed();
  const uint8_t expected[] = {3, 2, 1, 6, 5, 4, 7, 8, 9, 10};
  EXPECT_EQ(std::memcmp(line.GetData(), expected, 10), 0);
  line.m_nWidth = 0;  // no width: as many pixels as the buffer holds
  line.SwapBlueRed();
  const uint8_t twice[] = {1, 2, 3, 4, 5, 6, 9, 8, 7, 10};
  EXPECT_EQ(std::memcmp(line.GetData(), twice, 10), 0);
}

TEST(CRect2DTest, SizesAndEmptiness) {
  CRect2D r(500, 3100, 700, 3000);
  EXPECT_EQ(r.Width(), 200);
  EXPECT_EQ(r.Height(), 100);
  EXPECT_FALSE(r.IsRectEmpty());
  EXPECT_FALSE(r.IsRectNull());
  CRect2D flipped(500, 3000, 700, 3100);  // top below bottom
  EXPECT_TRUE(flipped.IsRectEmpty());
  r.SetRectEmpty();
  EXPECT_TRUE(r.IsRectNull());
  EXPECT_TRUE(r.IsRectEmpty());
  r.SetRect(CPoint2D(1, 9), CPoint2D(4, 2));
  EXPECT_EQ(r, CRect2D(1, 9, 4, 2));
}

}  // namespace

TEST(CImgScanLineSize, ARowTheByteArrayCannotHoldIsEmpty) {
  const CImgScanLine huge(PF_BIT8, 3L << 30);  // no exception out of the library
  EXPECT_EQ(huge.GetSize(), 0);
  EXPECT_EQ(huge.m_nWidth, 0);
  EXPECT_EQ(CImgScanLine(PF_BIT8, -5).GetSize(), 0);
}

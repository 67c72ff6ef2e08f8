// The in-memory image block the PNG and JPEG block operations read and fill.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/vtelem/CGeoImgBlock.h"

namespace {

TEST(CGeoImgBlockTest, RowsAreCopiedInAndOutWithinTheBlock) {
  CGeoImgBlock block(PF_BIT24, 5, 3);
  ASSERT_EQ(block.m_nWidthBytes, 16);  // 15 bytes rounded up to 4
  ASSERT_EQ(block.GetStorageSize(), 48u);
  CImgScanLine in(PF_BIT24, 16), out(PF_BIT24, 20);
  for (int i = 0; i < 16; ++i) in[i] = static_cast<BYTE>(i + 1);
  ASSERT_TRUE(block.SetScanLine(2, in));
  std::memset(out.GetData(), 0xEE, 20);
  ASSERT_TRUE(block.GetScanLine(2, out));
  EXPECT_EQ(std::memcmp(out.GetData(), in.GetData(), 16), 0);
  EXPECT_EQ(out[16], 0xEE) << "no byte past the row";
  // A short line fills the start of the row and zeroes the rest.
  CImgScanLine shortLine(PF_BIT24, 4);
  for (int i = 0; i < 4; ++i) shortLine[i] = 0x77;
  ASSERT_TRUE(block.SetScanLine(2, shortLine));
  ASSERT_TRUE(block.GetScanLine(2, out));
  EXPECT_EQ(out[3], 0x77);
  EXPECT_EQ(out[4], 0);
  // Rows outside the block, and the arguments the platform never sets.
  EXPECT_FALSE(block.SetScanLine(3, in));
  EXPECT_FALSE(block.SetScanLine(-1, in));
  EXPECT_FALSE(block.GetScanLine(3, out));
  EXPECT_FALSE(block.GetScanLine(0, out, 1, 0));
  EXPECT_FALSE(block.SetScanLine(0, in, 0, 1));
}

TEST(CGeoImgBlockTest, SizesSetByHandAreAllocatedOnFirstStoreOrRefused) {
  CGeoImgBlock block;
  block.m_PixelFormat = PF_BIT8;
  block.m_nWidth = block.m_nWidthBytes = 7;
  block.m_nHeight = 2;
  CImgScanLine line(PF_BIT8, 7);
  EXPECT_EQ(block.GetRow(0), nullptr) << "nothing stored yet";
  ASSERT_TRUE(block.SetScanLine(1, line));
  EXPECT_EQ(block.GetStorageSize(), 14u);
  // More than the block may hold is refused without allocating.
  CGeoImgBlock huge(PF_BIT32, 1 << 20, 1 << 20);
  EXPECT_EQ(huge.m_nWidth, 0);
  EXPECT_EQ(huge.GetStorageSize(), 0u);
  block.m_nHeight = -1;
  EXPECT_FALSE(block.Allocate());
}

}  // namespace

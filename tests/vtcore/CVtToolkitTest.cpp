#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/ScopedEnv.h"
#include "support/ScratchDir.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "platform/vtcore/CVtOperator.h"
#include "platform/vtcore/CVtToolkit.h"
#include "platform/win/winnls.h"

namespace {

struct Split {
  std::string drive, dir, name, ext;
};

Split SplitOf(const char* path) {
  CString drive, dir, name, ext;
  CVtToolkit::SplitPath(path, drive, dir, name, ext);
  return {drive.str(), dir.str(), name.str(), ext.str()};
}

TEST(CVtToolkitTest, SplitPathLeavesDotsInDirectoriesAlone) {
  Split s = SplitOf("/data/v1.2/dem.tile.raw");
  EXPECT_EQ(s.drive, "");
  EXPECT_EQ(s.dir, "/data/v1.2/");
  EXPECT_EQ(s.name, "dem.tile");
  EXPECT_EQ(s.ext, ".raw");

  s = SplitOf("/data/v1.2/dem");  // no extension: the dot belongs to the directory
  EXPECT_EQ(s.dir, "/data/v1.2/");
  EXPECT_EQ(s.name, "dem");
  EXPECT_EQ(s.ext, "");

  s = SplitOf("C:\\gis\\map.d\\grid\\hdr.adf");
  EXPECT_EQ(s.drive, "C:");
  EXPECT_EQ(s.dir, "\\gis\\map.d\\grid\\");
  EXPECT_EQ(s.name, "hdr");
  EXPECT_EQ(s.ext, ".adf");

  s = SplitOf("mixed/dir\\file.E00");
  EXPECT_EQ(s.dir, "mixed/dir\\");
  EXPECT_EQ(s.name, "file");

  s = SplitOf("plain");
  EXPECT_EQ(s.dir, "");
  EXPECT_EQ(s.name, "plain");
  EXPECT_EQ(s.ext, "");

  s = SplitOf("/grid/dir/");  // a directory with its trailing separator
  EXPECT_EQ(s.dir, "/grid/dir/");
  EXPECT_EQ(s.name, "");
}

TEST(CVtToolkitTest, ChangeExtNameReplacesOnlyTheFileExtension) {
  EXPECT_STREQ(CVtToolkit::ChangeExtName("/a.b/c.d/dem.bmp", ".raw"), "/a.b/c.d/dem.raw");
  EXPECT_STREQ(CVtToolkit::ChangeExtName("/a.b/c.d/dem", ".ifo"), "/a.b/c.d/dem.ifo");
  EXPECT_STREQ(CVtToolkit::ChangeExtName("dem.x.y", ".HDR"), "dem.x.HDR");
  EXPECT_STREQ(CVtToolkit::ChangeExtName("D:\\x.y\\map", ".xsd"), "D:\\x.y\\map.xsd");
}

TEST(CVtToolkitTest, Flip8ReversesBytesAndIsItsOwnInverse) {
  const unsigned char bigEndianOne[8] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
  double raw;
  std::memcpy(&raw, bigEndianOne, 8);
  EXPECT_EQ(CVtToolkit::FLIP8(raw), 1.0);
  for (double v : {0.0, -2.5, 1e300, 123456.789}) EXPECT_EQ(CVtToolkit::FLIP8(CVtToolkit::FLIP8(v)), v);
}

TEST(CVtToolkitTest, IsFileExistedMatchesCaseButNotDirectories) {
  ScratchDir dir;
  dir.Put("Grid.HDR", "x");
  EXPECT_TRUE(CVtToolkit::IsFileExisted((dir / "Grid.HDR").c_str()));
  EXPECT_TRUE(CVtToolkit::IsFileExisted((dir / "grid.hdr").c_str()));
  EXPECT_FALSE(CVtToolkit::IsFileExisted((dir / "grid.hd").c_str()));
  EXPECT_FALSE(CVtToolkit::IsFileExisted(dir.path().c_str()));
  EXPECT_FALSE(CVtToolkit::IsFileExisted(""));
}

TEST(CVtToolkitTest, CodePageAndCharsetFollowTheLocale) {
  {
    ScopedEnv env("LC_ALL", "zh_CN.GBK");
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(CVtToolkit::GetCharset(), 134);
  }
  {
    ScopedEnv env("LC_ALL", "zh_TW.Big5");
    EXPECT_EQ(GetACP(), 950u);
    EXPECT_EQ(CVtToolkit::GetCharset(), 136);
  }
  {
    ScopedEnv env("LC_ALL", "en_US.UTF-8");
    EXPECT_EQ(GetACP(), 65001u);
    EXPECT_EQ(CVtToolkit::GetCharset(), 1);
  }
  {
    ScopedEnv env("LC_ALL", "C");
    EXPECT_EQ(GetACP(), 1252u);
  }
  {
    ScopedEnv env("LC_ALL", "pl_PL.ISO-8859-2");
    EXPECT_EQ(GetACP(), 28592u);
  }
}

TEST(CVtOperatorTest, Is0UsesASmallTolerance) {
  EXPECT_TRUE(CVtOperator::Is0(0.0));
  EXPECT_TRUE(CVtOperator::Is0(-1e-12));
  EXPECT_FALSE(CVtOperator::Is0(1e-6));  // a cell size in degrees is not zero
  EXPECT_FALSE(CVtOperator::Is0(-3.0));
}

TEST(CVtImgToolkitTest, BitCountsAndFormats) {
  for (int bits : {1, 4, 8, 16, 24, 32, 48, 64}) {
    ImgPixelFormat f = CVtImgToolkit::Bit2Format(static_cast<unsigned short>(bits));
    EXPECT_EQ(static_cast<int>(f), bits);
    EXPECT_EQ(CVtImgToolkit::BitCount(f), bits);
  }
  EXPECT_EQ(CVtImgToolkit::Bit2Format(2), PF_UNKNOWN);
  EXPECT_EQ(CVtImgToolkit::Bit2Format(320), PF_UNKNOWN);  // grid formats are never derived
  EXPECT_EQ(CVtImgToolkit::BitCount(PF_INT32), 32);
  EXPECT_EQ(CVtImgToolkit::BitCount(PF_FLOAT32), 32);
  EXPECT_EQ(CVtImgToolkit::BitCount(PF_FLOAT64), 64);
  EXPECT_EQ(CVtImgToolkit::PaletteSize(PF_BIT1), 2);
  EXPECT_EQ(CVtImgToolkit::PaletteSize(PF_BIT4), 16);
  EXPECT_EQ(CVtImgToolkit::PaletteSize(PF_BIT8), 256);
  EXPECT_EQ(CVtImgToolkit::PaletteSize(PF_BIT16), 0);
  EXPECT_EQ(CVtImgToolkit::PaletteSize(PF_FLOAT32), 0);
}

TEST(CVtImgToolkitTest, RowLengths) {
  // AlignWidth rounds to 4 bytes, AlignWidthByte to whole bytes.
  EXPECT_EQ(CVtImgToolkit::AlignWidth(PF_BIT1, 1), 4);
  EXPECT_EQ(CVtImgToolkit::AlignWidth(PF_BIT1, 33), 8);
  EXPECT_EQ(CVtImgToolkit::AlignWidthByte(PF_BIT1, 9), 2);
  EXPECT_EQ(CVtImgToolkit::AlignWidth(PF_BIT4, 3), 4);
  EXPECT_EQ(CVtImgToolkit::AlignWidthByte(PF_BIT4, 3), 2);
  EXPECT_EQ(CVtImgToolkit::AlignWidth(PF_BIT24, 5), 16);
  EXPECT_EQ(CVtImgToolkit::AlignWidthByte(PF_BIT24, 5), 15);
  EXPECT_EQ(CVtImgToolkit::AlignWidth(PF_FLOAT64, 3), 24);
  EXPECT_EQ(CVtImgToolkit::AlignWidth(PF_BIT24, 0), 0);
  EXPECT_EQ(CVtImgToolkit::AlignWidth(PF_BIT24, -4), 0);
  // No 32-bit overflow on wide rows.
  EXPECT_EQ(CVtImgToolkit::AlignWidthByte(PF_BIT64, 400000000L), 3200000000L);
}

}  // namespace

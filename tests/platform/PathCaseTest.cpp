#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/posix/PathCase.h"
#include "support/ScratchDir.h"

TEST(PathCaseTest, ExactNameWinsOverCaseVariants) {
  ScratchDir dir;
  dir.Put("dem.ifo", "lower");
  dir.Put("DEM.IFO", "upper");
  EXPECT_EQ(VtResolvePathCase(dir / "dem.ifo"), dir / "dem.ifo");
  EXPECT_EQ(VtResolvePathCase(dir / "DEM.IFO"), dir / "DEM.IFO");
  // Two variants and neither is exact: no way to choose, so nothing is found.
  EXPECT_EQ(VtResolvePathCase(dir / "Dem.Ifo"), dir / "Dem.Ifo");
}

TEST(PathCaseTest, FindsTheOneEntryThatDiffersInCase) {
  ScratchDir dir;
  dir.Put("dem.IFO", "x");
  dir.Put("dem.ifox", "x");  // a longer name sharing the prefix must not match
  ASSERT_EQ(::mkdir((dir / "Layer").c_str(), 0755), 0);
  EXPECT_EQ(VtResolvePathCase(dir / "dem.ifo"), dir / "dem.IFO");
  EXPECT_EQ(VtResolvePathCase(dir / "DEM.ifo"), dir / "dem.IFO");
  EXPECT_EQ(VtResolvePathCase(dir / "LAYER"), dir / "Layer");
  EXPECT_EQ(VtResolvePathCase(dir / "dem.if"), dir / "dem.if");
  EXPECT_EQ(VtResolvePathCase(dir / "nothing.hdr"), dir / "nothing.hdr");
}

TEST(PathCaseTest, OnlyTheLastComponentIsResolved) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
  dir.Put("sub/hdr.adf", "x");
  EXPECT_EQ(VtResolvePathCase(dir / "sub/HDR.ADF"), dir / "sub/hdr.adf");
  EXPECT_EQ(VtResolvePathCase(dir / "SUB/HDR.ADF"), dir / "SUB/HDR.ADF");
  EXPECT_EQ(VtResolvePathCase(dir / "missing/hdr.adf"), dir / "missing/hdr.adf");
  // A trailing slash names no entry to resolve.
  EXPECT_EQ(VtResolvePathCase(dir / "SUB/"), dir / "SUB/");
}

TEST(PathCaseTest, BareNameIsLookedUpInTheCurrentDirectory) {
  ScratchDir dir;
  dir.Put("Image.E01", "x");
  CurrentDir cd(dir.path());
  EXPECT_EQ(VtResolvePathCase("image.e01"), "Image.E01");
  EXPECT_EQ(VtResolvePathCase("./IMAGE.E01"), "./Image.E01");
  EXPECT_EQ(VtResolvePathCase(""), "");
}

TEST(PathCaseTest, OnlyAsciiLettersFoldCase) {
  ScratchDir dir;
  dir.Put("\xC3\x89tude.txt", "x");      // "Étude" in UTF-8
  dir.Put("\xB5\xD8\xCD\xBC.TAB", "x");  // GBK bytes
  EXPECT_EQ(VtResolvePathCase(dir / "\xC3\xA9tude.txt"), dir / "\xC3\xA9tude.txt");
  EXPECT_EQ(VtResolvePathCase(dir / "\xC3\x89TUDE.TXT"), dir / "\xC3\x89tude.txt");
  EXPECT_EQ(VtResolvePathCase(dir / "\xB5\xD8\xCD\xBC.tab"), dir / "\xB5\xD8\xCD\xBC.TAB");
}

TEST(PathCaseTest, AShorterNameIsNoMatchForALongerOne) {
  ScratchDir dir;
  dir.Put("dem", "x");  // a prefix of the wanted name
  dir.Put("DEM.IF", "x");
  EXPECT_EQ(VtResolvePathCase(dir / "dem.ifo"), dir / "dem.ifo");
  EXPECT_EQ(VtResolvePathCase(dir / "Dem"), dir / "dem");
}

// The geodata library's error and file layer, bound on first use: the
// errors recorded through it are the library's own.
#include <cpl_error.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/geodata/GeodataCpl.h"
#include "support/ScratchDir.h"

TEST(GeodataCplTest, ErrorsAndFilesGoThroughTheGeodataLibrary) {
  vtgeo::CPLErrorReset();
  ASSERT_TRUE(vtgeo::GeodataLoaded());
  vtgeo::CPLError(vtgeo::CE_Failure, CPLE_OpenFailed, "cannot open %s (%d%%)", "x.e00", 50);
  EXPECT_STREQ(vtgeo::CPLGetLastErrorMsg(), "cannot open x.e00 (50%)");
  EXPECT_EQ(vtgeo::CPLGetLastErrorNo(), CPLE_OpenFailed);
  // The same record the library's own callers see.
  EXPECT_STREQ(::CPLGetLastErrorMsg(), "cannot open x.e00 (50%)");
  EXPECT_EQ(::CPLGetLastErrorType(), CE_Failure);
  vtgeo::CPLErrorReset();
  EXPECT_STREQ(::CPLGetLastErrorMsg(), "");

  ScratchDir dir;
  dir.Put("f.txt", "0123456789");
  FILE* f = vtgeo::VSIFOpen((dir / "f.txt").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(vtgeo::VSIFSeek(f, 4, SEEK_SET), 0);
  EXPECT_EQ(vtgeo::VSIFTell(f), 4);
  vtgeo::VSIRewind(f);
  EXPECT_EQ(std::fgetc(f), '0');
  EXPECT_EQ(vtgeo::VSIFClose(f), 0);
  EXPECT_EQ(vtgeo::VSIFOpen((dir / "none.txt").c_str(), "rb"), nullptr);
}

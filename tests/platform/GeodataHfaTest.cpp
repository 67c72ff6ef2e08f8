// Our declarations of the geodata library's HFA functions against the
// installed library: every function is exported, and what each gives on a
// file GDAL wrote agrees with GDAL's own dataset. A library whose functions
// or structures change fails here, loudly, before any reader goes wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/geodata/GeodataHfa.h"
#include "support/HfaFixtures.h"
#include "support/ScratchDir.h"

TEST(GeodataHfaTest, DeclarationsMatchTheInstalledLibrary) {
  ASSERT_TRUE(vtgeo::HfaAvailable()) << vtgeo::HfaLastError();
  ScratchDir dir;
  HfaFixture f;
  f.width = 100, f.height = 70, f.bands = 2, f.type = GDT_Int16;
  f.options = {"BLOCKSIZE=32"};
  f.srs = "EPSG:32717";
  f.hasNoData = true, f.noData = -77;
  const std::string path = dir / "guard.img";
  ASSERT_TRUE(GdalWriteHfa(path, f));

  vtgeo::HFAHandle h = vtgeo::HFAOpen(path.c_str(), "r");
  ASSERT_NE(h, nullptr) << vtgeo::HfaLastError();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);

  int w = 0, hgt = 0, bands = 0;
  ASSERT_EQ(vtgeo::HFAGetRasterInfo(h, &w, &hgt, &bands), 0);
  EXPECT_EQ(w, GDALGetRasterXSize(ds));
  EXPECT_EQ(hgt, GDALGetRasterYSize(ds));
  EXPECT_EQ(bands, GDALGetRasterCount(ds));

  int type = -1, bw = 0, bh = 0, compression = -1;
  ASSERT_EQ(vtgeo::HFAGetBandInfo(h, 2, &type, &bw, &bh, &compression), 0);
  int gbw = 0, gbh = 0;
  GDALGetBlockSize(GDALGetRasterBand(ds, 2), &gbw, &gbh);
  EXPECT_EQ(type, vtgeo::EPT_s16);
  EXPECT_EQ(bw, gbw);
  EXPECT_EQ(bh, gbh);
  EXPECT_EQ(compression, 0);

  double noData = 0;
  int has = 0;
  ASSERT_EQ(vtgeo::HFAGetBandNoData(h, 2, &noData), 1);
  EXPECT_EQ(noData, GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 2), &has));
  EXPECT_EQ(has, 1);

  // Map information: the pixel centres of GDAL's geotransform.
  double gt[6];
  ASSERT_EQ(GDALGetGeoTransform(ds, gt), CE_None);
  const vtgeo::Eprj_MapInfo* map = vtgeo::HFAGetMapInfo(h);
  ASSERT_NE(map, nullptr);
  EXPECT_DOUBLE_EQ(map->upperLeftCenter.x, gt[0] + gt[1] / 2);
  EXPECT_DOUBLE_EQ(map->upperLeftCenter.y, gt[3] + gt[5] / 2);
  EXPECT_DOUBLE_EQ(map->lowerRightCenter.x, gt[0] + gt[1] * (w - 0.5));
  EXPECT_EQ(map->pixelSize.width, gt[1]);
  EXPECT_STREQ(map->units, "meters");

  // The projection record's layout: number and zone as int, names and the
  // spheroid after them where the library put them.
  const vtgeo::Eprj_ProParameters* pro = vtgeo::HFAGetProParameters(h);
  ASSERT_NE(pro, nullptr);
  EXPECT_EQ(pro->proType, vtgeo::EPRJ_INTERNAL);
  EXPECT_EQ(pro->proNumber, 1);
  EXPECT_EQ(pro->proZone, 17);
  EXPECT_LT(pro->proParams[3], 0);  // south
  EXPECT_STREQ(pro->proName, "UTM");
  EXPECT_STREQ(pro->proSpheroid.sphereName, "WGS 84");
  EXPECT_EQ(pro->proSpheroid.a, 6378137.0);
  EXPECT_NEAR(pro->proSpheroid.b, 6356752.314245, 1e-6);
  const vtgeo::Eprj_Datum* datum = vtgeo::HFAGetDatum(h);
  ASSERT_NE(datum, nullptr);
  EXPECT_STREQ(datum->datumname, "WGS 84");
  char* pe = vtgeo::HFAGetPEString(h);
  ASSERT_NE(pe, nullptr);
  EXPECT_NE(std::string(pe).find("UTM_Zone_17S"), std::string::npos) << pe;
  vtgeo::VSIFree(pe);

  // A block as GDAL reads it; the last, partial one too.
  for (int bx : {0, 3}) {
    std::vector<short> ours(32 * 32, 0x5555), theirs(32 * 32);
    ASSERT_EQ(vtgeo::HFAGetRasterBlockEx(h, 2, bx, 2, ours.data(), 32 * 32 * 2), 0);
    ASSERT_EQ(GDALReadBlock(GDALGetRasterBand(ds, 2), bx, 2, theirs.data()), CE_None);
    const int valid = bx == 3 ? 100 - 96 : 32;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < valid; ++x)
        ASSERT_EQ(ours[y * 32 + x], theirs[y * 32 + x]) << bx << " " << x << "," << y;
  }
  GDALClose(ds);

  // Bands and blocks the library would index unchecked are refused here.
  short block[32 * 32];
  EXPECT_NE(vtgeo::HFAGetBandInfo(h, 0, &type, &bw, &bh, nullptr), 0);
  EXPECT_NE(vtgeo::HFAGetBandInfo(h, 3, &type, &bw, &bh, nullptr), 0);
  EXPECT_EQ(vtgeo::HFAGetBandNoData(h, 0, &noData), 0);
  EXPECT_NE(vtgeo::HFAGetRasterBlockEx(h, 1, 4, 0, block, sizeof block), 0);
  EXPECT_NE(vtgeo::HFAGetRasterBlockEx(h, 1, 0, -1, block, sizeof block), 0);
  EXPECT_EQ(vtgeo::HFAClose(h), 0);

  EXPECT_EQ(vtgeo::HFAOpen((dir / "none.img").c_str(), "r"), nullptr);
  EXPECT_NE(vtgeo::HfaLastError().find("none.img"), std::string::npos) << vtgeo::HfaLastError();
}

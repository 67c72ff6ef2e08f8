// ERDAS Imagine files written by GDAL in every pixel type, compressed or
// not, read by our driver: rows must equal GDAL's pixels (packed pixels
// most significant first), nothing may be written past a row, and the
// coordinate system and bounds must describe what GDAL reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/vtcore/CVtErrorMsg.h"
#include "raster/CImgFileImg.h"
#include "support/GdalRaster.h"
#include "support/HfaFixtures.h"
#include "support/ScratchDir.h"

namespace {

const unsigned char kGuard = 0xAB;

struct TypeCase {
  GDALDataType type;
  std::vector<std::string> options;
  int bits;  // packed pixels (NBITS), else 0
  int pixelFormat;
};

// Band 1 (the second) of each file, rows read from the last up so that
// every block row is read out of order, against GDAL's pixels.
TEST(CImgFileImgTest, EveryPixelTypeReadsAsGdal) {
  const TypeCase cases[] = {
      {GDT_Byte, {}, 0, 8},
      {GDT_Byte, {"COMPRESSED=YES", "BLOCKSIZE=32"}, 0, 8},
      {GDT_Byte, {"PIXELTYPE=SIGNEDBYTE"}, 0, 8},
      {GDT_Byte, {"NBITS=1"}, 1, 1},
      {GDT_Byte, {"NBITS=2", "COMPRESSED=YES"}, 2, 2},
      {GDT_Byte, {"NBITS=4"}, 4, 4},
      {GDT_UInt16, {"COMPRESSED=YES"}, 0, 16},
      {GDT_Int16, {}, 0, 16},
      {GDT_UInt32, {}, 0, 32},
      {GDT_Int32, {"COMPRESSED=YES"}, 0, 32},
      {GDT_Float32, {}, 0, 32},
      {GDT_Float64, {"COMPRESSED=YES"}, 0, 64},
      {GDT_CFloat32, {}, 0, 64},
      {GDT_CFloat64, {}, 0, 128},
      // Blocks of any size: one block of the image's width, sizes that are
      // not a multiple of 16, and packed blocks whose rows do not end on a
      // byte (150 x 2 bits).
      {GDT_Byte, {"BLOCKSIZE=150"}, 0, 8},
      {GDT_Int16, {"BLOCKSIZE=50", "COMPRESSED=YES"}, 0, 16},
      {GDT_Byte, {"BLOCKSIZE=40", "NBITS=1"}, 1, 1},
      {GDT_Byte, {"BLOCKSIZE=36", "NBITS=2", "COMPRESSED=YES"}, 2, 2},
      {GDT_Byte, {"BLOCKSIZE=150", "NBITS=2"}, 2, 2},
      {GDT_Byte, {"BLOCKSIZE=34", "NBITS=4"}, 4, 4},
  };
  ScratchDir dir;
  for (const TypeCase& c : cases) {
    HfaFixture f;
    f.type = c.type, f.bands = 2, f.options = c.options;
    const std::string name =
        std::string(GDALGetDataTypeName(c.type)) + (c.options.empty() ? "" : c.options[0]);
    const std::string path = dir / (name + ".img");
    ASSERT_TRUE(GdalWriteHfa(path, f, c.bits)) << name;
    int size = 0;
    const std::vector<unsigned char> gdal = GdalBandBytes(path, 2, &size);
    ASSERT_FALSE(gdal.empty()) << name;

    CImgFileImg img;
    ASSERT_EQ(img.OpenForRead(path.c_str()), 1) << name;
    EXPECT_EQ(img.GetBandCount(), 2);
    ASSERT_EQ(img.LoadImage(1), 1) << name;
    EXPECT_EQ(img.GetPixelFormat(), c.pixelFormat) << name;
    EXPECT_EQ(img.GetPixelFormatExt(), c.pixelFormat) << name;
    EXPECT_EQ(img.GetWidth(), 150u);
    EXPECT_EQ(img.GetHeight(), 70u);
    EXPECT_EQ(img.GetWidthBytes(), (150u * c.pixelFormat + 31) / 32 * 4) << name;
    HFABand* band = nullptr;
    ASSERT_TRUE(img.LoadBandImg(1, band)) << name << ": " << VtGetErrorMsgObj()->GetMessage().GetString();
    const size_t rowBytes = (150 * size_t(c.pixelFormat) + 7) / 8;  // GDAL: 150 x size bytes unpacked
    CImgScanLine line(PF_BIT8, static_cast<long>(rowBytes + 8));
    for (int y = 69; y >= 0; --y) {
      std::memset(line.GetData(), kGuard, static_cast<size_t>(line.GetSize()));
      ASSERT_EQ(img.ReadScanLine(y, line, band), line.GetSize()) << name << " row " << y;
      for (size_t k = rowBytes; k < rowBytes + 8; ++k)
        ASSERT_EQ(line[int(k)], kGuard) << name << " past row " << y;
      const unsigned char* theirs = gdal.data() + size_t(y) * 150 * size;
      if (!c.bits) {
        ASSERT_EQ(std::memcmp(line.GetData(), theirs, rowBytes), 0) << name << " row " << y;
        continue;
      }
      for (int x = 0; x < 150; ++x) {
        const int bit = x * c.bits;
        const int v = (line[bit / 8] >> (8 - c.bits - bit % 8)) & ((1 << c.bits) - 1);
        ASSERT_EQ(v, theirs[x]) << name << " pixel " << x << "," << y;
      }
      // Bits past the last pixel are cleared.
      if (150 * c.bits % 8) {
        ASSERT_EQ(line[int(rowBytes - 1)] & (0xFF >> (150 * c.bits % 8)), 0) << name;
      }
    }
  }
}

TEST(CImgFileImgTest, BlocksAndLines) {
  ScratchDir dir;
  HfaFixture f;
  f.width = 1000, f.height = 40, f.options = {"BLOCKSIZE=256"};
  ASSERT_TRUE(GdalWriteHfa(dir / "wide.img", f));
  f.width = 150, f.options = {"BLOCKSIZE=100"};
  ASSERT_TRUE(GdalWriteHfa(dir / "odd.img", f));

  CImgFileImg img;
  HFABand* band = nullptr;
  std::vector<unsigned char> block(256 * 256);
  EXPECT_EQ(img.LoadImage(), -1);                     // nothing open
  EXPECT_EQ(img.GetImgBlock(0, 0, block.data()), 0);  // no current band
  EXPECT_FALSE(img.LoadBandImg(0, band));
  ASSERT_EQ(img.OpenForRead((dir / "odd.img").c_str()), 1);
  EXPECT_EQ(img.LoadImage(1), -1);  // one band only
  // Blocks of 100 pixels, not a multiple of 16, read as GDAL reads them.
  ASSERT_TRUE(img.LoadBandImg(0, band)) << VtGetErrorMsgObj()->GetMessage().GetString();
  EXPECT_EQ(img.m_nBlocksPerRow, 2);
  {
    const std::vector<unsigned char> odd = GdalBandBytes(dir / "odd.img", 1);
    CImgScanLine row(PF_BIT8, 150);
    for (int y : {39, 0, 17}) {
      ASSERT_EQ(img.ReadScanLine(y, row, band), 150);
      EXPECT_EQ(std::memcmp(row.GetData(), odd.data() + y * 150, 150), 0) << y;
    }
  }

  // Packed blocks of 35 x 35 one-bit pixels end inside a byte: refused.
  f.options = {"BLOCKSIZE=35", "NBITS=1"};
  ASSERT_TRUE(GdalWriteHfa(dir / "bits.img", f, 1));
  ASSERT_EQ(img.OpenForRead((dir / "bits.img").c_str()), 1);
  EXPECT_FALSE(img.LoadBandImg(0, band));
  EXPECT_NE(std::string(VtGetErrorMsgObj()->GetMessage()).find("blocks of 35 x 35 pixels, which end inside a byte"),
            std::string::npos);

  // A 1000-pixel row of 256-pixel blocks: 1000 bytes are enough and nothing
  // goes past them; one byte fewer is refused.
  ASSERT_EQ(img.OpenForRead((dir / "wide.img").c_str()), 1);
  ASSERT_EQ(img.LoadImage(0), 1);
  EXPECT_EQ(img.m_nBlockWidth, 256);
  ASSERT_TRUE(img.LoadBandImg(0, band));
  EXPECT_EQ(img.m_nBlocksPerRow, 4);
  const std::vector<unsigned char> gdal = GdalBandBytes(dir / "wide.img", 1);
  CImgScanLine exact(PF_BIT8, 1000), shorter(PF_BIT8, 999);
  ASSERT_EQ(img.ReadScanLine(7, exact, band), 1000);
  EXPECT_EQ(std::memcmp(exact.GetData(), gdal.data() + 7 * 1000, 1000), 0);
  EXPECT_EQ(img.ReadScanLine(7, shorter, band), -1);
  EXPECT_EQ(img.ReadScanLine(40, exact, band), -1);
  EXPECT_EQ(img.ReadScanLine(0, exact, nullptr), -1);

  // Whole blocks, as GDAL reads them; none beyond the band.
  GDALDatasetH ds = GDALOpen((dir / "wide.img").c_str(), GA_ReadOnly);
  std::vector<unsigned char> theirs(256 * 256);
  ASSERT_EQ(GDALReadBlock(GDALGetRasterBand(ds, 1), 2, 0, theirs.data()), CE_None);
  GDALClose(ds);
  ASSERT_EQ(img.GetImgBlock(0, 2, block.data()), 1);
  for (int y = 0; y < 40; ++y) ASSERT_EQ(std::memcmp(&block[y * 256], &theirs[y * 256], 256), 0) << y;
  EXPECT_EQ(img.GetImgBlock(0, 4, block.data()), 0);  // its first pixel lies at the width
  EXPECT_EQ(img.GetImgBlock(1, 0, block.data()), 0);
  EXPECT_EQ(img.GetImgBlock(0, -1, block.data()), 0);
  EXPECT_EQ(img.GetImgBlock(0, 0, nullptr), 0);
  EXPECT_EQ(img.GetRasterBlock(nullptr, 0, 0, block.data()), 0);
  EXPECT_EQ(img.GetRasterBlock(band, 3, 0, block.data()), 1);
}

// Bands belong to their file: two readers keep their own bands, and a
// closed file's band is refused rather than followed.
TEST(CImgFileImgTest, BandRegistryFollowsFiles) {
  ScratchDir dir;
  HfaFixture f;
  f.bands = 2;
  ASSERT_TRUE(GdalWriteHfa(dir / "a.img", f));
  f.type = GDT_UInt16;
  ASSERT_TRUE(GdalWriteHfa(dir / "b.img", f));
  const std::vector<unsigned char> a1 = GdalBandBytes(dir / "a.img", 2), b1 = GdalBandBytes(dir / "b.img", 2);

  CImgFileImg a, b;
  HFABand *bandA = nullptr, *bandB = nullptr;
  ASSERT_TRUE(a.OpenForRead((dir / "a.img").c_str()) && a.LoadImage(1) == 1 && a.LoadBandImg(1, bandA));
  ASSERT_TRUE(b.OpenForRead((dir / "b.img").c_str()) && b.LoadImage(1) == 1 && b.LoadBandImg(1, bandB));
  EXPECT_EQ(a.m_pCurrentBand, bandA);
  CImgScanLine line(PF_BIT8, 300);
  ASSERT_EQ(a.ReadScanLine(5, line, bandA), 300);
  EXPECT_EQ(std::memcmp(line.GetData(), a1.data() + 5 * 150, 150), 0);
  ASSERT_EQ(b.ReadScanLine(5, line, bandB), 300);
  EXPECT_EQ(std::memcmp(line.GetData(), b1.data() + 5 * 300, 300), 0);
  EXPECT_EQ(a.ReadScanLine(5, line, bandB), -1);

  a.Close();
  EXPECT_EQ(a.m_nBlocksPerRow, 0);
  EXPECT_EQ(a.ReadScanLine(5, line, bandA), -1);
  ASSERT_EQ(b.ReadScanLine(69, line, bandB), 300);
  EXPECT_EQ(std::memcmp(line.GetData(), b1.data() + 69 * 300, 300), 0);
  ASSERT_TRUE(a.OpenForRead((dir / "a.img").c_str()) && a.LoadBandImg(1, bandA));
  ASSERT_EQ(a.ReadScanLine(0, line, bandA), 300);
  EXPECT_EQ(std::memcmp(line.GetData(), a1.data(), 150), 0);

  std::string text(16, 'x');
  dir.Put("text.img", text);
  EXPECT_EQ(a.OpenForRead((dir / "text.img").c_str()), 0);
  EXPECT_NE(std::string(VtGetErrorMsgObj()->GetMessage()).find("text.img"), std::string::npos);
  EXPECT_EQ(a.LoadImage(), -1);
}

struct SystemCase {
  const char* srs;
  long type;
  long unit;
};

// Projection type, unit and WKT of files GDAL wrote, against GDAL's own
// reading; bounds against its geotransform.
TEST(CImgFileImgTest, CoordinateSystemsAsGdal) {
  const SystemCase cases[] = {
      {"EPSG:32617", 43006, 10000},
      {"EPSG:32717", 43006, 10000},
      {"EPSG:2222", 43006, 3048},  // international feet
      {"EPSG:2229", 43020, 3048},  // US survey feet
      {"EPSG:5070", VTPJ_ALBERS, 10000},
      {"EPSG:3395", 43004, 10000},
      {"EPSG:3031", VTPJ_POLAR_STEREOGRAPHIC, 10000},
      {"+proj=stere +lat_0=90 +lat_ts=70 +lon_0=-45 +datum=WGS84", VTPJ_POLAR_STEREOGRAPHIC, 10000},
      {"EPSG:4326", VTPJ_GEOGRAPHIC, 10000},
      {"+proj=longlat +datum=NAD27", VTPJ_GEOGRAPHIC, 10000},
      {"+proj=longlat +ellps=clrk66", VTPJ_GEOGRAPHIC, 10000},
      {"+proj=stere +lat_0=40 +lon_0=10 +k=0.99 +x_0=100 +y_0=200 +datum=WGS84", VTPJ_STEREOGRAPHIC, 10000},
      {"+proj=tmerc +lat_0=10 +lon_0=20 +k=0.999 +x_0=1000 +y_0=2000 +ellps=krass", 43006, 10000},
      {"+proj=laea +lat_0=52 +lon_0=10 +x_0=4321000 +y_0=3210000 +ellps=GRS80", 43033, 10000},
      {"+proj=poly +lat_0=10 +lon_0=20 +datum=WGS84", 43021, 10000},
      {"+proj=eqdc +lat_0=10 +lon_0=20 +lat_1=30 +lat_2=50 +datum=WGS84", 43027, 10000},
      {"+proj=aeqd +lat_0=10 +lon_0=20 +datum=WGS84", 43032, 10000},
      {"+proj=gnom +lat_0=10 +lon_0=20 +datum=WGS84", 43036, 10000},
      {"+proj=sinu +lon_0=20 +datum=WGS84", 43008, 10000},
      {"+proj=mill +lon_0=20 +datum=WGS84", 43003, 10000},
      {"+proj=vandg +lon_0=20 +datum=WGS84", 43029, 10000},
      {"+proj=robin +lon_0=20 +datum=WGS84", 43030, 10000},
      {"+proj=moll +lon_0=20 +datum=WGS84", 43009, 10000},
      {"+proj=eck1 +lon_0=20 +datum=WGS84", 43015, 10000},
      {"+proj=eck4 +lon_0=20 +datum=WGS84", 43012, 10000},
      {"+proj=eck6 +lon_0=20 +datum=WGS84", 43010, 10000},
      {"+proj=cass +lat_0=10 +lon_0=20 +datum=WGS84", 43028, 10000},
      {"+proj=bonne +lat_1=10 +lon_0=20 +datum=WGS84", 43024, 10000},
      {"+proj=gall +lon_0=20 +datum=WGS84", 43016, 10000},
      {"+proj=wink1 +lon_0=20 +lat_ts=10 +datum=WGS84", 43018, 10000},
      {"+proj=loxim +lon_0=20 +datum=WGS84", 43023, 10000},
      {"+proj=qua_aut +lon_0=20 +datum=WGS84", 43022, 10000},
  };
  ScratchDir dir;
  for (const SystemCase& c : cases) {
    HfaFixture f;
    f.width = 40, f.height = 30, f.srs = c.srs;
    const std::string path = dir / "crs.img";
    ASSERT_TRUE(GdalWriteHfa(path, f)) << c.srs;
    CImgFileImg img;
    CVtPJCoordSys cs;
    ASSERT_EQ(img.GetPJCoordSys(path.c_str(), cs), 1)
        << c.srs << ": " << VtGetErrorMsgObj()->GetMessage().GetString();
    EXPECT_EQ(cs.m_Projection.GetType(), c.type) << c.srs;
    EXPECT_EQ(cs.m_nUnit, c.unit) << c.srs;
    EXPECT_EQ(cs.IsGeographic(), c.type == VTPJ_GEOGRAPHIC) << c.srs;
    std::string gdalWkt;
    const std::string wkt = cs.ExportToWkt();
    EXPECT_TRUE(SameSystemAsGdal(path, wkt, gdalWkt)) << c.srs << "\nours: " << wkt << "\nGDAL: " << gdalWkt;

    // The file stays open: its bounds are GDAL's geotransform's.
    GdalGrid g;
    CRect2D bounds;
    ASSERT_TRUE(GdalReadGrid(path, g));
    ASSERT_TRUE(img.GetMapBounds(bounds)) << c.srs;
    const double* gt = g.gt;
    EXPECT_EQ(bounds.left, gt[0]);
    EXPECT_EQ(bounds.top, gt[3]);
    EXPECT_DOUBLE_EQ(bounds.right, gt[0] + 40 * gt[1]);
    EXPECT_DOUBLE_EQ(bounds.bottom, gt[3] + 30 * gt[5]);
  }
}

// What files of other writers carry, made by editing a written file's
// records: unit names in any case, the angle-unit number 50, names the
// tables know, another prime meridian, projections with no type.
using Edit =
    std::function<void(vtgeo::Eprj_ProParameters&, vtgeo::Eprj_MapInfo&, vtgeo::Eprj_Datum&, std::string&)>;

int ReadEdited(const ScratchDir& dir, const char* srs, const Edit& edit, CVtPJCoordSys& cs) {
  HfaFixture f;
  f.width = 20, f.height = 10, f.srs = srs;
  const std::string path = dir / "edit.img";
  std::remove(path.c_str());  // GDAL would read the old file's records first
  if (!GdalWriteHfa(path, f) || !EditHfaProjection(path, edit)) return -1;
  cs = CVtPJCoordSys();
  return CImgFileImg().GetPJCoordSys(path.c_str(), cs);
}

TEST(CImgFileImgTest, FileRecordsTranslate) {
  ScratchDir dir;
  CVtPJCoordSys cs;
  const std::pair<const char*, long> units[] = {
      {"FEET", 3048}, {"US_SURVEY_FEET", 3048}, {"Meters", 10000},   {"km", 10000000},
      {"yd", 9144},   {"degrees", 10000},       {"furlongs", 10000}, {"international_feet", 3048}};
  for (const auto& u : units) {
    ASSERT_EQ(ReadEdited(
                  dir, "EPSG:32633",
                  [&](auto&, auto& m, auto&, auto&) { m.units = const_cast<char*>(u.first); }, cs),
              1);
    EXPECT_EQ(cs.m_nUnit, u.second) << u.first;
  }
  // In feet the WKT's false easting is in feet; the record holds metres.
  EXPECT_NE(cs.ExportToWkt().find("PARAMETER[\"false_easting\",1640419.94750656]"), std::string::npos)
      << cs.ExportToWkt();

  // Number 50 in angle units is longitude and latitude.
  ASSERT_EQ(ReadEdited(
                dir, "EPSG:4326", [](auto& p, auto&, auto&, auto&) { p.proNumber = 50; }, cs),
            1);
  EXPECT_TRUE(cs.IsGeographic());
  EXPECT_EQ(cs.m_Projection.GetType(), VTPJ_GEOGRAPHIC);
  EXPECT_EQ(cs.m_GeoCoordSys.m_strName, "WGS 84");

  // Names with codes; a datum of type "none" names no geographic system.
  ASSERT_EQ(ReadEdited(
                dir, "EPSG:32650",
                [](auto& p, auto&, auto& d, auto&) {
                  d.datumname = const_cast<char*>("Beijing1954(taiwan)");
                  d.type = vtgeo::EPRJ_DATUM_NONE;
                  p.proSpheroid.sphereName = const_cast<char*>("Krasovsky");
                  p.proSpheroid.a = 6378245, p.proSpheroid.b = 6356863.018773047;
                },
                cs),
            1);
  const CVtPJDatum& datum = cs.m_GeoCoordSys.m_Datum;
  EXPECT_EQ(datum.m_nType, 6214);
  EXPECT_EQ(cs.m_GeoCoordSys.m_nType, 4214);
  EXPECT_EQ(datum.m_Spheroid.m_nType, 7024);
  EXPECT_EQ(datum.m_strName, "Beijing1954(taiwan)");
  EXPECT_EQ(cs.m_GeoCoordSys.m_strName, "");
  EXPECT_NEAR(1 / datum.m_Spheroid.m_dFlattening, 298.3, 1e-9);
  EXPECT_EQ(cs.m_Params.m_dCentralMeridian, 117);
  EXPECT_EQ(cs.m_Params.m_nZone, 50);
  EXPECT_EQ(cs.m_GeoCoordSys.m_PrimeMeridian.m_dLongitude, 0);

  // The prime meridian of the file's ESRI text.
  ASSERT_EQ(ReadEdited(
                dir, "EPSG:32631",
                [](auto&, auto&, auto&, auto& pe) {
                  pe = "PROJCS[\"x\",GEOGCS[\"GCS_NTF_Paris\",DATUM[\"D_NTF\",SPHEROID[\"Clarke_1880_IGN\","
                       "6378249.2,"
                       "293.466021293627]],PRIMEM[\"Paris\",2.33722917],UNIT[\"Grad\",0.0157079632679489]]]";
                },
                cs),
            1);
  EXPECT_EQ(cs.m_GeoCoordSys.m_PrimeMeridian.m_strName, "Paris");
  EXPECT_EQ(cs.m_GeoCoordSys.m_PrimeMeridian.m_dLongitude, 2.33722917);

  // A number with no type (state plane), a UTM zone out of range, an
  // external projection: no system, or one without a WKT form.
  EXPECT_EQ(ReadEdited(
                dir, "EPSG:32633", [](auto& p, auto&, auto&, auto&) { p.proNumber = 2; }, cs),
            0);
  EXPECT_EQ(ReadEdited(
                dir, "EPSG:32633", [](auto& p, auto&, auto&, auto&) { p.proZone = 61; }, cs),
            0);
  ASSERT_EQ(ReadEdited(
                dir, "EPSG:32633",
                [](auto& p, auto&, auto&, auto&) {
                  p.proType = vtgeo::EPRJ_EXTERNAL;
                  p.proExeName = const_cast<char*>("nzmg");
                },
                cs),
            1);
  EXPECT_EQ(cs.m_Projection.GetType(), VTPJ_UNKNOWN);
  EXPECT_EQ(cs.ExportToWkt(), "");
  EXPECT_EQ(CImgFileImg().GetPJCoordSys((dir / "none.img").c_str(), cs), 0);
}

}  // namespace

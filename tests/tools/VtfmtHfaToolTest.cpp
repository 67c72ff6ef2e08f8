// The vtfmt tool on ERDAS Imagine files: info with the coordinate system,
// dumps of each pixel type beside GDAL's values, and conversions that GDAL
// reads back with the same values and place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/GdalRaster.h"
#include "support/HfaFixtures.h"
#include "support/ToolRun.h"

namespace {

class VtfmtHfaTest : public ToolTest {};

// Value of pixel i of a dumped row set in pixel format `format`.
double DumpValue(const std::string& out, size_t i, int format, bool isUnsigned) {
  switch (format) {
    case 8:
      return static_cast<unsigned char>(out[i]);
    case 16: {
      int16_t v;
      std::memcpy(&v, &out[2 * i], 2);
      return isUnsigned ? uint16_t(v) : v;
    }
    case 320: {
      int32_t v;
      std::memcpy(&v, &out[4 * i], 4);
      return v;
    }
    case 3200: {
      float v;
      std::memcpy(&v, &out[4 * i], 4);
      return v;
    }
    default: {
      double v;
      std::memcpy(&v, &out[8 * i], 8);
      return v;
    }
  }
}

TEST_F(VtfmtHfaTest, InfoAndDumpOfEachPixelType) {
  struct Case {
    GDALDataType type;
    std::vector<std::string> options;
    int bits;
    const char* dataType;
    int format;
  };
  const Case cases[] = {
      {GDT_Byte, {"NBITS=4"}, 4, "u4", 8},
      {GDT_Byte, {"PIXELTYPE=SIGNEDBYTE"}, 0, "s8", 16},
      {GDT_Byte, {"COMPRESSED=YES"}, 0, "u8", 8},
      {GDT_UInt16, {}, 0, "u16", 16},
      {GDT_Int16, {"COMPRESSED=YES"}, 0, "s16", 16},
      {GDT_UInt32, {}, 0, "u32", 6400},
      {GDT_Int32, {}, 0, "s32", 320},
      {GDT_Float32, {}, 0, "f32", 3200},
      {GDT_Float64, {}, 0, "f64", 6400},
  };
  for (const Case& c : cases) {
    HfaFixture f;
    f.type = c.type, f.bands = 2, f.options = c.options, f.srs = "EPSG:2229";
    f.hasNoData = c.format != 8, f.noData = 77;
    ASSERT_TRUE(GdalWriteHfa(dir / "t.img", f, c.bits));
    std::string out;
    ASSERT_EQ(Run("info -oo band=2 " + Quote(dir / "t.img"), &out), 0) << err;
    auto keys = KeyValues(out);
    EXPECT_EQ(keys["driver"], "hfa");
    EXPECT_EQ(keys["data_type"], c.dataType);
    EXPECT_EQ(keys["pixel_format"], std::to_string(c.format)) << c.dataType;
    EXPECT_EQ(keys["band"], "2");
    EXPECT_EQ(keys["bands"], "2");
    EXPECT_EQ(keys["block_size"], "64 64");
    EXPECT_EQ(keys["nodata"], c.format == 8 ? "none" : "77") << c.dataType;
    EXPECT_EQ(keys["bounds"], "440000 3751000 444500 3748900");
    EXPECT_EQ(keys["projection_type"], "43020 Lambert Conformal Conic");
    EXPECT_EQ(keys["units"], "3048 us_survey_feet");
    std::string gdalWkt;
    EXPECT_TRUE(SameSystemAsGdal(dir / "t.img", keys["wkt"], gdalWkt)) << keys["wkt"] << "\n" << gdalWkt;

    // Band 2 as GDAL reads it (Float64 copies of every pixel).
    ASSERT_EQ(Run("dump -oo band=2 " + Quote(dir / "t.img"), &out), 0) << err;
    GDALDatasetH ds = GDALOpen((dir / "t.img").c_str(), GA_ReadOnly);
    std::vector<double> gdal(150 * 70);
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 2), GF_Read, 0, 0, 150, 70, gdal.data(), 150, 70,
                           GDT_Float64, 0, 0),
              CE_None);
    GDALClose(ds);
    ASSERT_EQ(out.size(), gdal.size() * (c.format == 8 ? 1 : c.format == 16 ? 2 : c.format == 6400 ? 8 : 4));
    // GDAL gives signed bytes as their unsigned bytes (PIXELTYPE=SIGNEDBYTE).
    for (size_t i = 0; i < gdal.size(); ++i) {
      const double expected =
          c.options == std::vector<std::string>{"PIXELTYPE=SIGNEDBYTE"} ? int8_t(gdal[i]) : gdal[i];
      ASSERT_EQ(DumpValue(out, i, c.format, c.type == GDT_UInt16), expected) << c.dataType << " " << i;
    }
  }
  EXPECT_EQ(Run("info -oo band=x " + Quote(dir / "t.img")), 2);
}

// Bands count from 1, as with GDAL's -b and the BIL driver: no option reads
// the first; 0 is a usage error and a band past the last a read failure.
// The sample cut anywhere either dumps whole (the cut took only what rows
// do not need) or fails with one line that calls it an Imagine file that
// cannot be read, never a file of another format.
TEST_F(VtfmtHfaTest, CutFilesFailWithOneLine) {
  std::ifstream in(std::string(VTFMT_SOURCE_DIR) + "/samples/hill-hfa.img", std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), {});
  dir.Put("h.img", whole);
  std::string full;
  ASSERT_EQ(Run("dump " + Quote(dir / "h.img"), &full), 0) << err;
  int failed = 0;
  for (size_t n = 16; n < whole.size(); n += whole.size() / 40) {
    dir.Put("h.img", whole.substr(0, n));
    std::string out;
    const int status = Run("dump " + Quote(dir / "h.img"), &out);
    if (status == 0) {
      EXPECT_EQ(out, full) << n;
      continue;
    }
    ++failed;
    EXPECT_EQ(status, 1) << n;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << n << ": " << err;
    EXPECT_EQ(err.find("not an ERDAS"), std::string::npos) << n << ": " << err;
  }
  EXPECT_GT(failed, 20);
}

TEST_F(VtfmtHfaTest, BandsCountFromOne) {
  HfaFixture f;
  f.bands = 3;
  ASSERT_TRUE(GdalWriteHfa(dir / "b.img", f));
  const std::string img = Quote(dir / "b.img");
  std::string first;
  ASSERT_EQ(Run("dump " + img, &first), 0) << err;
  for (int band = 1; band <= 3; ++band) {
    const std::string option = "-oo band=" + std::to_string(band) + " ";
    std::string out;
    ASSERT_EQ(Run("dump " + option + img, &out), 0) << band << err;
    const std::vector<unsigned char> gdal = GdalBandBytes(dir / "b.img", band);
    EXPECT_EQ(out, std::string(gdal.begin(), gdal.end())) << "band " << band;
    if (band == 1) {
      EXPECT_EQ(out, first);
    }
    ASSERT_EQ(Run("info " + option + img, &out), 0) << err;
    EXPECT_EQ(KeyValues(out)["band"], std::to_string(band));
  }
  std::string out;
  ASSERT_EQ(Run("info " + img, &out), 0) << err;
  EXPECT_EQ(KeyValues(out)["band"], "1");

  EXPECT_EQ(Run("dump -oo band=0 " + img), 2);
  EXPECT_NE(err.find("band must be a band number from 1, not 0"), std::string::npos) << err;
  EXPECT_EQ(Run("dump -oo band=4 " + img), 1);
  EXPECT_NE(err.find("band 4 asked for; the file has 3"), std::string::npos) << err;
}

TEST_F(VtfmtHfaTest, ConvertCarriesValuesAndPlace) {
  HfaFixture f;
  f.type = GDT_Float32, f.srs = "EPSG:32633";
  ASSERT_TRUE(GdalWriteHfa(dir / "f.img", f));
  GdalGrid source;
  ASSERT_TRUE(GdalReadGrid(dir / "f.img", source));
  for (const char* name : {"out.tif", "out.asc"}) {
    ASSERT_EQ(Run("convert " + Quote(dir / "f.img") + " " + Quote(dir / name)), 0) << name << err;
    GdalGrid back;
    ASSERT_TRUE(GdalReadGrid(dir / name, back)) << name;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(back.gt[i], source.gt[i]) << name << " geotransform " << i;
    ASSERT_EQ(back.values, source.values) << name;
  }
  EXPECT_EQ(Run("convert " + Quote(dir / "f.img") + " " + Quote(dir / "out.png")), 1);  // cells need -scale

  // Bytes go to the picture formats as grey levels.
  f.type = GDT_Byte, f.bands = 3;
  ASSERT_TRUE(GdalWriteHfa(dir / "b.img", f));
  const std::vector<unsigned char> band3 = GdalBandBytes(dir / "b.img", 3);
  for (const char* name : {"b.bmp", "b.png"}) {
    ASSERT_EQ(Run("convert -oo band=3 " + Quote(dir / "b.img") + " " + Quote(dir / name)), 0) << name << err;
    Picture p;
    ASSERT_TRUE(GdalRead(dir / name, p)) << name;
    ASSERT_EQ(p.width, 150);
    for (int y = 0; y < 70; ++y)
      for (int x = 0; x < 150; ++x) {
        const unsigned char index = p.At(x, y, 0);
        ASSERT_EQ(p.colors.empty() ? index : p.colors.at(index).c1, band3[size_t(y) * 150 + x])
            << name << " " << x;
      }
  }

  // Complex doubles fit no pixel format; complex singles come raw.
  f.type = GDT_CFloat64, f.bands = 1;
  ASSERT_TRUE(GdalWriteHfa(dir / "c.img", f));
  EXPECT_EQ(Run("info " + Quote(dir / "c.img")), 1);
  EXPECT_NE(err.find("complex"), std::string::npos) << err;
  f.type = GDT_CFloat32;
  ASSERT_TRUE(GdalWriteHfa(dir / "c.img", f));
  std::string out;
  ASSERT_EQ(Run("dump " + Quote(dir / "c.img"), &out), 0) << err;
  const std::vector<unsigned char> complex = GdalBandBytes(dir / "c.img", 1);
  EXPECT_EQ(out, std::string(complex.begin(), complex.end()));
}

}  // namespace

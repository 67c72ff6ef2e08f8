// The vtfmt tool on rasters described by header files: BIL and USGS grids
// written by GDAL, dumped and converted as GDAL reads them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/FastScene.h"
#include "support/GdalEhdr.h"
#include "support/GdalRaster.h"
#include "support/ToolRun.h"

namespace {

class VtfmtHeaderRasterTest : public ToolTest {
 protected:
  std::map<std::string, std::string> Info(const std::string& args) {
    std::string out;
    EXPECT_EQ(Run("info " + args, &out), 0) << err;
    return KeyValues(out);
  }
  std::string Dump(const std::string& args) {
    std::string out;
    EXPECT_EQ(Run("dump " + args, &out), 0) << err;
    return out;
  }
  // A 3-band 16-bit BIL by GDAL: cell x of row y in band b is
  // 1000 b + 10 y + x, band 2's cell (1, 1) no-data.
  GdalBands MakeBil(const std::string& name) {
    const int width = 5, height = 4, bands = 3;
    std::vector<double> values;
    for (int b = 0; b < bands; ++b)
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) values.push_back(b == 1 && x == 1 && y == 1 ? -9999 : 1000 * b + 10 * y + x);
    const double gt[6] = {200, 10, 0, 900, 0, -10}, noData = -9999;
    EXPECT_TRUE(GdalWriteEhdr(dir / name, GDT_Int16, width, height, bands, values, gt, &noData));
    GdalBands g;
    EXPECT_TRUE(GdalReadBands(dir / name, g));
    return g;
  }
};

TEST_F(VtfmtHeaderRasterTest, BilInfoDumpAndBands) {
  const GdalBands g = MakeBil("g.bil");
  auto keys = Info("-oo band=2 " + Quote(dir / "g.bil"));
  EXPECT_EQ(keys["driver"], "bil");
  EXPECT_EQ(keys["pixel_format"], "16");
  EXPECT_EQ(keys["bounds"], "200 900 250 860");
  EXPECT_EQ(keys["bands"], "3");
  EXPECT_EQ(keys["band"], "2");
  EXPECT_EQ(keys["byte_order"], "I");
  EXPECT_EQ(keys["minimum"], "-9999");  // no-data cells count as delivered
  EXPECT_EQ(keys["maximum"], "1034");

  for (int band = 1; band <= 3; ++band) {
    const std::string rows = Dump("-oo band=" + std::to_string(band) + " " + Quote(dir / "g.bil"));
    ASSERT_EQ(rows.size(), 5u * 4 * 2);
    for (int i = 0; i < 20; ++i) {
      int16_t v;
      std::memcpy(&v, rows.data() + 2 * i, 2);
      ASSERT_EQ(v, g.At(band - 1, i / 5, i % 5)) << band << " " << i;
    }
  }
  EXPECT_EQ(Run("dump -oo band=4 " + Quote(dir / "g.bil")), 1);
  EXPECT_NE(err.find("the file has 3"), std::string::npos) << err;
  EXPECT_EQ(Run("dump -oo band=0 " + Quote(dir / "g.bil")), 2);

  // A data file cut inside a row: the rows before it, then a failure.
  const std::string bytes = ReadBytes(dir / "g.bil");
  WriteBytes(dir / "cut.bil", bytes.substr(0, bytes.size() - 3));
  WriteBytes(dir / "cut.hdr", ReadBytes(dir / "g.hdr"));
  EXPECT_EQ(Run("dump -oo band=3 " + Quote(dir / "cut.bil")), 1);
  EXPECT_NE(err.find("row 3"), std::string::npos) << err;
}

TEST_F(VtfmtHeaderRasterTest, BilAndUsGridConvertToAsciiGridsGdalReads) {
  MakeBil("g.bil");
  ASSERT_EQ(Run("convert -oo band=2 " + Quote(dir / "g.bil") + " " + Quote(dir / "g.asc")), 0) << err;
  GdalGrid asc;
  ASSERT_TRUE(GdalReadGrid(dir / "g.asc", asc));
  EXPECT_EQ(asc.gt[0], 200);
  EXPECT_EQ(asc.gt[3], 900);
  EXPECT_EQ(asc.values[6], -9999);
  EXPECT_EQ(asc.values[19], 1034);

  // Band 1 as a big-endian USGS grid with a lower-left corner: same cells.
  MakeBil("u.bil");
  const std::string bytes = ReadBytes(dir / "u.bil");
  std::string band1;
  for (int y = 0; y < 4; ++y) band1 += bytes.substr(30 * y, 10);
  WriteBytes(dir / "u.dem", band1);
  dir.Put("u.hdr", "BYTEORDER I\nNROWS 4\nNCOLS 5\nNBITS 16\nXLLCORNER 200\nYLLCORNER 860\nCELLSIZE 10\n");
  MakeBigEndian(dir / "u.dem", dir / "u.hdr", 2);
  auto keys = Info(Quote(dir / "u.dem"));
  EXPECT_EQ(keys["driver"], "usgrid");
  EXPECT_EQ(keys["bounds"], "200 900 250 860");
  EXPECT_EQ(keys["byte_order"], "M");
  EXPECT_EQ(Dump(Quote(dir / "u.dem")), Dump("-oo band=1 " + Quote(dir / "g.bil")));
  ASSERT_EQ(Run("convert " + Quote(dir / "u.dem") + " " + Quote(dir / "u.asc")), 0) << err;
  GdalGrid usAsc;
  ASSERT_TRUE(GdalReadGrid(dir / "u.asc", usAsc));
  EXPECT_EQ(usAsc.values[7], 12);
}

// A float BIL (PIXELTYPE FLOAT, NBITS 32) by GDAL: info says float and the
// header's no-data; convert to GeoTIFF keeps every single, no-data cells as
// they are, and GDAL reads the TIFF as Float32 cell for cell.
TEST_F(VtfmtHeaderRasterTest, FloatBilConvertsToTiffCellForCell) {
  const int width = 7, height = 3;
  const double noData = -3.4028234663852886e38;
  std::vector<double> values;
  for (int i = 0; i < width * height; ++i)
    values.push_back(i == 9 ? noData : static_cast<double>(static_cast<float>(i * 13.371 - 100.0 + 1e-3 / (i + 1))));
  const double gt[6] = {-120, 0.5, 0, 45, 0, -0.5};
  ASSERT_TRUE(GdalWriteEhdr(dir / "f.bil", GDT_Float32, width, height, 1, values, gt, &noData));
  auto keys = Info(Quote(dir / "f.bil"));
  EXPECT_EQ(keys["driver"], "bil");
  EXPECT_EQ(keys["pixel_type"], "float");
  EXPECT_EQ(keys["nodata"], "-3.4028235e+38");
  ASSERT_EQ(Run("convert " + Quote(dir / "f.bil") + " " + Quote(dir / "f.tif")), 0) << err;
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen((dir / "f.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  EXPECT_EQ(GDALGetRasterDataType(GDALGetRasterBand(ds, 1)), GDT_Float32);
  GDALClose(ds);
  GdalGrid tif;
  ASSERT_TRUE(GdalReadGrid(dir / "f.tif", tif));
  ASSERT_EQ(tif.values.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(tif.values[i], values[i]) << i;
  EXPECT_EQ(tif.gt[0], -120);
  EXPECT_EQ(tif.gt[1], 0.5);
}

// IDRISI: the sample's rows equal GDAL's read of the same image, and an
// ASCII grid converted to a real image reads back in GDAL unchanged.
TEST_F(VtfmtHeaderRasterTest, IdrisiInfoDumpAndConvert) {
  const std::string samples = std::string(VTFMT_SOURCE_DIR) + "/samples/";
  auto keys = Info(Quote(samples + "hill.img"));
  EXPECT_EQ(keys["driver"], "idrisi");
  // The other samples named hill sit beside hill.doc but are not IDRISI images.
  EXPECT_EQ(Info(Quote(samples + "hill.bil"))["driver"], "bil");
  EXPECT_EQ(Info(Quote(samples + "hill.asc"))["driver"], "aaigrid");
  EXPECT_EQ(keys["title"], "hill");
  EXPECT_EQ(keys["data_type"], "integer");
  EXPECT_EQ(keys["pixel_format"], "16");
  const std::string rows = Dump(Quote(samples + "hill.img"));
  WriteBytes(dir / "hill.rst", ReadBytes(samples + "hill.img"));
  WriteBytes(dir / "hill.rdc", "file format : IDRISI Raster A.1\r\n" + ReadBytes(samples + "hill.doc"));
  GdalBands g;
  ASSERT_TRUE(GdalReadBands(dir / "hill.rst", g));
  ASSERT_EQ(rows.size(), 20u * 12 * 2);
  for (int i = 0; i < 240; ++i) {
    int16_t v;
    std::memcpy(&v, rows.data() + 2 * i, 2);
    ASSERT_EQ(v, g.At(0, i / 20, i % 20)) << i;
  }

  ASSERT_EQ(Run("convert -oo pixel_format=3200 " + Quote(samples + "hill.asc") + " " + Quote(dir / "f.img")), 0) << err;
  EXPECT_EQ(Info(Quote(dir / "f.img"))["data_type"], "real");
  WriteBytes(dir / "f.rst", ReadBytes(dir / "f.img"));
  WriteBytes(dir / "f.rdc", "file format : IDRISI Raster A.1\r\n" + ReadBytes(dir / "f.doc"));
  GdalBands back;
  GdalGrid asc;
  ASSERT_TRUE(GdalReadBands(dir / "f.rst", back));
  ASSERT_TRUE(GdalReadGrid(samples + "hill.asc", asc));
  ASSERT_EQ(back.values.size(), asc.values.size());
  for (size_t i = 0; i < asc.values.size(); ++i) ASSERT_EQ(back.values[i], static_cast<float>(asc.values[i])) << i;
  // A colour picture has no IDRISI data type; one of its bands does.
  EXPECT_EQ(Run("convert " + Quote(samples + "dem.raw") + " " + Quote(dir / "dem.img")), 1);
  EXPECT_NE(err.find("-oo band=N"), std::string::npos) << err;
  EXPECT_FALSE(dir.Exists("dem.img"));
}

// FAST: a band file named on the command line is read through its scene
// header, as GDAL reads the scene; the header itself is refused with a reason.
TEST_F(VtfmtHeaderRasterTest, FastBandThroughItsHeader) {
  FastScene scene;
  scene.width = 9, scene.height = 4, scene.bits = 16, scene.bands = {"B61", "B62"};
  scene.Write(dir.path(), scene.Name("HTM"));
  GdalBands g;
  ASSERT_TRUE(GdalReadBands(dir / scene.Name("HTM"), g));
  auto keys = Info(Quote(dir / scene.Name("B62")));
  EXPECT_EQ(keys["driver"], "fast");
  EXPECT_EQ(keys["pixel_format"], "16");
  EXPECT_EQ(keys["header_file"], dir / scene.Name("HTM"));
  const std::string rows = Dump(Quote(dir / scene.Name("B62")));
  ASSERT_EQ(rows.size(), 9u * 4 * 2);
  for (int i = 0; i < 36; ++i) {
    uint16_t v;
    std::memcpy(&v, rows.data() + 2 * i, 2);
    ASSERT_EQ(v, g.At(1, i / 9, i % 9)) << i;
  }
  EXPECT_EQ(Run("info " + Quote(dir / scene.Name("HTM"))), 1);
  EXPECT_NE(err.find("scene header"), std::string::npos) << err;
  // A band file cut inside its last row: info refuses it as dump does.
  const std::string band = ReadBytes(dir / scene.Name("B61"));
  WriteBytes(dir / scene.Name("B61"), band.substr(0, band.size() - 1));
  for (const char* command : {"dump ", "info "}) {
    EXPECT_EQ(Run(command + Quote(dir / scene.Name("B61"))), 1) << command;
    EXPECT_NE(err.find("ends inside row 3 of the 4"), std::string::npos) << err;
  }

  // Rows 31 bytes long in records of 32: dumped as written, unsheared and
  // without the padding.
  FastScene padded;
  padded.width = 31, padded.height = 3, padded.recordBytes = 32, padded.bands = {"B80"};
  padded.Write(dir.path(), padded.Name("HPN"));
  const std::string padRows = Dump(Quote(dir / padded.Name("B80")));
  ASSERT_EQ(padRows.size(), 31u * 3);
  for (int i = 0; i < 93; ++i)
    ASSERT_EQ(static_cast<unsigned char>(padRows[i]), FastScene::Sample(0, i / 31, i % 31, 8)) << i;
  // The last record needs no padding after its row; one byte less cuts it.
  const std::string records = ReadBytes(dir / padded.Name("B80"));
  WriteBytes(dir / padded.Name("B80"), records.substr(0, 2 * 32 + 31));
  EXPECT_EQ(Info(Quote(dir / padded.Name("B80")))["height"], "3");
  WriteBytes(dir / padded.Name("B80"), records.substr(0, 2 * 32 + 30));
  EXPECT_EQ(Run("info " + Quote(dir / padded.Name("B80"))), 1);
  EXPECT_NE(err.find("row 2"), std::string::npos) << err;

  // A negative width is refused with its value, not read as 1.
  dir.Put(scene.Name("HTM"), scene.Header("VOLUME #/# IN SET =1/1  PIXELS PER LINE = -1  LINES PER BAND = 4/ 4",
                                          scene.Output()));
  EXPECT_EQ(Run("info " + Quote(dir / scene.Name("B62"))), 1);
  EXPECT_NE(err.find("PIXELS PER LINE -1"), std::string::npos) << err;
}

// A data file that does not hold every row the header gives is refused by
// info as by dump, naming the row it ends inside: none of its statistics
// would cover the rows lost.
TEST_F(VtfmtHeaderRasterTest, InfoRefusesRowsTheDataFileDoesNotHold) {
  MakeBil("g.bil");
  const std::string bytes = ReadBytes(dir / "g.bil");  // 4 rows of 3 bands of 10 bytes
  WriteBytes(dir / "cut.bil", bytes.substr(0, bytes.size() - 3));
  WriteBytes(dir / "cut.hdr", ReadBytes(dir / "g.hdr"));
  for (const std::string& command : {std::string("info "), std::string("dump ")}) {
    EXPECT_EQ(Run(command + "-oo band=3 " + Quote(dir / "cut.bil")), 1);
    EXPECT_NE(err.find("row 3"), std::string::npos) << err;
  }
  // Band 1 lies whole in the cut file.
  EXPECT_EQ(Info("-oo band=1 " + Quote(dir / "cut.bil"))["maximum"], "34");

  std::string header = ReadBytes(dir / "g.hdr");
  const size_t at = header.find("NROWS");
  ASSERT_NE(at, std::string::npos);
  header.replace(at, header.find('\n', at) - at, "NROWS         2000000000");
  WriteBytes(dir / "tall.bil", bytes);
  WriteBytes(dir / "tall.hdr", header);
  EXPECT_EQ(Run("info " + Quote(dir / "tall.bil")), 1);
  EXPECT_NE(err.find("row 4 of the 2000000000"), std::string::npos) << err;

  // A USGS grid of 4 rows of 5 16-bit cells, cut inside row 2 or given 2e9 rows.
  dir.Put("u.dem", std::string(25, '\x01'));
  dir.Put("u.hdr", "BYTEORDER I\nNROWS 4\nNCOLS 5\nNBITS 16\n");
  EXPECT_EQ(Run("info " + Quote(dir / "u.dem")), 1);
  EXPECT_NE(err.find("row 2"), std::string::npos) << err;
  dir.Put("u.dem", std::string(40, '\x01'));
  EXPECT_EQ(Info(Quote(dir / "u.dem"))["maximum"], "257");
  dir.Put("u.hdr", "BYTEORDER I\nNROWS 2000000000\nNCOLS 5\nNBITS 16\n");
  EXPECT_EQ(Run("info " + Quote(dir / "u.dem")), 1);
  EXPECT_NE(err.find("row 4 of the 2000000000"), std::string::npos) << err;

  // IDRISI and raw rasters the same way: info as dump, naming the row.
  const std::string samples = std::string(VTFMT_SOURCE_DIR) + "/samples/";
  const struct {
    const char *data, *sidecar, *row;
  } pairs[] = {{"hill.img", "hill.doc", "row 10 of the 12"}, {"dem.raw", "dem.ifo", "row 23 of the 50"}};
  for (const auto& p : pairs) {
    const std::string whole = ReadBytes(samples + p.data);
    WriteBytes(dir / p.sidecar, ReadBytes(samples + p.sidecar));
    WriteBytes(dir / p.data, whole);
    EXPECT_EQ(Run("info " + Quote(dir / p.data)), 0) << err;
    WriteBytes(dir / p.data, whole.substr(0, std::string(p.data) == "hill.img" ? 400 : 7000));
    for (const char* command : {"info ", "dump "}) {
      EXPECT_EQ(Run(command + Quote(dir / p.data)), 1) << p.data;
      EXPECT_NE(err.find(p.row), std::string::npos) << err;
    }
  }
}

// Header sizes keep their sign: BIL and USGS NCOLS -20 are refused by info,
// dump and convert alike, naming the value.
TEST_F(VtfmtHeaderRasterTest, NegativeHeaderSizesAreRefused) {
  dir.Put("g.bil", std::string(160, '\x01'));
  dir.Put("g.hdr", "NROWS 4\nNCOLS -20\nNBITS 16\n");
  dir.Put("u.dem", std::string(160, '\x01'));
  dir.Put("u.hdr", "NROWS 4\nNCOLS -20\nNBITS 16\n");
  for (const char* name : {"g.bil", "u.dem"}) {
    SCOPED_TRACE(name);
    for (const std::string& command : {std::string("info "), std::string("dump ")}) {
      EXPECT_EQ(Run(command + Quote(dir / name)), 1);
      EXPECT_NE(err.find("NCOLS -20"), std::string::npos) << err;
    }
    EXPECT_EQ(Run("convert " + Quote(dir / name) + " " + Quote(dir / "out.asc")), 1);
    EXPECT_FALSE(dir.Exists("out.asc"));
  }
}

}  // namespace

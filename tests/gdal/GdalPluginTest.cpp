// The GDAL plugin as GDAL's tools use it: GDAL_DRIVER_PATH pointing at the
// build tree, gdalinfo and gdal_translate on the samples, compared with what
// vtfmt itself makes of them.
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

#include "support/ToolRun.h"

namespace {

const std::string kSamples = std::string(VTFMT_SOURCE_DIR) + "/samples/";

std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(("GDAL_DRIVER_PATH=" + Quote(VTFMT_GDAL_PLUGIN_DIR) + " " + command + " 2>&1").c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

// Every band of a GeoTIFF as doubles, with its size.
std::vector<double> Cells(const std::string& path, int& width, int& height, int& bands) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds(static_cast<GDALDataset*>(GDALOpen(path.c_str(), GA_ReadOnly)));
  if (!ds) return {};
  width = ds->GetRasterXSize();
  height = ds->GetRasterYSize();
  bands = ds->GetRasterCount();
  std::vector<double> cells(static_cast<size_t>(width) * height * bands);
  if (ds->RasterIO(GF_Read, 0, 0, width, height, cells.data(), width, height, GDT_Float64, bands, nullptr, 0, 0, 0,
                   nullptr) != CE_None)
    return {};
  return cells;
}

// A 16 x 2 bitmap of 4-bit indices, run-length encoded. GDAL's own bitmap
// driver reads the two indices of each run byte in the wrong order (the
// first pixel is the high nibble), so the plugin claims these bitmaps.
std::string Rle4Bitmap() {
  std::string pixels = {0x10, 0x12, 0, 0, 0x06, 0x34, 0x0A, 0x56, 0, 0, 0, 1};
  std::string palette;
  for (int i = 0; i < 16; ++i) palette += std::string{char(i * 16), char(255 - i * 16), char(i * 8), 0};
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto le16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(palette.size());
  return "BM" + le32(offset + static_cast<uint32_t>(pixels.size())) + le32(0) + le32(offset) + le32(40) + le32(16) +
         le32(2) + le16(1) + le16(4) + le32(2) + le32(static_cast<uint32_t>(pixels.size())) + le32(0) + le32(0) +
         le32(16) + le32(0) + palette + pixels;
}

class GdalPlugin : public ToolTest {
 protected:
  void SetUp() override {
#ifdef VTFMT_SANITIZED
    GTEST_SKIP() << "GDAL's tools cannot load a plugin built with sanitizers";
#endif
  }
};

// gdalinfo shows our driver on each sample; gdal_translate to GeoTIFF gives
// the cells vtfmt's own conversion to GeoTIFF gives.
TEST_F(GdalPlugin, SamplesOpenInGdalsToolsWithVtfmtsCells) {
  dir.Put("rle4.bmp", Rle4Bitmap());
  int status = 0;
  // Without the plugin, GDAL's bitmap driver: the top row, 3 4 3 4 3 4 5 6 ...,
  // comes out 4 3 4 3 ...
  const std::string own = Shell("env GDAL_DRIVER_PATH=/nonexistent gdal_translate -q -of XYZ " +
                                Quote(dir / "rle4.bmp") + " /vsistdout/ | head -2", &status);
  EXPECT_EQ(own, "0.5 0.5 4\n1.5 0.5 3\n") << "GDAL's bitmap driver now reads run-length 4-bit bitmaps right";
  const struct {
    std::string path;
    const char* driver;
  } cases[] = {
      {kSamples + "hill.nsdtf", "VTFMT_NSDTF"},
      {kSamples + "dem.raw", "VTFMT_RAW"},
      {kSamples + "hill.img", "VTFMT_IDRISI"},
      {dir / "rle4.bmp", "VTFMT_BMP"},
  };
  for (const auto& c : cases) {
    const std::string info = Shell("gdalinfo " + Quote(c.path), &status);
    ASSERT_EQ(status, 0) << info;
    EXPECT_NE(info.find(std::string("Driver: ") + c.driver + "/"), std::string::npos) << info;
    Shell("gdal_translate -q -of GTiff " + Quote(c.path) + " " + Quote(dir / "gdal.tif"), &status);
    ASSERT_EQ(status, 0) << c.path;
    ASSERT_EQ(Run("convert " + Quote(c.path) + " " + Quote(dir / "vtfmt.tif")), 0) << err;
    int w1, h1, b1, w2, h2, b2;
    const std::vector<double> ours = Cells(dir / "gdal.tif", w1, h1, b1);
    const std::vector<double> theirs = Cells(dir / "vtfmt.tif", w2, h2, b2);
    ASSERT_FALSE(ours.empty()) << c.path;
    EXPECT_EQ(w1 * 1000 + h1, w2 * 1000 + h2) << c.path;
    if (b1 == b2) {
      EXPECT_EQ(ours, theirs) << c.path;
    } else {
      // A palette image: GDAL's copy keeps indices and the colour table, vtfmt's
      // holds the colours; compare the indices through the table.
      std::unique_ptr<GDALDataset> ds(static_cast<GDALDataset*>(GDALOpen((dir / "gdal.tif").c_str(), GA_ReadOnly)));
      GDALColorTable* table = ds->GetRasterBand(1)->GetColorTable();
      ASSERT_NE(table, nullptr) << c.path;
      const size_t n = static_cast<size_t>(w1) * h1;
      for (size_t i = 0; i < n; ++i) {
        const GDALColorEntry* e = table->GetColorEntry(static_cast<int>(ours[i]));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->c1, theirs[i]) << c.path << " pixel " << i;
        EXPECT_EQ(e->c2, theirs[n + i]);
        EXPECT_EQ(e->c3, theirs[2 * n + i]);
      }
    }
  }
  // The grid's geotransform is its bounds.
  const std::string info = Shell("gdalinfo " + Quote(kSamples + "hill.nsdtf"));
  EXPECT_NE(info.find("Origin = (440000.000000000000000,3750360.000000000000000)"), std::string::npos) << info;
  EXPECT_NE(info.find("Pixel Size = (30.000000000000000,-30.000000000000000)"), std::string::npos) << info;
}

// gdal_translate writes NSDTF and IDRISI through the plugin; vtfmt reads the
// cells back as GDAL wrote them.
TEST_F(GdalPlugin, CreateCopyWritesFilesVtfmtReadsBack) {
  int status = 0;
  Shell("gdal_translate -q -ot Int32 " + Quote(kSamples + "hill.asc") + " " + Quote(dir / "dem.tif"), &status);
  ASSERT_EQ(status, 0);
  for (const char* format : {"VTFMT_NSDTF", "VTFMT_IDRISI"}) {
    const std::string out = dir / (std::string(format) == "VTFMT_NSDTF" ? "dem.grd" : "dem.img");
    const std::string log = Shell(std::string("gdal_translate -q -of ") + format + " " + Quote(dir / "dem.tif") + " " + Quote(out), &status);
    ASSERT_EQ(status, 0) << log;
    ASSERT_EQ(Run("convert " + Quote(out) + " " + Quote(dir / "back.tif")), 0) << err;
    int w1, h1, b1, w2, h2, b2;
    EXPECT_EQ(Cells(dir / "dem.tif", w1, h1, b1), Cells(dir / "back.tif", w2, h2, b2)) << format;
  }
}

// Copies keep every value or fail: the fractions of a float grid are not
// NSDTF integers, and doubles are not IDRISI reals, while whole floats and
// singles go.
TEST_F(GdalPlugin, CreateCopyKeepsEveryValueOrFails) {
  int status = 0;
  const struct {
    const char* type;
    const char* format;
    const char* out;
    bool kept;
  } cases[] = {{"Float32", "VTFMT_NSDTF", "f.grd", false},
               {"Float32", "VTFMT_IDRISI", "f.img", true},
               {"Float64", "VTFMT_IDRISI", "d.img", false},
               {"UInt16", "VTFMT_NSDTF", "u.grd", true}};
  for (const auto& c : cases) {
    // The grid's decimals as doubles, then as the type asked for.
    Shell(std::string("gdal_translate -q --config AAIGRID_DATATYPE Float64 -ot ") + c.type + " " +
              Quote(kSamples + "hill.asc") + " " + Quote(dir / "src.tif"),
          &status);
    ASSERT_EQ(status, 0);
    const std::string out = dir / c.out;
    const std::string log = Shell(
        std::string("gdal_translate -q -of ") + c.format + " " + Quote(dir / "src.tif") + " " + Quote(out),
        &status);
    if (!c.kept) {
      EXPECT_NE(status, 0) << c.type << " to " << c.format << ": " << log;
      EXPECT_NE(log.find("does not fit"), std::string::npos) << log;
      continue;
    }
    ASSERT_EQ(status, 0) << log;
    ASSERT_EQ(Run("convert " + Quote(out) + " " + Quote(dir / "back.tif")), 0) << err;
    int w1, h1, b1, w2, h2, b2;
    EXPECT_EQ(Cells(dir / "src.tif", w1, h1, b1), Cells(dir / "back.tif", w2, h2, b2))
        << c.type << " " << c.format;
  }
}

// No file of another format is claimed: every sample and test file that is
// not one of ours is identified by GDAL's own drivers or by none.
TEST_F(GdalPlugin, IdentifiesOnlyItsOwnFiles) {
  const std::string script =
      "for f in " + Quote(kSamples) + "* " + Quote(std::string(VTFMT_SOURCE_DIR) + "/tests/data") + "/*/*; do "
      "[ -f \"$f\" ] && printf '%s ' \"$f\" && (gdalinfo \"$f\" 2>/dev/null | head -1 || true) && echo; done";
  const std::string listing = Shell("sh -c " + Quote(script));
  std::istringstream lines(listing);
  std::string line;
  int ours = 0;
  while (std::getline(lines, line)) {
    if (line.find("Driver: VTFMT_") == std::string::npos) continue;
    ++ours;
    const bool expected = line.find("hill.nsdtf ") != std::string::npos || line.find("dem.raw ") != std::string::npos ||
                          line.find("hill.img ") != std::string::npos;
    EXPECT_TRUE(expected) << line;
  }
  EXPECT_EQ(ours, 3);
}

}  // namespace

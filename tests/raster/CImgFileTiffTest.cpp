// The TIFF driver against GDAL: files GDAL writes in every layout read as
// GDAL reads them, files we write read back identically in GDAL, and GeoTIFF
// bounds agree with GDAL's geotransform.
#include <gtest/gtest.h>

#include <proj.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "access/RasterDriver.h"
#include "platform/vtcore/CVtErrorMsg.h"
#include "platform/vtcore/CVtImgToolkit.h"
#include "raster/CImgFileTiff.h"
#include "support/GdalRaster.h"
#include "support/GdalTiff.h"
#include "support/ScratchDir.h"

namespace {

// Opens `path` and loads it; the grid flag as given.
bool Load(CImgFileTiff& t, const std::string& path, bool grid = false) {
  t.m_bGrid = grid;
  return t.OpenForRead(path.c_str()) == 1 && t.LoadImage() == 1;
}

// Our rows, plane by plane for separate planes, compared with GDAL's.
void ExpectRowsEqual(const std::string& path, bool grid = false) {
  CImgFileTiff t;
  ASSERT_TRUE(Load(t, path, grid)) << path;
  GdalPixels g;
  ASSERT_TRUE(GdalReadPixels(path, g));
  ASSERT_EQ(t.GetWidth(), static_cast<unsigned long>(g.width));
  ASSERT_EQ(t.GetHeight(), static_cast<unsigned long>(g.height));
  const bool planar = t.IsMultiBand();
  const int planes = planar ? g.bands : 1;
  const int inRow = planar ? 1 : g.bands;  // samples of a pixel in one of our rows
  const bool bits1 = t.GetPixelFormat() == PF_BIT1;
  CImgScanLine line(t.GetPixelFormat(), static_cast<long>(t.GetWidthBytes()));
  for (int y = 0; y < g.height; ++y) {
    for (int s = 0; s < planes; ++s) {
      ASSERT_GE(t.ReadScanLine(y, line, s), 0) << path << " row " << y;
      const unsigned char* ours = line.GetData();
      for (int x = 0; x < g.width; ++x) {
        for (int b = 0; b < inRow; ++b) {
          const unsigned char* theirs = g.Row(y) + (static_cast<size_t>(x) * g.bands + s + b) * g.sampleBytes;
          if (bits1) {
            ASSERT_EQ((ours[x / 8] >> (7 - x % 8)) & 1, *theirs) << path << " x " << x << " y " << y;
          } else {
            const unsigned char* mine = ours + (static_cast<size_t>(x) * inRow + b) * g.sampleBytes;
            ASSERT_EQ(std::memcmp(mine, theirs, g.sampleBytes), 0)
                << path << " x " << x << " y " << y << " sample " << s + b;
          }
        }
      }
    }
  }
}

struct ReadCase {
  const char* name;
  int bands;
  GDALDataType type;
  std::vector<std::string> options;
  ImgPixelFormat format;
  bool grid;
};

TEST(CImgFileTiffPeer, RowsEqualGdalsPixelsInEveryLayout) {
  const std::vector<ReadCase> cases = {
      {"stripped-rgb", 3, GDT_Byte, {}, PF_BIT24, false},
      {"tiled-rgb", 3, GDT_Byte, {"TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=16"}, PF_BIT24, false},
      {"planar-rgb", 3, GDT_Byte, {"INTERLEAVE=BAND"}, PF_BIT8, false},
      {"tiled-planar", 3, GDT_Byte, {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=32", "INTERLEAVE=BAND"}, PF_BIT8,
       false},
      {"grey", 1, GDT_Byte, {}, PF_BIT8, false},
      {"bit1", 1, GDT_Byte, {"NBITS=1"}, PF_BIT1, false},
      {"uint16", 1, GDT_UInt16, {}, PF_BIT16, false},
      {"rgb16", 3, GDT_UInt16, {"TILED=YES"}, PF_BIT48, false},
      {"float32-grid", 1, GDT_Float32, {}, PF_FLOAT32, true},
      {"float32-plain", 1, GDT_Float32, {}, PF_BIT32, false},
      {"int32-grid", 1, GDT_Int32, {"TILED=YES", "BLOCKXSIZE=48", "BLOCKYSIZE=48"}, PF_INT32, true},
      {"deflate", 3, GDT_Byte, {"COMPRESS=DEFLATE", "PREDICTOR=2"}, PF_BIT24, false},
      {"lzw-tiled", 1, GDT_UInt16, {"COMPRESS=LZW", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"}, PF_BIT16,
       false},
      {"packbits", 1, GDT_Byte, {"COMPRESS=PACKBITS"}, PF_BIT8, false},
      {"planar-deflate", 3, GDT_Byte, {"INTERLEAVE=BAND", "COMPRESS=DEFLATE", "BLOCKYSIZE=16"}, PF_BIT8, false},
      {"jpeg-rgb", 3, GDT_Byte, {"COMPRESS=JPEG"}, PF_BIT24, false},
      {"jpeg-ycbcr-tiled", 3, GDT_Byte, {"COMPRESS=JPEG", "PHOTOMETRIC=YCBCR", "TILED=YES"}, PF_BIT24, false},
  };
  ScratchDir dir;
  for (const ReadCase& c : cases) {
    TiffFixture fixture;
    fixture.bands = c.bands;
    fixture.type = c.type;
    fixture.options = c.options;
    const std::string path = dir / (std::string(c.name) + ".tif");
    ASSERT_TRUE(GdalWriteTiff(path, fixture)) << c.name;
    CImgFileTiff t;
    ASSERT_TRUE(Load(t, path, c.grid)) << c.name;
    EXPECT_EQ(t.GetPixelFormat(), c.format) << c.name;
    EXPECT_EQ(t.IsMultiBand(), c.format == PF_BIT8 && c.bands == 3) << c.name;
    EXPECT_EQ(t.GetWidthBytes() % 4, 0u) << c.name;
    ExpectRowsEqual(path, c.grid);
  }
}

TEST(CImgFileTiffPeer, PalettesFollowThePhotometricInterpretation) {
  ScratchDir dir;
  TiffFixture fixture;
  fixture.bands = 1;
  for (short i = 0; i < 256; ++i)
    fixture.colors.push_back(GDALColorEntry{i, static_cast<short>(255 - i), static_cast<short>(i * 7 % 256), 255});
  ASSERT_TRUE(GdalWriteTiff(dir / "pal.tif", fixture));
  CImgFileTiff t;
  ASSERT_TRUE(Load(t, dir / "pal.tif"));
  ASSERT_EQ(t.m_Palette.GetSize(), 256);
  for (int i = 0; i < 256; ++i) {  // blue, green, red, 0
    EXPECT_EQ(t.m_Palette[i].peRed, fixture.colors[i].c3);
    EXPECT_EQ(t.m_Palette[i].peGreen, fixture.colors[i].c2);
    EXPECT_EQ(t.m_Palette[i].peBlue, fixture.colors[i].c1);
  }

  fixture.colors.clear();
  fixture.options = {"NBITS=1", "PHOTOMETRIC=MINISWHITE"};
  ASSERT_TRUE(GdalWriteTiff(dir / "white.tif", fixture));
  ASSERT_TRUE(Load(t, dir / "white.tif"));
  ASSERT_EQ(t.m_Palette.GetSize(), 2);
  EXPECT_EQ(t.m_Palette[0].peRed, 255);
  EXPECT_EQ(t.m_Palette[1].peRed, 0);

  fixture.options = {};
  ASSERT_TRUE(GdalWriteTiff(dir / "grey.tif", fixture));
  ASSERT_TRUE(Load(t, dir / "grey.tif"));
  ASSERT_EQ(t.m_Palette.GetSize(), 256);
  EXPECT_EQ(t.m_Palette[17].peGreen, 17);
  EXPECT_EQ(t.m_Palette[255].peGreen, 255);

  fixture.type = GDT_UInt16;
  ASSERT_TRUE(GdalWriteTiff(dir / "grey16.tif", fixture));
  ASSERT_TRUE(Load(t, dir / "grey16.tif"));
  EXPECT_EQ(t.m_Palette.GetSize(), 256);

  fixture.type = GDT_Byte;
  fixture.bands = 3;
  ASSERT_TRUE(GdalWriteTiff(dir / "rgb.tif", fixture));
  ASSERT_TRUE(Load(t, dir / "rgb.tif"));
  EXPECT_EQ(t.m_Palette.GetSize(), 0);
}

// Writes `rows` (file order) with our writer.
bool WriteOurs(const std::string& path, ImgPixelFormat format, int width, int height,
               const std::vector<unsigned char>& rows, const CPaletteArray* palette = nullptr,
               const CRect2D* bounds = nullptr, bool grid = false) {
  CImgFileTiff t;
  t.SetWidth(width);
  t.SetHeight(height);
  t.SetPixelFormat(format);
  t.m_bGrid = grid;
  if (palette) t.SetPalette(const_cast<CPaletteArray&>(*palette));
  if (!t.OpenForWrite(path.c_str())) return false;
  if (bounds && t.SaveGeoImage(*bounds) != 1) return false;
  if (t.SaveImage() != 1) return false;
  const size_t rowBytes = rows.size() / height;
  CImgScanLine line(format, static_cast<long>(t.GetWidthBytes()));
  for (int y = 0; y < height; ++y) {
    std::memcpy(line.GetData(), rows.data() + y * rowBytes, rowBytes);
    if (t.WriteScanLine(y, line) != 1) return false;
  }
  t.Close();
  return true;
}

TEST(CImgFileTiffPeer, FilesWeWriteReadBackIdenticallyInGdal) {
  struct WriteCase {
    ImgPixelFormat format;
    int bytesPerPixel;  // 0: packed below a byte
    bool grid;
  };
  const WriteCase cases[] = {{PF_BIT24, 3, false}, {PF_BIT8, 1, false},   {PF_BIT16, 2, false},
                             {PF_INT32, 4, false}, {PF_FLOAT32, 4, false}, {PF_BIT32, 4, true},
                             {PF_BIT32, 4, false}, {PF_FLOAT64, 8, false}, {PF_BIT48, 6, false},
                             {PF_BIT64, 8, false}};
  ScratchDir dir;
  const int w = 29, h = 7;
  for (const WriteCase& c : cases) {
    std::vector<unsigned char> rows(static_cast<size_t>(w) * h * c.bytesPerPixel);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<unsigned char>(i * 13 + i / 5);
    if (c.format == PF_FLOAT32 || c.format == PF_FLOAT64)  // keep the values finite and ordinary
      for (size_t i = 0; i < rows.size(); i += c.bytesPerPixel) rows[i + c.bytesPerPixel - 1] = 0x41;
    const std::string path = dir / ("w" + std::to_string(c.format) + (c.grid ? "g" : "") + ".tif");
    ASSERT_TRUE(WriteOurs(path, c.format, w, h, rows, nullptr, nullptr, c.grid)) << c.format;
    GdalPixels g;
    ASSERT_TRUE(GdalReadPixels(path, g)) << c.format;
    ASSERT_EQ(g.bytes.size(), rows.size()) << c.format;
    EXPECT_EQ(g.bytes, rows) << c.format;
    // And through our reader, with the grid flag for grid cells.
    CImgFileTiff t;
    ASSERT_TRUE(Load(t, path, c.grid || c.format == PF_INT32 || c.format == PF_FLOAT32 || c.format == PF_FLOAT64));
    EXPECT_EQ(t.GetPixelFormat(), c.grid ? PF_INT32 : c.format);
  }
}

TEST(CImgFileTiffPeer, ColourMapsReadBackExactly) {
  GDALAllRegister();
  ScratchDir dir;
  for (ImgPixelFormat format : {PF_BIT1, PF_BIT4, PF_BIT8}) {
    const int n = CVtImgToolkit::PaletteSize(format);
    CPaletteArray palette;
    palette.SetSize(n);
    for (int k = 0; k < n; ++k)  // blue, green, red, 0; white last
      palette[k] = k == n - 1 ? PALETTEENTRY{255, 255, 255, 0}
                              : PALETTEENTRY{BYTE(k * 3), BYTE(255 - k), BYTE(k * 11), 0};
    const int w = 10, h = 3;
    const long rowBytes = CVtImgToolkit::AlignWidthByte(format, w);
    std::vector<unsigned char> rows(static_cast<size_t>(rowBytes) * h, 0xA5);
    const std::string path = dir / ("pal" + std::to_string(format) + ".tif");
    ASSERT_TRUE(WriteOurs(path, format, w, h, rows, &palette));
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    GDALColorTableH table = GDALGetRasterColorTable(GDALGetRasterBand(ds, 1));
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(GDALGetColorEntryCount(table), n);
    for (int k = 0; k < n; ++k) {
      const GDALColorEntry* e = GDALGetColorEntry(table, k);
      EXPECT_EQ(e->c1, palette[k].peBlue) << format << " entry " << k;  // red
      EXPECT_EQ(e->c2, palette[k].peGreen);
      EXPECT_EQ(e->c3, palette[k].peRed);  // blue
    }
    GDALClose(ds);
    CImgFileTiff t;
    ASSERT_TRUE(Load(t, path));
    ASSERT_EQ(t.m_Palette.GetSize(), n);
    EXPECT_EQ(std::memcmp(t.m_Palette.GetData(), palette.GetData(), n * sizeof(PALETTEENTRY)), 0) << format;
  }
  // No palette set: a grey ramp, white at the top.
  std::vector<unsigned char> rows(12, 7);
  ASSERT_TRUE(WriteOurs(dir / "ramp.tif", PF_BIT8, 4, 3, rows));
  CImgFileTiff t;
  ASSERT_TRUE(Load(t, dir / "ramp.tif"));
  EXPECT_EQ(t.m_Palette[255].peRed, 255);
  EXPECT_EQ(t.m_Palette[100].peGreen, 100);
}

TEST(CImgFileTiffPeer, GeoTiffBoundsInMetresFeetAndSurveyFeet) {
  struct GeoCase {
    int epsg;
    double metresPerUnit;
  };
  // UTM 33N in metres, Arizona East in international feet, California 3 in
  // US survey feet (read with the foot's factor).
  const GeoCase cases[] = {{32633, 1.0}, {2222, 0.3048}, {2227, 0.3048}};
  ScratchDir dir;
  for (const GeoCase& c : cases) {
    TiffFixture fixture;
    fixture.bands = 1;
    fixture.geo = true;
    fixture.epsg = c.epsg;
    fixture.gt[0] = 1234567.25;
    fixture.gt[3] = 654321.5;
    fixture.gt[1] = 2.5;
    fixture.gt[5] = -1.25;
    const std::string path = dir / ("geo" + std::to_string(c.epsg) + ".tif");
    ASSERT_TRUE(GdalWriteTiff(path, fixture));
    GdalPixels g;
    ASSERT_TRUE(GdalReadPixels(path, g));
    ASSERT_TRUE(g.hasGeoTransform);
    CImgFileTiff t;
    ASSERT_TRUE(Load(t, path));
    CRect2D b;
    ASSERT_EQ(t.LoadGeoImage(b, 10000), 1) << c.epsg;
    EXPECT_TRUE(t.HasGeoTags());
    const double f = c.metresPerUnit;
    EXPECT_NEAR(b.left / f, g.gt[0], 1e-6) << c.epsg;
    EXPECT_NEAR(b.top / f, g.gt[3], 1e-6);
    EXPECT_NEAR(b.right / f, g.gt[0] + g.width * g.gt[1], 1e-6);
    EXPECT_NEAR(b.bottom / f, g.gt[3] + g.height * g.gt[5], 1e-6);
    // Divisor 0: tenths of a millimetre.
    ASSERT_EQ(t.LoadGeoImage(b, 0), 1);
    EXPECT_NEAR(b.left, g.gt[0] * f * 10000, 1e-3);
  }
}

TEST(CImgFileTiffPeer, GeoTiffsReadOnManyThreadsLeaveTheCoordinateDatabaseLogLevel) {
  // Each lookup of a definition quiets the coordinate database's default
  // context, which the whole process shares: lookups on several threads at
  // once must neither lose their bounds nor leave it quiet afterwards.
  ScratchDir dir;
  TiffFixture fixture;
  fixture.bands = 1;
  fixture.geo = true;
  fixture.epsg = 2227;
  fixture.gt[0] = 1234567.25;
  fixture.gt[1] = 2.5;
  fixture.gt[5] = -2.5;
  const std::string path = dir / "geo.tif";
  ASSERT_TRUE(GdalWriteTiff(path, fixture));
  CRect2D expected;
  {
    CImgFileTiff t;
    ASSERT_TRUE(Load(t, path));
    ASSERT_EQ(t.LoadGeoImage(expected, 10000), 1);
  }
  const PJ_LOG_LEVEL before = proj_log_level(nullptr, PJ_LOG_TELL);
  std::atomic<int> wrong{0};
  for (int round = 0; round < 4; ++round) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] {
        for (int k = 0; k < 10; ++k) {
          CImgFileTiff t;
          CRect2D b;
          if (!Load(t, path) || t.LoadGeoImage(b, 10000) != 1 || b.left != expected.left || b.right != expected.right)
            ++wrong;
        }
      });
    for (std::thread& t : threads) t.join();
    ASSERT_EQ(proj_log_level(nullptr, PJ_LOG_TELL), before) << "round " << round;
  }
  EXPECT_EQ(wrong, 0);
}

TEST(CImgFileTiffPeer, BoundsWeWriteAreGdalsGeotransform) {
  ScratchDir dir;
  const CRect2D bounds(440000.5, 3750360.25, 440600.5, 3750000.25);
  std::vector<unsigned char> rows(20 * 12, 1);
  ASSERT_TRUE(WriteOurs(dir / "b.tif", PF_BIT8, 20, 12, rows, nullptr, &bounds));
  GdalPixels g;
  ASSERT_TRUE(GdalReadPixels(dir / "b.tif", g));
  ASSERT_TRUE(g.hasGeoTransform);
  EXPECT_NEAR(g.gt[0], bounds.left, 1e-6);
  EXPECT_NEAR(g.gt[3], bounds.top, 1e-6);
  EXPECT_NEAR(g.gt[1], 30.0, 1e-9);
  EXPECT_NEAR(g.gt[5], -30.0, 1e-9);
  CImgFileTiff t;
  ASSERT_TRUE(Load(t, dir / "b.tif"));
  CRect2D back;
  ASSERT_EQ(t.LoadGeoImage(back, 10000), 1);
  EXPECT_NEAR(back.left, bounds.left, 1e-6);
  EXPECT_NEAR(back.bottom, bounds.bottom, 1e-6);
}

TEST(CImgFileTiff, WithoutGeoTagsTheResolutionFieldsGiveTheBounds) {
  ScratchDir dir;
  TiffFixture fixture;
  fixture.bands = 1;
  fixture.width = 10;
  fixture.height = 4;
  ASSERT_TRUE(GdalWriteTiff(dir / "plain.tif", fixture));
  CImgFileTiff t;
  ASSERT_TRUE(Load(t, dir / "plain.tif"));
  CRect2D b;
  EXPECT_EQ(t.LoadGeoImage(b, 10000), 0);  // no resolution either
  EXPECT_FALSE(t.HasGeoTags());
  t.Close();

  // A tie point alone, and a resolution of 2 centimetres a pixel.
  TIFF* tif = TIFFOpen((dir / "res.tif").c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 10u);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 4u);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 2.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 2.0f);
  TIFFSetField(tif, TIFFTAG_XPOSITION, 100.0f);
  TIFFSetField(tif, TIFFTAG_YPOSITION, 50.0f);
  unsigned char row[10] = {};
  for (uint32_t y = 0; y < 4; ++y) TIFFWriteScanline(tif, row, y, 0);
  TIFFClose(tif);
  ASSERT_TRUE(Load(t, dir / "res.tif"));
  ASSERT_EQ(t.LoadGeoImage(b, 10000), 1);
  EXPECT_FALSE(t.HasGeoTags());
  EXPECT_NEAR(b.left, 1.0, 1e-9);  // 100 cm
  EXPECT_NEAR(b.bottom, 0.5, 1e-9);
  EXPECT_NEAR(b.right, 1.0 + 10 * 2 * 0.01, 1e-9);
  EXPECT_NEAR(b.top, 0.5 + 4 * 2 * 0.01, 1e-9);
}

TEST(CImgFileTiff, UnitFactorsAreTenthsOfAMillimetre) {
  const struct {
    int code;
    long factor;
  } table[] = {{9001, 10000}, {9002, 3048},  {9003, 3048},     {9006, 3048},
               {9007, 2012},  {9013, 9144},  {9014, 18288},    {9015, 18520000}};
  for (const auto& e : table) EXPECT_EQ(CImgFileTiff::UnitFactor(e.code, 1.0), e.factor) << e.code;
  EXPECT_EQ(CImgFileTiff::UnitFactor(9005, 0.3047972654), 3047);  // Clarke's foot, from its length
  EXPECT_EQ(CImgFileTiff::UnitFactor(9036, 1000.0), 10000000);    // kilometre
  EXPECT_EQ(CImgFileTiff::UnitFactor(32767, 0.0), 0);
}

// Exposes the protected operations.
class TiffProbe : public CImgFileTiff {
 public:
  using CImgFileTiff::LoadGeoImage;
  using CImgFileTiff::ReadTiled;
  using CImgFileTiff::SetNoValueInScanLine;
};

TEST(CImgFileTiff, ReadTiledGivesBlueFirstTilesAndReportsFailure) {
  ScratchDir dir;
  TiffFixture fixture;
  fixture.options = {"TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=16"};
  ASSERT_TRUE(GdalWriteTiff(dir / "t.tif", fixture));
  GdalPixels g;
  ASSERT_TRUE(GdalReadPixels(dir / "t.tif", g));
  TiffProbe t;
  ASSERT_TRUE(Load(t, dir / "t.tif"));
  ASSERT_EQ(t.m_nTileByteSize, 32 * 16 * 3);
  std::vector<unsigned char> tile(static_cast<size_t>(t.m_nTileByteSize));
  ASSERT_EQ(t.ReadTiled(2, 1, tile.data()), t.m_nTileByteSize);
  // Pixel (64 + 3, 16 + 5) of the image is pixel (3, 5) of the tile.
  const unsigned char* theirs = g.Row(21) + (67 * 3);
  const unsigned char* ours = tile.data() + (5 * 32 + 3) * 3;
  EXPECT_EQ(ours[0], theirs[2]);
  EXPECT_EQ(ours[1], theirs[1]);
  EXPECT_EQ(ours[2], theirs[0]);
  EXPECT_LT(t.ReadTiled(3, 0, tile.data()), 0);  // past the last tile column
  EXPECT_LT(t.ReadTiled(0, 0, nullptr), 0);
}

TEST(CImgFileTiff, NoDataSentinelsByDataType) {
  GDALAllRegister();
  ScratchDir dir;
  struct Case {
    GDALDataType type;
    std::vector<std::string> options;
    double sentinel;
    bool grid;
    int32_t stored;
  };
  const Case cases[] = {
      {GDT_Int16, {}, -32768, false, -32768},
      {GDT_Byte, {"PIXELTYPE=SIGNEDBYTE"}, 127, false, 127},
      {GDT_Int32, {}, 2147483647, true, 2147483647},
      {GDT_Float32, {}, -3.4028234663852886e38, true, INT32_MIN},
  };
  for (const Case& c : cases) {
    TiffFixture fixture;
    fixture.bands = 1;
    fixture.width = 5;
    fixture.height = 1;
    fixture.type = c.type;
    fixture.options = c.options;
    const std::string path = dir / "nd.tif";
    ASSERT_TRUE(GdalWriteTiff(path, fixture));
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_Update);
    double v = c.sentinel;
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 3, 0, 1, 1, &v, 1, 1, GDT_Float64, 0, 0), CE_None);
    GDALClose(ds);
    TiffProbe t;
    ASSERT_TRUE(Load(t, path, c.grid));
    CImgScanLine line(t.GetPixelFormat(), static_cast<long>(t.GetWidthBytes()));
    ASSERT_GE(t.ReadScanLine(0, line), 0);
    EXPECT_EQ(t.SetNoValueInScanLine(line), 1) << c.type;
    EXPECT_EQ(t.GetNoDataValue(), c.stored) << c.type;
  }
  // A row without a sentinel keeps the value.
  TiffFixture fixture;
  fixture.bands = 1;
  ASSERT_TRUE(GdalWriteTiff(dir / "plain.tif", fixture));
  TiffProbe t;
  ASSERT_TRUE(Load(t, dir / "plain.tif"));
  CImgScanLine line(t.GetPixelFormat(), static_cast<long>(t.GetWidthBytes()));
  ASSERT_GE(t.ReadScanLine(0, line), 0);
  EXPECT_EQ(t.SetNoValueInScanLine(line), -1);
  EXPECT_EQ(t.GetNoDataValue(), -9999);
}

TEST(CImgFileTiff, FieldsAreReadOnlyIntoWhatHoldsThem) {
  ScratchDir dir;
  TiffFixture fixture;
  fixture.options = {"TILED=YES"};
  ASSERT_TRUE(GdalWriteTiff(dir / "f.tif", fixture));
  CImgFileTiff t;
  unsigned short v = 0;
  EXPECT_EQ(t.GetTiffField(TIFFTAG_COMPRESSION, &v), -1);  // nothing open
  ASSERT_TRUE(Load(t, dir / "f.tif"));
  EXPECT_EQ(t.GetTiffField(TIFFTAG_SAMPLESPERPIXEL, &v), 1);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(t.GetTiffField(TIFFTAG_IMAGEWIDTH, &v), 1);  // a 32-bit field that fits
  EXPECT_EQ(v, 75);
  EXPECT_EQ(t.GetTiffField(TIFFTAG_XRESOLUTION, &v), 0);       // not an integer
  EXPECT_EQ(t.GetTiffField(TIFFTAG_YCBCRSUBSAMPLING, &v), 0);  // two values
  EXPECT_EQ(t.GetTiffField(TIFFTAG_TILEOFFSETS, &v), 0);       // an array
  EXPECT_EQ(t.GetBandCount(), 3);
  EXPECT_EQ(t.GetBits(), 8);
}

}  // namespace

namespace {

// Bottom-up writers read a TIFF from its last row: compressed strips of many
// rows, one strip for the whole image among them, give GDAL's rows.
TEST(CImgFileTiffPeer, RowsReadBackwardsFromCompressedStrips) {
  ScratchDir dir;
  for (const char* rows : {"BLOCKYSIZE=16", "BLOCKYSIZE=45"}) {
    for (const char* compress : {"COMPRESS=DEFLATE", "COMPRESS=LZW", "COMPRESS=JPEG"}) {
      TiffFixture fixture;
      fixture.options = {rows, compress};
      ASSERT_TRUE(GdalWriteTiff(dir / "b.tif", fixture));
      GdalPixels g;
      ASSERT_TRUE(GdalReadPixels(dir / "b.tif", g));
      CImgFileTiff t;
      ASSERT_TRUE(Load(t, dir / "b.tif"));
      CImgScanLine line(t.GetPixelFormat(), static_cast<long>(t.GetWidthBytes()));
      for (int y = g.height - 1; y >= 0; --y) {
        ASSERT_GE(t.ReadScanLine(y, line), 0) << rows << " " << compress << " row " << y;
        ASSERT_EQ(std::memcmp(line.GetData(), g.Row(y), 75 * 3), 0) << rows << " " << compress << " row " << y;
      }
      // And forwards again, skipping rows, after them.
      for (int y : {3, 4, 20, 21, 44, 0}) {
        ASSERT_GE(t.ReadScanLine(y, line), 0) << rows << " " << compress << " row " << y;
        EXPECT_EQ(std::memcmp(line.GetData(), g.Row(y), 75 * 3), 0) << y;
      }
    }
  }
}

// The access layer's TIFF adapter, shared by the tool, the Python module and
// the GDAL plugin: single samples of 32 bits are cells, never colour bytes.
TEST(TiffAdapter, SingleSamplesAreDeliveredAsCellsByTheirSampleFormat) {
  struct AdapterCase {
    GDALDataType type;
    int bands;
    const char* grid;
    ImgPixelFormat format;
    vtfmt::RowLayout layout;
  };
  const AdapterCase cases[] = {
      {GDT_Float32, 1, "0", PF_FLOAT32, {1, 32, 'f'}},  {GDT_Float32, 1, "1", PF_FLOAT32, {1, 32, 'f'}},
      {GDT_Int32, 1, "0", PF_INT32, {1, 32, 'i'}},      {GDT_UInt32, 1, "0", PF_INT32, {1, 32, 'u'}},
      {GDT_UInt32, 1, "1", PF_INT32, {1, 32, 'i'}},     {GDT_Float64, 1, "0", PF_FLOAT64, {1, 64, 'f'}},
      {GDT_CFloat32, 1, "0", PF_BIT64, {1, 64, 'c'}},   {GDT_UInt16, 1, "0", PF_BIT16, {1, 16, 'u'}},
      {GDT_Byte, 4, "0", PF_BIT32, {4, 8, 'u'}},
  };
  const vtfmt::RasterDriver* driver = vtfmt::FindDriver("tiff");
  ASSERT_NE(driver, nullptr);
  ScratchDir dir;
  for (const AdapterCase& c : cases) {
    const std::string name = std::string(GDALGetDataTypeName(c.type)) + "x" + std::to_string(c.bands) + "-" + c.grid;
    TiffFixture fixture;
    fixture.width = 13, fixture.height = 4, fixture.bands = c.bands, fixture.type = c.type;
    const std::string path = dir / (name + ".tif");
    ASSERT_TRUE(GdalWriteTiff(path, fixture)) << name;
    std::unique_ptr<CImgFile> file = driver->Create();
    std::string reason;
    ASSERT_TRUE(driver->ApplyOptions(*file, {{"grid", c.grid}}, reason)) << reason;
    ASSERT_TRUE(driver->OpenRead(*file, path, reason)) << name << ": " << reason;
    EXPECT_EQ(file->GetPixelFormat(), c.format) << name;
    EXPECT_EQ(driver->HoldsCells(*file), c.bands == 1) << name;
    vtfmt::RowLayout layout;
    ASSERT_TRUE(driver->Layout(*file, layout)) << name;
    EXPECT_EQ(layout.samples, c.layout.samples) << name;
    EXPECT_EQ(layout.bits, c.layout.bits) << name;
    EXPECT_EQ(layout.kind, c.layout.kind) << name;
    // The rows hold the file's samples untouched.
    GdalPixels g;
    ASSERT_TRUE(GdalReadPixels(path, g));
    const size_t rowBytes = static_cast<size_t>(g.width) * g.bands * g.sampleBytes;
    ASSERT_GE(file->GetWidthBytes(), rowBytes) << name;
    CImgScanLine line(file->GetPixelFormat(), static_cast<long>(file->GetWidthBytes()));
    for (int y = 0; y < g.height; ++y) {
      ASSERT_GE(driver->ReadRow(*file, y, line), 0) << name;
      EXPECT_EQ(std::memcmp(line.GetData(), g.Row(y), rowBytes), 0) << name << " row " << y;
    }
    file->Close();
  }
}

// Cells written through the adapter: unsigned ones as SampleFormat 1 when
// the writer is told so, signed ones as 2, the same bytes either way.
TEST(TiffAdapter, UnsignedCellsAreWrittenUnsignedAndSignedCellsSigned) {
  struct WriteCase {
    ImgPixelFormat format;
    bool unsignedCells;
    GDALDataType type;               // as GDAL reads the file
    std::vector<double> values;      // as GDAL reads them
  };
  const WriteCase cases[] = {
      {PF_BIT16, true, GDT_UInt16, {0, 1, 40000, 65535}},
      {PF_BIT16, false, GDT_Int16, {0, 1, -25536, -1}},
      {PF_INT32, true, GDT_UInt32, {0, 1, 3000000000.0, 4294967295.0}},
      {PF_INT32, false, GDT_Int32, {0, 1, -1294967296, -1}},
  };
  const vtfmt::RasterDriver* driver = vtfmt::FindDriver("tiff");
  ASSERT_NE(driver, nullptr);
  ScratchDir dir;
  for (const WriteCase& c : cases) {
    const std::string name = std::to_string(c.format) + (c.unsignedCells ? "u" : "s");
    const std::string path = dir / (name + ".tif");
    const std::vector<uint32_t> cells = {0, 1, c.format == PF_BIT16 ? 40000u : 3000000000u,
                                         c.format == PF_BIT16 ? 65535u : 4294967295u};
    std::unique_ptr<CImgFile> file = driver->Create();
    std::string reason;
    ASSERT_TRUE(driver->OpenWrite(*file, path, reason)) << reason;
    file->SetWidth(4);
    file->SetHeight(1);
    file->SetPixelFormat(c.format);
    file->SetPixelFormatExt(c.format);
    if (c.unsignedCells)
      driver->TakeUnsignedCells(*file);
    else
      driver->TakeCells(*file);
    ASSERT_TRUE(driver->SaveHeader(*file, reason)) << reason;
    CImgScanLine line(c.format, static_cast<long>(std::max<unsigned long>(file->GetWidthBytes(), 16)));
    for (size_t x = 0; x < cells.size(); ++x) {
      if (c.format == PF_BIT16) {
        const uint16_t v = static_cast<uint16_t>(cells[x]);
        std::memcpy(line.GetData() + 2 * x, &v, 2);
      } else {
        std::memcpy(line.GetData() + 4 * x, &cells[x], 4);
      }
    }
    ASSERT_GE(driver->WriteRow(*file, 0, line), 0) << name;
    ASSERT_TRUE(driver->FinishWrite(*file, reason)) << reason;

    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr) << name;
    uint16_t sampleFormat = 0;
    EXPECT_EQ(TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat), 1) << name;
    EXPECT_EQ(sampleFormat, c.unsignedCells ? SAMPLEFORMAT_UINT : SAMPLEFORMAT_INT) << name;
    TIFFClose(tif);
    GDALAllRegister();
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr) << name;
    EXPECT_EQ(GDALGetRasterDataType(GDALGetRasterBand(ds, 1)), c.type) << name;
    GDALClose(ds);
    GdalGrid g;
    ASSERT_TRUE(GdalReadGrid(path, g));
    EXPECT_EQ(g.values, c.values) << name;

    // Our reader says so too.
    std::unique_ptr<CImgFile> back = driver->Create();
    ASSERT_TRUE(driver->OpenRead(*back, path, reason)) << reason;
    vtfmt::RowLayout layout;
    ASSERT_TRUE(driver->Layout(*back, layout));
    EXPECT_EQ(layout.kind, c.unsignedCells ? 'u' : 'i') << name;
    EXPECT_EQ(driver->UnsignedCells(*back), c.unsignedCells) << name;
  }
}

}  // namespace

// TIFF fixtures written by GDAL, and GDAL's reading of any TIFF, for the
// tests of the TIFF driver.
#pragma once

#include <gdal.h>
#include <ogr_srs_api.h>

#include <cstring>
#include <string>
#include <vector>

struct TiffFixture {
  int width = 75, height = 45, bands = 3;
  GDALDataType type = GDT_Byte;
  std::vector<std::string> options;  // creation options, KEY=VALUE
  bool geo = false;
  double gt[6] = {500000, 30, 0, 4200000, 0, -30};
  int epsg = 32633;
  std::vector<GDALColorEntry> colors;  // band 1's colour table
};

// Sample i of band b of the pattern the fixtures hold, as a double that
// every data type can store (floats get a fraction, signed types go negative).
inline double PatternValue(const TiffFixture& s, size_t i, int b) {
  const unsigned v = static_cast<unsigned>(i * 37 + i / 7 + b * 91);
  switch (s.type) {
    case GDT_Byte: return v & 0xFF;
    case GDT_UInt16: return (v * 257) & 0xFFFF;
    case GDT_Int16: return static_cast<double>(static_cast<int>(v % 60000) - 30000);
    case GDT_Int32: return static_cast<double>(static_cast<int>(v * 1234567u) >> 2);
    case GDT_Float32: return static_cast<float>(v) * 0.25f - 1000.0f;
    default: return v;
  }
}

inline bool GdalWriteTiff(const std::string& path, const TiffFixture& s) {
  GDALAllRegister();
  std::vector<const char*> opts;
  for (const std::string& o : s.options) opts.push_back(o.c_str());
  opts.push_back(nullptr);
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), s.width, s.height, s.bands, s.type,
                               const_cast<char**>(opts.data()));
  if (!ds) return false;
  if (s.geo) {
    GDALSetGeoTransform(ds, const_cast<double*>(s.gt));
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, s.epsg);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
  }
  if (!s.colors.empty()) {
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (size_t i = 0; i < s.colors.size(); ++i) GDALSetColorEntry(table, static_cast<int>(i), &s.colors[i]);
    GDALSetRasterColorTable(GDALGetRasterBand(ds, 1), table);
    GDALDestroyColorTable(table);
  }
  const size_t n = static_cast<size_t>(s.width) * s.height;
  std::vector<double> values(n);
  bool ok = true;
  for (int b = 0; b < s.bands && ok; ++b) {
    for (size_t i = 0; i < n; ++i) values[i] = PatternValue(s, i, b);
    ok = GDALRasterIO(GDALGetRasterBand(ds, b + 1), GF_Write, 0, 0, s.width, s.height, values.data(), s.width,
                      s.height, GDT_Float64, 0, 0) == CE_None;
  }
  GDALClose(ds);
  return ok;
}

// GDAL's pixels of `path` in the file's own data type: rows top first,
// samples interleaved by pixel, machine byte order.
struct GdalPixels {
  int width = 0, height = 0, bands = 0, sampleBytes = 0;
  std::vector<unsigned char> bytes;
  double gt[6] = {};
  bool hasGeoTransform = false;
  const unsigned char* Row(int y) const {
    return bytes.data() + static_cast<size_t>(y) * width * bands * sampleBytes;
  }
};

inline bool GdalReadPixels(const std::string& path, GdalPixels& p) {
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  p.width = GDALGetRasterXSize(ds);
  p.height = GDALGetRasterYSize(ds);
  p.bands = GDALGetRasterCount(ds);
  const GDALDataType type = GDALGetRasterDataType(GDALGetRasterBand(ds, 1));
  p.sampleBytes = GDALGetDataTypeSizeBytes(type);
  p.hasGeoTransform = GDALGetGeoTransform(ds, p.gt) == CE_None;
  p.bytes.resize(static_cast<size_t>(p.width) * p.height * p.bands * p.sampleBytes);
  const GSpacing pixel = static_cast<GSpacing>(p.bands) * p.sampleBytes;
  const CPLErr err = GDALDatasetRasterIO(ds, GF_Read, 0, 0, p.width, p.height, p.bytes.data(), p.width, p.height,
                                         type, p.bands, nullptr, pixel, pixel * p.width, p.sampleBytes);
  GDALClose(ds);
  return err == CE_None;
}

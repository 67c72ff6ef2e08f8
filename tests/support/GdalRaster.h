// Rasters as GDAL reads and writes them, the independent side of the tests.
#pragma once

#include <gdal.h>

#include <string>
#include <vector>

// An 8-bit picture: top row first, bands interleaved by pixel, with band 1's
// colour table when it has one.
struct Picture {
  int width = 0, height = 0, bands = 0;
  std::vector<unsigned char> pixels;
  std::vector<GDALColorEntry> colors;
  unsigned char At(int x, int y, int band) const {
    return pixels[(static_cast<size_t>(y) * width + x) * bands + band];
  }
};

inline bool GdalRead(const std::string& path, Picture& p) {
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  p.width = GDALGetRasterXSize(ds);
  p.height = GDALGetRasterYSize(ds);
  p.bands = GDALGetRasterCount(ds);
  p.pixels.resize(static_cast<size_t>(p.width) * p.height * p.bands);
  const CPLErr err =
      GDALDatasetRasterIO(ds, GF_Read, 0, 0, p.width, p.height, p.pixels.data(), p.width, p.height, GDT_Byte,
                          p.bands, nullptr, p.bands, static_cast<GSpacing>(p.width) * p.bands, 1);
  p.colors.clear();
  if (GDALColorTableH table = GDALGetRasterColorTable(GDALGetRasterBand(ds, 1))) {
    for (int i = 0; i < GDALGetColorEntryCount(table); ++i) p.colors.push_back(*GDALGetColorEntry(table, i));
  }
  GDALClose(ds);
  return err == CE_None;
}

// GDAL writes a 1-band paletted or a 3-band RGB bitmap of `p`.
inline bool GdalWrite(const std::string& path, const Picture& p) {
  GDALAllRegister();
  GDALDatasetH ds =
      GDALCreate(GDALGetDriverByName("BMP"), path.c_str(), p.width, p.height, p.bands, GDT_Byte, nullptr);
  if (!ds) return false;
  if (!p.colors.empty()) {
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (size_t i = 0; i < p.colors.size(); ++i) GDALSetColorEntry(table, static_cast<int>(i), &p.colors[i]);
    GDALSetRasterColorTable(GDALGetRasterBand(ds, 1), table);
    GDALDestroyColorTable(table);
  }
  const CPLErr err = GDALDatasetRasterIO(
      ds, GF_Write, 0, 0, p.width, p.height, const_cast<unsigned char*>(p.pixels.data()), p.width, p.height,
      GDT_Byte, p.bands, nullptr, p.bands, static_cast<GSpacing>(p.width) * p.bands, 1);
  GDALClose(ds);
  return err == CE_None;
}

// Band 1 of a grid at full precision, top row first, with its geotransform
// and no-data value.
struct GdalGrid {
  int width = 0, height = 0;
  std::vector<double> values;
  double gt[6] = {};
  bool hasNoData = false;
  double noData = 0;
};

inline bool GdalReadGrid(const std::string& path, GdalGrid& g) {
  GDALAllRegister();
  const char* options[] = {"DATATYPE=Float64", nullptr};
  GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER, nullptr, options, nullptr);
  if (!ds) return false;
  g.width = GDALGetRasterXSize(ds);
  g.height = GDALGetRasterYSize(ds);
  GDALGetGeoTransform(ds, g.gt);
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  int has = 0;
  g.noData = GDALGetRasterNoDataValue(band, &has);
  g.hasNoData = has != 0;
  g.values.resize(static_cast<size_t>(g.width) * g.height);
  const CPLErr err = GDALRasterIO(band, GF_Read, 0, 0, g.width, g.height, g.values.data(), g.width, g.height,
                                  GDT_Float64, 0, 0);
  GDALClose(ds);
  return err == CE_None;
}

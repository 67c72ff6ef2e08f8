// ESRI .hdr labelled rasters (BIL) written and read by GDAL for the tests.
#pragma once

#include <gdal.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Every band of a raster as doubles, top row first, band after band.
struct GdalBands {
  int width = 0, height = 0, bands = 0;
  std::vector<double> values;
  double gt[6] = {};
  double At(int band, int row, int col) const {
    return values[(static_cast<size_t>(band) * height + row) * width + col];
  }
};

inline bool GdalReadBands(const std::string& path, GdalBands& g) {
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  g.width = GDALGetRasterXSize(ds);
  g.height = GDALGetRasterYSize(ds);
  g.bands = GDALGetRasterCount(ds);
  GDALGetGeoTransform(ds, g.gt);
  g.values.resize(static_cast<size_t>(g.width) * g.height * g.bands);
  const CPLErr err = GDALDatasetRasterIO(ds, GF_Read, 0, 0, g.width, g.height, g.values.data(), g.width, g.height,
                                         GDT_Float64, g.bands, nullptr, 0, 0, 0);
  GDALClose(ds);
  return err == CE_None;
}

// GDAL writes `values` (band after band) as an EHdr file `path` (".bil"),
// with the geotransform when `gt` is given and the no-data value when
// `noData` is given. The .aux.xml GDAL adds is removed.
inline bool GdalWriteEhdr(const std::string& path, GDALDataType type, int width, int height, int bands,
                          const std::vector<double>& values, const double* gt, const double* noData) {
  GDALAllRegister();
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, bands, type, nullptr);
  if (!mem) return false;
  if (gt) GDALSetGeoTransform(mem, const_cast<double*>(gt));
  for (int b = 1; b <= bands && noData; ++b) GDALSetRasterNoDataValue(GDALGetRasterBand(mem, b), *noData);
  bool ok = GDALDatasetRasterIO(mem, GF_Write, 0, 0, width, height, const_cast<double*>(values.data()), width,
                                height, GDT_Float64, bands, nullptr, 0, 0, 0) == CE_None;
  GDALDatasetH out = GDALCreateCopy(GDALGetDriverByName("EHdr"), path.c_str(), mem, FALSE, nullptr, nullptr, nullptr);
  ok = ok && out != nullptr;
  if (out) GDALClose(out);
  GDALClose(mem);
  std::remove((path + ".aux.xml").c_str());
  return ok;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Turns a little-endian EHdr data file of `cellBytes` cells into a
// big-endian one: every cell reversed, BYTEORDER I made M in the header.
inline void MakeBigEndian(const std::string& data, const std::string& header, size_t cellBytes) {
  std::string bytes = ReadBytes(data);
  for (size_t i = 0; i + cellBytes <= bytes.size(); i += cellBytes)
    for (size_t a = i, b = i + cellBytes - 1; a < b; ++a, --b) std::swap(bytes[a], bytes[b]);
  WriteBytes(data, bytes);
  std::string text = ReadBytes(header);
  const size_t at = text.find("BYTEORDER");
  if (at != std::string::npos) text[text.find('I', at + 9)] = 'M';
  WriteBytes(header, text);
}

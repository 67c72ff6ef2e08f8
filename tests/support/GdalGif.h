// GDAL's GIF writer for the tests: a paletted picture through an in-memory
// dataset, plain or interlaced.
#pragma once

#include <gdal.h>

#include <string>

#include "support/GdalRaster.h"

inline bool GdalWriteGif(const std::string& path, const Picture& p, bool interlaced) {
  GDALAllRegister();
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", p.width, p.height, 1, GDT_Byte, nullptr);
  if (!mem) return false;
  GDALRasterBandH band = GDALGetRasterBand(mem, 1);
  GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
  for (size_t i = 0; i < p.colors.size(); ++i) GDALSetColorEntry(table, static_cast<int>(i), &p.colors[i]);
  GDALSetRasterColorTable(band, table);
  GDALDestroyColorTable(table);
  bool ok = GDALRasterIO(band, GF_Write, 0, 0, p.width, p.height, const_cast<unsigned char*>(p.pixels.data()),
                         p.width, p.height, GDT_Byte, 0, 0) == CE_None;
  const char* options[] = {interlaced ? "INTERLACING=YES" : "INTERLACING=NO", nullptr};
  GDALDatasetH gif = ok ? GDALCreateCopy(GDALGetDriverByName("GIF"), path.c_str(), mem, FALSE,
                                         const_cast<char**>(options), nullptr, nullptr)
                        : nullptr;
  ok = gif != nullptr;
  if (gif) GDALClose(gif);
  GDALClose(mem);
  return ok;
}

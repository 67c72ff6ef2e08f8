// Images written by GDAL and windows of them read back by GDAL's own
// RasterIO, the independent side of the ECW and MrSID tests.
#pragma once

#include <gdal.h>

#include <string>
#include <vector>

// A picture of `bands` 8-bit bands with smooth gradients and sharp noise
// (so that averaging and level reductions show), or of colour-table
// indices 0 to 5 when `palette`.
inline bool GdalWriteImage(const std::string& path, const char* driver, int width, int height, int bands,
                           std::vector<std::string> options = {}, bool palette = false) {
  GDALAllRegister();
  GDALDriverH mem = GDALGetDriverByName("MEM");
  GDALDatasetH src = GDALCreate(mem, "", width, height, bands, GDT_Byte, nullptr);
  std::vector<unsigned char> px(static_cast<size_t>(width) * height);
  for (int b = 0; b < bands; ++b) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const unsigned noise = (x * 7919u + y * 104729u + b * 31u) * 2654435761u >> 27;
        px[static_cast<size_t>(y) * width + x] =
            static_cast<unsigned char>(palette ? (x / 3 + y / 2) % 6 : (x * 3 + y * (b + 1) * 2 + noise * 2) % 256);
      }
    if (GDALRasterIO(GDALGetRasterBand(src, b + 1), GF_Write, 0, 0, width, height, px.data(), width, height,
                     GDT_Byte, 0, 0) != CE_None)
      return false;
  }
  if (palette) {
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (short i = 0; i < 6; ++i) {
      const GDALColorEntry e{static_cast<short>(40 * i), static_cast<short>(255 - 30 * i), static_cast<short>(i * i), 255};
      GDALSetColorEntry(table, i, &e);
    }
    GDALSetRasterColorTable(GDALGetRasterBand(src, 1), table);
    GDALDestroyColorTable(table);
  }
  std::vector<char*> opts;
  for (std::string& o : options) opts.push_back(&o[0]);
  opts.push_back(nullptr);
  GDALDatasetH out = GDALCreateCopy(GDALGetDriverByName(driver), path.c_str(), src, FALSE, opts.data(), nullptr, nullptr);
  GDALClose(src);
  if (!out) return false;
  GDALClose(out);
  return true;
}

// GDAL's RasterIO of (x, y, w, h) at bw x bh with `resampling`, 8-bit
// samples of the 1-based bands in `bands`, band after band.
inline std::vector<unsigned char> GdalWindow(const std::string& path, int x, int y, int w, int h, int bw, int bh,
                                             std::vector<int> bands,
                                             GDALRIOResampleAlg resampling = GRIORA_Average) {
  GDALAllRegister();
  std::vector<unsigned char> out;
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return out;
  out.resize(static_cast<size_t>(bw) * bh * bands.size());
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.eResampleAlg = resampling;
  if (GDALDatasetRasterIOEx(ds, GF_Read, x, y, w, h, out.data(), bw, bh, GDT_Byte, static_cast<int>(bands.size()),
                            bands.data(), 1, bw, static_cast<GSpacing>(bw) * bh, &extra) != CE_None)
    out.clear();
  GDALClose(ds);
  return out;
}

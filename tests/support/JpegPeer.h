// JPEG pictures as GDAL and our driver see them, for the JPEG tests.
#pragma once

#include <gdal.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "raster/CImgFileJPEG.h"
#include "support/GdalRaster.h"

// GDAL writes `p` (1 or 3 bands) as a JPEG with creation options such as
// "QUALITY=90" or "PROGRESSIVE=ON".
inline bool GdalWriteJpeg(const std::string& path, const Picture& p, std::vector<std::string> options = {}) {
  GDALAllRegister();
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", p.width, p.height, p.bands, GDT_Byte, nullptr);
  if (!mem) return false;
  CPLErr err = GDALDatasetRasterIO(mem, GF_Write, 0, 0, p.width, p.height,
                                   const_cast<unsigned char*>(p.pixels.data()), p.width, p.height, GDT_Byte,
                                   p.bands, nullptr, p.bands, static_cast<GSpacing>(p.width) * p.bands, 1);
  std::vector<char*> list;
  for (std::string& o : options) list.push_back(&o[0]);
  list.push_back(nullptr);
  GDALDatasetH out = err == CE_None ? GDALCreateCopy(GDALGetDriverByName("JPEG"), path.c_str(), mem, FALSE,
                                                     list.data(), nullptr, nullptr)
                                    : nullptr;
  GDALClose(mem);
  if (!out) return false;
  GDALClose(out);
  return true;
}

// Every row of a JPEG file through our scan-line interface, as a picture
// (rows top first, samples red, green, blue or grey). False when the file
// does not load or a row fails.
inline bool OurRead(const std::string& path, Picture& p) {
  CImgFileJPEG jpeg;
  if (!jpeg.OpenForRead(path.c_str()) || jpeg.LoadImage() != 1) return false;
  p.width = static_cast<int>(jpeg.GetWidth());
  p.height = static_cast<int>(jpeg.GetHeight());
  p.bands = jpeg.GetPixelFormat() == PF_BIT24 ? 3 : 1;
  p.pixels.clear();
  p.colors.clear();
  CImgScanLine line(jpeg.GetPixelFormat(), static_cast<long>(jpeg.GetWidthBytes()));
  for (int r = 0; r < p.height; ++r) {
    if (jpeg.ReadScanLine(r, line) != 1) return false;
    p.pixels.insert(p.pixels.end(), line.GetData(), line.GetData() + static_cast<size_t>(p.width) * p.bands);
  }
  jpeg.Close();
  return true;
}

// A picture with sharp edges and noise in its brightness and smooth colours
// (which chroma subsampling keeps), so every kind of block is in it.
inline Picture TestPicture(int width, int height, int bands, unsigned seed) {
  Picture p;
  p.width = width;
  p.height = height;
  p.bands = bands;
  unsigned state = seed * 2654435761u + 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      int light = (x * 3 + y * 5) % 160;
      if ((x / 7 + y / 5) % 3 == 0) light = 160 - light;
      light += static_cast<int>((state >> 16) % 9) - 4;
      for (int b = 0; b < bands; ++b) {
        const int v = light + (b == 0 ? 2 * x : b == 1 ? 90 - y : 40 + x - y) % 96;
        p.pixels.push_back(static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v));
      }
    }
  return p;
}

// Largest difference between two pictures of the same shape, 256 when
// their shapes differ.
inline int MaxDifference(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.bands != b.bands || a.pixels.size() != b.pixels.size())
    return 256;
  int worst = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) worst = std::max(worst, std::abs(a.pixels[i] - b.pixels[i]));
  return worst;
}

// Mean absolute difference of two pictures of the same shape.
inline double MeanDifference(const Picture& a, const Picture& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 256;
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(a.pixels[i] - b.pixels[i]);
  return sum / static_cast<double>(a.pixels.size());
}

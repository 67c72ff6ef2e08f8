// ECW and MrSID: windowed reads of a 6000 x 4000 RGB tiled GeoTIFF (GDAL
// writes it here), ours beside GDAL's own RasterIO of the same rectangle
// at the same size. Both readers decode through GDAL, so the ratio shows
// what the readers add: the line-by-line copies, the cache, the default
// pixel fill.
#include <gdal.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "raster/CImgFileECW.h"
#include "raster/CImgFileMrSID20.h"

namespace {

const int kWidth = 6000, kHeight = 4000;

bool WriteImage(const std::string& path) {
  GDALAllRegister();
  const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "INTERLEAVE=PIXEL", nullptr};
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), kWidth, kHeight, 3, GDT_Byte,
                               const_cast<char**>(options));
  if (!ds) return false;
  std::vector<unsigned char> row(static_cast<size_t>(kWidth) * 3);
  bool ok = true;
  for (int y = 0; y < kHeight && ok; ++y) {
    for (int x = 0; x < kWidth * 3; ++x) row[x] = static_cast<unsigned char>((x * 7 + y * 3 + (x * y) % 13) & 0xFF);
    ok = GDALDatasetRasterIO(ds, GF_Write, 0, y, kWidth, 1, row.data(), kWidth, 1, GDT_Byte, 3, nullptr, 3,
                             kWidth * 3, 1) == CE_None;
  }
  GDALClose(ds);
  return ok;
}

// GDAL's RasterIO of the whole image at bw x bh, area-averaged, rows of
// blue-first triples like ours, `rows` output rows at a time.
bool GdalView(const std::string& path, int bw, int bh, int rows, unsigned long& sum) {
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.eResampleAlg = GRIORA_Average;
  int bands[] = {3, 2, 1};
  std::vector<unsigned char> buffer(static_cast<size_t>(bw) * 3 * rows);
  bool ok = true;
  for (int y = 0; y < bh && ok; y += rows) {
    const int n = std::min(rows, bh - y);
    const int sy = static_cast<int>(static_cast<long long>(y) * kHeight / bh);
    const int sh = static_cast<int>(static_cast<long long>(y + n) * kHeight / bh) - sy;
    ok = GDALDatasetRasterIOEx(ds, GF_Read, 0, sy, kWidth, sh, buffer.data(), bw, n, GDT_Byte, 3, bands, 3, bw * 3, 1,
                               &extra) == CE_None;
    sum += buffer[(y * 7) % (bw * 3)];
  }
  GDALClose(ds);
  return ok;
}

bool EcwLines(const std::string& path, unsigned long& sum) {
  CImgFileECW ecw;
  if (!ecw.Open(path.c_str()) || !ecw.SetOutputBound()) return false;
  CImgScanLine line;
  for (int y = 0; y < kHeight; ++y) {
    if (!ecw.GetScanLine(y, line)) return false;
    sum += line[(y * 7) % (kWidth * 3)];
  }
  return true;
}

bool EcwView(const std::string& path, int bw, int bh, unsigned long& sum) {
  CImgFileECW ecw;
  if (!ecw.Open(path.c_str()) || !ecw.SetFileView(CRect(0, 0, kWidth, kHeight), bw, bh, nullptr, 0)) return false;
  sum += ecw.GetBuffer()[7];
  return true;
}

bool MrSIDLevel(const std::string& path, int level, unsigned long& sum) {
  CImgFileMrSID20 sid(path.c_str());
  sid.SetViewRect(CRect2D(0, 0, kWidth, kHeight));
  sid.SetResolution(1.0 / (1 << level));
  if (!sid.GetImage() || sid.GetScale() != level) return false;
  sum += sid.GetBuffer()[7];
  return true;
}

int Run(int passes) {
  bench::ScratchDir dir;
  const std::string path = dir / "big.tif";
  if (!WriteImage(path)) {
    std::fprintf(stderr, "ecw: cannot write the test file\n");
    return 1;
  }
  std::printf("ecw/mrsid: %d x %d x 3 bands, tiled GeoTIFF, best of %d passes\n", kWidth, kHeight, passes);
  const double full = double(kWidth) * kHeight * 3;
  bool ok = true;
  unsigned long a = 0, b = 0;
  const double linesOurs = bench::BestSeconds(passes, [&] { ok = EcwLines(path, a) && ok; });
  const double linesGdal = bench::BestSeconds(passes, [&] { ok = GdalView(path, kWidth, kHeight, 64, b) && ok; });
  bench::Report("ecw: lines of the whole image", full, linesOurs, linesGdal);
  const double viewOurs = bench::BestSeconds(passes, [&] { ok = EcwView(path, 1500, 1000, a) && ok; });
  const double viewGdal = bench::BestSeconds(passes, [&] { ok = GdalView(path, 1500, 1000, 1000, b) && ok; });
  bench::Report("ecw: view at a quarter (source MB)", full, viewOurs, viewGdal);
  const double levelOurs = bench::BestSeconds(passes, [&] { ok = MrSIDLevel(path, 2, a) && ok; });
  bench::Report("mrsid: level 2 (source MB)", full, levelOurs, viewGdal);
  if (!ok) {
    std::fprintf(stderr, "ecw: a read failed\n");
    return 1;
  }
  return 0;
}

const bench::RegisterBench kRegistered("ecw", &Run);

}  // namespace

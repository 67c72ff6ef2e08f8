// ERDAS Imagine: a 6000 x 6000 band written by GDAL's HFA driver in 64 x 64
// blocks, 8-bit uncompressed and 16-bit compressed (run-length); every row
// read by our driver (block rows through the HFA functions) and by GDAL's
// dataset, in one run.
#include <gdal.h>

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "Bench.h"
#include "raster/CImgFileImg.h"

namespace {

const int kSize = 6000;

bool Write(const std::string& path, GDALDataType type, bool compressed) {
  const char* options[] = {compressed ? "COMPRESSED=YES" : "COMPRESSED=NO", nullptr};
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("HFA"), path.c_str(), kSize, kSize, 1, type,
                               const_cast<char**>(options));
  if (!ds) return false;
  std::vector<int> row(kSize);
  bool ok = true;
  for (int y = 0; y < kSize && ok; ++y) {
    // Terraces: runs that compress as elevation models do.
    for (int x = 0; x < kSize; ++x)
      row[size_t(x)] = ((x / 40 + y / 30) * 7 + (x * y) % 3) % (type == GDT_Byte ? 256 : 3000);
    ok = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, y, kSize, 1, row.data(), kSize, 1, GDT_Int32, 0,
                      0) == CE_None;
  }
  GDALClose(ds);
  return ok;
}

bool Compare(const char* what, const std::string& path, GDALDataType type, int passes) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  const int sample = GDALGetDataTypeSizeBytes(type);
  double sumOurs = 0, sumGdal = 0;
  bool failed = false;
  const double ours = bench::BestSeconds(passes, [&] {
    CImgFileImg img;
    HFABand* band = nullptr;
    if (!img.OpenForRead(path.c_str()) || img.LoadImage(0) < 0 || !img.LoadBandImg(0, band)) {
      failed = true;
      return;
    }
    CImgScanLine line(img.GetPixelFormat(), long(img.GetWidthBytes()));
    sumOurs = 0;
    for (int r = 0; r < kSize; ++r) {
      if (img.ReadScanLine(r, line, band) < 0) failed = true;
      sumOurs += line[r * sample] + line[(kSize - 1 - r) * sample];
    }
  });
  const double gdal = bench::BestSeconds(passes, [&] {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (!ds) {
      failed = true;
      return;
    }
    std::vector<unsigned char> row(size_t(kSize) * sample);
    sumGdal = 0;
    for (int r = 0; r < kSize; ++r) {
      if (GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, r, kSize, 1, row.data(), kSize, 1, type, 0, 0) !=
          CE_None)
        failed = true;
      sumGdal += row[size_t(r) * sample] + row[size_t(kSize - 1 - r) * sample];
    }
    GDALClose(ds);
  });
  if (failed || sumOurs != sumGdal) {
    std::fprintf(stderr, "hfa: %s: the reads failed or disagree (%g, %g)\n", what, sumOurs, sumGdal);
    return false;
  }
  std::printf("ERDAS Imagine %d x %d %s (%.1f MB on disk), best of %d passes\n", kSize, kSize,
              GDALGetDataTypeName(type), double(st.st_size) / 1e6, passes);
  bench::Report(what, double(kSize) * kSize * sample, ours, gdal);
  return true;
}

int Run(int passes) {
  GDALAllRegister();
  bench::ScratchDir dir;
  if (!Write(dir / "u8.img", GDT_Byte, false) || !Write(dir / "s16.img", GDT_Int16, true)) return 1;
  if (!Compare("hfa: read 8-bit rows, uncompressed", dir / "u8.img", GDT_Byte, passes)) return 1;
  if (!Compare("hfa: read 16-bit rows, compressed", dir / "s16.img", GDT_Int16, passes)) return 1;
  return 0;
}

const bench::RegisterBench kRegistered("hfa", Run);

}  // namespace

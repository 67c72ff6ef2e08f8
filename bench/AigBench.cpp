// Arc/Info binary grid: a 4096 x 4096 integer grid of run-length tiles
// (runs of bytes, 256 x 4 cells, as ESRI writes them) and a 2048 x 2048
// float grid, written by the tests' grid writer; every row read by our
// driver and by GDAL, as 32-bit cells, in one run.
#include <gdal.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Bench.h"
#include "raster/CImgFileArcGrd.h"
#include "tests/support/AigWriter.h"

namespace {

double DirectoryBytes(const std::string& dir) {
  double total = 0;
  for (const char* name : {"hdr.adf", "dblbnd.adf", "w001001x.adf", "w001001.adf"}) {
    struct stat st;
    if (stat((dir + "/" + name).c_str(), &st) == 0) total += double(st.st_size);
  }
  return total;
}

// Reads every row with both readers; false when either fails or they disagree.
bool Compare(const char* what, const std::string& path, int size, bool isFloat, int passes) {
  const double bytes = DirectoryBytes(path);
  double sumOurs = 0, sumGdal = 0;
  bool failed = false;
  const double ours = bench::BestSeconds(passes, [&] {
    CImgFileArcGrd grid;
    if (!grid.OpenForRead(path.c_str()) || grid.LoadImage() < 0) {
      failed = true;
      return;
    }
    CImgScanLine line(grid.GetPixelFormat(), long(grid.GetWidthBytes()));
    sumOurs = 0;
    for (int r = 0; r < size; ++r) {
      if (grid.ReadScanLine(r, line) < 0) failed = true;
      sumOurs += line.GetValue(r) + line.GetValue(size - 1 - r);
    }
    grid.Close();
  });
  const double gdal = bench::BestSeconds(passes, [&] {
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (!ds) {
      failed = true;
      return;
    }
    std::vector<float> floats(static_cast<size_t>(size));
    std::vector<int32_t> ints(static_cast<size_t>(size));
    sumGdal = 0;
    for (int r = 0; r < size; ++r) {
      void* row = isFloat ? static_cast<void*>(floats.data()) : static_cast<void*>(ints.data());
      if (GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, r, size, 1, row, size, 1,
                       isFloat ? GDT_Float32 : GDT_Int32, 0, 0) != CE_None)
        failed = true;
      sumGdal += isFloat ? double(floats[size_t(r)]) + floats[size_t(size - 1 - r)]
                         : double(ints[size_t(r)]) + ints[size_t(size - 1 - r)];
    }
    GDALClose(ds);
  });
  if (failed || sumOurs != sumGdal) {
    std::fprintf(stderr, "aig: %s: the reads failed or disagree (%g, %g)\n", what, sumOurs, sumGdal);
    return false;
  }
  bench::Report(what, bytes, ours, gdal);
  return true;
}

int Run(int passes) {
  GDALAllRegister();
  bench::ScratchDir dir;
  const int kInt = 4096, kFloat = 2048;
  AigGrid g;
  g.width = g.height = kInt;
  g.tileWidth = 256, g.tileHeight = 4;
  g.left = 500000, g.bottom = 4000000, g.cellWidth = g.cellHeight = 30;
  g.cells.resize(size_t(kInt) * kInt);
  for (int y = 0; y < kInt; ++y)
    for (int x = 0; x < kInt; ++x) g.cells[size_t(y) * kInt + x] = double((x / 24 + y / 16) % 200 + 17);
  g.typeOf = [](int, int column) { return column % 2 ? 0xF8 : 0xFC; };
  const std::string ints = dir / "int";
  if (!WriteAig(ints, g)) return 1;
  std::printf("Arc/Info grid %d x %d integer, run-length tiles (%.1f MB), best of %d passes\n", kInt, kInt,
              DirectoryBytes(ints) / 1e6, passes);
  if (!Compare("aig: read integer rows (runs)", ints, kInt, false, passes)) return 1;

  AigGrid f;
  f.width = f.height = kFloat;
  f.tileWidth = 256, f.tileHeight = 4;
  f.isFloat = true;
  f.left = 500000, f.bottom = 4000000, f.cellWidth = f.cellHeight = 30;
  f.cells.resize(size_t(kFloat) * kFloat);
  for (size_t i = 0; i < f.cells.size(); ++i) f.cells[i] = std::sin(double(i % 7919) * 0.01) * 1000.0;
  const std::string floats = dir / "float";
  if (!WriteAig(floats, f)) return 1;
  std::printf("Arc/Info grid %d x %d float (%.1f MB), best of %d passes\n", kFloat, kFloat,
              DirectoryBytes(floats) / 1e6, passes);
  if (!Compare("aig: read float rows", floats, kFloat, true, passes)) return 1;
  return 0;
}

const bench::RegisterBench kRegistered("aig", Run);

}  // namespace

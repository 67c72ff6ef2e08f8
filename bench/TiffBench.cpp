// TIFF: reading a 6000 x 6000 RGB image stripped, tiled and deflate
// compressed, row by row, ours beside GDAL's and beside libtiff's own loop
// (TIFFReadScanline, or TIFFReadEncodedTile over every tile), deflate on
// every core beside one thread and GDAL's on every core; and writing it,
// plain and deflate compressed on every core beside one thread and GDAL's.
// Each figure with a goal prints it beside, and says when it falls short.
#include <gdal.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "raster/CImgFileTiff.h"

namespace {

const unsigned kWidth = 6000, kHeight = 6000;

// An image-like row: smooth gradients with a few bits of noise, which
// deflate shrinks to about half, as it does photographs and hill shades.
void FillRow(std::vector<unsigned char>& row, unsigned r) {
  uint32_t state = 2463534242u ^ (r * 2654435761u);
  for (size_t i = 0; i < row.size(); ++i) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    row[i] = static_cast<unsigned char>(((i / 3) / 24 + r / 24 + (i % 3) * 60 + (state & 15)) & 0xFF);
  }
}

bool GdalWriteRgb(const std::string& path, std::vector<const char*> options) {
  options.push_back(nullptr);
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), kWidth, kHeight, 3, GDT_Byte,
                               const_cast<char**>(options.data()));
  if (!ds) return false;
  std::vector<unsigned char> row(size_t(kWidth) * 3);
  bool ok = true;
  for (unsigned r = 0; r < kHeight && ok; ++r) {
    FillRow(row, r);
    ok = GDALDatasetRasterIO(ds, GF_Write, 0, static_cast<int>(r), kWidth, 1, row.data(), kWidth, 1, GDT_Byte, 3,
                             nullptr, 3, static_cast<GSpacing>(row.size()), 1) == CE_None;
  }
  GDALClose(ds);
  return ok;
}

// One line: a ratio beside its goal, flagged when it falls short.
void Goal(const std::string& what, double ratio, double goal) {
  std::printf("%-62s %5.2fx (goal %.2fx)%s\n", what.c_str(), ratio, goal, ratio >= goal ? "" : " BELOW GOAL");
  std::fflush(stdout);
}

// Sums one byte a row so that every reader is checked against the others.
// `threads` as -oo threads (0: one a core).
bool OursRead(const std::string& path, unsigned long& sum, int threads = 0) {
  CImgFileTiff file;
  file.m_nThreads = threads;
  if (!file.OpenForRead(path.c_str()) || file.LoadImage() < 0) return false;
  CImgScanLine line(file.GetPixelFormat(), static_cast<long>(file.GetWidthBytes()));
  for (unsigned r = 0; r < kHeight; ++r) {
    if (file.ReadScanLine(static_cast<long>(r), line) < 0) return false;
    sum += line[static_cast<int>((r * 3) % (kWidth * 3))];
  }
  return true;
}

// GDAL row by row; or, on every core, in requests of 256 rows, since GDAL
// decodes blocks on several threads only for a request that spans several.
bool GdalRead(const std::string& path, unsigned long& sum, bool allCores = false) {
  const char* options[] = {"NUM_THREADS=ALL_CPUS", nullptr};
  GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr,
                               allCores ? options : nullptr, nullptr);
  if (!ds) return false;
  const unsigned step = allCores ? 256 : 1;
  std::vector<unsigned char> rows(size_t(kWidth) * 3 * step);
  bool ok = true;
  for (unsigned r = 0; r < kHeight && ok; r += step) {
    const unsigned n = std::min(step, kHeight - r);
    ok = GDALDatasetRasterIO(ds, GF_Read, 0, static_cast<int>(r), kWidth, static_cast<int>(n), rows.data(), kWidth,
                             static_cast<int>(n), GDT_Byte, 3, nullptr, 3, static_cast<GSpacing>(kWidth) * 3, 1) ==
         CE_None;
    for (unsigned k = 0; k < n; ++k) sum += rows[size_t(k) * kWidth * 3 + ((r + k) * 3) % (size_t(kWidth) * 3)];
  }
  GDALClose(ds);
  return ok;
}

// libtiff alone: every scan line of a stripped file, or every tile of a
// tiled one, decoded into one buffer and nothing more.
bool LibTiffRead(const std::string& path, unsigned long& sum) {
  TIFF* tif = TIFFOpen(path.c_str(), "rm");
  if (!tif) return false;
  bool ok = true;
  if (TIFFIsTiled(tif)) {
    std::vector<unsigned char> tile(static_cast<size_t>(TIFFTileSize(tif)));
    for (uint32_t t = 0; t < TIFFNumberOfTiles(tif) && ok; ++t) {
      ok = TIFFReadEncodedTile(tif, t, tile.data(), static_cast<tmsize_t>(tile.size())) > 0;
      sum += tile[t % tile.size()];
    }
  } else {
    std::vector<unsigned char> line(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t r = 0; r < kHeight && ok; ++r) {
      ok = TIFFReadScanline(tif, line.data(), r, 0) == 1;
      sum += line[(r * 3) % line.size()];
    }
  }
  TIFFClose(tif);
  return ok;
}

int Run(int passes) {
  bench::ScratchDir dir;
  const double bytes = double(kWidth) * 3 * kHeight;
  std::printf("tiff %u x %u x 24 bits (%.1f MB), best of %d passes\n", kWidth, kHeight, bytes / 1e6, passes);
  bool failed = false;

  const std::string ours = dir / "ours.tif", theirs = dir / "gdal.tif";
  // Our writer's scan lines into `ours`, uncompressed or deflated on
  // `threads` threads.
  auto writeRows = [&](int compression, int threads) {
    CImgFileTiff file;
    file.SetWidth(kWidth);
    file.SetHeight(kHeight);
    file.SetPixelFormat(PF_BIT24);
    if (compression != COMPRESSION_NONE) {
      file.m_nWriteCompression = compression;
      file.m_nThreads = threads;
    }
    if (!file.OpenForWrite(ours.c_str()) || file.SaveImage() < 0) {
      failed = true;
      return;
    }
    CImgScanLine line(PF_BIT24, static_cast<long>(file.GetWidthBytes()));
    std::vector<unsigned char> row(size_t(kWidth) * 3);
    for (unsigned r = 0; r < kHeight; ++r) {
      FillRow(row, r);
      std::copy(row.begin(), row.end(), line.GetData());
      failed = file.WriteScanLine(static_cast<long>(r), line) < 0 || failed;
    }
    if (compression != COMPRESSION_NONE) failed = !file.FlushWrite() || failed;
    file.Close();
  };
  const double writeOurs = bench::BestSeconds(passes, [&] { writeRows(COMPRESSION_NONE, 1); });
  const double writeGdal = bench::BestSeconds(passes, [&] { failed = !GdalWriteRgb(theirs, {}) || failed; });
  if (failed) {
    std::fprintf(stderr, "tiff: writing failed\n");
    return 1;
  }
  bench::Report("tiff: write scan lines (stripped)", bytes, writeOurs, writeGdal);

  // Deflate at level 6: ours on every core, ours on one, and GDAL on every
  // core, taking turns; each keeps its best pass.
  auto writeDeflate = [&](int threads) { writeRows(COMPRESSION_ADOBE_DEFLATE, threads); };
  double deflateAll = 1e300, deflateOne = 1e300, deflateGdal = 1e300;
  for (int pass = 0; pass < passes; ++pass) {
    deflateAll = std::min(deflateAll, bench::BestSeconds(1, [&] { writeDeflate(0); }));
    deflateOne = std::min(deflateOne, bench::BestSeconds(1, [&] { writeDeflate(1); }));
    deflateGdal = std::min(deflateGdal, bench::BestSeconds(1, [&] {
      failed = !GdalWriteRgb(theirs, {"COMPRESS=DEFLATE", "ZLEVEL=6", "NUM_THREADS=ALL_CPUS"}) || failed;
    }));
  }
  if (failed) {
    std::fprintf(stderr, "tiff: deflate writing failed\n");
    return 1;
  }
  bench::Report("tiff: write deflate, all cores", bytes, deflateAll, deflateGdal);
  std::printf("%-34s all cores %6.2f s   one thread %6.2f s\n", "tiff: write deflate, threads", deflateAll,
              deflateOne);
  Goal("tiff: write deflate 6000x6000, all cores vs one thread", deflateOne / deflateAll, 1.7);
  Goal("tiff: write deflate 6000x6000 vs GDAL NUM_THREADS=ALL_CPUS", deflateGdal / deflateAll, 1.0);

  const struct {
    const char* what;
    std::vector<const char*> options;
    bool compressed;
  } layouts[] = {
      {"stripped", {}, false},
      {"tiled 256", {"TILED=YES"}, false},
      {"deflate stripped", {"COMPRESS=DEFLATE"}, true},
      {"deflate tiled 256", {"COMPRESS=DEFLATE", "TILED=YES"}, true},
  };
  for (const auto& layout : layouts) {
    const std::string path = dir / "read.tif";
    if (!GdalWriteRgb(path, layout.options)) return 1;
    unsigned long sumOurs = 0, sumGdal = 0, sumLib = 0, sumOne = 0, sumGdalAll = 0;
    // The readers take turns, so that whatever else the machine does falls
    // on each alike; each keeps its best pass. Compressed files are read on
    // every core and on one thread, by us and by GDAL.
    double readOurs = 1e300, readGdal = 1e300, readLib = 1e300, readOne = 1e300, readGdalAll = 1e300;
    for (int pass = 0; pass < passes; ++pass) {
      readOurs = std::min(readOurs, bench::BestSeconds(1, [&] { failed = !OursRead(path, sumOurs) || failed; }));
      readLib = std::min(readLib, bench::BestSeconds(1, [&] { failed = !LibTiffRead(path, sumLib) || failed; }));
      readGdal = std::min(readGdal, bench::BestSeconds(1, [&] { failed = !GdalRead(path, sumGdal) || failed; }));
      if (!layout.compressed) continue;
      readOne = std::min(readOne, bench::BestSeconds(1, [&] { failed = !OursRead(path, sumOne, 1) || failed; }));
      readGdalAll = std::min(readGdalAll,
                             bench::BestSeconds(1, [&] { failed = !GdalRead(path, sumGdalAll, true) || failed; }));
    }
    if (failed || sumOurs != sumGdal || (layout.compressed && (sumOne != sumGdal || sumGdalAll != sumGdal))) {
      std::fprintf(stderr, "tiff: the %s reads failed or disagree\n", layout.what);
      return 1;
    }
    const std::string what = std::string("tiff: read ") + layout.what;
    bench::Report(what.c_str(), bytes, readOurs, readGdal);
    std::printf("%-34s vtfmt %8.1f MB/s   libtiff %5.1f MB/s ratio %.2f\n", (what + " vs libtiff").c_str(),
                bytes / readOurs / 1e6, bytes / readLib / 1e6, readLib / readOurs);
    if (std::string(layout.what) == "tiled 256") Goal(what + " 6000x6000 vs libtiff's loop", readLib / readOurs, 0.9);
    if (layout.compressed) {
      Goal(what + " 6000x6000, all cores vs one thread", readOne / readOurs, 1.7);
      Goal(what + " 6000x6000 vs GDAL NUM_THREADS=ALL_CPUS", readGdalAll / readOurs, 1.0);
    }
  }
  return 0;
}

const bench::RegisterBench kRegistered("tiff", Run);

}  // namespace

// PNG: encoding and decoding a 6000 x 6000 RGB image, ours beside GDAL's at
// the same zlib level (and ours on every core beside one thread), and our decoding beside libpng's own plain
// png_read_row loop over the same file (no transformations asked). The two
// sides run alternately, each pass; the best wall time and the best CPU
// time (user + system) of each are reported, the latter being steadier on a
// shared machine.
#include <gdal.h>
#include <png.h>

#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Bench.h"
#include "raster/CImgFilePng.h"

namespace {

const unsigned kWidth = 6000, kHeight = 6000;

// Smooth colour ramps with a little noise: compresses to about a third.
void FillRow(std::vector<unsigned char>& row, unsigned r) {
  uint32_t noise = r * 2654435761u;
  for (unsigned x = 0; x < kWidth; ++x) {
    noise = noise * 1103515245u + 12345u;
    const unsigned n = (noise >> 24) & 7;
    row[3 * x] = static_cast<unsigned char>((x / 8 + n) & 0xFF);
    row[3 * x + 1] = static_cast<unsigned char>((r / 8 + n) & 0xFF);
    row[3 * x + 2] = static_cast<unsigned char>(((x + r) / 16) & 0xFF);
  }
}

// The checksum takes the green byte of one pixel per row, so blue-first and
// red-first rows agree.
unsigned Probe(unsigned r) { return (r * 7 % kWidth) * 3 + 1; }

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

struct Times {
  double oursWall = 1e300, oursCpu = 1e300, theirsWall = 1e300, theirsCpu = 1e300;
};

// Best wall and CPU seconds of each side over `passes` alternating runs.
Times Alternate(int passes, const std::function<void()>& ours, const std::function<void()>& theirs) {
  Times t;
  for (int i = 0; i < passes; ++i) {
    for (int side = 0; side < 2; ++side) {
      const auto wall = std::chrono::steady_clock::now();
      const double cpu = CpuSeconds();
      (side ? theirs : ours)();
      const double w = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
      const double c = CpuSeconds() - cpu;
      (side ? t.theirsWall : t.oursWall) = std::min(side ? t.theirsWall : t.oursWall, w);
      (side ? t.theirsCpu : t.oursCpu) = std::min(side ? t.theirsCpu : t.oursCpu, c);
    }
  }
  return t;
}

void ReportCpu(const char* what, const char* theirName, const Times& t) {
  std::printf("%-34s CPU:  vtfmt %6.2f s   %-6s %6.2f s   ratio %.2f\n", what, t.oursCpu, theirName, t.theirsCpu,
              t.theirsCpu / t.oursCpu);
  std::fflush(stdout);
}

// Writes the rows of `image` (top row first) through our driver.
bool OursWrite(const std::string& path, const std::vector<unsigned char>& image, int threads = 0) {
  CImgFilePng file;
  file.SetThreads(threads);
  if (!file.OpenForWrite(path.c_str())) return false;
  file.SetWidth(kWidth);
  file.SetHeight(kHeight);
  file.SetPixelFormat(PF_BIT24);
  bool ok = file.SaveImage() == 1;
  const size_t rowBytes = size_t(kWidth) * 3;
  CImgScanLine line(PF_BIT24, static_cast<long>(rowBytes));
  for (unsigned r = 0; r < kHeight && ok; ++r) {
    std::copy(image.begin() + r * rowBytes, image.begin() + (r + 1) * rowBytes, line.GetData());
    ok = file.WriteScanLine(static_cast<long>(r), line) >= 0;
  }
  file.Close();
  return ok && file.WriteComplete();
}

// GDAL writes PNG through CreateCopy only: from an in-memory dataset.
bool GdalWrite(const std::string& path, GDALDatasetH source) {
  const char* options[] = {"ZLEVEL=2", nullptr};
  GDALDatasetH ds = GDALCreateCopy(GDALGetDriverByName("PNG"), path.c_str(), source, FALSE,
                                   const_cast<char**>(options), nullptr, nullptr);
  if (!ds) return false;
  GDALClose(ds);
  return true;
}

bool OursRead(const std::string& path, unsigned long& checksum) {
  CImgFilePng file;
  if (!file.OpenForRead(path.c_str()) || file.LoadImage() != 1) return false;
  CImgScanLine line;
  for (unsigned r = 0; r < kHeight; ++r) {
    if (file.ReadScanLine(static_cast<long>(r), line) < 0) return false;
    checksum += line[static_cast<int>(Probe(r))];
  }
  return true;
}

bool GdalRead(const std::string& path, unsigned long& checksum) {
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return false;
  std::vector<unsigned char> row(size_t(kWidth) * 3);
  bool ok = true;
  for (unsigned r = 0; r < kHeight && ok; ++r) {
    ok = GDALDatasetRasterIO(ds, GF_Read, 0, static_cast<int>(r), static_cast<int>(kWidth), 1, row.data(),
                             static_cast<int>(kWidth), 1, GDT_Byte, 3, nullptr, 3,
                             static_cast<GSpacing>(row.size()), 1) == CE_None;
    checksum += row[Probe(r)];
  }
  GDALClose(ds);
  return ok;
}

// libpng by itself: read the header, then png_read_row for every row.
bool LibpngRead(const std::string& path, unsigned long& checksum) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<unsigned char> row(size_t(kWidth) * 3);
  unsigned char* rowData = row.data();
  volatile bool ok = false;
  if (info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, f);
    png_read_info(png, info);
    for (unsigned r = 0; r < kHeight; ++r) {
      png_read_row(png, rowData, nullptr);
      checksum += rowData[Probe(r)];
    }
    ok = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return ok;
}

int Run(int passes) {
  GDALAllRegister();
  bench::ScratchDir dir;
  const std::string ours = dir / "ours.png", theirs = dir / "gdal.png";
  const double bytes = double(kWidth) * kHeight * 3;
  std::printf("png %u x %u x 24 bits (%.1f MB), best of %d passes\n", kWidth, kHeight, bytes / 1e6, passes);

  // GDAL's source: the same rows in memory, pixel interleaved.
  std::vector<unsigned char> image(size_t(kWidth) * kHeight * 3);
  {
    std::vector<unsigned char> row(size_t(kWidth) * 3);
    for (unsigned r = 0; r < kHeight; ++r) {
      FillRow(row, r);
      std::copy(row.begin(), row.end(), image.begin() + size_t(r) * row.size());
    }
  }
  GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", kWidth, kHeight, 3, GDT_Byte, nullptr);
  if (!mem || GDALDatasetRasterIO(mem, GF_Write, 0, 0, kWidth, kHeight, image.data(), kWidth, kHeight, GDT_Byte, 3,
                                  nullptr, 3, static_cast<GSpacing>(kWidth) * 3, 1) != CE_None) {
    std::fprintf(stderr, "png: cannot build GDAL's source\n");
    return 1;
  }

  bool failed = false;
  const Times write = Alternate(
      passes, [&] { failed = !OursWrite(ours, image) || failed; },
      [&] { failed = !GdalWrite(theirs, mem) || failed; });
  GDALClose(mem);
  // Every core beside one thread, in the same turns.
  const Times threads = Alternate(
      passes, [&] { failed = !OursWrite(ours, image, 0) || failed; },
      [&] { failed = !OursWrite(theirs, image, 1) || failed; });
  std::vector<unsigned char>().swap(image);

  unsigned long sumOurs = 0, sumGdal = 0, sumOurs2 = 0, sumLib = 0;
  const Times read = Alternate(
      passes, [&] { failed = !OursRead(ours, sumOurs) || failed; },
      [&] { failed = !GdalRead(ours, sumGdal) || failed; });
  const Times lib = Alternate(
      passes, [&] { failed = !OursRead(ours, sumOurs2) || failed; },
      [&] { failed = !LibpngRead(ours, sumLib) || failed; });
  if (failed || sumOurs != sumGdal || sumOurs2 != sumLib || sumOurs != sumOurs2) {
    std::fprintf(stderr, "png: the reads or writes failed or disagree\n");
    return 1;
  }
  bench::Report("png: encode (zlib level 2)", bytes, write.oursWall, write.theirsWall);
  ReportCpu("png: encode (zlib level 2)", "GDAL", write);
  // Compressing on every core against one thread, on two cores or more.
  const double threadGoal = 1.6, threadRatio = threads.theirsWall / threads.oursWall;
  std::printf("%-34s all cores %6.2f s   one thread %6.2f s   ratio %.2f (goal %.2fx)%s\n", "png: encode, threads",
              threads.oursWall, threads.theirsWall, threadRatio, threadGoal,
              threadRatio >= threadGoal ? "" : " BELOW GOAL");
  bench::Report("png: decode", bytes, read.oursWall, read.theirsWall);
  ReportCpu("png: decode", "GDAL", read);
  std::printf("%-34s vtfmt %8.1f MB/s   libpng %6.1f MB/s   ratio %.2f\n", "png: decode beside libpng's loop",
              bytes / lib.oursWall / 1e6, bytes / lib.theirsWall / 1e6, lib.theirsWall / lib.oursWall);
  ReportCpu("png: decode beside libpng's loop", "libpng", lib);
  return 0;
}

const bench::RegisterBench kRegistered("png", Run);

}  // namespace
